#include "Msvc1Decode.h"

#include <cmath>

namespace testing_msvc1 {

TDecodeResult DecodeMsvc1(const std::uint8_t* data, std::size_t size, int width, int height,
                          std::vector<std::uint16_t>& picture) {
    TDecodeResult res;
    const int blocksWide = width / 4, blocksHigh = height / 4;
    const int total = blocksWide * blocksHigh;
    picture.resize(static_cast<std::size_t>(width) * height);
    std::size_t pos = 0;
    auto word = [&](std::uint16_t& w) {
        if (pos + 2 > size) return false;
        w = static_cast<std::uint16_t>(data[pos] | (data[pos + 1] << 8));
        pos += 2;
        return true;
    };
    int block = 0;
    while (block < total) {
        std::uint16_t first;
        if (!word(first)) return res;
        const int bx = block % blocksWide, by = block / blocksWide;
        std::uint16_t* pic = picture.data() + static_cast<std::size_t>(by) * 4 * width + bx * 4;
        std::uint16_t shown[16];
        if ((first & 0xFC00) == 0x8400) {
            const int n = first - 0x8400;
            if (n == 0 || block + n > total) return res;
            for (int k = 0; k < n; ++k)
                res.kinds.push_back(TBlockKind::Skip);
            block += n;
            continue;
        }
        if (first & 0x8000) {
            for (auto& s : shown)
                s = first & 0x7FFF;
            res.kinds.push_back(TBlockKind::Fill);
        } else {
            std::uint16_t colours[8];
            if (!word(colours[0]) || !word(colours[1])) return res;
            if (colours[0] & 0x8000) {
                for (int c = 2; c < 8; ++c)
                    if (!word(colours[c])) return res;
                for (int i = 0; i < 16; ++i) {
                    const int q = (i >> 3) * 2 + ((i & 3) >> 1);
                    shown[i] = colours[2 * q + ((first >> i) & 1 ? 0 : 1)] & 0x7FFF;
                }
                res.kinds.push_back(TBlockKind::Eight);
            } else {
                for (int i = 0; i < 16; ++i)
                    shown[i] = colours[(first >> i) & 1 ? 0 : 1] & 0x7FFF;
                res.kinds.push_back(TBlockKind::Two);
            }
        }
        for (int row = 0; row < 4; ++row)
            for (int x = 0; x < 4; ++x)
                pic[row * width + x] = shown[row * 4 + x];
        ++block;
    }
    if (pos != size) return res;
    res.ok = true;
    res.bytesUsed = pos;
    return res;
}

double Psnr(const std::vector<std::uint32_t>& source, const std::vector<std::uint16_t>& picture,
            int width, int height) {
    double sse = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint32_t s = source[static_cast<std::size_t>(y) * width + x];
            int r, g, b;
            Rgb555ToRgb(picture[static_cast<std::size_t>(height - 1 - y) * width + x], r, g, b);
            const int dr = r - static_cast<int>((s >> 16) & 0xFF);
            const int dg = g - static_cast<int>((s >> 8) & 0xFF);
            const int db = b - static_cast<int>(s & 0xFF);
            sse += dr * dr + dg * dg + db * db;
        }
    if (sse == 0) return 99;
    const double mse = sse / (3.0 * width * height);
    return 10 * std::log10(255.0 * 255.0 / mse);
}

} // namespace testing_msvc1
