#include "media/SoundTimeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <functional>
#include <iostream>
#include <numbers>
#include <random>

using namespace media;

namespace {

constexpr TSoundTime kStart = 1'000'000'000;
constexpr TSoundTime kMs = kSoundTicksPerSecond / 1000;
constexpr std::int64_t kFramesPerMs = TSoundTimeline::kRate / 1000;

float Tone(double hz, double amplitude, std::int64_t frame, std::uint32_t rate) {
    return float(amplitude * std::sin(2 * std::numbers::pi * hz * double(frame) / rate));
}

// A simulated device: 10 ms packets of `signal` (frame, channel -> -1..1; a packet of zeros is
// marked silent), captured at its nominal rate off by `ppm`, stamped with the true capture time
// plus `shift` (a gap when it grows) and up to `jitter` either way.
struct TDevice {
    TSoundSource source = TSoundSource::Microphone;
    TSoundFormat format;
    std::function<float(std::int64_t, int)> signal = {};
    double ppm = 0;
    TSoundTime first = kStart, shift = 0, jitter = 0;
    bool discontinuity = false; // marks the next packet
    std::int64_t frame = 0;
    std::mt19937 random{1};

    TSoundTime TimeOf(std::int64_t f) const {
        return first + shift + std::llround(f * 1e7 / (format.rate * (1 + ppm * 1e-6)));
    }
    TSoundBlock Next() {
        TSoundBlock b{.source = source,
                      .time = TimeOf(frame),
                      .format = format,
                      .frames = format.rate / 100,
                      .data = {},
                      .discontinuity = discontinuity};
        if (jitter) b.time += std::uniform_int_distribution<TSoundTime>(-jitter, jitter)(random);
        std::vector<float> v;
        v.reserve(std::size_t(b.frames) * format.channels);
        for (std::int64_t f = frame; f < frame + b.frames; ++f)
            for (int c = 0; c < format.channels; ++c)
                v.push_back(signal(f, c));
        b.silent = std::all_of(v.begin(), v.end(), [](float x) { return x == 0; });
        const std::uint32_t bytes = format.BytesPerFrame() / format.channels;
        for (std::size_t i = 0; i < v.size() && !b.silent; ++i) {
            std::uint32_t raw =
                format.sample == TSampleFormat::Float32
                    ? std::bit_cast<std::uint32_t>(v[i])
                    : std::uint32_t(std::lround(v[i] * ((1u << (bytes * 8 - 1)) - 1.0)));
            for (std::uint32_t k = 0; k < bytes; ++k, raw >>= 8)
                b.data.push_back(std::uint8_t(raw));
        }
        frame += b.frames;
        discontinuity = false;
        return b;
    }
};

// Delivers the devices' packets captured before `to`, taking the track half a second behind
// every 100 ms; `chunk` sees each piece taken (by default the track keeps it).
struct TRecording {
    TSoundTimeline timeline{kStart};
    std::vector<std::int16_t> track;
    std::function<void(const std::vector<std::int16_t>&, std::int64_t)> chunk;
    std::vector<std::int16_t> piece;

