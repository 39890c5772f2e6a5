// Resampler: SpeexDSP's resampler over interleaved float frames, its ratio finely adjustable while
// it runs so that it can follow a device whose clock is off its nominal rate.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

struct SpeexResamplerState_; // SpeexDSP's state; its header stays inside Resampler.cpp

namespace media {

class TResampler {
public:
    // Throws std::runtime_error when SpeexDSP refuses the rates or channels (0, or no memory).
    TResampler(std::uint32_t channels, std::uint32_t inRate, std::uint32_t outRate);
    TResampler(TResampler&&) noexcept = default;
    TResampler& operator=(TResampler&&) noexcept = default;
    ~TResampler() = default;

    // Output frames per input frame: outRate / inRate at first. Any positive value is kept to
    // the nearest fraction of numerator and denominator below 65536, so about 1/65535 of the ratio
    // or finer (SpeexDSP's fraction arithmetic overflows beyond that).
    void SetRatio(double outPerIn);
    double Ratio() const { return double(den_) / double(num_); }

    // Resamples `frames` frames (`in` null: frames of silence), appending the output frames to
    // `out`; returns how many it appended. The last Latency() input frames stay in the filter
    // until later input pushes them out.
    std::uint32_t Process(const float* in, std::uint32_t frames, std::vector<float>& out);
    std::uint32_t Latency() const;
    // Forgets the filter's memory: the next input frame gives the next output frame.
    void Reset();

private:
    struct TDestroy {
        void operator()(SpeexResamplerState_* s) const;
    };
    std::unique_ptr<SpeexResamplerState_, TDestroy> state_;
    std::uint32_t channels_ = 0, inRate_ = 0, outRate_ = 0;
    std::uint32_t num_ = 1, den_ = 1; // input frames per output frame, num_ / den_
};

} // namespace media
