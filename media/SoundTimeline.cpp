#include "media/SoundTimeline.h"

#include "media/SoundFormat.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace media {

namespace {

constexpr TSoundTime kOpen = std::numeric_limits<TSoundTime>::max(); // a pause not yet resumed
constexpr double kFramesPerTick = double(TSoundTimeline::kRate) / double(kSoundTicksPerSecond);

// A source whose frames land further than this from where its timestamps put them has jumped
// (lost data, or a device that restarted) and is placed afresh. Jitter stays far below it.
constexpr double kJump = 0.1 * TSoundTimeline::kRate;

// Following a device's clock: a PI loop on the smoothed placement error, critically damped. The
// error is smoothed over a second (timestamps jitter by milliseconds, block by block); the loop
// settles in about half a minute and its integral learns the device's rate error. Simulated
// with 3 ms of jitter, a device off by 0.01 % then stays within 1 ms of its timestamps, one off
// by 0.3 % within 18 ms, and with 40 ms of jitter one off by 0.1 % within 6 ms. Ratios this slow
// change far below what an ear hears as pitch. The correction stays within 1 %, beyond real clocks.
constexpr double kSmoothing = 1.0;                              // seconds
constexpr double kProportional = 1.0 / 8.0;                     // per second
constexpr double kIntegral = kProportional * kProportional / 4; // per second squared
constexpr double kMaxCorrection = 0.01;
// Setting the ratio recomputes the resampler's filter table, so it changes ten times a second at
// most; the loop is far slower.
constexpr double kRatioInterval = 0.1; // seconds

// Mixing: a source sounds in a 10 ms stretch when a sample reaches -60 dBFS. When both sound the
// mix is 3 dB lower, the gain moving over 10 ms.
constexpr std::size_t kStretch = TSoundTimeline::kRate / 100;
constexpr float kAudible = 0.001f;
constexpr float kHeadroom = 0.70710678f;
constexpr float kGainStep = (1.0f - kHeadroom) / float(kStretch);

} // namespace

TSoundTimeline::TSoundTimeline(TSoundTime start) : start_(start) {}

void TSoundTimeline::Pause(TSoundTime at) {
    if (!pauses_.empty()) {
        if (pauses_.back().second == kOpen) return;
        at = std::max(at, pauses_.back().second);
    }
    pauses_.emplace_back(at, kOpen);
}

void TSoundTimeline::Resume(TSoundTime at) {
    if (pauses_.empty() || pauses_.back().second != kOpen) return;
    pauses_.back().second = std::max(at, pauses_.back().first);
}

TSoundTime TSoundTimeline::Recorded(TSoundTime t) const {
    TSoundTime ticks = t - start_;
    for (const auto& [from, to] : pauses_) {
        if (t <= from) break;
        ticks -= std::min(t, to) - from;
    }
    return ticks;
}

double TSoundTimeline::Place(TSoundTime t) const {
    return double(Recorded(t)) * kFramesPerTick;
}

std::int64_t TSoundTimeline::Position(TSoundTime t) const {
    const std::int64_t scaled = Recorded(t) * std::int64_t(kRate); // fits for 200 days either way
    std::int64_t q = scaled / kSoundTicksPerSecond;
    if (scaled % kSoundTicksPerSecond < 0) --q; // rounded down, also before the start
    return q;
}

float TSoundTimeline::Peak(TSoundSource source) const {
    return sources_[std::size_t(source)].peak;
}

void TSoundTimeline::Restart(TSource& s, const TSoundFormat& format) {
    if (s.resampler) Flush(s);
    s.resampler.emplace(FoldedChannels(format), format.rate, kRate);
    s.format = format;
    s.gains = StereoGains(format);
    s.anchored = false;
    s.fed = 0;
    s.zeros = std::numeric_limits<std::uint32_t>::max() / 2;
    s.carry = s.error = s.integral = s.sinceRatio = 0;
}