    void Run(std::vector<TDevice*> devices, TSoundTime to) {
        for (TSoundTime now = kStart; now <= to; now += 100 * kMs) {
            for (TDevice* d : devices)
                while (d->TimeOf(d->frame + d->format.rate / 100) <= now)
                    timeline.Add(d->Next());
            piece.clear();
            const std::int64_t from = timeline.Taken();
            timeline.Take(timeline.Position(now - 500 * kMs), piece);
            if (chunk)
                chunk(piece, from);
            else
                track.insert(track.end(), piece.begin(), piece.end());
        }
    }
    // Amplitude of a tone in a channel over [a, b) seconds.
    double Level(double hz, int channel, double a, double b) const {
        std::complex<double> sum;
        const auto from = std::int64_t(a * TSoundTimeline::kRate),
                   to = std::int64_t(b * TSoundTimeline::kRate);
        for (std::int64_t i = from; i < to; ++i)
            sum += std::polar(track[2 * i + channel] / 32768.0,
                              -2 * std::numbers::pi * hz * i / TSoundTimeline::kRate);
        return 2 * std::abs(sum) / double(to - from);
    }
    float Peak(double a, double b) const {
        int peak = 0;
        for (auto i = std::int64_t(a * TSoundTimeline::kRate) * 2;
             i < std::int64_t(b * TSoundTimeline::kRate) * 2; ++i)
            peak = std::max(peak, std::abs(int(track[i])));
        return peak / 32768.0f;
    }
};

// Frames where the left channel first reaches 0.6 after 100 ms below it.
struct TOnsets {
    std::vector<std::int64_t> at;
    std::int64_t quietSince = -kFramesPerMs * 1000;
    void Feed(const std::vector<std::int16_t>& t, std::int64_t first) {
        for (std::size_t i = 0; i < t.size(); i += 2) {
            const std::int64_t f = first + std::int64_t(i / 2);
            if (std::abs(t[i]) < 0.6 * 32768) continue;
            if (f - quietSince > 100 * kFramesPerMs) at.push_back(f);
            quietSince = f;
        }
    }
};

// A 5 ms burst at 0.9 at each of the frames, else `otherwise`.
std::function<float(std::int64_t, int)> Markers(std::vector<std::int64_t> frames,
                                                std::function<float(std::int64_t)> otherwise = {}) {
    return [=](std::int64_t f, int) {
        for (std::int64_t m : frames)
            if (f >= m && f < m + 5 * kFramesPerMs) return 0.9f;
        return otherwise ? otherwise(f) : 0.0f;
    };
}

} // namespace

TEST(SoundTimelineTest, DriftingJitteryClocksStayWithinFortyMsForAnHour) {
    // A microphone 0.01 % fast and a 44.1 kHz mono loopback 0.01 % slow, a marker in each every
    // 10 s (5 s apart), timestamps jittering by 3 ms.
    TDevice mic{.format = {48000, 2, TSampleFormat::Int16}, .ppm = 100, .jitter = 3 * kMs};
    TDevice loop{.source = TSoundSource::System,
                 .format = {44100, 1, TSampleFormat::Float32},
                 .ppm = -100,
                 .jitter = 3 * kMs};
    mic.signal = [](std::int64_t f, int) { return f % 480000 < 480 ? 0.9f : 0.0f; };
    loop.signal = [](std::int64_t f, int) { return (f + 220500) % 441000 < 441 ? 0.9f : 0.0f; };
    TRecording r;
    TOnsets onsets;
    r.chunk = [&](const auto& t, std::int64_t first) { onsets.Feed(t, first); };
    const TSoundTime hour = kStart + 3600 * kSoundTicksPerSecond;
    r.Run({&mic, &loop}, hour);

    std::vector<std::int64_t> expected;
    for (std::int64_t f = 0; f < mic.frame; f += 480000)
        expected.push_back(r.timeline.Position(mic.TimeOf(f)));
    for (std::int64_t f = 220500; f < loop.frame; f += 441000)
        expected.push_back(r.timeline.Position(loop.TimeOf(f)));
    std::erase_if(expected, [&](std::int64_t p) { return p >= r.timeline.Taken(); });
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(onsets.at.size(), expected.size());
    std::int64_t worst = 0;
    for (std::size_t i = 0; i < expected.size(); ++i)
        worst = std::max(worst, std::abs(onsets.at[i] - expected[i]));
    EXPECT_LT(worst, 40 * kFramesPerMs);
    std::cout << "worst offset over the hour: " << double(worst) / kFramesPerMs << " ms\n";
}

