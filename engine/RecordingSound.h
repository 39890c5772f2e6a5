// RecordingSound: the sound of one recording: the capture of its sources, their blocks placed on
// the recording's timeline with its pauses, and the mixed track handed out in order.
#pragma once

#include "media/SoundBlock.h"
#include "media/SoundTimeline.h"
#include "sound/SoundCapture.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace engine {

// Made by the worker before the first grab. The grabbing thread marks the start and the pauses;
// the worker takes the mixed sound. The track's frames count at 48 kHz from the recording's
// position 0, the first frame's grab.
class TRecordingSound {
public:
    static constexpr std::uint32_t kRate = media::TSoundTimeline::kRate;
    // How far behind now the track is taken while recording: blocks are on their way from the
    // devices for about this long (10 ms packets, more under load).
    static constexpr std::int64_t kHoldBackFrames = kRate / 2;

    explicit TRecordingSound(const sound::TCaptureOptions& options);
    ~TRecordingSound();

    // Grabbing thread: the recording's position 0 is now; a pause from now, its end now.
    void MarkStart();
    void MarkPause();
    void MarkResume();

    // Worker: the mixed frames from the last taken one up to the track frame `until`, appended
    // to `out` as interleaved stereo samples; unless `exactly`, at most up to about half a
    // second before now, so that blocks on their way still land. Nothing before the start.
    void Take(std::int64_t until, std::vector<std::int16_t>& out, bool exactly = false);
    // Worker: the track frame the recording's time `ms` (from its position 0) stands for.
    static std::int64_t FrameAt(std::int64_t ms) { return ms * kRate / 1000; }

    // Worker, at the end: waits (a little) for the sources to deliver up to `until`, stops them
    // and takes the rest up to exactly `until`.
    void Finish(std::int64_t until, std::vector<std::int16_t>& out);

    // Stops the capture (also done by Finish).
    void Stop() { capture_.Stop(); }
    // For the meters: each source's state and level.
    sound::TSourceState State(media::TSoundSource source) const;
    float Level(media::TSoundSource source) const;
    // After the end of a recording `recordedMs` long: what was missing and for how long, one
    // line per source; empty when nothing was.
    std::wstring MissingReport(std::int64_t recordedMs) const;

private:
    // Moves the captured blocks onto the timeline.
    void Gather();

    sound::TSoundCapture capture_;
    mutable std::mutex lock_;
    std::optional<media::TSoundTimeline> timeline_;
    std::vector<media::TSoundBlock> blocks_;
    bool paused_ = false;
    bool finished_ = false;
};

} // namespace engine
