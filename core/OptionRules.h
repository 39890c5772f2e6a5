// OptionRules: the options dialog's mappings between the engine's values and its track bars'
// positions, and the texts of its value labels.
#pragma once

#include <cstdint>
#include <string>

namespace core {

// The capture interval bar is logarithmic: position 1 is 1 ms, position max is one minute.
inline constexpr int kLongestCaptureIntervalMs = 60000;
// The playback bar's fastest rate, and the top of the engine's quality scale.
inline constexpr int kFastestPlaybackRate = 50;
inline constexpr int kHighestQuality = 10000;

// Rounding is to the nearest integer with halves to the even neighbour; max is the bar's maximum.
int CaptureIntervalToPosition(std::int32_t intervalMs, int max);
std::int32_t PositionToCaptureInterval(int position, int max);
// The playback bar is linear from 1 fps at position 1 to 50 fps at position max.
int PlaybackRateToPosition(std::int32_t fps, int max);
std::int32_t PositionToPlaybackRate(int position, int max);
// The quality bar shows hundredths of the engine's 0..10000 scale.
int QualityToPosition(std::int32_t quality, int max);
std::int32_t PositionToQuality(int position, int max);

std::wstring CaptureIntervalLabel(std::int32_t intervalMs); // "100 ms"
std::wstring PlaybackRateLabel(std::int32_t fps);           // "10 fps"

} // namespace core
