// MainRules: the main window's geometry rules: the captured rectangle, the arrow keys, the
// close button and the minimum size.
#pragma once

#include "core/Geometry.h"
#include "core/MonitorRules.h"

namespace core {

// The smallest outer size the mouse can give the main window, and the smallest the keyboard
// shrinks it to.
inline constexpr int kMainMinTrackWidth = 69;
inline constexpr int kMainMinTrackHeight = 84;
inline constexpr int kMainKeyMinSize = 140;

// The screen rectangle a recording captures: the camera panel's top-left pixel moved up by 2,
// the panel's width and its height plus 1 (left, top, width, height).
Rect CaptureRectangle(Point panelScreenOrigin, Size panelSize);

// The close button shows only on windows at least 166 pixels wide (outer, at 96 dpi).
constexpr bool CloseButtonVisible(int outerWidth, int dpi = kDesignDpi) {
    return outerWidth >= ScaleToDpi(166, dpi);
}

enum class ArrowKey { Left = 37, Up = 38, Right = 39, Down = 40 };

// The window's outer box after one arrow key. With Shift alone the key sizes the window: it
// shrinks down to minSize x minSize (140 at 96 dpi) and grows up to the GrowthLimit of the monitor
// it is on (on the main monitor the work area's right and bottom edge coordinates); with no
// modifier or any other combination it moves the window by one pixel, without bounds. Keys other
// than the four arrows change nothing.
Rect ApplyArrowKey(const Rect& box, int virtualKey, bool shiftAlone, const MonitorArea& monitor,
                   int minSize = kMainKeyMinSize);

} // namespace core
