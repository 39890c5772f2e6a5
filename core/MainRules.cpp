#include "core/MainRules.h"

namespace core {

Rect CaptureRectangle(Point panelScreenOrigin, Size panelSize) {
    return {panelScreenOrigin.x, panelScreenOrigin.y - 2, panelSize.width, panelSize.height + 1};
}

Rect ApplyArrowKey(const Rect& box, int virtualKey, bool shiftAlone, const MonitorArea& monitor,
                   int minSize) {
    Rect r = box;
    if (shiftAlone) {
        const Size limit = GrowthLimit(monitor);
        switch (virtualKey) {
        case 37:
            if (r.width > minSize) --r.width;
            break;
        case 38:
            if (r.height > minSize) --r.height;
            break;
        case 39:
            if (r.width < limit.width) ++r.width;
            break;
        case 40:
            if (r.height < limit.height) ++r.height;
            break;
        }
        return r;
    }
    switch (virtualKey) {
    case 37:
        --r.left;
        break;
    case 39:
        ++r.left;
        break;
    case 38:
        --r.top;
        break;
    case 40:
        ++r.top;
        break;
    }
    return r;
}

} // namespace core
