#include "core/MonitorRules.h"

#include <gtest/gtest.h>

#include <vector>

using namespace core;

namespace {

// The main monitor with a task bar at its bottom, and a smaller one left of it.
const MonitorArea kMain{{0, 0, 1280, 1024}, {0, 0, 1280, 994}};
const MonitorArea kLeft{{-1024, 0, 1024, 768}, {-1024, 0, 1024, 738}};
const std::vector<MonitorArea> kBoth{kMain, kLeft};

} // namespace

TEST(MonitorRules, AWindowOnAnyMonitorStaysExactlyWhereItWasStored) {
    for (const Rect window : {Rect{-40, 122, 328, 293}, Rect{1279, 1023, 328, 290},
                              Rect{-1300, 760, 328, 290}, Rect{-5000, -5000, 9000, 9000}})
        EXPECT_EQ(RestoreOntoMonitors(window, kBoth), window);
    // Partly on the left monitor's task bar area still counts as on it.
    EXPECT_EQ(RestoreOntoMonitors(Rect{-900, 750, 328, 290}, std::vector{kLeft}),
              (Rect{-900, 750, 328, 290}));
}

TEST(MonitorRules, AWindowOnNoMonitorMovesOntoTheNearestWorkArea) {
    // Far below and right: onto the main monitor's work area, keeping its size.
    EXPECT_EQ(RestoreOntoMonitors(Rect{5000, 5000, 328, 290}, kBoth), (Rect{952, 704, 328, 290}));
    // Far left: onto the left monitor, moved only as far as needed.
    EXPECT_EQ(RestoreOntoMonitors(Rect{-3000, 100, 328, 290}, kBoth), (Rect{-1024, 100, 328, 290}));
    EXPECT_EQ(RestoreOntoMonitors(Rect{-700, -900, 328, 290}, kBoth), (Rect{-700, 0, 328, 290}));
    // Touching an edge shows no pixel: the window comes in.
    EXPECT_EQ(RestoreOntoMonitors(Rect{1280, 10, 100, 100}, kBoth), (Rect{1180, 10, 100, 100}));
    // Larger than the work area: shrunk to it, in the direction where it does not fit only.
    EXPECT_EQ(RestoreOntoMonitors(Rect{5000, 5000, 2000, 1500}, kBoth), kMain.work);
    EXPECT_EQ(RestoreOntoMonitors(Rect{-5000, 200, 1500, 300}, kBoth),
              (Rect{-1024, 200, 1024, 300}));
}

TEST(MonitorRules, NearestIsByDistanceBetweenRectanglesAndTiesGoToTheFirst) {
    EXPECT_EQ(DistanceSquared({0, 0, 10, 10}, {13, 14, 5, 5}), 25);
    EXPECT_EQ(DistanceSquared({0, 0, 10, 10}, {10, 0, 5, 5}), 0);
    const MonitorArea a{{0, 0, 100, 100}, {0, 0, 100, 100}};
    const MonitorArea b{{200, 0, 100, 100}, {200, 0, 100, 100}};
    const Rect between{120, 300, 60, 10}; // 20 right of a and 20 left of b, 200 below both
    EXPECT_EQ(RestoreOntoMonitors(between, std::vector{a, b}), (Rect{40, 90, 60, 10}));
    EXPECT_EQ(RestoreOntoMonitors(between, std::vector{b, a}), (Rect{200, 90, 60, 10}));
    // 100 right of and 100 below a is nearer than 150 below c, though the gaps add up to more.
    const MonitorArea c{{300, -50, 100, 100}, {300, -50, 100, 100}};
    EXPECT_EQ(RestoreOntoMonitors(Rect{200, 200, 110, 10}, std::vector{c, a}),
              (Rect{0, 90, 100, 10}));
    EXPECT_EQ(RestoreOntoMonitors(Rect{5, 5, 10, 10}, {}), (Rect{5, 5, 10, 10}));
}
