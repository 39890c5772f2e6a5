// SoundFormat: a device's samples as floats in -1..1, its channels folded to mono or stereo, and
// the mixed track's 16-bit samples.
#pragma once

#include "media/SoundBlock.h"

#include <array>
#include <cstdint>
#include <vector>

namespace media {

// Channels a format is folded to before resampling: 1 for a mono device (it plays in the middle,
// on both channels at full level), 2 for every other.
std::uint32_t FoldedChannels(const TSoundFormat& format);

// The (left, right) gains of each of the format's channels when it is folded to stereo. Front
// left and right go to their side, the centre to both at 0.707, back and side channels to their
// side at 0.707, the low-frequency channel nowhere; a channel the mask does not name is dropped.
// The gains are scaled so that no side's sum exceeds 1: a full-scale input cannot clip. A mask of
// 0 means the usual layout of the channel count (5.1 for six channels, 7.1 for eight).
std::vector<std::array<float, 2>> StereoGains(const TSoundFormat& format);

// Folds `frames` frames of the device's `data` (frames x BytesPerFrame() bytes) to
// FoldedChannels() interleaved floats, appended to `out`; `gains` are StereoGains(format) for a
// format of two or more channels. Non-finite samples become 0, floats beyond full scale are
// limited to it. Returns whether any sample is not 0 (a block of zeros is silence).
bool FoldSamples(const TSoundFormat& format, const std::vector<std::array<float, 2>>& gains,
                 const std::uint8_t* data, std::uint32_t frames, std::vector<float>& out);

// The largest magnitude of the block's samples as FoldSamples reads them, 0..1 (0 for a silent
// block).
float PeakOf(const TSoundBlock& block);

// The 16-bit sample of a float one: rounded, saturated at -32768 and 32767 (NaN gives 0).
inline std::int16_t SaturatedSample(float value) {
    const float v = value * 32768.0f;
    if (v >= 32767.0f) return 32767;
    if (v <= -32768.0f) return -32768;
    if (!(v == v)) return 0;
    return std::int16_t(v >= 0.0f ? v + 0.5f : v - 0.5f); // truncation rounds half away from 0
}

} // namespace media
