#include "core/TargetRules.h"

#include <algorithm>

namespace core {

CameraFit FitCameraToWindow(const Rect& target, Point cameraOffset, int barsHeight,
                            const std::optional<Rect>& workArea, Point monitorOrigin) {
    CameraFit fit{target.left - cameraOffset.x, target.top - cameraOffset.y, target.width,
                  target.height + barsHeight};
    const Rect area = workArea.value_or(Rect{0, 0, target.width, target.height});
    // The lower bound is the monitor's own corner: on the main monitor the screen origin, also
    // where a task bar lies at the left or top.
    fit.left = std::min(std::max(fit.left, monitorOrigin.x), area.Right() - 8);
    fit.top = std::min(std::max(fit.top, monitorOrigin.y), area.Bottom() - 8);
    fit.clientWidth = std::min(fit.clientWidth, area.Right() - monitorOrigin.x);
    fit.clientHeight = std::min(fit.clientHeight, area.Bottom() - monitorOrigin.y);
    return fit;
}

std::wstring ChildLine(const std::wstring& className, const std::wstring& title) {
    return L"[ " + className + L" ]  :  \t" + title;
}

} // namespace core