void TSoundTimeline::Add(const TSoundBlock& block) {
    const TSoundFormat& format = block.format;
    if (format.rate < 1000 || format.rate > 1'000'000 || format.channels == 0) return;
    TSource& s = sources_[std::size_t(block.source) % sources_.size()];
    if (!s.resampler || format != s.format) Restart(s, format);

    std::uint32_t frames = block.frames;
    if (!block.silent)
        frames = std::uint32_t(
            std::min<std::size_t>(frames, block.data.size() / format.BytesPerFrame()));
    folded_.clear();
    const bool sound =
        !block.silent && FoldSamples(format, s.gains, block.data.data(), frames, folded_);
    const std::uint32_t channels = FoldedChannels(format);

    // The parts captured outside pauses, each placed by the time of its first frame.
    const double ticksPerFrame = double(kSoundTicksPerSecond) / format.rate;
    auto frameAt = [&](TSoundTime t) {
        if (t == kOpen) return frames;
        const double f = std::ceil(double(t - block.time) / ticksPerFrame);
        return std::uint32_t(std::clamp(f, 0.0, double(frames)));
    };
    bool discontinuity = block.discontinuity;
    auto piece = [&](std::uint32_t from, std::uint32_t to) {
        if (from >= to) return;
        AddPiece(s, block.time + std::llround(from * ticksPerFrame),
                 sound ? folded_.data() + std::size_t(from) * channels : nullptr, to - from, sound,
                 discontinuity);
        discontinuity = false;
    };
    std::uint32_t next = 0;
    for (const auto& [from, to] : pauses_) {
        const std::uint32_t first = frameAt(from), after = frameAt(to);
        piece(next, first);
        next = std::max(next, after);
    }
    piece(next, frames);
}

void TSoundTimeline::AddPiece(TSource& s, TSoundTime time, const float* in, std::uint32_t count,
                              bool sound, bool discontinuity) {
    TResampler& r = *s.resampler;
    const double at = Place(time);
    const double lands = double(s.end) + s.fed * r.Ratio(); // where this piece's first frame lands
    if (!s.anchored || discontinuity || std::fabs(lands - at) > kJump) {
        const std::uint32_t cut = Anchor(s, at, count);
        if (cut >= count) return;
        count -= cut;
        if (in) in += std::size_t(cut) * FoldedChannels(s.format);
    } else {
        Follow(s, (lands - at) / kRate, double(count) / s.format.rate);
    }

    const std::uint32_t latency = r.Latency();
    if (!sound && s.zeros > 2 * latency + 2) {
        // The filter holds only silence: more silence skips it, at the same ratio.
        const double total = s.carry + count * r.Ratio();
        const double whole = std::floor(total);
        s.carry = total - whole;
        Silence(s, s.end + std::int64_t(whole));
        return;
    }
    resampled_.clear();
    const std::uint32_t made = r.Process(sound ? in : nullptr, count, resampled_);
    s.fed = std::min(latency, s.fed + count);
    s.zeros = sound ? 0 : std::min(s.zeros + count, std::numeric_limits<std::uint32_t>::max() / 2);
    s.carry = 0;
    Emit(s, made);
}

// Places the source afresh with its next frame at timeline frame `at`; returns how many of the
// `count` frames in hand to cut because they overlap sound already placed.
std::uint32_t TSoundTimeline::Anchor(TSource& s, double at, std::uint32_t count) {
    Flush(s);
    s.resampler->Reset();
    s.fed = 0;
    s.carry = 0;
    s.error = 0; // the integral stays: the device's clock has not changed
    std::uint32_t cut = 0;
    if (s.placed && at < double(s.end)) {
        const double ratio = s.resampler->Ratio();
        const double over = std::ceil((double(s.end) - at) / ratio);
        if (over >= count) {
            s.anchored = false; // the next block tries again
            return count;
        }
        cut = std::uint32_t(over);
        at += cut * ratio;
    }
    if (s.placed) {
        Silence(s, std::llround(at));
    } else {
        s.end = std::llround(at);
        s.placed = true;
    }
    s.anchored = true;
    return cut;
}

void TSoundTimeline::Follow(TSource& s, double error, double seconds) {
    s.error += (error - s.error) * std::min(1.0, seconds / kSmoothing);
    const double most = kMaxCorrection / kIntegral;
    s.integral = std::clamp(s.integral + s.error * seconds, -most, most);
    const double correction = std::clamp(-(kProportional * s.error + kIntegral * s.integral),
                                         -kMaxCorrection, kMaxCorrection);
    s.sinceRatio += seconds;
    if (s.sinceRatio >= kRatioInterval) {
        s.sinceRatio = 0;
        s.resampler->SetRatio(double(kRate) / s.format.rate * (1 + correction));
    }
}

