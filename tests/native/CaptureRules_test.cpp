#include "core/CaptureRules.h"

#include <gtest/gtest.h>

#include <limits>

using namespace core;

TEST(FrameLayoutTest, ThirtyTwoBitsHasNoColourTable) {
    const FrameLayout l = ComputeFrameLayout(320, 200, 32);
    EXPECT_EQ(l.rowSize, 1280u);
    EXPECT_EQ(l.clrUsed, 0u);
    EXPECT_EQ(l.colorTableSize, 0u);
    EXPECT_EQ(l.imageSize, 256000u);
    EXPECT_EQ(l.formatSize, 40u);
    EXPECT_EQ(l.blockSize, 256040u);
}

TEST(FrameLayoutTest, EightBitsCarriesAFullColourTable) {
    const FrameLayout l = ComputeFrameLayout(320, 200, 8);
    EXPECT_EQ(l.rowSize, 320u);
    EXPECT_EQ(l.clrUsed, 256u);
    EXPECT_EQ(l.colorTableSize, 1024u);
    EXPECT_EQ(l.formatSize, 1064u); // pixel rows begin here
    EXPECT_EQ(l.blockSize, 65064u);
}

TEST(FrameLayoutTest, RowsArePaddedToFourBytes) {
    EXPECT_EQ(FrameRowSize(3, 16), 8u);
    EXPECT_EQ(FrameRowSize(101, 24), 304u);
    EXPECT_EQ(FrameRowSize(319, 24), 960u);
    EXPECT_EQ(FrameRowSize(1, 1), 4u);
    EXPECT_EQ(FrameRowSize(32, 1), 4u);
    EXPECT_EQ(FrameRowSize(33, 1), 8u);
    EXPECT_EQ(FrameRowSize(9, 4), 8u);
    EXPECT_EQ(FrameRowSize(0, 32), 0u);
}

TEST(FrameLayoutTest, LowDepthsCarrySmallColourTables) {
    const FrameLayout four = ComputeFrameLayout(10, 2, 4);
    EXPECT_EQ(four.clrUsed, 16u);
    EXPECT_EQ(four.colorTableSize, 64u);
    EXPECT_EQ(four.formatSize, 104u);
    EXPECT_EQ(four.blockSize, 104u + 8u * 2u);
    const FrameLayout one = ComputeFrameLayout(1, 1, 1);
    EXPECT_EQ(one.clrUsed, 2u);
    EXPECT_EQ(one.colorTableSize, 8u);
    EXPECT_EQ(one.rowSize, 4u);
    EXPECT_EQ(one.blockSize, 40u + 8u + 4u);
    EXPECT_EQ(FrameColorCount(16), 0u);
    EXPECT_EQ(FrameColorCount(24), 0u);
}

TEST(FrameLayoutTest, HugeWidthsDoNotOverflowThirtyTwoBits) {
    const std::int32_t w = std::numeric_limits<std::int32_t>::max();
    EXPECT_EQ(FrameRowSize(w, 32), static_cast<std::uint64_t>(w) * 4);
    const FrameLayout l = ComputeFrameLayout(w, 4, 32);
    EXPECT_GT(l.blockSize, 0xFFFFFFFFull);
}

TEST(FrameSlotTest, RoundsHalvesToEven) {
    EXPECT_EQ(FrameSlot(150, 100), 2);
    EXPECT_EQ(FrameSlot(250, 100), 2);
    EXPECT_EQ(FrameSlot(350, 100), 4);
    EXPECT_EQ(FrameSlot(50, 100), 0);
    EXPECT_EQ(FrameSlot(51, 100), 1);
    EXPECT_EQ(FrameSlot(149, 100), 1);
    EXPECT_EQ(FrameSlot(0, 100), 0);
    EXPECT_EQ(FrameSlot(7, 1), 7);
}

TEST(FrameSlotTest, BadIntervalsAndHugeTimesStayDefined) {
    EXPECT_EQ(FrameSlot(5, 0), 5);
    EXPECT_EQ(FrameSlot(5, -3), 5);
    EXPECT_EQ(FrameSlot(0xFFFFFFFFu, 1), std::numeric_limits<std::int32_t>::max());
}

