// SoundCapture: the microphone and the computer's sound captured on threads of their own while a
// recording runs, as blocks stamped with their capture time; devices that come and go are followed.
#pragma once

#include "media/SoundBlock.h"

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace sound {

struct TCaptureOptions {
    bool microphone = false;
    // The microphone's friendly name (as CaptureDeviceNames lists it); empty for the default.
    std::wstring microphoneDevice;
    // The computer's sound: loopback of the default output, or the device that monitors it.
    bool system = false;
};

// Off: not asked for. Running: a device is open. Missing: asked for, but no device could be
// opened or the one open was lost; it is tried again about every half second.
enum class TSourceState { Off, Running, Missing };

// Captures the asked sources from Start to Stop. Nothing here fails hard or shows a message: a
// source whose device is missing or lost is Missing, is opened again within about a second of
// the device's return (its first block then marked as a discontinuity, its times the true ones)
// and follows the system's default device as it changes.
class TSoundCapture {
public:
    explicit TSoundCapture(const TCaptureOptions& options);
    // Stops and joins the capture threads.
    ~TSoundCapture();
    TSoundCapture(const TSoundCapture&) = delete;
    TSoundCapture& operator=(const TSoundCapture&) = delete;

    // Starts a thread per asked source and returns once each has tried its device once (at most
    // about two seconds), so that State tells at once what records. Again after Stop: a new run.
    void Start();
    void Stop();

    // Moves the blocks captured since the last call, oldest first, into `blocks` (appended). Any
    // thread. Blocks not taken for more than a few seconds are dropped, oldest first.
    void Take(std::vector<media::TSoundBlock>& blocks);

    TSourceState State(media::TSoundSource s) const;
    // The largest sample of roughly the last 100 ms, 0..1, for a meter; 0 when nothing comes.
    float Level(media::TSoundSource s) const;
    // How long the source was asked for but Missing since Start, in milliseconds.
    std::uint32_t MissingMilliseconds(media::TSoundSource s) const;
    // The friendly name of the device in use, or of the last one used; empty before any.
    std::wstring SourceName(media::TSoundSource s) const;
    // True when another device stands in for the one asked: the default microphone for a named
    // one that does not exist, the device that monitors the output where loopback is refused.
    bool Substituted(media::TSoundSource s) const;

    // What the capture keeps at most: the span of the blocks waiting to be taken.
    static constexpr media::TSoundTime kKeptSpan = 5 * media::kSoundTicksPerSecond;

private:
    class TSource;
    friend class TSource;
    void Deliver(std::vector<media::TSoundBlock>& blocks);

    const TCaptureOptions options_;
    std::array<std::unique_ptr<TSource>, media::kSoundSources> sources_;
    std::mutex queueMutex_;
    std::deque<media::TSoundBlock> queue_;
};

} // namespace sound