TEST(SoundTimelineTest, GapsAreSilenceAndJumpsArePlacedAfresh) {
    // A tone at 0.25 from 0 s; no data from 2 s to 5 s; a discontinuity losing 30 ms at 6 s; at
    // 8 s timestamps go back 200 ms (that sound would overlap). Markers at the first frame after
    // the gap and after the discontinuity, 100 ms and 300 ms after the jump back.
    const std::int64_t jump = (8000 - 3030) * kFramesPerMs;
    TDevice d{.format = {48000, 2, TSampleFormat::Int32}};
    d.signal = Markers({96000, 144000, jump + 4800, jump + 14400},
                       [](std::int64_t f) { return Tone(1000, 0.25, f, 48000); });
    TRecording r;
    r.Run({&d}, kStart + 2000 * kMs);
    d.shift += 3000 * kMs;
    r.Run({&d}, kStart + 6000 * kMs);
    d.shift += 30 * kMs;
    d.discontinuity = true;
    r.Run({&d}, kStart + 8000 * kMs);
    d.shift -= 200 * kMs;
    r.Run({&d}, kStart + 10000 * kMs);

    TOnsets onsets;
    onsets.Feed(r.track, 0);
    ASSERT_EQ(onsets.at.size(), 3u); // the marker in the overlap is cut
    EXPECT_NEAR(onsets.at[0], 5000 * kFramesPerMs, 2);
    EXPECT_NEAR(onsets.at[1], 6030 * kFramesPerMs, 2);
    EXPECT_NEAR(onsets.at[2], 8100 * kFramesPerMs, 2);
    EXPECT_NEAR(r.Level(1000, 0, 1.0, 1.99), 0.25, 0.005);
    EXPECT_LT(r.Peak(2.002, 4.999), 0.001f);
    EXPECT_LT(r.Peak(6.002, 6.029), 0.001f);
    EXPECT_NEAR(r.Level(1000, 1, 5.01, 6.0), 0.25, 0.005);
    EXPECT_NEAR(r.Level(1000, 1, 6.04, 8.09), 0.25, 0.005);
}

TEST(SoundTimelineTest, SoundStartsWithThePictureAndALatePacketWithItsTime) {
    // The microphone captures from 0.3 s before the start (its marker there is cut), the loopback
    // delivers its first packet only 0.9 s after it.
    TDevice mic{.format = {48000, 1, TSampleFormat::Int16}, .first = kStart - 300 * kMs};
    mic.signal = Markers({0, 500 * kFramesPerMs});
    TDevice loop{.source = TSoundSource::System,
                 .format = {48000, 2, TSampleFormat::Float32},
                 .first = kStart + 900 * kMs};
    loop.signal = Markers({0});
    TRecording r;
    r.Run({&mic, &loop}, kStart + 2000 * kMs);
    TOnsets onsets;
    onsets.Feed(r.track, 0);
    EXPECT_EQ(onsets.at, (std::vector<std::int64_t>{200 * kFramesPerMs, 900 * kFramesPerMs}));
}

TEST(SoundTimelineTest, PauseDropsItsSoundAndLeavesNoGap) {
    // A tone with markers at 1 s, 2.5 s (paused) and 4.5 s; paused from 2.003 s to 4.003 s.
    TDevice d{.format = {48000, 1, TSampleFormat::Int16}};
    d.signal = Markers({1000 * kFramesPerMs, 2500 * kFramesPerMs, 4500 * kFramesPerMs},
                       [](std::int64_t f) { return Tone(1000, 0.25, f, 48000); });
    TRecording r;
    r.Run({&d}, kStart + 2003 * kMs);
    r.timeline.Pause(kStart + 2003 * kMs);
    r.Run({&d}, kStart + 4003 * kMs);
    r.timeline.Resume(kStart + 4003 * kMs);
    r.Run({&d}, kStart + 6000 * kMs);
    EXPECT_EQ(r.timeline.Position(kStart + 3000 * kMs), 2003 * kFramesPerMs);
    EXPECT_EQ(r.timeline.Position(kStart + 5003 * kMs), 3003 * kFramesPerMs);
    TOnsets onsets;
    onsets.Feed(r.track, 0);
    EXPECT_EQ(onsets.at, (std::vector<std::int64_t>{1000 * kFramesPerMs, 2500 * kFramesPerMs}));
    for (double t = 1.9; t < 2.1; t += 0.001)
        EXPECT_GT(r.Peak(t, t + 0.001), 0.1f) << t;
}

