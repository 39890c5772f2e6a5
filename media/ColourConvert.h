// ColourConvert: the screen grab's bottom-up DIB rows to I420 planes in BT.709 limited range.
#pragma once

#include <cstddef>
#include <cstdint>

namespace media {

// Three planes, top-down: Y of width x height, U (Cb) and V (Cr) of ceil(width / 2) x
// ceil(height / 2), each row `stride` bytes after the one above it.
struct TI420Planes {
    std::uint8_t* y = nullptr;
    std::uint8_t* u = nullptr;
    std::uint8_t* v = nullptr;
    std::ptrdiff_t yStride = 0, uStride = 0, vStride = 0;
};

enum class TConvertPath {
    Fastest, // SSE2 where the compiler targets it, otherwise the plain one
    Plain,   // one pixel at a time, with exactly the same results
};

// Converts a bottom-up DIB (rows padded to 4 bytes) of 32 (B, G, R, unused), 24 (B, G, R) or 16
// (RGB555, bit 15 unused) bits per pixel. Y takes 16..235, Cb and Cr 16..240, each chroma sample
// from the 2 x 2 pixels it covers (an odd last column or row counts twice). Fixed-point: no pixel
// is more than 1 away from the exact values. False, writing nothing, for another depth or a size
// that is not positive.
bool DibToI420(const std::uint8_t* dib, int width, int height, int bitsPerPixel,
               const TI420Planes& out, TConvertPath path = TConvertPath::Fastest);

// Sets the unused fourth byte of `count` 32-bit pixels (B, G, R, unused) to 0xFF. Readers that take
// it for alpha (ffmpeg reads 32-bit BI_RGB frames as BGRA) then see the opaque pixels the screen
// had, not transparent ones.
void MakeOpaque32(std::uint8_t* pixels, std::size_t count);

// Whether TConvertPath::Fastest uses SSE2 in this build.
bool ConvertUsesSse2();

} // namespace media