// Lets out the sound still in the resampler's filter before it is reset or replaced.
void TSoundTimeline::Flush(TSource& s) {
    if (!s.placed || s.zeros > 2 * s.resampler->Latency() + 2 || s.fed == 0) return;
    resampled_.clear();
    Emit(s, s.resampler->Process(nullptr, s.fed, resampled_));
    s.fed = 0;
}

// Appends the `count` frames in resampled_ at the source's end, dropping those already taken.
void TSoundTimeline::Emit(TSource& s, std::uint32_t count) {
    const bool mono = FoldedChannels(s.format) == 1;
    const auto skip = std::uint32_t(std::clamp<std::int64_t>(taken_ - s.end, 0, count));
    const float* in = resampled_.data();
    if (mono) {
        const std::size_t at = s.frames.size();
        s.frames.resize(at + 2 * std::size_t(count - skip));
        for (std::uint32_t i = skip; i < count; ++i)
            s.frames[at + 2 * (i - skip)] = s.frames[at + 2 * (i - skip) + 1] = in[i];
    } else {
        s.frames.insert(s.frames.end(), in + 2 * std::size_t(skip), in + 2 * std::size_t(count));
    }
    s.end += count;
}

// Moves the source's end to `until` over silence.
void TSoundTimeline::Silence(TSource& s, std::int64_t until) {
    if (until <= s.end) return;
    // Frames before the buffered ones are silence already: zeros are needed only after them.
    if (s.Buffered() > 0) s.frames.resize(s.frames.size() + 2 * std::size_t(until - s.end), 0.0f);
    s.end = until;
}

void TSoundTimeline::Take(std::int64_t until, std::vector<std::int16_t>& out) {
    if (until <= taken_) return;
    const auto n = std::size_t(until - taken_);
    mix_.assign(2 * n, 0.0f);
    const std::size_t at = out.size();
    out.resize(at + 2 * n);
    std::int16_t* o = out.data() + at;
    std::array<float, kSoundSources> peaks{};
    for (std::size_t from = 0; from < n; from += kStretch) {
        const std::size_t to = std::min(n, from + kStretch);
        int sounding = 0;
        float loudest = 0;
        for (std::size_t k = 0; k < sources_.size(); ++k) {
            TSource& s = sources_[k];
            // This stretch's frames [taken_ + from, taken_ + to) that the source has.
            const std::int64_t first = s.end - std::int64_t(s.Buffered());
            const std::int64_t a = std::max(first, taken_ + std::int64_t(from));
            const std::int64_t b = std::min(s.end, taken_ + std::int64_t(to));
            if (a >= b) continue;
            const float* src = s.frames.data() + s.head + 2 * std::size_t(a - first);
            float* dst = mix_.data() + 2 * std::size_t(a - taken_);
            float peak = 0;
            for (std::size_t i = 0; i < 2 * std::size_t(b - a); ++i) {
                dst[i] += src[i];
                peak = std::max(peak, std::fabs(src[i]));
            }
            peaks[k] = std::max(peaks[k], peak);
            loudest = std::max(loudest, peak);
            sounding += peak >= kAudible;
        }
        const float target = sounding > 1 ? kHeadroom : 1.0f;
        if (loudest == 0.0f && gain_ == target) continue; // silence: out holds zeros already
        for (std::size_t i = from; i < to; ++i) {
            gain_ += std::clamp(target - gain_, -kGainStep, kGainStep);
            o[2 * i] = SaturatedSample(mix_[2 * i] * gain_);
            o[2 * i + 1] = SaturatedSample(mix_[2 * i + 1] * gain_);
        }
    }
    for (std::size_t k = 0; k < sources_.size(); ++k) {
        TSource& s = sources_[k];
        s.peak = std::min(1.0f, peaks[k]);
        const std::int64_t first = s.end - std::int64_t(s.Buffered());
        const auto gone = std::size_t(std::clamp<std::int64_t>(until - first, 0, s.Buffered()));
        s.head += 2 * gone;
        if (s.head == s.frames.size()) {
            s.frames.clear();
            s.head = 0;
        } else if (s.head > s.frames.size() / 2) {
            s.frames.erase(s.frames.begin(), s.frames.begin() + std::ptrdiff_t(s.head));
            s.head = 0;
        }
    }
    taken_ = until;
}

} // namespace media
