#include "core/TargetRules.h"

#include <algorithm>

namespace core {

CameraFit FitCameraToWindow(const Rect& target, Point cameraOffset, int barsHeight,
                            const std::optional<Rect>& workArea) {
    CameraFit fit{target.left - cameraOffset.x, target.top - cameraOffset.y, target.width,
                  target.height + barsHeight};
    const int right = workArea ? workArea->Right() : target.width;
    const int bottom = workArea ? workArea->Bottom() : target.height;
    fit.left = std::min(std::max(fit.left, 0), right - 8);
    fit.top = std::min(std::max(fit.top, 0), bottom - 8);
    fit.clientWidth = std::min(fit.clientWidth, right);
    fit.clientHeight = std::min(fit.clientHeight, bottom);
    return fit;
}

std::wstring ChildLine(const std::wstring& className, const std::wstring& title) {
    return L"[ " + className + L" ]  :  \t" + title;
}

} // namespace core
