#include "media/AacEncoder.h"

#include <cmnMemory.h>
#include <voAAC.h>

#include <algorithm>

namespace media {

struct TAacEncoder::TCodec {
    VO_AUDIO_CODECAPI api{};
    VO_MEM_OPERATOR memory{}; // vo-aacenc keeps a pointer to it
    VO_HANDLE handle = nullptr;
};

namespace {

// The sampling frequency index of 48 kHz in AudioSpecificConfig, and the object type of AAC-LC.
constexpr std::uint8_t kFrequencyIndex48k = 3;
constexpr std::uint8_t kObjectTypeLc = 2;

} // namespace

TAacEncoder::TAacEncoder() = default;

TAacEncoder::~TAacEncoder() {
    Close();
}

bool TAacEncoder::Open(std::string& why) {
    Close();
    auto codec = std::make_unique<TCodec>();
    voGetAACEncAPI(&codec->api);
    codec->memory.Alloc = cmnMemAlloc;
    codec->memory.Copy = cmnMemCopy;
    codec->memory.Free = cmnMemFree;
    codec->memory.Set = cmnMemSet;
    codec->memory.Check = cmnMemCheck;
    VO_CODEC_INIT_USERDATA user{};
    user.memflag = VO_IMF_USERMEMOPERATOR;
    user.memData = &codec->memory;
    if (codec->api.Init(&codec->handle, VO_AUDIO_CodingAAC, &user) != VO_ERR_NONE ||
        !codec->handle) {
        why = "vo-aacenc could not create an encoder";
        return false;
    }
    AACENC_PARAM param{};
    param.sampleRate = kAacSampleRate;
    param.bitRate = kAacBitRate;
    param.nChannels = kAacChannels;
    param.adtsUsed = 0; // raw access units: the MP4 sample description says what they are
    if (codec->api.SetParam(codec->handle, VO_PID_AAC_ENCPARAM, &param) != VO_ERR_NONE) {
        codec->api.Uninit(codec->handle);
        why = "vo-aacenc refused AAC-LC at 48 kHz stereo";
        return false;
    }
    codec_ = std::move(codec);
    finished_ = false;
    input_ = frames_ = 0;
    return true;
}

void TAacEncoder::Close() {
    if (codec_) codec_->api.Uninit(codec_->handle);
    codec_.reset();
}

bool TAacEncoder::EncodeFrame(const std::int16_t* samples, std::vector<std::uint8_t>& accessUnit) {
    // vo-aacenc reads the input where it is and takes a whole frame per call.
    VO_CODECBUFFER input{};
    input.Buffer = reinterpret_cast<VO_PBYTE>(const_cast<std::int16_t*>(samples));
    input.Length = kAacFrameSamples * kAacChannels * sizeof(std::int16_t);
    if (codec_->api.SetInputData(codec_->handle, &input) != VO_ERR_NONE) return false;
    accessUnit.resize(kAacMaxFrameBytes);
    VO_CODECBUFFER output{};
    output.Buffer = accessUnit.data();
    output.Length = static_cast<VO_U32>(accessUnit.size());
    VO_AUDIO_OUTPUTINFO info{};
    if (codec_->api.GetOutputData(codec_->handle, &output, &info) != VO_ERR_NONE ||
        output.Length == 0 || output.Length > kAacMaxFrameBytes)
        return false;
    accessUnit.resize(output.Length);
    ++frames_;
    return true;
}

bool TAacEncoder::Encode(const std::int16_t* samples, std::vector<std::uint8_t>& accessUnit) {
    if (!codec_ || finished_ || !EncodeFrame(samples, accessUnit)) return false;
    input_ += kAacFrameSamples;
    return true;
}

bool TAacEncoder::Finish(const std::int16_t* samples, std::size_t frames,
                         std::vector<std::vector<std::uint8_t>>& accessUnits) {
    if (!codec_ || finished_ || frames >= kAacFrameSamples) return false;
    input_ += frames;
    // Enough frames in all to hold the priming and every input sample.
    const std::uint64_t count = AacFramesFor(input_) - frames_;
    finished_ = true;
    std::vector<std::int16_t> padded(kAacFrameSamples * kAacChannels, 0);
    std::copy_n(samples, frames * kAacChannels, padded.begin());
    for (std::uint64_t i = 0; i < count; ++i) {
        accessUnits.emplace_back();
        if (!EncodeFrame(padded.data(), accessUnits.back())) return false;
        if (i == 0) std::fill(padded.begin(), padded.end(), 0);
    }
    return true;
}

std::vector<std::uint8_t> TAacEncoder::AudioSpecificConfig() {
    // 5 bits object type, 4 bits frequency index, 4 bits channel configuration, then
    // GASpecificConfig: 1024-sample frames, no core coder, no extension.
    const unsigned bits = kObjectTypeLc << 11 | kFrequencyIndex48k << 7 | kAacChannels << 3;
    return {static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bits)};
}

} // namespace media