TEST(FrameSlotTest, OnlyTheFirstFrameOrLaterSlotsAreWritten) {
    EXPECT_TRUE(SlotIsWritten(0, 0, true));
    EXPECT_TRUE(SlotIsWritten(3, 0, true));
    EXPECT_TRUE(SlotIsWritten(3, 2, false));
    EXPECT_FALSE(SlotIsWritten(2, 2, false));
    EXPECT_FALSE(SlotIsWritten(1, 2, false));
    // Slot 0 once more (a pass within half a slot of the start, or a longer interval) would
    // write position 0 twice.
    EXPECT_FALSE(SlotIsWritten(0, 0, false));
    EXPECT_FALSE(SlotIsWritten(0, 5, false));
}

TEST(PacingTest, SliceIsATenthAndAtLeastOne) {
    for (int i = 1; i <= 19; ++i)
        EXPECT_EQ(PacingSlice(i), 1) << i;
    EXPECT_EQ(PacingSlice(20), 2);
    EXPECT_EQ(PacingSlice(100), 10);
    EXPECT_EQ(PacingSlice(60000), 6000);
    EXPECT_EQ(PacingSlice(0), 1);
}

TEST(PacingTest, RestIsSplitIntoSlicesAndARemainder) {
    const PacingPlan p = PlanPacing(100, 13);
    EXPECT_TRUE(p.sleep);
    EXPECT_EQ(p.rest, 87u);
    EXPECT_EQ(p.slice, 10u);
    EXPECT_EQ(p.slices, 8u);
    EXPECT_EQ(p.remainder, 7u);

    const PacingPlan q = PlanPacing(15, 0);
    EXPECT_EQ(q.slice, 1u);
    EXPECT_EQ(q.slices, 15u);
    EXPECT_EQ(q.remainder, 0u);
}

TEST(PacingTest, NothingIsSleptWhenThePassTookTheInterval) {
    EXPECT_FALSE(PlanPacing(100, 100).sleep);
    EXPECT_FALSE(PlanPacing(100, 250).sleep);
    EXPECT_FALSE(PlanPacing(-1, 0).sleep);
    EXPECT_TRUE(PlanPacing(100, 99).sleep);
    EXPECT_EQ(PlanPacing(100, 99).remainder, 1u);
    EXPECT_EQ(PlanPacing(100, 99).slices, 0u);
}

TEST(PacingTest, PassesAimAtTheirSlotsAndNeverDrift) {
    const SlotClock at100{.interval = 100};
    // A pass that began on time uses what it took.
    EXPECT_EQ(SpentInSlot(300, 313, at100), 13u);
    // One that began late (overslept) is charged from its slot's time and so sleeps less.
    EXPECT_EQ(SpentInSlot(304, 313, at100), 13u);
    // One that began early (rounded up into its slot) sleeps the whole interval and more.
    EXPECT_EQ(SpentInSlot(296, 299, at100), 0u);
    EXPECT_EQ(SpentInSlot(0, 0, at100), 0u);
    // A pass past its slot's whole interval sleeps nothing.
    EXPECT_FALSE(PlanPacing(100, SpentInSlot(340, 460, at100)).sleep);
    EXPECT_EQ(SpentInSlot(5, 7, {.interval = 0}), 2u); // an interval below 1 counts as 1

    // Simulated: every pass takes 13 ms and every sleep oversleeps by 1 ms. Charged from the
    // pass's start, the passes drift by a millisecond each and skip a slot within 50 passes;
    // charged from the slot, every slot gets its frame.
    for (bool fromSlot : {false, true}) {
        std::uint32_t t = 0;
        std::int32_t last = -1;
        int skipped = 0;
        for (int pass = 0; pass < 200; ++pass) {
            const std::int32_t slot = FrameSlot(t, 100);
            if (slot > last + 1) skipped += slot - last - 1;
            last = slot;
            const std::uint32_t now = t + 13;
            const PacingPlan p = PlanPacing(100, fromSlot ? SpentInSlot(t, now, at100) : now - t);
            t = now + (p.sleep ? p.rest + 1 : 0);
        }
        if (fromSlot)
            EXPECT_EQ(skipped, 0);
        else
            EXPECT_GT(skipped, 0);
    }
}

