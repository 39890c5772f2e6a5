#include "core/CaptureRules.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <limits>

namespace core {

std::uint64_t FrameRowSize(std::int32_t width, std::uint32_t bitsPerPixel) {
    const std::uint64_t w = width > 0 ? static_cast<std::uint64_t>(width) : 0;
    return (w * bitsPerPixel + 31) / 32 * 4;
}

std::uint32_t FrameColorCount(std::uint32_t bitsPerPixel) {
    return bitsPerPixel <= 8 ? (1u << bitsPerPixel) : 0;
}

FrameLayout ComputeFrameLayout(std::int32_t width, std::int32_t height,
                               std::uint32_t bitsPerPixel) {
    FrameLayout l;
    l.rowSize = FrameRowSize(width, bitsPerPixel);
    l.clrUsed = FrameColorCount(bitsPerPixel);
    l.colorTableSize = l.clrUsed * 4;
    const std::uint64_t h = height > 0 ? static_cast<std::uint64_t>(height) : 0;
    l.imageSize = l.rowSize * h;
    l.formatSize = FrameLayout::kHeaderSize + l.colorTableSize;
    l.blockSize = l.formatSize + l.imageSize;
    return l;
}

std::int32_t FrameSlot(std::uint32_t elapsedMs, std::int32_t captureInterval) {
    const double interval = captureInterval < 1 ? 1.0 : static_cast<double>(captureInterval);
    // nearbyint follows the current rounding mode, which is round-to-nearest-even unless
    // someone changed it; make the rule independent of that.
    const int saved = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double slot = std::nearbyint(static_cast<double>(elapsedMs) / interval);
    std::fesetround(saved);
    if (slot >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(slot);
}

namespace {

std::int64_t AtLeastOne(std::int32_t interval) {
    return interval < 1 ? 1 : interval;
}

} // namespace

std::int32_t SlotClock::Slot(std::uint32_t elapsedMs) const {
    const std::uint32_t since = elapsedMs > originMs ? elapsedMs - originMs : 0;
    const std::int64_t slot = std::int64_t{originSlot} + FrameSlot(since, interval);
    return static_cast<std::int32_t>(
        std::min<std::int64_t>(slot, std::numeric_limits<std::int32_t>::max()));
}

std::int64_t SlotClock::SlotTime(std::int32_t slot) const {
    return std::int64_t{originMs} + (std::int64_t{slot} - originSlot) * AtLeastOne(interval);
}

void SlotClock::Rebase(std::uint32_t nowMs, std::int32_t nextSlot, std::int32_t newInterval) {
    originSlot = nextSlot;
    originMs = nowMs;
    interval = newInterval;
}

std::int32_t PacingSlice(std::int32_t captureInterval) {
    const std::int32_t slice = captureInterval / 10;
    return slice < 1 ? 1 : slice;
}

PacingPlan PlanPacing(std::int32_t captureInterval, std::uint32_t spentMs) {
    PacingPlan p;
    if (captureInterval < 0 || spentMs >= static_cast<std::uint32_t>(captureInterval)) return p;
    p.sleep = true;
    p.rest = static_cast<std::uint32_t>(captureInterval) - spentMs;
    p.slice = static_cast<std::uint32_t>(PacingSlice(captureInterval));
    p.slices = p.rest / p.slice;
    p.remainder = p.rest - p.slices * p.slice;
    return p;
}

std::uint32_t SpentInSlot(std::uint32_t passMs, std::uint32_t nowMs, const SlotClock& clock) {
    const std::int64_t spent = std::int64_t{nowMs} - clock.SlotTime(clock.Slot(passMs));
    if (spent <= 0) return 0;
    return spent > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(spent);
}

std::uint32_t PacingStep(std::uint32_t nowMs, std::uint32_t dueMs, std::int32_t captureInterval) {
    // Recording time only grows, so a due time "behind" now by more than half the clock's range
    // is one that has passed.
    const std::uint32_t left = dueMs - nowMs;
    if (left == 0 || left > 0x80000000u) return 0;
    const auto slice = static_cast<std::uint32_t>(PacingSlice(captureInterval));
    return left < slice ? left : slice;
}

std::int32_t ProbeAdjustedSize(std::int32_t size, std::int32_t factor, std::int32_t screenSize) {
    if (factor < 1) return size;
    const std::int64_t s = size;
    const std::int64_t rem = s % factor;
    if (rem == 0) return size;
    const std::int64_t up = s + factor - rem;
    if (up > screenSize) return static_cast<std::int32_t>(s - rem);
    return static_cast<std::int32_t>(up);
}

} // namespace core
