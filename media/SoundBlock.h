// SoundBlock: one packet of captured sound as a device delivered it, stamped with its capture time
// on the recording's clock, and the format it came in.
#pragma once

#include <cstdint>
#include <vector>

namespace media {

// The recording's sound sources; their blocks are mixed into one stereo track.
enum class TSoundSource : std::uint8_t { Microphone = 0, System = 1 };
inline constexpr int kSoundSources = 2;

// How a device stores one sample of one channel: 16-, 24- (packed in 3 bytes) and 32-bit signed
// integers, little-endian, or 32-bit float in -1..1.
enum class TSampleFormat : std::uint8_t { Int16, Int24, Int32, Float32 };

struct TSoundFormat {
    std::uint32_t rate = 48000;  // frames per second
    std::uint16_t channels = 2;  // interleaved
    TSampleFormat sample = TSampleFormat::Int16;
    // Which speakers the channels are, in order (WAVEFORMATEXTENSIBLE's dwChannelMask bits:
    // 0x1 front left, 0x2 front right, 0x4 front centre, 0x8 LFE, 0x10 back left, 0x20 back
    // right, 0x200 side left, 0x400 side right); 0 for the usual layout of the channel count.
    std::uint32_t channelMask = 0;

    std::uint32_t BytesPerFrame() const {
        const std::uint32_t bytes = sample == TSampleFormat::Int16   ? 2
                                    : sample == TSampleFormat::Int24 ? 3
                                                                     : 4;
        return bytes * channels;
    }
    bool operator==(const TSoundFormat&) const = default;
};

// Clock times count in 100-ns units (the performance counter's position, as the capture clients
// report it, converted to 100 ns), the same clock the recording's frames are timed by.
using TSoundTime = std::int64_t;
inline constexpr TSoundTime kSoundTicksPerSecond = 10'000'000;

struct TSoundBlock {
    TSoundSource source = TSoundSource::Microphone;
    // The capture time of the block's first frame.
    TSoundTime time = 0;
    TSoundFormat format;
    std::uint32_t frames = 0;
    // frames x format.BytesPerFrame() bytes; empty when `silent` (the device marked the packet as
    // silence: frames of silence, no data).
    std::vector<std::uint8_t> data;
    bool silent = false;
    // The device reported a gap before this block (data it lost): its time is to be trusted over
    // the count of the frames before it.
    bool discontinuity = false;
};

} // namespace media
