#include "core/MainRules.h"

#include <gtest/gtest.h>

using core::ApplyArrowKey;
using core::Rect;

TEST(MainRules, CaptureRectangleStartsTwoPixelsAboveThePanelAndIsOneTaller) {
    EXPECT_EQ(core::CaptureRectangle({100, 200}, {320, 215}), (Rect{100, 198, 320, 216}));
}

TEST(MainRules, CloseButtonNeedsAtLeast166Pixels) {
    EXPECT_FALSE(core::CloseButtonVisible(165));
    EXPECT_TRUE(core::CloseButtonVisible(166));
    EXPECT_FALSE(core::CloseButtonVisible(69));
}

TEST(MainRules, ShiftArrowsSizeWithinKeyboardAndWorkAreaBounds) {
    const Rect box{10, 20, 141, 141};
    EXPECT_EQ(ApplyArrowKey(box, 37, true, 1280, 1024).width, 140);
    EXPECT_EQ(ApplyArrowKey(box, 38, true, 1280, 1024).height, 140);
    const Rect smallest{10, 20, 140, 140};
    EXPECT_EQ(ApplyArrowKey(smallest, 37, true, 1280, 1024), smallest);
    EXPECT_EQ(ApplyArrowKey(smallest, 38, true, 1280, 1024), smallest);

    const Rect wide{0, 0, 1280, 1024};
    EXPECT_EQ(ApplyArrowKey(wide, 39, true, 1280, 1024), wide); // already at the work area's edge
    EXPECT_EQ(ApplyArrowKey(wide, 40, true, 1280, 1024), wide);
    EXPECT_EQ(ApplyArrowKey(box, 39, true, 1280, 1024).width, 142);
    EXPECT_EQ(ApplyArrowKey(box, 40, true, 1280, 1024).height, 142);
    // Sizing never moves the window.
    EXPECT_EQ(ApplyArrowKey(box, 39, true, 1280, 1024).left, 10);
    // The mouse may have made the window smaller than the keyboard limit: keys don't shrink it.
    const Rect tiny{0, 0, 69, 84};
    EXPECT_EQ(ApplyArrowKey(tiny, 37, true, 1280, 1024), tiny);
}

TEST(MainRules, ArrowsWithoutShiftAloneMoveWithoutBounds) {
    const Rect box{0, 0, 328, 290};
    EXPECT_EQ(ApplyArrowKey(box, 37, false, 1280, 1024), (Rect{-1, 0, 328, 290}));
    EXPECT_EQ(ApplyArrowKey(box, 38, false, 1280, 1024), (Rect{0, -1, 328, 290}));
    EXPECT_EQ(ApplyArrowKey(box, 39, false, 1280, 1024), (Rect{1, 0, 328, 290}));
    EXPECT_EQ(ApplyArrowKey(box, 40, false, 1280, 1024), (Rect{0, 1, 328, 290}));
    EXPECT_EQ(ApplyArrowKey(box, 65, false, 1280, 1024), box);
    EXPECT_EQ(ApplyArrowKey(box, 65, true, 1280, 1024), box);
}
