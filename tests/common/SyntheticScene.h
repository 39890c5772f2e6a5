// A deterministic moving screen scene for the video tests: a window with scrolling text, a
// tool bar, a gradient caption and a moving pointer.
#pragma once

#include <cstdint>
#include <vector>

namespace testing_msvc1 {

// Top-down pixels 0x00RRGGBB of the scene at time t (t steps scroll the text and move the
// pointer; the same t always gives the same picture).
std::vector<std::uint32_t> ScenePixels(int width, int height, int t);

// Top-down 0x00RRGGBB pixels as a bottom-up DIB of 16 (RGB555), 24 (BGR) or 32 (BGRX) bits
// per pixel, rows padded to 4 bytes.
std::vector<std::uint8_t> ToDib(const std::vector<std::uint32_t>& pixels, int width, int height,
                                int bitsPerPixel);

inline std::vector<std::uint8_t> SceneDib(int width, int height, int t, int bitsPerPixel) {
    return ToDib(ScenePixels(width, height, t), width, height, bitsPerPixel);
}

} // namespace testing_msvc1
