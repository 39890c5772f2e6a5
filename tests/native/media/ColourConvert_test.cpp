#include "media/ColourConvert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

using namespace media;

namespace {

using TBytes = std::vector<std::uint8_t>;

std::size_t RowBytes(int width, int bits) {
    return (static_cast<std::size_t>(width) * bits + 31) / 32 * 4;
}

// Random bytes, half of them 0 or 255 so that the colours reach the ends of their ranges.
TBytes RandomDib(int width, int height, int bits, unsigned seed) {
    std::mt19937 random(seed);
    TBytes dib(RowBytes(width, bits) * height);
    for (auto& b : dib) {
        const auto r = random();
        b = static_cast<std::uint8_t>(r % 4 == 0 ? 0 : r % 4 == 1 ? 255 : r >> 8);
    }
    return dib;
}

// Planes with strides wider than the picture; the margins hold a mark that must stay.
struct TPlanes {
    TPlanes(int width, int height)
        : yStride(width + 5), cStride((width + 1) / 2 + 3), chromaRows((height + 1) / 2),
          y(yStride * height, kMark), u(cStride * chromaRows, kMark),
          v(cStride * chromaRows, kMark) {}
    TI420Planes View() { return {y.data(), u.data(), v.data(), yStride, cStride, cStride}; }
    static constexpr std::uint8_t kMark = 0xA5;
    int yStride, cStride, chromaRows;
    TBytes y, u, v;
};

struct TRgbF {
    double r, g, b;
};

// The pixel at column x of row r from the top, in 0..255 per channel as the DIB holds it.
TRgbF PixelOf(const TBytes& dib, int width, int height, int bits, int x, int r) {
    const std::uint8_t* row = &dib[(height - 1 - r) * RowBytes(width, bits)];
    if (bits == 16) {
        const int w = row[2 * x] | row[2 * x + 1] << 8;
        auto widen = [](int c) { return double(c << 3 | c >> 2); };
        return {widen(w >> 10 & 31), widen(w >> 5 & 31), widen(w & 31)};
    }
    const std::uint8_t* p = row + x * (bits / 8);
    return {double(p[2]), double(p[1]), double(p[0])};
}

constexpr double kKr = 0.2126, kKb = 0.0722, kKg = 1 - kKr - kKb;

// Every sample against BT.709 limited range in floating point; returns the largest difference, or
// 99 for a sample outside its range.
double LargestError(const TBytes& dib, int width, int height, int bits, const TPlanes& planes) {
    double worst = 0;
    for (int r = 0; r < height; ++r) {
        for (int x = 0; x < width; ++x) {
            const TRgbF p = PixelOf(dib, width, height, bits, x, r);
            const double y = 16 + 219 * (kKr * p.r + kKg * p.g + kKb * p.b) / 255;
            const int got = planes.y[r * planes.yStride + x];
            worst = std::max(worst, got < 16 || got > 235 ? 99 : std::abs(got - y));
        }
    }
    for (int cr = 0; cr < (height + 1) / 2; ++cr) {
        for (int cx = 0; cx < (width + 1) / 2; ++cx) {
            TRgbF sum{0, 0, 0};
            for (const int r : {2 * cr, std::min(2 * cr + 1, height - 1)}) {
                for (const int x : {2 * cx, std::min(2 * cx + 1, width - 1)}) {
                    const TRgbF p = PixelOf(dib, width, height, bits, x, r);
                    sum = {sum.r + p.r / 4, sum.g + p.g / 4, sum.b + p.b / 4};
                }
            }
            const double y = kKr * sum.r + kKg * sum.g + kKb * sum.b;
            const double cb = 128 + 224 * (sum.b - y) / (2 * (1 - kKb)) / 255;
            const double crv = 128 + 224 * (sum.r - y) / (2 * (1 - kKr)) / 255;
            for (const auto& [got, exact] :
                 {std::pair<int, double>{planes.u[cr * planes.cStride + cx], cb},
                  {planes.v[cr * planes.cStride + cx], crv}})
                worst = std::max(worst, got < 16 || got > 240 ? 99 : std::abs(got - exact));
        }
    }
    return worst;
}

bool MarginsKept(const TPlanes& p, int width, int height) {
    for (int r = 0; r < height; ++r)
        for (int x = width; x < p.yStride; ++x)
            if (p.y[r * p.yStride + x] != TPlanes::kMark) return false;
    for (int r = 0; r < p.chromaRows; ++r)
        for (int x = (width + 1) / 2; x < p.cStride; ++x)
            if (p.u[r * p.cStride + x] != TPlanes::kMark ||
                p.v[r * p.cStride + x] != TPlanes::kMark)
                return false;
    return true;
}

} // namespace

