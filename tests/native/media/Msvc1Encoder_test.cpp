#include "media/Msvc1Encoder.h"

#include "tests/common/Msvc1Decode.h"
#include "tests/common/SyntheticScene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

using namespace media;
using namespace testing_msvc1;

namespace {

struct TDecoded {
    TDecodeResult result;
    std::vector<std::uint16_t> picture;
};

int CountKind(const TDecodeResult& r, TBlockKind kind) {
    return static_cast<int>(std::count(r.kinds.begin(), r.kinds.end(), kind));
}

// Largest per-channel difference between the decoded picture and the source.
int MaxChannelError(const std::vector<std::uint32_t>& source,
                    const std::vector<std::uint16_t>& picture, int width, int height) {
    int worst = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint32_t s = source[static_cast<std::size_t>(y) * width + x];
            int r, g, b;
            Rgb555ToRgb(picture[static_cast<std::size_t>(height - 1 - y) * width + x], r, g, b);
            worst = std::max({worst, std::abs(r - static_cast<int>((s >> 16) & 0xFF)),
                              std::abs(g - static_cast<int>((s >> 8) & 0xFF)),
                              std::abs(b - static_cast<int>(s & 0xFF))});
        }
    return worst;
}

// Top-down pixels where every 4x4 block (aligned to the frame) is painted by paint(bx, by, x, y)
// with x, y inside the block counted from its top-left corner.
template <typename F> std::vector<std::uint32_t> BlockPattern(int width, int height, F paint) {
    std::vector<std::uint32_t> px(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            px[static_cast<std::size_t>(y) * width + x] = paint(x / 4, y / 4, x % 4, y % 4);
    return px;
}

std::uint32_t Pseudo(int a, int b) {
    std::uint32_t h =
        static_cast<std::uint32_t>(a) * 2654435761u ^ static_cast<std::uint32_t>(b) * 40503u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    return h ^ (h >> 15);
}

class Msvc1EncoderTest : public ::testing::Test {
protected:
    // Encodes and decodes one frame, checking that the stream is well formed and that the
    // decoder shows exactly what the encoder believes it shows.
    TDecoded RoundTrip(TMsvc1Encoder& enc, const std::vector<std::uint8_t>& dib, int quality,
                       bool key, std::vector<std::uint16_t>& picture, std::size_t* size = nullptr) {
        const auto bytes = enc.Encode(dib.data(), quality, key);
        EXPECT_FALSE(bytes.empty());
        if (size) *size = bytes.size();
        TDecoded d;
        d.result = DecodeMsvc1(bytes.data(), bytes.size(), enc.Width(), enc.Height(), picture);
        d.picture = picture;
        EXPECT_TRUE(d.result.ok);
        EXPECT_EQ(picture, enc.Picture());
        return d;
    }
};

TEST_F(Msvc1EncoderTest, AcceptsOnlyMultiplesOfFourAndRgbDepths) {
    EXPECT_TRUE(Msvc1AcceptsFrame(4, 4, 16));
    EXPECT_TRUE(Msvc1AcceptsFrame(640, 480, 24));
    EXPECT_TRUE(Msvc1AcceptsFrame(320, 200, 32));
    EXPECT_FALSE(Msvc1AcceptsFrame(301, 200, 32));
    EXPECT_FALSE(Msvc1AcceptsFrame(300, 202, 32));
    EXPECT_FALSE(Msvc1AcceptsFrame(0, 4, 32));
    EXPECT_FALSE(Msvc1AcceptsFrame(4, -4, 32));
    EXPECT_FALSE(Msvc1AcceptsFrame(8, 8, 8));
    EXPECT_FALSE(Msvc1AcceptsFrame(8, 8, 15));

    TMsvc1Encoder enc;
    EXPECT_FALSE(enc.Begin(302, 200, 32));
    EXPECT_FALSE(enc.Begun());
    std::vector<std::uint8_t> dib(DibRowBytes(302, 32) * 200);
    EXPECT_TRUE(enc.Encode(dib.data(), 5000, true).empty());

    ASSERT_TRUE(enc.Begin(8, 8, 32));
    EXPECT_FALSE(enc.Begin(8, 6, 32)); // a refused size forgets the earlier sequence
    EXPECT_FALSE(enc.Begun());

    ASSERT_TRUE(enc.Begin(8, 8, 24));
    std::vector<std::uint8_t> small(Msvc1MaxFrameBytes(8, 8) - 1);
    std::vector<std::uint8_t> frame(DibRowBytes(8, 24) * 8);
    EXPECT_EQ(enc.Encode(frame.data(), 5000, true, small.data(), small.size()), 0u);
}

TEST_F(Msvc1EncoderTest, DibRowsArePaddedToFourBytes) {
    EXPECT_EQ(DibRowBytes(4, 24), 12u);
    EXPECT_EQ(DibRowBytes(5, 24), 16u);
    EXPECT_EQ(DibRowBytes(6, 16), 12u);
    EXPECT_EQ(DibRowBytes(3, 32), 12u);
    EXPECT_EQ(Msvc1MaxFrameBytes(640, 480), 160u * 120u * 18u);
}

TEST_F(Msvc1EncoderTest, KeyFrameCodesEveryBlockAndStillFrameCostsOnlySkips) {
    const int w = 320, h = 240;
    for (int bpp : {16, 24, 32}) {
        SCOPED_TRACE(bpp);
        TMsvc1Encoder enc;
        ASSERT_TRUE(enc.Begin(w, h, bpp));
        const auto dib = SceneDib(w, h, 3, bpp);
        std::vector<std::uint16_t> picture;
        bool key = false;
        // The first frame is a key frame even when none is asked for.
        const auto first = enc.Encode(dib.data(), 6550, false, &key);
        EXPECT_TRUE(key);
        auto decoded = DecodeMsvc1(first.data(), first.size(), w, h, picture);
        ASSERT_TRUE(decoded.ok);
        EXPECT_EQ(CountKind(decoded, TBlockKind::Skip), 0);
        EXPECT_EQ(static_cast<int>(decoded.kinds.size()), (w / 4) * (h / 4));

        const auto still = enc.Encode(dib.data(), 6550, false, &key);
        EXPECT_FALSE(key);
        const std::vector<std::uint16_t> before = picture;
        decoded = DecodeMsvc1(still.data(), still.size(), w, h, picture);
        ASSERT_TRUE(decoded.ok);
        EXPECT_EQ(CountKind(decoded, TBlockKind::Skip), (w / 4) * (h / 4));
        EXPECT_EQ(still.size(), 10u); // 4800 blocks in runs of at most 1023
        EXPECT_EQ(picture, before);
        EXPECT_EQ(enc.LastCounts().skipped, (w / 4) * (h / 4));

        // Asked for a key frame, the same picture is coded in full again.
        const auto again = enc.Encode(dib.data(), 6550, true, &key);
        EXPECT_TRUE(key);
        EXPECT_EQ(again, first);
    }
}

TEST_F(Msvc1EncoderTest, LongSkipRunsSpanRowsAndSplitAt1023Blocks) {
    const int w = 640, h = 480;
    TMsvc1Encoder enc;
    ASSERT_TRUE(enc.Begin(w, h, 32));
    const auto dib = SceneDib(w, h, 0, 32);
    std::vector<std::uint16_t> picture;
    RoundTrip(enc, dib, 6550, true, picture);
    std::size_t size = 0;
    const auto d = RoundTrip(enc, dib, 6550, false, picture, &size);
    EXPECT_EQ(size, 2u * 19u); // 19200 blocks: 18 runs of 1023 and one of 786
    EXPECT_EQ(CountKind(d.result, TBlockKind::Skip), 19200);
}

TEST_F(Msvc1EncoderTest, HighestQualityKeepsFlatColoursAndTwoColourTextWithinRounding) {
    const int w = 64, h = 32;
    // Flat areas of many colours, including reds whose fill word would look like a skip code.
    const auto flat = BlockPattern(w, h, [](int bx, int by, int, int) -> std::uint32_t {
        if (bx == 0) return 0x08643C; // red 8: RGB555 red 1
        if (bx == 1) return 0x0B0000;
        return Pseudo(bx, by) & 0xFFFFFF;
    });
    // Text-like: dark strokes on a light background, one stroke colour per block.
    const auto text = BlockPattern(w, h, [](int bx, int by, int x, int y) -> std::uint32_t {
        const std::uint32_t h = Pseudo(bx * 7, by);
        const bool ink = (h >> (y * 4 + x)) & 1;
        return ink ? (h >> 8) & 0x3F3F3F : 0xF0F0F0 - ((h >> 20) & 0x0F0F0F);
    });
    for (const auto* source : {&flat, &text}) {
        for (int bpp : {16, 24, 32}) {
            SCOPED_TRACE(bpp);
            TMsvc1Encoder enc;
            ASSERT_TRUE(enc.Begin(w, h, bpp));
            std::vector<std::uint16_t> picture;
            const auto d =
                RoundTrip(enc, ToDib(*source, w, h, bpp), kMsvc1MaxQuality, true, picture);
            // 16-bit sources lose their low bits before encoding; allow for that rounding too.
            EXPECT_LE(MaxChannelError(*source, picture, w, h), bpp == 16 ? 8 : 4);
            EXPECT_EQ(CountKind(d.result, TBlockKind::Eight), 0);
        }
    }
    // At the lowest quality flat areas are single-colour blocks, and a red that would collide
    // with the skip codes moves one level instead of turning into a skip.
    TMsvc1Encoder enc;
    ASSERT_TRUE(enc.Begin(w, h, 32));
    std::vector<std::uint16_t> picture;
    const auto d = RoundTrip(enc, ToDib(flat, w, h, 32), 0, true, picture);
    EXPECT_EQ(CountKind(d.result, TBlockKind::Fill), (w / 4) * (h / 4));
    EXPECT_LE(MaxChannelError(flat, picture, w, h), 8);
    EXPECT_NE(picture[0] >> 10, 1); // red 8 shown one level away from the colliding level
}

TEST_F(Msvc1EncoderTest, TwoAndEightColourBlocksRoundTrip) {
    const int w = 32, h = 16;
    // Every block has exactly two colours; which one covers the last pixel varies.
    const auto two = BlockPattern(w, h, [](int bx, int by, int x, int y) -> std::uint32_t {
        const std::uint32_t m = Pseudo(bx, by) | 1u; // never a flat block
        const bool first = (m >> ((3 - y) * 4 + x)) & 1;
        return first ? 0x2040F8 : 0xF8F800 + static_cast<std::uint32_t>(bx * 8);
    });
    // Every quadrant has its own two colours.
    const auto eight = BlockPattern(w, h, [](int bx, int by, int x, int y) -> std::uint32_t {
        const int q = (y / 2) * 2 + x / 2;
        const bool first =
            (Pseudo(bx + q, by) >> (y % 2 * 2 + x % 2)) & 1 || (x % 2 == 0 && y % 2 == 0);
        const bool second = x % 2 == 1 && y % 2 == 1;
        const std::uint32_t a = (Pseudo(q, 1) & 0xF8F8F8), b = (Pseudo(q, 2) & 0xF8F8F8) | 0x040404;
        return first && !second ? a : b;
    });
    TMsvc1Encoder enc;
    std::vector<std::uint16_t> picture;

    ASSERT_TRUE(enc.Begin(w, h, 32));
    auto d = RoundTrip(enc, ToDib(two, w, h, 32), kMsvc1MaxQuality, true, picture);
    EXPECT_EQ(CountKind(d.result, TBlockKind::Two), (w / 4) * (h / 4));
    EXPECT_LE(MaxChannelError(two, picture, w, h), 4);

    ASSERT_TRUE(enc.Begin(w, h, 32));
    d = RoundTrip(enc, ToDib(eight, w, h, 32), kMsvc1MaxQuality, true, picture);
    EXPECT_EQ(CountKind(d.result, TBlockKind::Eight), (w / 4) * (h / 4));
    EXPECT_LE(MaxChannelError(eight, picture, w, h), 4);

    // At the lowest quality the same pictures still decode to what the encoder expects.
    ASSERT_TRUE(enc.Begin(w, h, 32));
    RoundTrip(enc, ToDib(eight, w, h, 32), 0, true, picture);
}

TEST_F(Msvc1EncoderTest, AnyPictureGivesAWellFormedStream) {
    // Noise, half-changed noise and noise in a few colours, at every depth and several
    // qualities: the decoder must read every frame and end exactly where the encoder thinks.
    const int w = 64, h = 48;
    for (int bpp : {16, 24, 32}) {
        for (int q : {0, 3000, 6550, 10000}) {
            SCOPED_TRACE(testing::Message() << bpp << " bits, quality " << q);
            TMsvc1Encoder enc;
            ASSERT_TRUE(enc.Begin(w, h, bpp));
            std::vector<std::uint16_t> picture;
            for (int n = 0; n < 6; ++n) {
                const auto px = BlockPattern(w, h, [n](int bx, int by, int x, int y) {
                    const std::uint32_t r =
                        Pseudo(bx * 4 + x + (bx % 2 && n % 2 ? n : 0), by * 4 + y);
                    return n % 3 == 2 ? (r % 3) * 0x7F7F7Fu : r & 0xFFFFFF;
                });
                RoundTrip(enc, ToDib(px, w, h, bpp), q, n == 3, picture);
            }
        }
    }
}

TEST_F(Msvc1EncoderTest, LowerQualityNeverGivesLargerKeyFrames) {
    const int w = 320, h = 240;
    for (int t : {0, 7}) {
        const auto dib = SceneDib(w, h, t, 32);
        std::size_t previous = SIZE_MAX;
        double previousPsnr = 100;
        for (int q : {10000, 9500, 8500, 7500, 6550, 5000, 3000, 1000, 0}) {
            SCOPED_TRACE(q);
            TMsvc1Encoder enc;
            ASSERT_TRUE(enc.Begin(w, h, 32));
            std::vector<std::uint16_t> picture;
            std::size_t size = 0;
            RoundTrip(enc, dib, q, true, picture, &size);
            EXPECT_LE(size, previous);
            const double psnr = Psnr(ScenePixels(w, h, t), picture, w, h);
            EXPECT_LE(psnr, previousPsnr + 0.01);
            previous = size;
            previousPsnr = psnr;
        }
    }
}

TEST_F(Msvc1EncoderTest, MovingSceneStaysInStepWithTheDecoderAndSkipsStillParts) {
    const int w = 320, h = 240;
    TMsvc1Encoder enc;
    ASSERT_TRUE(enc.Begin(w, h, 32));
    std::vector<std::uint16_t> picture;
    double psnrSum = 0;
    const int frames = 12;
    for (int n = 0; n < frames; ++n) {
        SCOPED_TRACE(n);
        const int t = std::min(n, 8); // the last frames hold still
        std::size_t size = 0;
        const auto d = RoundTrip(enc, SceneDib(w, h, t, 32), 6550, n % 5 == 0, picture, &size);
        const double psnr = Psnr(ScenePixels(w, h, t), picture, w, h);
        EXPECT_GE(psnr, 30.0);
        psnrSum += psnr;
        if (n % 5 != 0) {
            // Desktop, caption and tool bar do not move: their blocks are skipped.
            EXPECT_GT(CountKind(d.result, TBlockKind::Skip), (w / 4) * (h / 4) / 4);
        }
        if (n > 8 && n % 5 != 0) {
            EXPECT_EQ(size, 10u);
        }
    }
    EXPECT_GE(psnrSum / frames, 32.0);
}

TEST_F(Msvc1EncoderTest, SmallChangeIsCodedAndDriftStaysBounded) {
    const int w = 64, h = 64;
    auto px = ScenePixels(w, h, 0);
    TMsvc1Encoder enc;
    ASSERT_TRUE(enc.Begin(w, h, 24));
    std::vector<std::uint16_t> picture;
    RoundTrip(enc, ToDib(px, w, h, 24), 6550, true, picture);

    // One pixel turns from the scene's colour to white: its block must be coded again.
    px[static_cast<std::size_t>(21) * w + 37] =
        px[static_cast<std::size_t>(21) * w + 37] ^ 0xFFFFFF;
    std::size_t size = 0;
    const auto d = RoundTrip(enc, ToDib(px, w, h, 24), 6550, false, picture, &size);
    EXPECT_EQ(CountKind(d.result, TBlockKind::Skip), (w / 4) * (h / 4) - 1);
    EXPECT_LE(size, 2u + 18u + 2u);
    EXPECT_EQ(d.result.kinds[static_cast<std::size_t>((h - 1 - 21) / 4) * (w / 4) + 37 / 4] ==
                  TBlockKind::Skip,
              false);

    // A slow fade, one level per frame: skipping never lets the picture drift far.
    for (int step = 1; step <= 24; ++step) {
        for (auto& c : px) {
            const std::uint32_t r = std::min<std::uint32_t>(255, ((c >> 16) & 0xFF) + 1);
            const std::uint32_t g = std::min<std::uint32_t>(255, ((c >> 8) & 0xFF) + 1);
            const std::uint32_t b = std::min<std::uint32_t>(255, (c & 0xFF) + 1);
            c = (r << 16) | (g << 8) | b;
        }
        RoundTrip(enc, ToDib(px, w, h, 24), 6550, false, picture);
        EXPECT_GE(Psnr(px, picture, w, h), 30.0);
    }
}

} // namespace
