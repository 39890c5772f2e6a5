// Capture rules: packed-frame layout, frame slots, pacing and probe size adjustment.
#pragma once

#include <cstdint>

namespace core {

// Layout of a packed device-independent bitmap: a 40-byte header, a colour table for 8 bits per
// pixel or less, then bottom-up rows padded to 4 bytes. Sizes that can exceed 32 bits are kept
// in 64 bits so a caller can refuse a block the address space cannot hold.
struct FrameLayout {
    static constexpr std::uint32_t kHeaderSize = 40;

    std::uint64_t rowSize = 0;        // bytes per pixel row, a multiple of 4
    std::uint32_t clrUsed = 0;        // colour-table entries (biClrUsed)
    std::uint32_t colorTableSize = 0; // bytes of the colour table, 4 per entry
    std::uint64_t imageSize = 0;      // biSizeImage: row size times height
    std::uint32_t formatSize = 0;     // header and colour table, where the pixel rows begin
    std::uint64_t blockSize = 0;      // the whole frame
};

// Bytes per row: ((width * bits + 31) div 32) * 4, with the product formed in 64 bits.
std::uint64_t FrameRowSize(std::int32_t width, std::uint32_t bitsPerPixel);

// Colour-table entries of a frame: 2^bits for 8 bits per pixel or less, otherwise none.
std::uint32_t FrameColorCount(std::uint32_t bitsPerPixel);

FrameLayout ComputeFrameLayout(std::int32_t width, std::int32_t height, std::uint32_t bitsPerPixel);

// Frame slot of a pass: elapsed / interval in floating point, rounded to nearest with halves to
// the even neighbour (150 and 250 ms at 100 ms are both slot 2). An interval below 1 counts as
// 1 so a bad setting cannot divide by zero; the result saturates at the int32 range.
std::int32_t FrameSlot(std::uint32_t elapsedMs, std::int32_t captureInterval);

// The frame slots of a recording: a pass at recording time t goes to slot originSlot +
// FrameSlot(t - originMs, interval). A change of the capture interval re-bases the clock, so the
// slots go on from the last one at the new length; counted from the recording's start at the new
// length, they would leave a hole as long as the recording so far, or write one picture as long.
struct SlotClock {
    std::int32_t originSlot = 0;
    std::uint32_t originMs = 0; // recording time
    std::int32_t interval = 100;

    // The slot of a pass at elapsedMs; a time before the origin counts as the origin.
    std::int32_t Slot(std::uint32_t elapsedMs) const;
    // The recording time a slot stands for: originMs + (slot - originSlot) x interval.
    std::int64_t SlotTime(std::int32_t slot) const;
    // Slots of newInterval from nowMs on, the pass at nowMs going to nextSlot.
    void Rebase(std::uint32_t nowMs, std::int32_t nextSlot, std::int32_t newInterval);
};

// Whether a frame of this slot is written: the recording's first frame, or one later than the
// last slot written. (A second frame in a slot, from a pass within half a slot of the one
// before, would go to a stream position already written.)
inline bool SlotIsWritten(std::int32_t slot, std::int32_t lastSlot, bool firstFrame) {
    return firstFrame || slot > lastSlot;
}

// Pacing step: a tenth of the capture interval, at least 1 ms.
std::int32_t PacingSlice(std::int32_t captureInterval);

// How the rest of a pass is slept: n slices of `slice` ms, then r ms.
struct PacingPlan {
    bool sleep = false; // false: the pass took the whole interval, begin the next at once
    std::uint32_t rest = 0;
    std::uint32_t slices = 0; // n
    std::uint32_t slice = 0;
    std::uint32_t remainder = 0; // r
};

// spent: milliseconds this pass has taken. Nothing is slept for a negative interval or when
// spent is the interval or more.
PacingPlan PlanPacing(std::int32_t captureInterval, std::uint32_t spentMs);

// How much of its slot a pass has used by recording time nowMs, for a pass that began at
// passMs: counted from the slot's own time on the clock, not from the pass's start, so a pass
// that began late or overslept is made up by the next one and the passes never drift off their
// slots (a drift that would otherwise drop a slot every few seconds).
std::uint32_t SpentInSlot(std::uint32_t passMs, std::uint32_t nowMs, const SlotClock& clock);

// One step of sleeping out a pass: at nowMs of recording time, with the next pass due at
// dueMs, how long to sleep now: a slice at most, less when the due time is nearer, 0 when it has
// come. Sleeping towards the due time (rather than a count of slices) keeps the oversleeps of
// the slices from adding up.
std::uint32_t PacingStep(std::uint32_t nowMs, std::uint32_t dueMs, std::int32_t captureInterval);

// Whether a progress notification is due: last + 500 < elapsed, in unsigned 32-bit arithmetic.
inline bool ProgressDue(std::uint32_t lastProgress, std::uint32_t elapsed) {
    return static_cast<std::uint32_t>(lastProgress + 500u) < elapsed;
}

// A frame side adjusted to a multiple of f for a compressor: unchanged when already a multiple,
// else rounded up, but rounded down when the rounded-up value exceeds the screen's side.
std::int32_t ProbeAdjustedSize(std::int32_t size, std::int32_t factor, std::int32_t screenSize);

// Video for Windows version check: the high 16 bits (major.minor) must be 1.10 or later.
inline bool VideoForWindowsVersionSupported(std::uint32_t version) {
    return (version >> 16) >= 0x010Au;
}

// A catalogue index names an entry when it lies within 0 .. count - 1; -1 (no selection) and the
// count itself ("No Compression") do not.
// Whether a recording takes sound: only when it plays in about real time, the capture interval
// (ms) times the playback rate (frames per second) within 900..1100. Its picture then plays at
// 1000 / interval frames a second, so that its time is the sound's.
inline bool SoundRecordable(std::int32_t captureInterval, std::int32_t playbackRate) {
    const std::int64_t product = std::int64_t{captureInterval} * playbackRate;
    return product >= 900 && product <= 1100;
}

inline bool IndexInCatalogue(std::int32_t index, std::int32_t count) {
    return index >= 0 && index < count;
}

} // namespace core
