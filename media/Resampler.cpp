#include "media/Resampler.h"

#include <speex/speex_resampler.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <stdexcept>
#include <string>

namespace media {

namespace {

// SpeexDSP's "desktop" quality: 80 taps (160 when it halves the rate), about 100 dB stop band.
constexpr int kQuality = 5;
// Numerator and denominator stay below this: set_rate_frac rescales the filter's phase by
// new denominator / old one in 32 bits.
constexpr double kFractionLimit = 65535.0;

} // namespace

void TResampler::TDestroy::operator()(SpeexResamplerState_* s) const {
    speex_resampler_destroy(s);
}

TResampler::TResampler(std::uint32_t channels, std::uint32_t inRate, std::uint32_t outRate)
    : channels_(channels), inRate_(inRate), outRate_(outRate) {
    int error = RESAMPLER_ERR_SUCCESS;
    state_.reset(speex_resampler_init(channels, inRate, outRate, kQuality, &error));
    if (!state_)
        throw std::runtime_error(std::string("resampler: ") + speex_resampler_strerror(error));
    const std::uint32_t gcd = std::gcd(inRate, outRate);
    num_ = inRate / gcd;
    den_ = outRate / gcd;
    speex_resampler_skip_zeros(state_.get());
}

void TResampler::SetRatio(double outPerIn) {
    const double inPerOut = 1.0 / outPerIn;
    std::uint32_t num = 0, den = 0;
    if (inPerOut <= 1.0) {
        den = std::uint32_t(kFractionLimit);
        num = std::uint32_t(std::lround(std::max(1.0, inPerOut * kFractionLimit)));
    } else {
        num = std::uint32_t(kFractionLimit);
        den = std::uint32_t(std::lround(std::max(1.0, kFractionLimit / inPerOut)));
    }
    const std::uint32_t gcd = std::gcd(num, den);
    num /= gcd;
    den /= gcd;
    if (num == num_ && den == den_) return;
    // Changing the ratio recomputes the filter table (some 1300 sines): callers change it rarely.
    if (speex_resampler_set_rate_frac(state_.get(), num, den, inRate_, outRate_) ==
        RESAMPLER_ERR_SUCCESS) {
        num_ = num;
        den_ = den;
    }
}

std::uint32_t TResampler::Process(const float* in, std::uint32_t frames, std::vector<float>& out) {
    const std::size_t first = out.size();
    std::size_t produced = 0;
    while (frames > 0) {
        // Room for what these frames can give, and a little for the fraction carried over.
        const auto room = spx_uint32_t(std::uint64_t(frames) * den_ / num_ + 8);
        out.resize(first + (produced + room) * channels_);
        spx_uint32_t inLen = frames, outLen = room;
        speex_resampler_process_interleaved_float(
            state_.get(), in, &inLen, out.data() + first + produced * channels_, &outLen);
        produced += outLen;
        frames -= inLen;
        if (in) in += std::size_t(inLen) * channels_;
        if (inLen == 0 && outLen == 0) break; // refused (cannot happen with room to spare)
    }
    out.resize(first + produced * channels_);
    return std::uint32_t(produced);
}

std::uint32_t TResampler::Latency() const {
    return std::uint32_t(speex_resampler_get_input_latency(state_.get()));
}

void TResampler::Reset() {
    speex_resampler_reset_mem(state_.get());
    speex_resampler_skip_zeros(state_.get());
}

} // namespace media
