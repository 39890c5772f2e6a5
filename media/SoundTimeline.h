// SoundTimeline: the recording's one sound track: every source's blocks placed on the recording's
// timeline by their capture times, resampled to 48 kHz following each device's clock, and mixed
// to 16-bit stereo.
#pragma once

#include "media/Resampler.h"
#include "media/SoundBlock.h"

#include <array>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace media {

// Placement: a block's first frame belongs at Position(block.time); the frames after it follow
// at the device's rate as its timestamps show it, not its nominal one: a control loop adjusts
// each source's resampling ratio slowly (over tens of seconds) so that its sound lands where its
// timestamps say, following the trend and not the jitter. A source whose timestamps jump by more
// than 100 ms from where its frames land, or that marks a discontinuity, is placed afresh at its
// block's time: silence fills a gap, the part of a block that would overlap sound already placed
// is cut. Sound captured during a pause is dropped; sound captured before a source's first block
// or after its last, or in a gap it left, is silence.
// Mixing: a mono source plays in the middle, stereo as it is, more channels folded to stereo;
// when both sources sound at once the mix is 3 dB lower, and it saturates instead of wrapping.
// Not thread-safe: one thread (the engine's worker) calls it.
class TSoundTimeline {
public:
    static constexpr std::uint32_t kRate = 48000; // the track: 48 kHz stereo int16

    explicit TSoundTimeline(TSoundTime start); // clock time of timeline position 0

    // Any source, any format, in capture order per source. A block of another format than that
    // source's last (its device changed) starts the source afresh. Throws only when memory runs
    // out.
    void Add(const TSoundBlock& block);

    // Nothing captured from `at` until the Resume is kept; the timeline continues at Resume
    // where it stopped at Pause. A Pause while paused, or a Resume while not, does nothing.
    void Pause(TSoundTime at);
    void Resume(TSoundTime at);

    // The timeline frame of a clock time: (t - start - time paused before t) * 48000 / 10^7,
    // rounded down; a time inside a pause gives the pause's position.
    std::int64_t Position(TSoundTime t) const;

    // Mixes every source up to timeline frame `until` (exclusive), appending interleaved stereo
    // int16 frames to `out` from Taken() on. A source with nothing there gives silence; sound
    // that arrives later for frames already taken is cut. Only what is not yet taken is kept.
    void Take(std::int64_t until, std::vector<std::int16_t>& out);
    std::int64_t Taken() const { return taken_; }

    // The largest sample of a source in what the last Take took, 0..1.
    float Peak(TSoundSource source) const;

private:
    struct TSource {
        TSoundFormat format;
        std::optional<TResampler> resampler; // for `format`, made at the first block in it
        std::vector<std::array<float, 2>> gains;
        bool placed = false;       // has placed frames: `end` holds
        bool anchored = false;     // false: the next block is placed by its time alone
        std::int64_t end = 0;      // the timeline frame after the last one placed
        std::vector<float> frames; // stereo, frames [end - Buffered(), end), none before Taken()
        std::size_t head = 0;      // floats at the front of `frames` already taken
        std::uint32_t fed = 0;   // input frames fed since the resampler's reset, up to its latency
        std::uint32_t zeros = 0; // input frames of silence fed since the last sound
        double carry = 0;        // part of an output frame, while silence skips the resampler
        // Following the device's clock: the smoothed error (seconds, positive when its sound
        // lands late), its integral, and how long ago the resampler's ratio was last set.
        double error = 0, integral = 0, sinceRatio = 0;
        float peak = 0;

        std::size_t Buffered() const { return (frames.size() - head) / 2; }
    };

    TSoundTime Recorded(TSoundTime t) const; // clock ticks since the start, pauses left out
    double Place(TSoundTime t) const;        // Position() unrounded
    void Restart(TSource& s, const TSoundFormat& format);
    void AddPiece(TSource& s, TSoundTime time, const float* in, std::uint32_t count, bool sound,
                  bool discontinuity);
    std::uint32_t Anchor(TSource& s, double at, std::uint32_t count);
    void Follow(TSource& s, double error, double seconds);
    void Flush(TSource& s);
    void Emit(TSource& s, std::uint32_t count);
    void Silence(TSource& s, std::int64_t until);

    TSoundTime start_;
    std::vector<std::pair<TSoundTime, TSoundTime>> pauses_; // [from, to); the last may be open
    std::int64_t taken_ = 0;
    std::array<TSource, kSoundSources> sources_;
    float gain_ = 1;                              // the mix's gain, moving towards 1 or -3 dB
    std::vector<float> folded_, resampled_, mix_; // scratch, kept for their capacity
};

} // namespace media
