#include "SyntheticScene.h"

#include <algorithm>

namespace testing_msvc1 {

namespace {

std::uint32_t Hash(std::uint32_t a, std::uint32_t b) {
    std::uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h;
}

struct TCanvas {
    std::vector<std::uint32_t>& px;
    int w, h;
    void Set(int x, int y, std::uint32_t c) {
        if (x >= 0 && y >= 0 && x < w && y < h) px[static_cast<std::size_t>(y) * w + x] = c;
    }
    void Fill(int x0, int y0, int x1, int y1, std::uint32_t c) {
        for (int y = std::max(0, y0); y < std::min(h, y1); ++y)
            for (int x = std::max(0, x0); x < std::min(w, x1); ++x)
                px[static_cast<std::size_t>(y) * w + x] = c;
    }
};

// One text character: a 5x9 pattern with a stem and a few bars, grey where it fades right.
void DrawGlyph(TCanvas& cv, int x0, int y0, std::uint32_t seed, int clipTop, int clipBottom) {
    bool on[9][5] = {};
    const std::uint32_t h = Hash(seed, 17);
    const int stem = h % 5;
    for (int y = 2 + (h >> 3) % 2; y < 9; ++y)
        on[y][stem] = true;
    for (int bar = 0; bar < 3; ++bar) {
        if (!((h >> (5 + bar)) & 1)) continue;
        const int y = 2 + bar * 3;
        for (int x = 0; x < 5; ++x)
            on[y][x] = true;
    }
    if ((h >> 9) & 1)
        for (int y = 4; y < 9; ++y)
            on[y][4 - stem % 2] = true;
    for (int y = 0; y < 9; ++y) {
        const int sy = y0 + y;
        if (sy < clipTop || sy >= clipBottom) continue;
        for (int x = 0; x < 5; ++x) {
            if (on[y][x])
                cv.Set(x0 + x, sy, 0x101010);
            else if (x > 0 && on[y][x - 1])
                cv.Set(x0 + x, sy, 0xA0A0A8);
        }
    }
}

} // namespace

std::vector<std::uint32_t> ScenePixels(int width, int height, int t) {
    std::vector<std::uint32_t> px(static_cast<std::size_t>(width) * height, 0x3A6EA5);
    TCanvas cv{px, width, height};
    // Desktop pattern: soft diagonal bands.
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int v = ((x + y) / 16) % 2 ? 8 : 0;
            px[static_cast<std::size_t>(y) * width + x] = 0x3A6EA5 + (v << 8) + v;
        }

    // The window.
    const int wx0 = width / 16, wy0 = height / 16, wx1 = width - width / 16,
              wy1 = height - height / 12;
    cv.Fill(wx0, wy0, wx1, wy1, 0xD4D0C8);
    for (int x = wx0; x < wx1; ++x) { // caption gradient
        const int k = (x - wx0) * 255 / std::max(1, wx1 - wx0);
        const std::uint32_t c = (static_cast<std::uint32_t>(10 + k / 3) << 16) |
                                (static_cast<std::uint32_t>(36 + k / 2) << 8) |
                                static_cast<std::uint32_t>(106 + k / 2);
        for (int y = wy0; y < wy0 + 18 && y < wy1; ++y)
            cv.Set(x, y, c);
    }
    for (int i = 0; i < 12; ++i) // caption text
        DrawGlyph(cv, wx0 + 6 + i * 7, wy0 + 4, 1000 + i, 0, height);
    // Tool bar with coloured icons.
    const int ty = wy0 + 22;
    for (int i = 0; i < 10; ++i) {
        const int ix = wx0 + 6 + i * 22;
        if (ix + 16 > wx1) break;
        const std::uint32_t c = Hash(i, 99) & 0xF0F0F0;
        cv.Fill(ix, ty, ix + 16, ty + 16, c);
        cv.Fill(ix + 4, ty + 4, ix + 12, ty + 12, ~c & 0xFFFFFF);
    }
    // Text area: lines scroll up by 3 pixels per step.
    const int ax0 = wx0 + 4, ay0 = ty + 22, ax1 = wx1 - 20, ay1 = wy1 - 4;
    cv.Fill(ax0, ay0, ax1, ay1, 0xFFFFFF);
    const int lineHeight = 14, scroll = t * 3;
    const int firstLine = scroll / lineHeight;
    for (int line = firstLine; ay0 + 2 + line * lineHeight - scroll < ay1; ++line) {
        const int y = ay0 + 2 + line * lineHeight - scroll;
        int x = ax0 + 4;
        int col = 0;
        while (x + 5 < ax1) {
            const std::uint32_t hw = Hash(line, col);
            const int wordLength = 2 + hw % 8;
            for (int c = 0; c < wordLength && x + 5 < ax1; ++c, x += 7)
                DrawGlyph(cv, x, y, Hash(line, col * 31 + c), ay0, ay1);
            x += 7;
            col += wordLength + 1;
            if (hw % 13 == 0) break; // short line
        }
    }
    // Scroll bar with its thumb.
    cv.Fill(ax1, ay0, ax1 + 16, ay1, 0xE8E8E8);
    const int thumb = ay0 + (t * 5) % std::max(1, ay1 - ay0 - 30);
    cv.Fill(ax1 + 2, thumb, ax1 + 14, thumb + 30, 0x9090A0);

    // Pointer: a black arrow with a white rim moving across the window.
    const int px0 = wx0 + (t * 23) % std::max(1, wx1 - wx0), py0 = wy0 + 40 + (t * 11) % 120;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x <= y / 2 + 1; ++x)
            cv.Set(px0 + x, py0 + y, x == 0 || x == y / 2 + 1 || y == 15 ? 0xFFFFFF : 0x000000);
    return px;
}

std::vector<std::uint8_t> ToDib(const std::vector<std::uint32_t>& pixels, int width, int height,
                                int bitsPerPixel) {
    const std::size_t stride = ((static_cast<std::size_t>(width) * bitsPerPixel + 31) / 32) * 4;
    std::vector<std::uint8_t> dib(stride * height, 0);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = dib.data() + stride * (height - 1 - y);
        for (int x = 0; x < width; ++x) {
            const std::uint32_t c = pixels[static_cast<std::size_t>(y) * width + x];
            const int r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
            if (bitsPerPixel == 16) {
                const int w = ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
                row[2 * x] = static_cast<std::uint8_t>(w & 0xFF);
                row[2 * x + 1] = static_cast<std::uint8_t>(w >> 8);
            } else {
                std::uint8_t* p = row + x * (bitsPerPixel / 8);
                p[0] = static_cast<std::uint8_t>(b);
                p[1] = static_cast<std::uint8_t>(g);
                p[2] = static_cast<std::uint8_t>(r);
            }
        }
    }
    return dib;
}

} // namespace testing_msvc1
