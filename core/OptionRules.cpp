#include "core/OptionRules.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace core {

namespace {

// Nearest integer, halves to even (the default floating-point rounding), held inside int32.
std::int32_t Round(double x) {
    if (std::isnan(x)) return 0;
    const double limit = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::nearbyint(std::clamp(x, -limit - 1, limit)));
}

// A bar whose maximum is 1 or less has no steps to spread a range over.
double Steps(int max) { return std::max(1, max - 1); }

} // namespace

int CaptureIntervalToPosition(std::int32_t intervalMs, int max) {
    // An interval below 1 ms (none is ever stored) would have no logarithm: it counts as 1 ms.
    const double m = std::max<std::int32_t>(intervalMs, 1);
    return Round(std::log10(m) * Steps(max) / std::log10(kLongestCaptureIntervalMs) + 1);
}

std::int32_t PositionToCaptureInterval(int position, int max) {
    return Round(std::pow(10.0, std::log10(kLongestCaptureIntervalMs) * (position - 1) / Steps(max)));
}

int PlaybackRateToPosition(std::int32_t fps, int max) {
    return Round((static_cast<double>(fps) - 1) * Steps(max) / (kFastestPlaybackRate - 1) + 1);
}

std::int32_t PositionToPlaybackRate(int position, int max) {
    return Round((static_cast<double>(position) - 1) * (kFastestPlaybackRate - 1) / Steps(max) + 1);
}

int QualityToPosition(std::int32_t quality, int max) {
    return Round(static_cast<double>(quality) * max / kHighestQuality);
}

std::int32_t PositionToQuality(int position, int max) {
    return max <= 0 ? 0 : Round(static_cast<double>(position) * kHighestQuality / max);
}

std::wstring CaptureIntervalLabel(std::int32_t intervalMs) {
    return std::to_wstring(intervalMs) + L" ms";
}

std::wstring PlaybackRateLabel(std::int32_t fps) { return std::to_wstring(fps) + L" fps"; }

} // namespace core
