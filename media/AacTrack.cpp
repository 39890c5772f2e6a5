#include "media/AacTrack.h"

namespace media {

bool TAacTrack::Open(std::string& why) {
    if (open_) return true;
    if (!encoder_.Open(why)) return false;
    Mp4AudioFormat format;
    format.sampleRate = kAacSampleRate;
    format.channels = kAacChannels;
    format.frameSamples = kAacFrameSamples;
    format.priming = kAacPriming;
    format.bitRate = kAacBitRate;
    format.maxFrameBytes = kAacMaxFrameBytes;
    format.config = TAacEncoder::AudioSpecificConfig();
    if (!writer_.AddAudioTrack(format)) {
        why = "the MP4 file cannot take a sound track now";
        return false;
    }
    open_ = true;
    return true;
}

bool TAacTrack::Put(const std::vector<std::uint8_t>& unit) {
    if (writer_.AddAudioSample(unit)) return true;
    failed_ = true;
    return false;
}

bool TAacTrack::Add(const std::int16_t* samples, std::size_t frames) {
    if (!open_ || failed_) return false;
    constexpr std::size_t kFrame = kAacFrameSamples * kAacChannels;
    std::size_t left = frames * kAacChannels;
    while (left > 0) {
        const std::int16_t* frame = samples;
        if (waiting_.empty() && left >= kFrame) {
            samples += kFrame; // a whole frame where it is
            left -= kFrame;
        } else {
            const std::size_t n = std::min(left, kFrame - waiting_.size());
            waiting_.insert(waiting_.end(), samples, samples + n);
            samples += n;
            left -= n;
            if (waiting_.size() < kFrame) break;
            frame = waiting_.data();
        }
        if (!encoder_.Encode(frame, unit_)) {
            failed_ = true;
            return false;
        }
        waiting_.clear();
        if (!Put(unit_)) return false;
    }
    return true;
}

bool TAacTrack::Finish() {
    if (!open_ || failed_) return false;
    std::vector<std::vector<std::uint8_t>> units;
    failed_ = true; // nothing more in any case
    if (!encoder_.Finish(waiting_.data(), waiting_.size() / kAacChannels, units)) return false;
    for (const auto& unit : units)
        if (!Put(unit)) return false;
    writer_.SetAudioLength(encoder_.InputSamples());
    waiting_.clear();
    return true;
}

std::uint64_t TAacTrack::UnitsToCome(std::uint64_t moreFrames) const {
    return AacFramesFor(Samples() + moreFrames) - encoder_.Frames();
}

} // namespace media
