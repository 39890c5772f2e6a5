#include "core/Geometry.h"

#include <gtest/gtest.h>

using core::CenteredIn;
using core::Rect;

TEST(Geometry, CentringTruncatesTowardZeroAndMayStartBeforeTheArea) {
    const Rect screen{0, 0, 1280, 1024};
    EXPECT_EQ(CenteredIn({400, 0}, screen).x, 440);
    EXPECT_EQ(CenteredIn({401, 0}, screen).x, 439);
    EXPECT_EQ(CenteredIn({1301, 0}, screen).x, -10); // wider than the screen: negative, not -11
    EXPECT_EQ(CenteredIn({1300, 0}, screen).x, -10);
    EXPECT_EQ(CenteredIn({330, 120}, {274, 122, 328, 290}), (core::Point{273, 207}));
}

TEST(Geometry, EdgesAndExtentAgree) {
    const Rect r = Rect::FromEdges(-40, 10, 288, 300);
    EXPECT_EQ(r, (Rect{-40, 10, 328, 290}));
    EXPECT_EQ(r.Right(), 288);
    EXPECT_EQ(r.Bottom(), 300);
}

TEST(Geometry, ScalingRoundsHalfAwayFromZeroAndComesBackExactly) {
    EXPECT_EQ(core::ScaleToDpi(17, 144), 26);   // 25.5
    EXPECT_EQ(core::ScaleToDpi(-11, 144), -17); // a font height: -16.5
    EXPECT_EQ(core::ScaleToDpi(7, 120), 9);     // 8.75
    EXPECT_EQ(core::ScaleBetween(Rect{1, 1, 20, 21}, 144, 96), (Rect{2, 2, 30, 32}));
    // 96 -> 144 -> 96 and 96 -> 120 -> 96 give every length back.
    for (int v = -400; v <= 400; ++v) {
        ASSERT_EQ(core::ScaleBetween(core::ScaleBetween(v, 144, 96), 96, 144), v) << v;
        ASSERT_EQ(core::ScaleBetween(core::ScaleBetween(v, 120, 96), 96, 120), v) << v;
    }
}

TEST(MulDivRounded, RoundsHalvesAwayFromZero) {
    EXPECT_EQ(core::MulDivRounded(1, 7, 2), 4);
    EXPECT_EQ(core::MulDivRounded(1, -7, 2), -4);
    EXPECT_EQ(core::MulDivRounded(-1, 7, 2), -4);
    EXPECT_EQ(core::MulDivRounded(1, -48, 7), -7); // -6.86
    EXPECT_EQ(core::MulDivRounded(1, -30, 7), -4); // -4.29
    EXPECT_EQ(core::MulDivRounded(5, 10, 0), -1);
    EXPECT_EQ(core::MulDivRounded(0x40000000, 4, 1), -1); // does not fit
    EXPECT_EQ(core::MulDivRounded(0x40000000, 4, 2), -1); // 2^31
    EXPECT_EQ(core::MulDivRounded(0x40000000, 2, 2), 0x40000000);
    EXPECT_EQ(core::MulDivRounded(100000, 100000, 100000), 100000); // no overflow in between
}
