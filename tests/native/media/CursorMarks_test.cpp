#include "media/CursorMarks.h"

#include <gtest/gtest.h>

#include <vector>

using namespace core;
using namespace media;

namespace {

// A bottom-up frame of grey pixels with a guard area after it that no blend may touch.
struct Frame {
    Frame(int w, int h, int bits)
        : stride((w * bits + 31) / 32 * 4), width(w), height(h), bpp(bits),
          bytes(static_cast<std::size_t>(stride * h + 64), 0x40) {
        for (std::size_t i = static_cast<std::size_t>(stride * h); i < bytes.size(); ++i)
            bytes[i] = 0xEE;
    }
    DibPixels Dib() { return {bytes.data(), width, height, bpp}; }
    // Red of the pixel at (x, y) counted from the top.
    int Red(int x, int y) const {
        const std::uint8_t* p =
            &bytes[static_cast<std::size_t>((height - 1 - y) * stride + x * bpp / 8)];
        if (bpp == 16) return ((p[0] | (p[1] << 8)) >> 10) & 31;
        return p[2];
    }
    bool GuardIntact() const {
        for (std::size_t i = static_cast<std::size_t>(stride * height); i < bytes.size(); ++i)
            if (bytes[i] != 0xEE) return false;
        return true;
    }
    int stride, width, height, bpp;
    std::vector<std::uint8_t> bytes;
};

} // namespace

TEST(CursorMarksTest, HighlightIsFortyPixelsAcrossAt96DpiAndScales) {
    EXPECT_EQ(HighlightRadius(96), 20);
    EXPECT_EQ(HighlightRadius(144), 30);
    EXPECT_EQ(HighlightRadius(192), 40);
}

TEST(CursorMarksTest, RingGrowsAndFadesOutOverItsLife) {
    const RingStage first = RingAt(MouseButton::Left, 0, 96);
    const RingStage middle = RingAt(MouseButton::Left, 200, 96);
    const RingStage last = RingAt(MouseButton::Left, 380, 96);
    EXPECT_LT(first.radius, middle.radius);
    EXPECT_LT(middle.radius, last.radius);
    EXPECT_GT(first.alpha, middle.alpha);
    EXPECT_GT(last.alpha, 0);
    EXPECT_EQ(RingAt(MouseButton::Left, 400, 96).alpha, 0);
    EXPECT_EQ(RingAt(MouseButton::Left, 200, 192).radius, 2 * middle.radius);
    EXPECT_EQ(first.colour, (Rgb{255, 0, 0}));
    EXPECT_GT(RingAt(MouseButton::Right, 0, 96).colour.b, 200);
    EXPECT_EQ(RingAt(MouseButton::Right, 0, 96).colour.r, 0);
}

TEST(CursorMarksTest, ClickShowsInTheNextFrameAtOneFrameASecond) {
    ClickRings rings;
    std::array<Ring, ClickRings::kMaxRings> out;
    rings.Add({{5, 6}, MouseButton::Right, 1300}, {20, 10});
    rings.Add({{20, 6}, MouseButton::Left, 1300}, {20, 10}); // just outside the frame
    // The frame at 2000 ms is 700 ms after the press: it still shows the first stage.
    ASSERT_EQ(rings.Frame(2000, 96, out), 1u);
    EXPECT_EQ(out[0].at, (Point{5, 6}));
    EXPECT_EQ(out[0].stage.radius, RingAt(MouseButton::Right, 0, 96).radius);
    EXPECT_EQ(rings.Frame(3000, 96, out), 0u);
    EXPECT_TRUE(rings.Empty());
}

TEST(CursorMarksTest, DrawnRingAgesWithTheRecordingTime) {
    ClickRings rings;
    std::array<Ring, ClickRings::kMaxRings> out;
    rings.Add({{0, 0}, MouseButton::Left, 100}, {20, 10});
    ASSERT_EQ(rings.Frame(100, 96, out), 1u);
    ASSERT_EQ(rings.Frame(300, 96, out), 1u);
    EXPECT_EQ(out[0].stage.alpha, RingAt(MouseButton::Left, 200, 96).alpha);
    EXPECT_EQ(rings.Frame(500, 96, out), 0u);
}

TEST(CursorMarksTest, BlendClipsAtEdgesAndCorners) {
    for (int bits : {16, 24, 32}) {
        Frame f(7, 5, bits); // 7 pixels wide: the 16 and 24-bit rows are padded
        const Frame before = f;
        for (Point corner : {Point{0, 0}, Point{6, 0}, Point{0, 4}, Point{6, 4}})
            BlendAnnulus(f.Dib(), corner, 0, 3, 1, {255, 0, 0}, 255);
        EXPECT_TRUE(f.GuardIntact()) << bits;
        EXPECT_EQ(f.Red(0, 0), bits == 16 ? 31 : 255) << bits;
        EXPECT_EQ(f.Red(6, 4), bits == 16 ? 31 : 255) << bits;
        EXPECT_EQ(f.Red(3, 2), before.Red(3, 2)) << bits; // out of every disc's reach
        // Padding bytes at the end of each row stay as they were.
        for (int y = 0; y < f.height; ++y)
            for (int i = 7 * bits / 8; i < f.stride; ++i)
                EXPECT_EQ(f.bytes[static_cast<std::size_t>(y * f.stride + i)], 0x40) << bits;
    }
    Frame f(4, 4, 32);
    const Frame before = f;
    BlendAnnulus(f.Dib(), {-10, 2}, 0, 5, 1, {255, 0, 0}, 255);
    EXPECT_EQ(f.bytes, before.bytes);
}

TEST(CursorMarksTest, HighlightTintsTheHotSpotYellowHalfWay) {
    Frame f(60, 60, 32);
    BlendHighlight(f.Dib(), {30, 10}, 96);
    const std::uint8_t* p = &f.bytes[static_cast<std::size_t>((60 - 1 - 10) * f.stride + 30 * 4)];
    EXPECT_LT(p[0], 0x40);          // blue gives way
    EXPECT_GT(p[2], 0x40);          // red and green rise
    EXPECT_LT(p[2], 0xF0);          // but the screen still shows through
    EXPECT_EQ(f.Red(30, 35), 0x40); // 25 px below: outside the 20 px radius
}

TEST(CursorMarksTest, RingLeavesItsCentreUntouched) {
    Frame f(80, 80, 24);
    const Ring ring{{40, 40}, RingAt(MouseButton::Left, 200, 96)};
    BlendRing(f.Dib(), ring);
    EXPECT_EQ(f.Red(40, 40), 0x40);
    EXPECT_GT(f.Red(40 + ring.stage.radius - ring.stage.thickness / 2 - 1, 40), 0x80);
}
