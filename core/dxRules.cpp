#include "core/dxRules.h"

#include <algorithm>
#include <cmath>

namespace core {

std::vector<Rgb> GradientRamp(Rgb top, Rgb bottom, int steps) {
    if (steps < 2) return {top};
    const double n = steps - 1;
    const double dr = (bottom.r - top.r) / n, dg = (bottom.g - top.g) / n,
                 db = (bottom.b - top.b) / n;
    // std::nearbyint rounds halves to even in the default rounding mode.
    auto step = [](int from, double d, int i) {
        return from + static_cast<int>(std::nearbyint(i * d));
    };
    std::vector<Rgb> ramp;
    ramp.reserve(static_cast<std::size_t>(steps));
    for (int i = 0; i < steps; ++i)
        ramp.push_back({step(top.r, dr, i), step(top.g, dg, i), step(top.b, db, i)});
    return ramp;
}

RowSpan GradientBandRows(int band, int height, int steps) {
    return {MulDivRounded(band, height, steps), MulDivRounded(band + 1, height, steps) - 1};
}

std::vector<int> DitherRows(int band, int height, int steps, const RandomSource& random) {
    std::vector<int> rows;
    if (band <= 0 || steps < 2) return rows;
    const int start = MulDivRounded(band, height, steps);
    for (int j = 0; j <= height / (steps - 1); ++j) {
        const int row = start + (j > 0 ? random(j) : 0);
        if (row >= 0 && row < height) rows.push_back(row);
    }
    return rows;
}

std::vector<Rgb> GradientRowColors(int height, Rgb top, Rgb bottom, int steps,
                                   const RandomSource& random) {
    if (height <= 0) return {};
    std::vector<Rgb> rows(static_cast<std::size_t>(height), top);
    if (steps < 1) return rows;
    const std::vector<Rgb> ramp = GradientRamp(top, bottom, steps);
    for (int i = 0; i < steps; ++i) {
        const RowSpan span = GradientBandRows(i, height, steps);
        for (int y = std::max(0, span.first); y <= std::min(height - 1, span.last); ++y)
            rows[static_cast<std::size_t>(y)] = ramp[static_cast<std::size_t>(i)];
        for (int y : DitherRows(i, height, steps, random))
            rows[static_cast<std::size_t>(y)] = ramp[static_cast<std::size_t>(i - 1)];
    }
    return rows;
}

Rgb GrayGlyphPixel(Rgb c) {
    const int a = std::min(255, (c.r + c.g + c.b) / 3 + 100);
    return {a, a, a};
}

bool IsHighlighted(const DxButtonState& s, bool ownStateOnly) {
    const bool own = s.pressed ? !s.hot : (s.hot || s.hasFocus);
    if (own || ownStateOnly) return own;
    return s.isDefault && s.canFocus && !s.flatControlActive;
}

CaptionBox CaptionMeasureBox(Size client, Size glyph, ButtonLayout layout, int spacing) {
    CaptionBox box{{0, 0, client.width, client.height}, false};
    if (glyph.width <= 0 || glyph.height <= 0) return box;
    const int across = glyph.width + spacing, down = glyph.height + spacing;
    switch (layout) {
    case blGlyphLeft:
        box.rect = Rect::FromEdges(across, 0, client.width, client.height);
        break;
    case blGlyphRight:
        // Left and right both move, the right twice as far: the text is measured in the
        // width beside the glyph and later centred together with it.
        box.rect = Rect::FromEdges(-across, 0, client.width - 2 * across, client.height);
        box.rightAligned = true;
        break;
    case blGlyphTop:
        box.rect = Rect::FromEdges(0, down, client.width, client.height);
        break;
    case blGlyphBottom:
        box.rect = Rect::FromEdges(0, -down, client.width, client.height);
        break;
    }
    return box;
}

Rect PlaceCaption(const Rect& measured, Size client, int shift) {
    Rect r = measured;
    r.left += (client.width - measured.Right()) / 2 + shift;
    r.top += (client.height - measured.Bottom()) / 2 + shift;
    return r;
}

Point GlyphOrigin(const Rect& caption, Size client, Size glyph, ButtonLayout layout, int spacing,
                  int shift) {
    switch (layout) {
    case blGlyphLeft:
        return {caption.left - glyph.width - spacing, (client.height - glyph.height) / 2 + shift};
    case blGlyphRight:
        return {caption.Right() + spacing, (client.height - glyph.height) / 2 + shift};
    case blGlyphTop:
        return {(client.width - glyph.width) / 2 + shift, caption.top - glyph.height - spacing};
    case blGlyphBottom:
        return {(client.width - glyph.width) / 2 + shift, caption.Bottom() + spacing};
    }
    return {};
}

std::wstring CaptionToMeasure(const std::wstring& text, bool showAccelChar) {
    if (text.empty() || (showAccelChar && text == L"&")) return text + L" ";
    return text;
}

} // namespace core
