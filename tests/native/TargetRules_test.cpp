#include "core/TargetRules.h"

#include <gtest/gtest.h>

using namespace core;

namespace {

const Rect kWork{0, 0, 1024, 738};
constexpr Point kCamOffset{4, 23};
constexpr int kBars = 24 + 17;

} // namespace

TEST(TargetRules, CameraPanelLandsOnTheTargetsCorner) {
    const Rect target = TargetBox(100, 50, 740, 530);
    EXPECT_EQ(target, (Rect{100, 50, 641, 481}));
    const CameraFit fit = FitCameraToWindow(target, kCamOffset, kBars, kWork);
    EXPECT_EQ(fit, (CameraFit{96, 27, 641, 522}));
    // The camera panel then covers (100, 50) to (741, 531).
    EXPECT_EQ(fit.left + kCamOffset.x, 100);
    EXPECT_EQ(fit.top + kCamOffset.y + fit.clientHeight - kBars, 531);
}

TEST(TargetRules, TheWorkAreaClampsCornerAndSize) {
    // A maximised window's corner lies off the screen: the main window stops at 0.
    EXPECT_EQ(FitCameraToWindow(TargetBox(-4, -4, 200, 200), kCamOffset, kBars, kWork),
              (CameraFit{0, 0, 205, 246}));
    // Near the right and bottom edges the corner stays 8 pixels inside them.
    const CameraFit edge =
        FitCameraToWindow(TargetBox(1020, 760, 1100, 800), kCamOffset, kBars, kWork);
    EXPECT_EQ(edge.left, 1016);
    EXPECT_EQ(edge.top, 730);
    // Wider and higher than the work area: the client size is the work area's edges.
    const CameraFit wide =
        FitCameraToWindow(TargetBox(10, 40, 2000, 1500), kCamOffset, kBars, Rect{0, 0, 1024, 738});
    EXPECT_EQ(wide.clientWidth, 1024);
    EXPECT_EQ(wide.clientHeight, 738);
    // A work area that does not start at 0 bounds with its right and bottom edges.
    EXPECT_EQ(
        FitCameraToWindow(TargetBox(900, 30, 1000, 90), kCamOffset, kBars, Rect{100, 20, 800, 600})
            .left,
        892);
}

TEST(TargetRules, WithoutAWorkAreaTheTargetsSizeStandsInForItsEdges) {
    const CameraFit fit =
        FitCameraToWindow(TargetBox(500, 400, 639, 499), kCamOffset, kBars, std::nullopt);
    EXPECT_EQ(fit, (CameraFit{132, 92, 140, 100}));
}

TEST(TargetRules, HighlightFrameSurroundsTheBox) {
    EXPECT_EQ(HighlightBounds(TargetBox(100, 50, 740, 530)), (Rect{97, 47, 647, 487}));
}

TEST(TargetRules, ChildLineJoinsClassAndTitle) {
    EXPECT_EQ(ChildLine(L"EDIT", L"ABC"), L"[ EDIT ]  :  \tABC");
    EXPECT_EQ(ChildLine(L"BUTTON", L""), L"[ BUTTON ]  :  \t");
}

TEST(TargetRules, OnAnotherMonitorItsWorkAreaClampsAllFourEdges) {
    // Right of the main monitor: the corner stays on it, the size within its width.
    const Rect right{1024, 0, 1024, 768};
    const Point rightOrigin = right.Origin();
    EXPECT_EQ(
        FitCameraToWindow(TargetBox(1026, 10, 3000, 900), kCamOffset, kBars, right, rightOrigin),
        (CameraFit{1024, 0, 1024, 768}));
    EXPECT_EQ(
        FitCameraToWindow(TargetBox(2045, 300, 2100, 400), kCamOffset, kBars, right, rightOrigin)
            .left,
        2040);
    EXPECT_EQ(
        FitCameraToWindow(TargetBox(1100, 50, 1740, 530), kCamOffset, kBars, right, rightOrigin),
        (CameraFit{1096, 27, 641, 522}));
    // Left of and above it, with a task bar at its bottom: a maximised window there.
    EXPECT_EQ(FitCameraToWindow(TargetBox(-1284, -204, 4, 794), kCamOffset, kBars,
                                Rect{-1280, -200, 1280, 994}, Point{-1280, -200}),
              (CameraFit{-1280, -200, 1280, 994}));
    // A task bar at the main monitor's left: the corner may still reach the screen's edge.
    EXPECT_EQ(
        FitCameraToWindow(TargetBox(2, 50, 642, 530), kCamOffset, kBars, Rect{60, 0, 1220, 1024})
            .left,
        0);
}
