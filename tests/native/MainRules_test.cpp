#include "core/MainRules.h"

#include <gtest/gtest.h>

using core::ApplyArrowKey;
using core::MonitorArea;
using core::Rect;

namespace {
const MonitorArea kScreen{{0, 0, 1280, 1024}, {0, 0, 1280, 1024}};
} // namespace

TEST(MainRules, CaptureRectangleStartsTwoPixelsAboveThePanelAndIsOneTaller) {
    EXPECT_EQ(core::CaptureRectangle({100, 200}, {320, 215}), (Rect{100, 198, 320, 216}));
}

TEST(MainRules, CloseButtonNeedsAtLeast166Pixels) {
    EXPECT_FALSE(core::CloseButtonVisible(165));
    EXPECT_TRUE(core::CloseButtonVisible(166));
    EXPECT_FALSE(core::CloseButtonVisible(69));
    EXPECT_FALSE(core::CloseButtonVisible(248, 144));
    EXPECT_TRUE(core::CloseButtonVisible(249, 144));
}

TEST(MainRules, ShiftArrowsSizeWithinKeyboardAndWorkAreaBounds) {
    const Rect box{10, 20, 141, 141};
    EXPECT_EQ(ApplyArrowKey(box, 37, true, kScreen).width, 140);
    EXPECT_EQ(ApplyArrowKey(box, 38, true, kScreen).height, 140);
    const Rect smallest{10, 20, 140, 140};
    EXPECT_EQ(ApplyArrowKey(smallest, 37, true, kScreen), smallest);
    EXPECT_EQ(ApplyArrowKey(smallest, 38, true, kScreen), smallest);
    // On a scaled display the keyboard's smallest size is scaled too.
    EXPECT_EQ(ApplyArrowKey({10, 20, 211, 400}, 37, true, kScreen, 210).width, 210);
    EXPECT_EQ(ApplyArrowKey({10, 20, 210, 400}, 37, true, kScreen, 210).width, 210);

    const Rect wide{0, 0, 1280, 1024};
    EXPECT_EQ(ApplyArrowKey(wide, 39, true, kScreen), wide); // already at the work area's edge
    EXPECT_EQ(ApplyArrowKey(wide, 40, true, kScreen), wide);
    EXPECT_EQ(ApplyArrowKey(box, 39, true, kScreen).width, 142);
    EXPECT_EQ(ApplyArrowKey(box, 40, true, kScreen).height, 142);
    // Sizing never moves the window.
    EXPECT_EQ(ApplyArrowKey(box, 39, true, kScreen).left, 10);
    // The mouse may have made the window smaller than the keyboard limit: keys don't shrink it.
    const Rect tiny{0, 0, 69, 84};
    EXPECT_EQ(ApplyArrowKey(tiny, 37, true, kScreen), tiny);
}

TEST(MainRules, ArrowsWithoutShiftAloneMoveWithoutBounds) {
    const Rect box{0, 0, 328, 290};
    EXPECT_EQ(ApplyArrowKey(box, 37, false, kScreen), (Rect{-1, 0, 328, 290}));
    EXPECT_EQ(ApplyArrowKey(box, 38, false, kScreen), (Rect{0, -1, 328, 290}));
    EXPECT_EQ(ApplyArrowKey(box, 39, false, kScreen), (Rect{1, 0, 328, 290}));
    EXPECT_EQ(ApplyArrowKey(box, 40, false, kScreen), (Rect{0, 1, 328, 290}));
    EXPECT_EQ(ApplyArrowKey(box, 65, false, kScreen), box);
    EXPECT_EQ(ApplyArrowKey(box, 65, true, kScreen), box);
}

TEST(MainRules, ShiftArrowsGrowUpToTheWorkAreaOfTheWindowsMonitor) {
    const Rect box{100, 100, 1199, 600};
    auto grown = [&](const MonitorArea& monitor) {
        return ApplyArrowKey(ApplyArrowKey(box, 39, true, monitor), 40, true, monitor).Extent();
    };
    // The main monitor with a task bar on its left: the bound is the work area's right edge
    // coordinate, as on one monitor.
    EXPECT_EQ(grown({{0, 0, 1280, 1024}, {60, 0, 1140, 1024}}), (core::Size{1200, 601}));
    // A monitor left of the main one: its edges count from its own corner, not from 0.
    EXPECT_EQ(grown({{-1200, -400, 1200, 1000}, {-1200, -400, 1200, 1000}}),
              (core::Size{1200, 601}));
    // A monitor right of the main one with a task bar at its top: 1024 wide, 630 high at most.
    EXPECT_EQ(grown({{1280, 0, 1024, 768}, {1280, 30, 1024, 600}}), (core::Size{1199, 601}));
}