TEST(ColourConvertTest, MatchesBt709LimitedRangeWithinOneAtEveryDepthAndOddSize) {
    for (const int bits : {32, 24, 16}) {
        for (const auto& [w, h] : {std::pair{1, 1}, {37, 21}, {64, 2}, {2, 33}, {19, 18}}) {
            for (const auto path : {TConvertPath::Fastest, TConvertPath::Plain}) {
                SCOPED_TRACE(testing::Message() << bits << " bits " << w << " x " << h);
                const TBytes dib = RandomDib(w, h, bits, static_cast<unsigned>(w * 131 + h + bits));
                TPlanes planes(w, h);
                ASSERT_TRUE(DibToI420(dib.data(), w, h, bits, planes.View(), path));
                EXPECT_LE(LargestError(dib, w, h, bits, planes), 1.0);
                EXPECT_TRUE(MarginsKept(planes, w, h));
            }
        }
    }
}

TEST(ColourConvertTest, Sse2GivesThePlainResultsExactly) {
    if (!ConvertUsesSse2()) GTEST_SKIP() << "this build has no SSE2 path";
    for (const int bits : {32, 24, 16}) {
        for (const int w : {15, 16, 17, 33, 48, 63, 98}) {
            for (const int h : {1, 2, 5, 8}) {
                SCOPED_TRACE(testing::Message() << bits << " bits " << w << " x " << h);
                const TBytes dib =
                    RandomDib(w, h, bits, static_cast<unsigned>(w * 7 + h * 3 + bits));
                TPlanes fast(w, h), plain(w, h);
                ASSERT_TRUE(DibToI420(dib.data(), w, h, bits, fast.View(), TConvertPath::Fastest));
                ASSERT_TRUE(DibToI420(dib.data(), w, h, bits, plain.View(), TConvertPath::Plain));
                EXPECT_EQ(fast.y, plain.y);
                EXPECT_EQ(fast.u, plain.u);
                EXPECT_EQ(fast.v, plain.v);
            }
        }
    }
}

TEST(ColourConvertTest, RefusesOtherDepthsAndEmptySizes) {
    const TBytes dib = RandomDib(4, 4, 32, 1);
    TPlanes planes(4, 4);
    EXPECT_FALSE(DibToI420(dib.data(), 4, 4, 8, planes.View()));
    EXPECT_FALSE(DibToI420(dib.data(), 0, 4, 32, planes.View()));
    EXPECT_FALSE(DibToI420(dib.data(), 4, -1, 32, planes.View()));
    EXPECT_TRUE(MarginsKept(planes, 0, 4) && planes.y[0] == TPlanes::kMark);
}

TEST(ColourConvertTest, MakeOpaque32SetsOnlyTheFourthByteOfEachPixel) {
    std::vector<std::uint8_t> pixels{1, 2, 3, 0, 250, 251, 252, 7, 9, 9, 9, 0, 5, 5, 5, 5};
    MakeOpaque32(pixels.data(), 3);
    EXPECT_EQ(pixels, (std::vector<std::uint8_t>{1, 2, 3, 255, 250, 251, 252, 255, 9, 9, 9, 255,
                                                 5, 5, 5, 5}));
}
