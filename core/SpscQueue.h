// SpscQueue: a fixed-size lock-free queue between one producing and one consuming thread.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <optional>

namespace core {

// Push only from one thread and Pop only from one other; neither blocks nor allocates, so the
// producer may be a hook procedure that must return at once. Capacity is a power of two.
template <class T, std::size_t Capacity> class SpscQueue {
    static_assert(Capacity > 0 && (Capacity & (Capacity - 1)) == 0);

public:
    // False (the item is dropped) when the queue is full.
    bool Push(const T& item) {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail - head_.load(std::memory_order_acquire) == Capacity) return false;
        items_[tail % Capacity] = item;
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

    std::optional<T> Pop() {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire)) return std::nullopt;
        T item = items_[head % Capacity];
        head_.store(head + 1, std::memory_order_release);
        return item;
    }

private:
    std::array<T, Capacity> items_{};
    // Counters that only grow; their difference is the number of items queued.
    alignas(64) std::atomic<std::size_t> head_{0};
    alignas(64) std::atomic<std::size_t> tail_{0};
};

} // namespace core
