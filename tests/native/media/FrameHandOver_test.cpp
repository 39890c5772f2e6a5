#include "media/FrameHandOver.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace media;
using namespace std::chrono_literals;
using TPlace = THandOver<int>::TPlace;

TEST(FrameHandOverTest, ItemsComeOutInOrderAndTheRestAfterClose) {
    THandOver<int> h(3);
    std::vector<int> taken;
    std::thread consumer([&] {
        while (auto item = h.Take()) {
            taken.push_back(*item);
            h.Done();
        }
    });
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(h.Reserve(5000ms), TPlace::Granted);
        ASSERT_TRUE(h.Push(i));
    }
    h.Close();
    consumer.join();
    ASSERT_EQ(taken.size(), 50u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(taken[static_cast<std::size_t>(i)], i);
}

TEST(FrameHandOverTest, NoMoreThanTheCapacityIsInFlight) {
    THandOver<int> h(3);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(h.Reserve(0ms), TPlace::Granted);
    EXPECT_EQ(h.Reserve(20ms), TPlace::Busy) << "three reserved";
    h.Cancel();
    ASSERT_EQ(h.Reserve(0ms), TPlace::Granted);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(h.Push(i));
    const auto first = h.Take();
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(h.Reserve(0ms), TPlace::Busy) << "a taken item holds its place until done";
    h.Done();
    EXPECT_EQ(h.Reserve(0ms), TPlace::Granted);
}

TEST(FrameHandOverTest, AConsumerThatGivesUpGetsTheQueuedItemsBackAndStopsTheProducer) {
    THandOver<int> h(3);
    ASSERT_EQ(h.Reserve(0ms), TPlace::Granted);
    ASSERT_TRUE(h.Push(7));
    ASSERT_EQ(h.Reserve(0ms), TPlace::Granted);
    ASSERT_TRUE(h.Push(8));
    ASSERT_EQ(h.Reserve(0ms), TPlace::Granted); // the producer is making a third
    // A producer waiting for a place is woken by the abandonment.
    std::thread waiting([&] {
        ASSERT_EQ(h.Reserve(0ms), TPlace::Busy);
        EXPECT_EQ(h.Reserve(10000ms), TPlace::Abandoned);
    });
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(h.Abandon(), (std::vector<int>{7, 8}));
    waiting.join();
    EXPECT_TRUE(h.Abandoned());
    EXPECT_FALSE(h.Push(9)) << "the third stays the producer's to release";
    h.Close();
    EXPECT_FALSE(h.Take().has_value());
}
