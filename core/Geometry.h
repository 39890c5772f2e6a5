// Geometry: the program's one rectangle (left, top, width, height), point and size, and centring.
#pragma once

#include <cstdint>
#include <limits>

namespace core {

struct Point {
    int x = 0, y = 0;
    bool operator==(const Point&) const = default;
};

struct Size {
    int width = 0, height = 0;
    bool operator==(const Size&) const = default;
};

// A rectangle as left, top, width and height (not right and bottom), in pixels.
struct Rect {
    int left = 0, top = 0, width = 0, height = 0;

    static constexpr Rect FromEdges(int left, int top, int right, int bottom) {
        return {left, top, right - left, bottom - top};
    }
    constexpr int Right() const { return left + width; }
    constexpr int Bottom() const { return top + height; }
    constexpr Point Origin() const { return {left, top}; }
    constexpr Size Extent() const { return {width, height}; }
    bool operator==(const Rect&) const = default;
};

// The top-left corner that centres something of `size` in `area`; the halves of the difference
// are truncated toward zero, so a size larger than the area gives a corner before it.
constexpr Point CenteredIn(Size size, const Rect& area) {
    return {area.left + (area.width - size.width) / 2, area.top + (area.height - size.height) / 2};
}

// Display scaling: layouts are given in pixels at 96 dots per inch and drawn at `dpi`.
inline constexpr int kDesignDpi = 96;
// a * b / c rounded to the nearest integer, halves away from zero; -1 when c is 0 or the
// result does not fit 32 bits (the platform's MulDiv).
constexpr int MulDivRounded(int a, int b, int c) {
    if (c == 0) return -1;
    const std::int64_t p = static_cast<std::int64_t>(a) * b;
    const bool negative = (p < 0) != (c < 0);
    const std::uint64_t ap = p < 0 ? 0 - static_cast<std::uint64_t>(p) : static_cast<std::uint64_t>(p);
    const std::uint64_t ac = c < 0 ? 0 - static_cast<std::uint64_t>(static_cast<std::int64_t>(c))
                                   : static_cast<std::uint64_t>(c);
    const std::uint64_t r = (ap + ac / 2) / ac;
    if (r > static_cast<std::uint64_t>(std::numeric_limits<int>::max())) return -1;
    return negative ? -static_cast<int>(r) : static_cast<int>(r);
}

// v * to / from, rounded half away from zero.
constexpr int ScaleBetween(int v, int to, int from) {
    return MulDivRounded(v, to, from);
}
constexpr int ScaleToDpi(int v, int dpi) {
    return ScaleBetween(v, dpi, kDesignDpi);
}
// Corner and size scaled each on its own, so that scaling back gives the rectangle again even
// after the docked controls were laid out anew in between.
constexpr Rect ScaleBetween(const Rect& r, int to, int from) {
    return {ScaleBetween(r.left, to, from), ScaleBetween(r.top, to, from),
            ScaleBetween(r.width, to, from), ScaleBetween(r.height, to, from)};
}

} // namespace core
