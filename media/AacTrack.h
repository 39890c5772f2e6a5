// AacTrack: a recording's sound as the AAC track of its MP4 file: 48 kHz stereo samples in any
// amounts, encoded a frame at a time into the writer.
#pragma once

#include "media/AacEncoder.h"
#include "media/Mp4Writer.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace media {

// The sound's first sample plays with the file's first video sample; the samples follow on each
// other without gaps (silence is samples too). The writer sends the access units out with its
// fragments. Not thread-safe; call it from the thread that calls the writer.
class TAacTrack {
public:
    explicit TAacTrack(TMp4Writer& writer) : writer_(writer) {}

    // Opens the encoder and gives the writer its sound track: before the writer's Begin. False
    // with a reason in why.
    bool Open(std::string& why);
    // Adds `frames` sample pairs (interleaved, left first, 48 kHz). Each whole frame becomes an
    // access unit in the writer, pending until its next flush; the rest waits for more. False
    // when not open, after Finish, or when the encoder or the writer fails: then stop.
    bool Add(const std::int16_t* samples, std::size_t frames);
    // Encodes the rest and the silence that brings every sample out, and states the track's length
    // (the sample pairs added): before the writer's Finish. Nothing can be added afterwards.
    bool Finish();

    // Access units still to come from Add and Finish if `moreFrames` more sample pairs were added:
    // the audioSamples of TMp4Writer::ClosedSizeWith.
    std::uint64_t UnitsToCome(std::uint64_t moreFrames) const;
    // Sample pairs added.
    std::uint64_t Samples() const {
        return encoder_.InputSamples() + waiting_.size() / kAacChannels;
    }

private:
    bool Put(const std::vector<std::uint8_t>& unit);

    TMp4Writer& writer_;
    TAacEncoder encoder_;
    bool open_ = false, failed_ = false;
    std::vector<std::int16_t> waiting_; // fewer than a frame's samples
    std::vector<std::uint8_t> unit_;
};

} // namespace media
