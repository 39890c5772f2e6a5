#include "media/SoundFormat.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace media {

namespace {

constexpr float kSide = 0.70710678f; // -3 dB: centre on both sides, surround on its own side

// (left, right) of each speaker bit of a channel mask, lowest bit first: front L/R/centre, LFE,
// back L/R, front left/right of centre, back centre, side L/R, then the top speakers as the
// ones below them.
constexpr std::array<std::array<float, 2>, 18> kSpeakerGains = {{
    {1, 0},
    {0, 1},
    {kSide, kSide},
    {0, 0},
    {kSide, 0},
    {0, kSide},
    {1, 0},
    {0, 1},
    {0.5f, 0.5f},
    {kSide, 0},
    {0, kSide},
    {0.5f, 0.5f},
    {1, 0},
    {kSide, kSide},
    {0, 1},
    {kSide, 0},
    {0.5f, 0.5f},
    {0, kSide},
}};

// KSAUDIO_SPEAKER_* layouts Windows uses when a device names none.
std::uint32_t UsualMask(std::uint16_t channels) {
    switch (channels) {
    case 1:
        return 0x4;
    case 2:
        return 0x3;
    case 3:
        return 0x7;
    case 4:
        return 0x33;
    case 5:
        return 0x37;
    case 6:
        return 0x3F;
    case 7:
        return 0x13F;
    case 8:
        return 0x63F;
    default:
        return 0x3; // more: front left and right only
    }
}

std::int32_t Bytes(const std::uint8_t* p, int n) {
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i)
        v |= std::uint32_t(p[i]) << (8 * i);
    return std::int32_t(v << (32 - 8 * n)) >> (32 - 8 * n); // sign-extended
}

template <TSampleFormat F> float Sample(const std::uint8_t* p) {
    if constexpr (F == TSampleFormat::Int16) {
        return float(Bytes(p, 2)) * (1.0f / 32768.0f);
    } else if constexpr (F == TSampleFormat::Int24) {
        return float(Bytes(p, 3)) * (1.0f / 8388608.0f);
    } else if constexpr (F == TSampleFormat::Int32) {
        return float(Bytes(p, 4)) * (1.0f / 2147483648.0f);
    } else {
        const float v = std::bit_cast<float>(std::uint32_t(Bytes(p, 4)));
        if (std::fabs(v) <= 1.0f) return v;
        return v > 1.0f ? 1.0f : v < -1.0f ? -1.0f : 0.0f; // NaN gives 0
    }
}

template <TSampleFormat F>
bool Fold(const TSoundFormat& format, const std::vector<std::array<float, 2>>& gains,
          const std::uint8_t* data, std::uint32_t frames, std::vector<float>& out) {
    const std::uint32_t channels = format.channels;
    const std::uint32_t bytes = format.BytesPerFrame() / channels;
    const std::size_t first = out.size();
    bool sound = false;
    if (channels == 1) {
        out.resize(first + frames);
        for (std::uint32_t i = 0; i < frames; ++i, data += bytes) {
            out[first + i] = Sample<F>(data);
            sound |= out[first + i] != 0.0f;
        }
        return sound;
    }
    out.resize(first + 2 * std::size_t(frames));
    float* o = out.data() + first;
    for (std::uint32_t i = 0; i < frames; ++i, o += 2) {
        float left = 0, right = 0;
        for (std::uint32_t c = 0; c < channels; ++c, data += bytes) {
            const float v = Sample<F>(data);
            left += gains[c][0] * v;
            right += gains[c][1] * v;
        }
        o[0] = left;
        o[1] = right;
        sound |= left != 0.0f || right != 0.0f;
    }
    return sound;
}

template <TSampleFormat F> float Peak(const std::uint8_t* data, std::size_t bytes) {
    constexpr std::size_t size = F == TSampleFormat::Int16 ? 2 : F == TSampleFormat::Int24 ? 3 : 4;
    float peak = 0;
    for (std::size_t i = 0; i + size <= bytes; i += size)
        peak = std::max(peak, std::fabs(Sample<F>(data + i)));
    return peak;
}

} // namespace

std::uint32_t FoldedChannels(const TSoundFormat& format) {
    return format.channels == 1 ? 1 : 2;
}

std::vector<std::array<float, 2>> StereoGains(const TSoundFormat& format) {
    std::vector<std::array<float, 2>> gains(format.channels, {0.0f, 0.0f});
    std::uint32_t mask = format.channelMask ? format.channelMask : UsualMask(format.channels);
    float sums[2] = {0, 0};
    for (auto& g : gains) {
        if (!mask) break;
        const int speaker = std::countr_zero(mask);
        mask &= mask - 1;
        if (speaker < int(kSpeakerGains.size())) g = kSpeakerGains[speaker];
        sums[0] += g[0];
        sums[1] += g[1];
    }
    const float scale = 1.0f / std::max({1.0f, sums[0], sums[1]});
    for (auto& g : gains)
        g = {g[0] * scale, g[1] * scale};
    return gains;
}

bool FoldSamples(const TSoundFormat& format, const std::vector<std::array<float, 2>>& gains,
                 const std::uint8_t* data, std::uint32_t frames, std::vector<float>& out) {
    switch (format.sample) {
    case TSampleFormat::Int16:
        return Fold<TSampleFormat::Int16>(format, gains, data, frames, out);
    case TSampleFormat::Int24:
        return Fold<TSampleFormat::Int24>(format, gains, data, frames, out);
    case TSampleFormat::Int32:
        return Fold<TSampleFormat::Int32>(format, gains, data, frames, out);
    case TSampleFormat::Float32:
        return Fold<TSampleFormat::Float32>(format, gains, data, frames, out);
    }
    return false;
}

float PeakOf(const TSoundBlock& block) {
    const std::uint8_t* data = block.data.data();
    const std::size_t bytes = block.data.size();
    switch (block.format.sample) {
    case TSampleFormat::Int16:
        return Peak<TSampleFormat::Int16>(data, bytes);
    case TSampleFormat::Int24:
        return Peak<TSampleFormat::Int24>(data, bytes);
    case TSampleFormat::Int32:
        return Peak<TSampleFormat::Int32>(data, bytes);
    case TSampleFormat::Float32:
        return Peak<TSampleFormat::Float32>(data, bytes);
    }
    return 0;
}

} // namespace media
