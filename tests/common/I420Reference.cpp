#include "I420Reference.h"

#include <algorithm>
#include <cmath>

namespace testing_h264 {

namespace {

// BT.709 luma weights; limited range puts Y in 16..235 and Cb, Cr in 16..240.
constexpr float kKr = 0.2126f, kKb = 0.0722f, kKg = 1.0f - kKr - kKb;

std::uint8_t ToByte(float v) {
    return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

} // namespace

TI420 RgbToI420(const std::vector<std::uint32_t>& pixels, int width, int height) {
    TI420 pic;
    pic.width = width;
    pic.height = height;
    pic.y.resize(static_cast<std::size_t>(width) * height);
    pic.u.resize(static_cast<std::size_t>(width / 2) * (height / 2));
    pic.v.resize(pic.u.size());
    for (int cy = 0; cy < height / 2; ++cy)
        for (int cx = 0; cx < width / 2; ++cx) {
            float cb = 0, cr = 0;
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx) {
                    const std::size_t i =
                        static_cast<std::size_t>(2 * cy + dy) * width + 2 * cx + dx;
                    const std::uint32_t c = pixels[i];
                    const float r = ((c >> 16) & 0xFF) / 255.0f, g = ((c >> 8) & 0xFF) / 255.0f,
                                b = (c & 0xFF) / 255.0f;
                    const float luma = kKr * r + kKg * g + kKb * b;
                    pic.y[i] = ToByte(16 + 219 * luma);
                    cb += (b - luma) / (2 * (1 - kKb));
                    cr += (r - luma) / (2 * (1 - kKr));
                }
            const std::size_t j = static_cast<std::size_t>(cy) * (width / 2) + cx;
            pic.u[j] = ToByte(128 + 224 * cb / 4);
            pic.v[j] = ToByte(128 + 224 * cr / 4);
        }
    return pic;
}

std::vector<std::uint32_t> I420ToRgb(const TI420& pic) {
    std::vector<std::uint32_t> px(static_cast<std::size_t>(pic.width) * pic.height);
    for (int y = 0; y < pic.height; ++y)
        for (int x = 0; x < pic.width; ++x) {
            const std::size_t j = static_cast<std::size_t>(y / 2) * (pic.width / 2) + x / 2;
            const float luma = (pic.y[static_cast<std::size_t>(y) * pic.width + x] - 16) / 219.0f;
            const float cb = (pic.u[j] - 128) / 224.0f, cr = (pic.v[j] - 128) / 224.0f;
            const float r = luma + 2 * (1 - kKr) * cr;
            const float b = luma + 2 * (1 - kKb) * cb;
            const float g = (luma - kKr * r - kKb * b) / kKg;
            px[static_cast<std::size_t>(y) * pic.width + x] =
                (static_cast<std::uint32_t>(ToByte(255 * r)) << 16) |
                (static_cast<std::uint32_t>(ToByte(255 * g)) << 8) | ToByte(255 * b);
        }
    return px;
}

double RgbPsnr(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
    double sum = 0;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
        for (int shift = 0; shift <= 16; shift += 8) {
            const int d =
                static_cast<int>((a[i] >> shift) & 0xFF) - static_cast<int>((b[i] >> shift) & 0xFF);
            sum += d * d;
        }
    if (a.size() != b.size() || a.empty()) return 0;
    if (sum == 0) return 99;
    const double mse = sum / (3.0 * a.size());
    return 10 * std::log10(255.0 * 255.0 / mse);
}

} // namespace testing_h264
