#include "core/MonitorRules.h"

#include <algorithm>

namespace core {

namespace {

// The gap between two spans [a0, a1) and [b0, b1) on one axis; 0 when they meet.
std::int64_t Gap(int a0, int a1, int b0, int b1) {
    return std::max<std::int64_t>({0, std::int64_t{b0} - a1, std::int64_t{a0} - b1});
}

// The start that puts a span of the given length inside [lo, hi), moved as little as possible;
// a span longer than the range starts at lo.
int Inside(int start, int length, int lo, int hi) {
    return std::max(lo, std::min(start, hi - length));
}

} // namespace

std::int64_t DistanceSquared(const Rect& a, const Rect& b) {
    const std::int64_t dx = Gap(a.left, a.Right(), b.left, b.Right());
    const std::int64_t dy = Gap(a.top, a.Bottom(), b.top, b.Bottom());
    return dx * dx + dy * dy;
}

Rect RestoreOntoMonitors(const Rect& window, std::span<const MonitorArea> monitors) {
    if (monitors.empty()) return window;
    for (const MonitorArea& m : monitors)
        if (Overlaps(window, m.bounds)) return window;
    const MonitorArea* nearest = &monitors.front();
    for (const MonitorArea& m : monitors)
        if (DistanceSquared(window, m.bounds) < DistanceSquared(window, nearest->bounds))
            nearest = &m;
    const Rect& work = nearest->work;
    Rect r{0, 0, std::min(window.width, work.width), std::min(window.height, work.height)};
    r.left = Inside(window.left, r.width, work.left, work.Right());
    r.top = Inside(window.top, r.height, work.top, work.Bottom());
    return r;
}

} // namespace core
