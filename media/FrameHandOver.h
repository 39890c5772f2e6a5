// FrameHandOver: the bounded queue that hands grabbed frames from the thread that grabs them to
// the thread that compresses and writes them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <vector>

namespace media {

// At most `capacity` items are in flight at once: a place is reserved before an item is made
// (so memory stays flat however slow the consumer), holds the item while it is queued, and is
// freed when the consumer is done with it. Items come out in the order they went in.
template <class T> class THandOver {
public:
    enum class TPlace { Granted, Busy, Abandoned };

    explicit THandOver(std::size_t capacity) : capacity_(capacity), ring_(capacity) {}

    // Producer: reserves a place, waiting at most `wait` for one to free. Busy when none freed in
    // time; Abandoned once the consumer has given up.
    TPlace Reserve(std::chrono::milliseconds wait) {
        std::unique_lock<std::mutex> lock(m_);
        const bool free =
            changed_.wait_for(lock, wait, [this] { return abandoned_ || inFlight_ < capacity_; });
        if (abandoned_) return TPlace::Abandoned;
        if (!free) return TPlace::Busy;
        ++inFlight_;
        return TPlace::Granted;
    }
    // Producer: gives a reserved place back unused.
    void Cancel() { Release(); }
    // Producer: queues an item in its reserved place. False (the item stays the caller's) once
    // the consumer has given up.
    bool Push(T item) {
        {
            std::lock_guard<std::mutex> lock(m_);
            if (abandoned_) {
                --inFlight_;
                return false;
            }
            ring_[(head_ + queued_) % capacity_] = std::move(item);
            ++queued_;
        }
        changed_.notify_all();
        return true;
    }
    // Producer: no more items; the consumer takes what is queued and then ends.
    void Close() {
        {
            std::lock_guard<std::mutex> lock(m_);
            closed_ = true;
        }
        changed_.notify_all();
    }

    // Consumer: the next item, waiting for one; nothing once closed and empty.
    std::optional<T> Take() {
        std::unique_lock<std::mutex> lock(m_);
        changed_.wait(lock, [this] { return closed_ || queued_ > 0; });
        return Pop();
    }
    // Consumer: the next item, waiting at most `wait` for one; nothing when none came in time,
    // and then `closed` says whether none ever will.
    std::optional<T> Take(std::chrono::milliseconds wait, bool& closed) {
        std::unique_lock<std::mutex> lock(m_);
        changed_.wait_for(lock, wait, [this] { return closed_ || queued_ > 0; });
        closed = closed_ && queued_ == 0;
        return Pop();
    }
    // Consumer: finished with a taken item; its place is free.
    void Done() { Release(); }
    // Consumer: gives up. Returns the items still queued, for the caller to release; from now on
    // the producer's Reserve and Push refuse.
    std::vector<T> Abandon() {
        std::vector<T> left;
        {
            std::lock_guard<std::mutex> lock(m_);
            abandoned_ = true;
            for (; queued_ > 0; --queued_, --inFlight_) {
                left.push_back(std::move(ring_[head_]));
                head_ = (head_ + 1) % capacity_;
            }
        }
        changed_.notify_all();
        return left;
    }
    bool Abandoned() const {
        std::lock_guard<std::mutex> lock(m_);
        return abandoned_;
    }

private:
    std::optional<T> Pop() {
        if (queued_ == 0) return std::nullopt;
        T item = std::move(ring_[head_]);
        head_ = (head_ + 1) % capacity_;
        --queued_;
        return item;
    }
    void Release() {
        {
            std::lock_guard<std::mutex> lock(m_);
            --inFlight_;
        }
        changed_.notify_all();
    }

    const std::size_t capacity_;
    mutable std::mutex m_;
    std::condition_variable changed_;
    // The queued items in a ring of `capacity` places: nothing is allocated per item.
    std::vector<T> ring_;
    std::size_t head_ = 0;
    std::size_t queued_ = 0;
    std::size_t inFlight_ = 0;
    bool closed_ = false;
    bool abandoned_ = false;
};

} // namespace media