TEST(SoundTimelineTest, FormatsAreResampledAndFoldedToStereo) {
    // 44.1 kHz mono 24-bit plays in the middle at its level and pitch.
    TDevice mono{.format = {44100, 1, TSampleFormat::Int24}};
    mono.signal = [](std::int64_t f, int) { return Tone(1000, 0.5, f, 44100); };
    TRecording a;
    a.Run({&mono}, kStart + 2000 * kMs);
    for (int c = 0; c < 2; ++c) {
        EXPECT_NEAR(a.Level(1000, c, 0.1, 1.4), 0.5, 0.005);
        EXPECT_LT(a.Level(1000 * 48000.0 / 44100, c, 0.1, 1.4), 0.01);
    }
    // 5.1 float: front left, centre, LFE and back right each with its own tone.
    TDevice surround{.source = TSoundSource::System, .format = {48000, 6, TSampleFormat::Float32}};
    const double hz[6] = {500, 0, 1500, 60, 0, 2500};
    surround.signal = [&](std::int64_t f, int c) {
        return Tone(hz[c], c == 3 ? 1.0 : 0.6, f, 48000);
    };
    TRecording b;
    b.Run({&surround}, kStart + 2000 * kMs);
    const double n = 0.6 / (1 + 2 * std::numbers::sqrt2 / 2);
    EXPECT_NEAR(b.Level(500, 0, 0.1, 1.4), n, 0.005);
    EXPECT_LT(b.Level(500, 1, 0.1, 1.4), 0.005);
    for (int c = 0; c < 2; ++c) {
        EXPECT_NEAR(b.Level(1500, c, 0.1, 1.4), n * std::numbers::sqrt2 / 2, 0.005);
        EXPECT_LT(b.Level(60, c, 0.1, 1.4), 0.005);
    }
    EXPECT_LT(b.Level(2500, 0, 0.1, 1.4), 0.005);
    EXPECT_NEAR(b.Level(2500, 1, 0.1, 1.4), n * std::numbers::sqrt2 / 2, 0.005);
    // Every channel at once near full scale cannot clip.
    TDevice loud{.format = {48000, 6, TSampleFormat::Float32}};
    loud.signal = [](std::int64_t f, int) { return Tone(1000, 0.98, f, 48000); };
    TRecording c;
    c.Run({&loud}, kStart + 2000 * kMs);
    EXPECT_GT(c.Peak(0.1, 1.4), 0.9f);
    EXPECT_LT(c.Peak(0.1, 1.4), 0.999f);
}

TEST(SoundTimelineTest, BothSourcesGetHeadroomAndSaturateWithoutWrapping) {
    // A 50 Hz tone at 0.9 from the microphone; the loopback adds it at 0.5 from 2 s, at 1.0 from
    // 3 s.
    TDevice mic{.format = {48000, 2, TSampleFormat::Int16}};
    mic.signal = [](std::int64_t f, int) { return Tone(50, 0.9, f, 48000); };
    TDevice loop{.source = TSoundSource::System,
                 .format = {48000, 2, TSampleFormat::Float32},
                 .first = kStart + 2000 * kMs};
    loop.signal = [](std::int64_t f, int) { return Tone(50, f < 48000 ? 0.5 : 1.0, f, 48000); };
    TRecording r;
    r.Run({&mic, &loop}, kStart + 4500 * kMs);
    EXPECT_NEAR(r.Level(50, 0, 1.0, 2.0), 0.9, 0.005);
    EXPECT_NEAR(r.Level(50, 0, 2.1, 3.0), 1.4 * std::numbers::sqrt2 / 2, 0.005);
    EXPECT_NEAR(r.timeline.Peak(TSoundSource::System), 1.0, 0.01);
    int saturated = 0;
    for (std::int64_t i = 3000 * kFramesPerMs; i < 4000 * kFramesPerMs; ++i) {
        const double expected = std::sin(2 * std::numbers::pi * 50 * double(i) / 48000);
        if (std::abs(expected) > 0.05) {
            EXPECT_EQ(r.track[2 * i] > 0, expected > 0) << i;
        }
        saturated += r.track[2 * i] == 32767 || r.track[2 * i] == -32768;
    }
    EXPECT_GT(saturated, 0);
}