TEST(SlotClockTest, AnIntervalChangeGoesOnFromTheLastSlotAtTheNewLength) {
    // 10 minutes at 100 ms, then 1 s from a pass at 600040 ms: that pass takes the next slot,
    // later ones count from its time. From the start at 1 s, it would be slot 600.
    SlotClock clock{.interval = 100};
    EXPECT_EQ(clock.Slot(600000), 6000);
    clock.Rebase(600040, 6001, 1000);
    EXPECT_EQ(clock.Slot(600040), 6001);
    EXPECT_EQ(clock.Slot(601050), 6002);
    EXPECT_EQ(SpentInSlot(601050, 601063, clock), 23u) << "paced from the change's time";
    EXPECT_EQ(clock.Slot(500000), 6001) << "before the change: its first slot";
}

TEST(PacingTest, SleepsInSlicesTowardsTheDueTime) {
    EXPECT_EQ(PacingStep(213, 300, 100), 10u);
    EXPECT_EQ(PacingStep(296, 300, 100), 4u);
    EXPECT_EQ(PacingStep(300, 300, 100), 0u);
    EXPECT_EQ(PacingStep(304, 300, 100), 0u) << "overslept: nothing more";
    EXPECT_EQ(PacingStep(0xFFFFFFF0u, 5, 100), 10u) << "across the clock's wrap";
    // Every slice oversleeping by 3 ms still ends the pass within 3 ms of its due time.
    std::uint32_t t = 13;
    while (const std::uint32_t step = PacingStep(t, 100, 100))
        t += step + 3;
    EXPECT_GE(t, 100u);
    EXPECT_LE(t, 103u);
}

TEST(ProgressTest, DueAfterMoreThanFiveHundredMilliseconds) {
    EXPECT_FALSE(ProgressDue(0, 500));
    EXPECT_TRUE(ProgressDue(0, 501));
    EXPECT_FALSE(ProgressDue(1000, 1500));
    EXPECT_TRUE(ProgressDue(1000, 1501));
    // last + 500 wraps around in 32 bits.
    EXPECT_TRUE(ProgressDue(0xFFFFFF00u, 300));
}

TEST(ProbeSizeTest, RoundsUpToTheFactorWithinTheScreen) {
    EXPECT_EQ(ProbeAdjustedSize(301, 2, 1280), 302);
    EXPECT_EQ(ProbeAdjustedSize(201, 2, 1024), 202);
    EXPECT_EQ(ProbeAdjustedSize(300, 2, 1280), 300);
    EXPECT_EQ(ProbeAdjustedSize(201, 4, 1024), 204);
    EXPECT_EQ(ProbeAdjustedSize(300, 4, 1280), 300);
    EXPECT_EQ(ProbeAdjustedSize(201, 8, 1024), 208);
}

TEST(ProbeSizeTest, RoundsDownWhenRoundingUpPassesTheScreenEdge) {
    EXPECT_EQ(ProbeAdjustedSize(301, 2, 301), 300);
    EXPECT_EQ(ProbeAdjustedSize(301, 2, 302), 302);
    EXPECT_EQ(ProbeAdjustedSize(1279, 8, 1279), 1272);
}

TEST(VersionTest, OneTenIsTheOldestAccepted) {
    EXPECT_TRUE(VideoForWindowsVersionSupported(0x010A0000u));
    EXPECT_TRUE(VideoForWindowsVersionSupported(0x040003B6u));
    EXPECT_FALSE(VideoForWindowsVersionSupported(0x0109FFFFu));
    EXPECT_FALSE(VideoForWindowsVersionSupported(0x00FF0000u));
}

TEST(CatalogueIndexTest, NoSelectionAndTheCountAreNotEntries) {
    EXPECT_FALSE(IndexInCatalogue(-1, 3));
    EXPECT_FALSE(IndexInCatalogue(3, 3));
    EXPECT_TRUE(IndexInCatalogue(0, 3));
    EXPECT_TRUE(IndexInCatalogue(2, 3));
    EXPECT_FALSE(IndexInCatalogue(0, 0));
}

TEST(SoundRuleTest, OnlyAboutRealTimeTakesSound) {
    EXPECT_TRUE(SoundRecordable(100, 10));
    EXPECT_TRUE(SoundRecordable(33, 30));  // 990
    EXPECT_TRUE(SoundRecordable(22, 50));  // 1100
    EXPECT_FALSE(SoundRecordable(23, 50)); // 1150: slow motion
    EXPECT_FALSE(SoundRecordable(1000, 10));
    EXPECT_FALSE(SoundRecordable(60000, 1000)); // no overflow
}
