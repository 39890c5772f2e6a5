#include "core/SpscQueue.h"

#include <gtest/gtest.h>

#include <thread>

using namespace core;

TEST(SpscQueueTest, FullQueueDropsAndEmptyGivesNothing) {
    SpscQueue<int, 4> q;
    EXPECT_FALSE(q.Pop());
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(q.Push(i));
    EXPECT_FALSE(q.Push(4));
    EXPECT_EQ(q.Pop(), 0);
    EXPECT_TRUE(q.Push(5));
    for (int want : {1, 2, 3, 5})
        EXPECT_EQ(q.Pop(), want);
    EXPECT_FALSE(q.Pop());
}

TEST(SpscQueueTest, ItemsCrossThreadsInOrder) {
    SpscQueue<int, 8> q;
    constexpr int kItems = 20000;
    std::thread producer([&] {
        for (int i = 0; i < kItems;) {
            if (q.Push(i))
                ++i;
            else
                std::this_thread::yield();
        }
    });
    int next = 0;
    while (next < kItems) {
        if (const auto item = q.Pop())
            ASSERT_EQ(*item, next++);
        else
            std::this_thread::yield();
    }
    producer.join();
}
