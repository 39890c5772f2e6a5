// MonitorRules: a window among several monitors: the size a monitor's work area lets it grow to,
// and bringing back a window that lies on no monitor at all.
#pragma once

#include "core/Geometry.h"

#include <cstdint>
#include <span>

namespace core {

// One monitor: its whole rectangle and its work area (the rectangle less the task bar), in
// screen coordinates.
struct MonitorArea {
    Rect bounds, work;
    bool operator==(const MonitorArea&) const = default;
};

// The largest outer size a window may take on the monitor: the work area's right and bottom
// edges measured from the monitor's own top-left corner. The main monitor's corner is the screen
// origin, so there these are the work area's edge coordinates themselves; on a monitor left of
// or above it the coordinates would be negative or zero.
constexpr Size GrowthLimit(const MonitorArea& monitor) {
    return {monitor.work.Right() - monitor.bounds.left, monitor.work.Bottom() - monitor.bounds.top};
}

// True when the two rectangles share at least one pixel (touching edges share none).
constexpr bool Overlaps(const Rect& a, const Rect& b) {
    return a.left < b.Right() && b.left < a.Right() && a.top < b.Bottom() && b.top < a.Bottom();
}

// The squared length of the shortest line between the two rectangles; 0 when they touch or
// overlap.
std::int64_t DistanceSquared(const Rect& a, const Rect& b);

// Where a window restored from the settings goes. One that shares a pixel with any monitor stays
// exactly where it is, even if mostly off the screen. One that lies on no monitor moves onto the
// work area of the nearest monitor (of equally near ones the first, which the caller makes the
// main monitor): by the least distance that puts it inside, keeping its size where it fits and
// shrunk to the work area where it does not. Without monitors nothing moves.
Rect RestoreOntoMonitors(const Rect& window, std::span<const MonitorArea> monitors);

} // namespace core
