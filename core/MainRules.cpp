#include "core/MainRules.h"

namespace core {

WindowBox CaptureRectangle(int panelScreenLeft, int panelScreenTop, int panelWidth,
                           int panelHeight) {
    return WindowBox{panelScreenLeft, panelScreenTop - 2, panelWidth, panelHeight + 1};
}

WindowBox ApplyArrowKey(const WindowBox& box, int virtualKey, bool shiftAlone, int workRight,
                        int workBottom) {
    WindowBox r = box;
    if (shiftAlone) {
        switch (virtualKey) {
        case 37:
            if (r.width > kMainKeyMinSize) --r.width;
            break;
        case 38:
            if (r.height > kMainKeyMinSize) --r.height;
            break;
        case 39:
            if (r.width < workRight) ++r.width;
            break;
        case 40:
            if (r.height < workBottom) ++r.height;
            break;
        }
        return r;
    }
    switch (virtualKey) {
    case 37: --r.left; break;
    case 39: ++r.left; break;
    case 38: --r.top; break;
    case 40: ++r.top; break;
    }
    return r;
}

} // namespace core
