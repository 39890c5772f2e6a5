// TargetRules: the picker's geometry (a window's box, the highlight frame around it, the camera
// fitted over it) and the text of a child window's line.
#pragma once

#include "core/Geometry.h"

#include <optional>
#include <string>

namespace core {

// A window's box as the picker takes it from the window's edges: the corner, and one pixel
// more than the extent in each direction.
constexpr Rect TargetBox(int left, int top, int right, int bottom) {
    return {left, top, right - left + 1, bottom - top + 1};
}

// The highlight frame around a target box: its 3-pixel outline, drawn inside the frame's own
// edges, lies just outside the box.
constexpr Rect HighlightBounds(const Rect& target) {
    return {target.left - 3, target.top - 3, target.width + 6, target.height + 6};
}

// Where the main window goes (its outer corner) and its client size.
struct CameraFit {
    int left = 0, top = 0, clientWidth = 0, clientHeight = 0;
    bool operator==(const CameraFit&) const = default;
};

// Lays the camera panel, which lies cameraOffset from the main window's corner above bars of
// barsHeight, over target. workArea is that of the target's monitor, whose top-left corner is
// monitorOrigin. The corner stays at or after the monitor's corner and 8 pixels before the
// work area's right and bottom edges; the client size is at most those right and bottom edges
// measured from the monitor's corner (on the main monitor, at the screen origin, the edge
// coordinates themselves). Without a work area the corner stays at least 0 and the target's own
// width and height stand in for the right and bottom edges.
CameraFit FitCameraToWindow(const Rect& target, Point cameraOffset, int barsHeight,
                            const std::optional<Rect>& workArea, Point monitorOrigin = {});

// A child window's line in the picker: "[ CLASS ]  :  " and a tab before the title. The class
// name and the title come upper-cased.
std::wstring ChildLine(const std::wstring& className, const std::wstring& title);

} // namespace core
