#include "media/CursorMarks.h"

#include <algorithm>
#include <cmath>

namespace media {

namespace {

int Scaled(int px96, int dpi) {
    return static_cast<int>((static_cast<std::int64_t>(px96) * dpi + 48) / 96);
}

// Rings start small and grow to 30 px at 96 dpi, 3 px thick, fading linearly to nothing.
constexpr int kRingStartRadius = 6, kRingEndRadius = 30, kRingThickness = 3, kRingAlpha = 230;
constexpr core::Rgb kLeftColour{255, 0, 0}, kRightColour{0, 64, 255};

std::uint8_t Mix(int from, int to, int alpha) {
    return static_cast<std::uint8_t>(from + ((to - from) * alpha + (to > from ? 127 : -127)) / 255);
}

int Expand5(int v) {
    return (v << 3) | (v >> 2);
}

void BlendPixel(std::uint8_t* p, int bitsPerPixel, core::Rgb c, int alpha) {
    if (bitsPerPixel == 16) {
        const int word = p[0] | (p[1] << 8);
        const int r = Mix(Expand5((word >> 10) & 31), c.r, alpha) >> 3;
        const int g = Mix(Expand5((word >> 5) & 31), c.g, alpha) >> 3;
        const int b = Mix(Expand5(word & 31), c.b, alpha) >> 3;
        const int out = (r << 10) | (g << 5) | b;
        p[0] = static_cast<std::uint8_t>(out);
        p[1] = static_cast<std::uint8_t>(out >> 8);
        return;
    }
    p[0] = Mix(p[0], c.b, alpha);
    p[1] = Mix(p[1], c.g, alpha);
    p[2] = Mix(p[2], c.r, alpha);
}

} // namespace

int HighlightRadius(int dpi) {
    return Scaled(20, dpi);
}

RingStage RingAt(MouseButton button, std::uint32_t ageMs, int dpi) {
    RingStage s;
    s.colour = button == MouseButton::Left ? kLeftColour : kRightColour;
    const std::uint32_t age = std::min(ageMs, kRingLifeMs);
    const int left = static_cast<int>(kRingLifeMs - age);
    s.radius = Scaled(kRingStartRadius + (kRingEndRadius - kRingStartRadius) *
                                             static_cast<int>(age) / static_cast<int>(kRingLifeMs),
                      dpi);
    s.thickness = std::max(1, Scaled(kRingThickness, dpi));
    s.alpha = kRingAlpha * left / static_cast<int>(kRingLifeMs);
    return s;
}

void ClickRings::Add(const Click& click, core::Size frame) {
    if (click.at.x < 0 || click.at.y < 0 || click.at.x >= frame.width || click.at.y >= frame.height)
        return;
    if (count_ == kMaxRings) {
        std::move(entries_.begin() + 1, entries_.end(), entries_.begin());
        --count_;
    }
    entries_[count_++] = {click, false};
}

std::size_t ClickRings::Frame(std::int64_t now, int dpi, std::array<Ring, kMaxRings>& rings) {
    std::size_t kept = 0, shown = 0;
    for (std::size_t i = 0; i < count_; ++i) {
        Entry e = entries_[i];
        const std::int64_t age = e.drawn ? std::max<std::int64_t>(0, now - e.click.time) : 0;
        if (age >= kRingLifeMs) continue;
        e.drawn = true;
        rings[shown++] = {e.click.at, RingAt(e.click.button, static_cast<std::uint32_t>(age), dpi)};
        entries_[kept++] = e;
    }
    count_ = kept;
    return shown;
}

void BlendAnnulus(const DibPixels& dib, core::Point centre, double inner, double outer,
                  double feather, core::Rgb colour, int alpha) {
    if (alpha <= 0 || outer <= 0 || !dib.bits) return;
    const int bytes = dib.bitsPerPixel / 8;
    const std::size_t stride =
        (static_cast<std::size_t>(dib.width) * dib.bitsPerPixel + 31) / 32 * 4;
    const int reach = static_cast<int>(std::ceil(outer));
    const int y0 = std::max(0, centre.y - reach), y1 = std::min(dib.height - 1, centre.y + reach);
    const int x0 = std::max(0, centre.x - reach), x1 = std::min(dib.width - 1, centre.x + reach);
    const double f = std::max(feather, 1.0);
    for (int y = y0; y <= y1; ++y) {
        std::uint8_t* row = dib.bits + static_cast<std::size_t>(dib.height - 1 - y) * stride;
        const double dy = y - centre.y;
        for (int x = x0; x <= x1; ++x) {
            const double dx = x - centre.x;
            const double d = std::sqrt(dx * dx + dy * dy);
            double cover = std::clamp((outer - d) / f, 0.0, 1.0);
            if (inner > 0) cover *= std::clamp((d - inner) / f, 0.0, 1.0);
            const int a = static_cast<int>(alpha * cover + 0.5);
            if (a > 0)
                BlendPixel(row + static_cast<std::size_t>(x) * bytes, dib.bitsPerPixel, colour, a);
        }
    }
}

void BlendHighlight(const DibPixels& dib, core::Point hotSpot, int dpi) {
    const int r = HighlightRadius(dpi);
    // The outer third fades out, so the disc has a soft edge.
    BlendAnnulus(dib, hotSpot, 0, r, r / 3.0, kHighlightColour, kHighlightAlpha);
}

void BlendRing(const DibPixels& dib, const Ring& ring) {
    const RingStage& s = ring.stage;
    BlendAnnulus(dib, ring.at, s.radius - s.thickness, s.radius, 1.0, s.colour, s.alpha);
}

} // namespace media
