// Decoder of 16-bit Microsoft Video 1 frames for the tests: checks the bitstream strictly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace testing_msvc1 {

enum class TBlockKind { Skip, Fill, Two, Eight };

struct TDecodeResult {
    bool ok = false;
    std::size_t bytesUsed = 0;
    std::vector<TBlockKind> kinds; // one per block, in stream order
};

// Decodes one frame onto picture (RGB555 words, bottom-up rows, width * height; skipped blocks
// keep what it held). Fails on a truncated stream, a skip of 0 blocks or a skip past the last
// block, and on bytes left over after the last block.
TDecodeResult DecodeMsvc1(const std::uint8_t* data, std::size_t size, int width, int height,
                          std::vector<std::uint16_t>& picture);

// 8-bit channels of an RGB555 word as decoders widen them.
inline void Rgb555ToRgb(std::uint16_t w, int& r, int& g, int& b) {
    r = (((w >> 10) & 31) << 3) | (((w >> 10) & 31) >> 2);
    g = (((w >> 5) & 31) << 3) | (((w >> 5) & 31) >> 2);
    b = ((w & 31) << 3) | ((w & 31) >> 2);
}

// Peak signal-to-noise ratio in dB of a decoded picture (RGB555, bottom-up) against top-down
// 0x00RRGGBB source pixels, over all three channels; 99 for identical pictures.
double Psnr(const std::vector<std::uint32_t>& source, const std::vector<std::uint16_t>& picture,
            int width, int height);

} // namespace testing_msvc1
