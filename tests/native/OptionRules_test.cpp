#include "core/OptionRules.h"

#include <gtest/gtest.h>

#include <set>

using namespace core;

TEST(OptionRules, CaptureIntervalBarIsLogarithmicFromOneMillisecondToAMinute) {
    EXPECT_EQ(CaptureIntervalToPosition(100, 1000), 419);
    EXPECT_EQ(PositionToCaptureInterval(419, 1000), 100);
    EXPECT_EQ(PositionToCaptureInterval(1, 1000), 1);
    EXPECT_EQ(PositionToCaptureInterval(1000, 1000), 60000);
    for (int p = 1; p <= 37; ++p)
        EXPECT_EQ(PositionToCaptureInterval(p, 1000), 1) << p;
    EXPECT_EQ(PositionToCaptureInterval(38, 1000), 2);
    EXPECT_EQ(CaptureIntervalToPosition(1, 1000), 1);
    // A value the bar cannot produce becomes the one of the position it maps to.
    EXPECT_EQ(PositionToCaptureInterval(CaptureIntervalToPosition(95, 1000), 1000), 94);
    std::set<int> distinct;
    for (int p = 1; p <= 1000; ++p)
        distinct.insert(PositionToCaptureInterval(p, 1000));
    EXPECT_EQ(distinct.size(), 680u);
    EXPECT_EQ(CaptureIntervalToPosition(0, 1000), 1); // no logarithm of 0: counts as 1 ms
}

TEST(OptionRules, EveryPlaybackRateSurvivesTheBar) {
    EXPECT_EQ(PlaybackRateToPosition(10, 1000), 184);
    EXPECT_EQ(PositionToPlaybackRate(1, 1000), 1);
    EXPECT_EQ(PositionToPlaybackRate(1000, 1000), 50);
    for (int fps = 1; fps <= 50; ++fps)
        EXPECT_EQ(PositionToPlaybackRate(PlaybackRateToPosition(fps, 1000), 1000), fps) << fps;
}

TEST(OptionRules, QualityIsShownInHundredthsAndRoundsHalvesToEven) {
    EXPECT_EQ(QualityToPosition(6550, 100), 66); // 65.5 goes to the even 66
    EXPECT_EQ(QualityToPosition(6450, 100), 64); // 64.5 goes to the even 64
    EXPECT_EQ(PositionToQuality(66, 100), 6600);
    EXPECT_EQ(PositionToQuality(0, 100), 0);
    EXPECT_EQ(CaptureIntervalLabel(100), L"100 ms");
    EXPECT_EQ(PlaybackRateLabel(10), L"10 fps");
}
