// Test-side reference for the H.264 encoder: float BT.709 limited-range RGB <-> I420 and RGB PSNR.
#pragma once

#include <cstdint>
#include <vector>

namespace testing_h264 {

struct TI420 {
    int width = 0, height = 0;
    std::vector<std::uint8_t> y, u, v; // tight planes: width and width/2 bytes a row
};

// Top-down 0x00RRGGBB pixels (even width and height) to BT.709 limited-range I420; each chroma
// sample is the mean of its 2x2 pixels' chroma.
TI420 RgbToI420(const std::vector<std::uint32_t>& pixels, int width, int height);

// Back to 0x00RRGGBB with each chroma sample over its 2x2 pixels.
std::vector<std::uint32_t> I420ToRgb(const TI420& picture);

// PSNR in dB over the R, G and B samples of two pictures of the same size (99 when equal).
double RgbPsnr(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b);

} // namespace testing_h264
