// AAC encoder for the recordings' sound: vo-aacenc making AAC-LC of 48 kHz stereo, frames of 1024
// interleaved 16-bit sample pairs in, one raw access unit (no ADTS header) out per frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace media {

constexpr std::uint32_t kAacSampleRate = 48000;
constexpr int kAacChannels = 2;
// Sample pairs (one sample of each channel) per access unit.
constexpr std::size_t kAacFrameSamples = 1024;
// 128 kbit/s: vo-aacenc codes up to 20 kHz from 128 kbit/s on at 48 kHz stereo (160 kbit/s buys no
// band), and it is 58 MB an hour beside the video instead of 72.
constexpr std::uint32_t kAacBitRate = 128000;
// At most 6144 bits a channel in one access unit (the decoder's input buffer).
constexpr std::size_t kAacMaxFrameBytes = 768 * kAacChannels;
// The samples of silence the decoded sound begins with before the first input sample: vo-aacenc's
// delay, as the encoder test measures it through ffmpeg's decoder.
constexpr std::uint32_t kAacPriming = 1600;

// Access units that hold `samples` input sample pairs behind the priming.
constexpr std::uint64_t AacFramesFor(std::uint64_t samples) {
    return (kAacPriming + samples + kAacFrameSamples - 1) / kAacFrameSamples;
}

// Encodes one stream. The decoded output runs kAacPriming samples behind the input, so Finish
// encodes silence after the last samples until every one given is in an access unit. Not
// thread-safe; one thread at a time may call it.
class TAacEncoder {
public:
    TAacEncoder();
    ~TAacEncoder();
    TAacEncoder(const TAacEncoder&) = delete;
    TAacEncoder& operator=(const TAacEncoder&) = delete;

    // Starts a stream (closing any earlier one). False with a reason in why when vo-aacenc
    // refuses.
    bool Open(std::string& why);
    void Close();
    bool IsOpen() const { return codec_ != nullptr; }

    // Encodes kAacFrameSamples interleaved sample pairs (left first) into accessUnit (replaced).
    // False when not open, after Finish, or when vo-aacenc fails.
    bool Encode(const std::int16_t* samples, std::vector<std::uint8_t>& accessUnit);
    // Encodes the last `frames` sample pairs (fewer than kAacFrameSamples, maybe none), then
    // silence until every sample given is out: appends the access units that takes (one or two).
    // Nothing can be encoded afterwards.
    bool Finish(const std::int16_t* samples, std::size_t frames,
                std::vector<std::vector<std::uint8_t>>& accessUnits);

    // Sample pairs given, and access units made, so far.
    std::uint64_t InputSamples() const { return input_; }
    std::uint64_t Frames() const { return frames_; }

    // The AudioSpecificConfig of the stream (the MP4 sample description's esds carries it): AAC-LC,
    // 48 kHz, two channels, 1024 samples a frame.
    static std::vector<std::uint8_t> AudioSpecificConfig();

private:
    bool EncodeFrame(const std::int16_t* samples, std::vector<std::uint8_t>& accessUnit);

    struct TCodec; // vo-aacenc's handle and tables; its headers stay inside AacEncoder.cpp
    std::unique_ptr<TCodec> codec_;
    bool finished_ = false;
    std::uint64_t input_ = 0, frames_ = 0;
};

} // namespace media
