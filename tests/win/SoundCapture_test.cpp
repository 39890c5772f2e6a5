// The sound capture against the tests' PulseAudio server (scripts/wine.sh): devices listed, tones
// captured from the microphone and the computer's sound, a device lost and back, and no server.
#include "media/SoundFormat.h"
#include "sound/CaptureClient.h"
#include "sound/SoundCapture.h"
#include "sound/SoundDevices.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

using namespace sound;
using media::TSampleFormat;
using media::TSoundBlock;
using media::TSoundSource;
using media::TSoundTime;

namespace {

constexpr TSoundTime kMs = media::kSoundTicksPerSecond / 1000;

std::string Env(const char* name) {
    char value[512];
    const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

// Runs a command of scripts/wine.sh in the background. Wine starts Unix programs but cannot wait
// for them: the tests wait for what the command does, or for a mark it leaves.
void Shell(const std::string& command) {
    const std::string line =
        "/bin/bash -c \"source " QUARNELBY_SOURCE_DIR "/scripts/wine.sh && " + command + "\"";
    std::wstring wide(line.begin(), line.end());
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(nullptr, wide.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &si, &pi))
        << command;
    // Wine gives no handles for a Unix process, but may leave another handle's value in hThread:
    // closing it would close a handle of the process (mmdevapi's registry keys). Close nothing.
}

// Runs the command and waits until it has ended (its mark is on the disk, through Wine's Z:).
void ShellAndWait(const std::string& command) {
    const std::string mark = "/tmp/quarnelby-sound-test-" + std::to_string(GetCurrentProcessId());
    const std::wstring seen = L"Z:" + std::wstring(mark.begin(), mark.end());
    Shell(command + "; touch " + mark);
    for (int i = 0; i < 200 && GetFileAttributesW(seen.c_str()) == INVALID_FILE_ATTRIBUTES; ++i)
        Sleep(50);
    EXPECT_TRUE(DeleteFileW(seen.c_str())) << command;
}

void PlayTone(const std::string& sink, int hz, int seconds) {
    Shell("sound_play_tone " + sink + " " + std::to_string(hz) + " " + std::to_string(seconds));
}

TCaptureOptions Sources(bool microphone, bool system, std::wstring microphoneDevice = {}) {
    TCaptureOptions o;
    o.microphone = microphone;
    o.microphoneDevice = std::move(microphoneDevice);
    o.system = system;
    return o;
}

TSoundTime Duration(const TSoundBlock& b) {
    return static_cast<TSoundTime>(b.frames) * media::kSoundTicksPerSecond / b.format.rate;
}

// Takes blocks from the capture until `done` says so or the seconds have passed.
bool CollectUntil(TSoundCapture& capture, std::vector<TSoundBlock>& blocks,
                  const std::function<bool()>& done, int seconds = 20) {
    for (int i = 0; i < seconds * 20; ++i) {
        capture.Take(blocks);
        if (done()) return true;
        Sleep(50);
    }
    return false;
}

// The first channel of the blocks as numbers in -1..1, whatever the device's sample format.
std::vector<float> FirstChannel(const std::vector<TSoundBlock>& blocks) {
    std::vector<float> out;
    for (const TSoundBlock& b : blocks) {
        const std::uint32_t step = b.format.BytesPerFrame();
        for (std::uint32_t f = 0; f < b.frames; ++f) {
            if (b.silent) {
                out.push_back(0);
                continue;
            }
            const std::uint8_t* p = b.data.data() + static_cast<std::size_t>(f) * step;
            std::int32_t i = 0;
            float v = 0;
            switch (b.format.sample) {
            case TSampleFormat::Int16:
                std::memcpy(reinterpret_cast<char*>(&i) + 2, p, 2);
                v = i / 2147483648.0f;
                break;
            case TSampleFormat::Int24:
                std::memcpy(reinterpret_cast<char*>(&i) + 1, p, 3);
                v = i / 2147483648.0f;
                break;
            case TSampleFormat::Int32:
                std::memcpy(&i, p, 4);
                v = i / 2147483648.0f;
                break;
            case TSampleFormat::Float32:
                std::memcpy(&v, p, 4);
                break;
            }
            out.push_back(v);
        }
    }
    return out;
}

// The strength of one frequency in the samples (Goertzel), relative to their energy.
double Share(const std::vector<float>& x, double hz, std::uint32_t rate) {
    const double w = 2 * std::numbers::pi * hz / rate, c = 2 * std::cos(w);
    double s1 = 0, s2 = 0, energy = 0;
    for (float v : x) {
        const double s0 = v + c * s1 - s2;
        s2 = s1;
        s1 = s0;
        energy += static_cast<double>(v) * v;
    }
    const double power = s1 * s1 + s2 * s2 - c * s1 * s2;
    return energy > 0 ? 2 * power / (x.size() * energy) : 0;
}

// The blocks of one source, their formats alike, whose times follow their durations: Wine stamps
// a packet when its timer moves it (every ~16 ms), so a time may be off by that much, but never
// runs away from the count of the frames.
void ExpectContinuous(const std::vector<TSoundBlock>& blocks) {
    ASSERT_FALSE(blocks.empty());
    TSoundTime elapsed = 0;
    for (std::size_t i = 1; i < blocks.size(); ++i) {
        EXPECT_EQ(blocks[i].format, blocks[0].format);
        EXPECT_GE(blocks[i].time, blocks[i - 1].time);
        elapsed += Duration(blocks[i - 1]);
        EXPECT_NEAR(static_cast<double>(blocks[i].time - blocks[0].time),
                    static_cast<double>(elapsed), static_cast<double>(40 * kMs))
            << "block " << i;
    }
}

std::vector<TSoundBlock> OfSource(const std::vector<TSoundBlock>& blocks, TSoundSource s) {
    std::vector<TSoundBlock> out;
    for (const TSoundBlock& b : blocks)
        if (b.source == s) out.push_back(b);
    return out;
}

TSoundTime Span(const std::vector<TSoundBlock>& blocks) {
    TSoundTime t = 0;
    for (const TSoundBlock& b : blocks)
        t += Duration(b);
    return t;
}

class SoundServerTest : public testing::Test {
protected:
    void SetUp() override {
        output_ = Env("SOUND_OUTPUT_SINK");
        input_ = Env("SOUND_INPUT_SINK");
        if (output_.empty() || input_.empty()) GTEST_SKIP() << "no sound server (wine-run)";
        // The sinks and defaults as the server started, whatever a test before changed.
        ShellAndWait("(pactl list short sinks | grep -q " + input_ + " || sound_sink_load " +
                     input_ + " Microphone) && pactl set-default-sink " + output_ +
                     " && pactl set-default-source " + input_ + ".monitor");
    }
    std::string output_, input_;
};

} // namespace

TEST(MonitorOfOutputTest, PicksTheMonitorOfTheOutputAndNoOther) {
    const std::vector<std::wstring> outputs = {L"PulseAudio", L"HDMI", L"Speakers"};
    EXPECT_EQ(MonitorOfOutput({L"Monitor of HDMI", L"Monitor of Speakers"}, L"Speakers", outputs),
              1u);
    // Wine's own default output has no monitor of its name: the first output listed with one.
    EXPECT_EQ(MonitorOfOutput({L"Monitor of Speakers", L"Monitor of HDMI"}, L"PulseAudio", outputs),
              1u);
    EXPECT_EQ(MonitorOfOutput({L"Mic", L"Stereo Mix (USB)", L"Stereo Mix (Realtek HD)"},
                              L"Speakers (Realtek HD)", {L"Speakers (Realtek HD)"}),
              2u);
    EXPECT_EQ(MonitorOfOutput({L"Mic", L"Monitor of HDMI"}, L"Speakers", {L"Speakers"}),
              std::nullopt);
}

TEST(SoundFormatTest, TakesTheMixFormatsABlockCarries) {
    WAVEFORMATEXTENSIBLE w{};
    w.Format = {WAVE_FORMAT_EXTENSIBLE, 6, 44100, 44100 * 18, 18, 24, 22};
    w.Samples.wValidBitsPerSample = 20;
    w.dwChannelMask = 0x3f;
    w.SubFormat = {1, 0, 0x10, {0x80, 0, 0, 0xaa, 0, 0x38, 0x9b, 0x71}};
    const auto f = SoundFormatOf(w.Format);
    ASSERT_TRUE(f);
    EXPECT_EQ(*f, (media::TSoundFormat{44100, 6, TSampleFormat::Int24, 0x3f}));
    w.Format.wBitsPerSample = 8;
    w.Format.nBlockAlign = 6;
    w.Samples.wValidBitsPerSample = 8;
    EXPECT_FALSE(SoundFormatOf(w.Format));
}

TEST_F(SoundServerTest, ListsTheMonitorsOfTheServersSinks) {
    const std::vector<std::wstring> names = CaptureDeviceNames();
    EXPECT_NE(std::find(names.begin(), names.end(), L"Monitor of PulseAudio"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), L"Monitor of Microphone"), names.end());
}

TEST_F(SoundServerTest, MicrophoneCapturesAToneWithTimesThatFollowTheSamples) {
    PlayTone(input_, 440, 8);
    TSoundCapture capture(Sources(true, false));
    capture.Start();
    EXPECT_EQ(capture.State(TSoundSource::Microphone), TSourceState::Running);
    EXPECT_EQ(capture.State(TSoundSource::System), TSourceState::Off);
    std::vector<TSoundBlock> blocks;
    float level = 0;
    ASSERT_TRUE(CollectUntil(capture, blocks, [&] {
        level = std::max(level, capture.Level(TSoundSource::Microphone));
        return Span(blocks) >= 2 * media::kSoundTicksPerSecond;
    }));
    capture.Stop();
    EXPECT_EQ(capture.MissingMilliseconds(TSoundSource::Microphone), 0u);
    ExpectContinuous(blocks);
    // The meter shows the blocks' own peaks (tones left playing by earlier tests may cancel out).
    float peak = 0;
    for (const TSoundBlock& b : blocks)
        peak = std::max(peak, PeakOf(b));
    EXPECT_GT(level, 0.0f);
    EXPECT_LE(level, peak);
    const media::TSoundFormat f = blocks[0].format;
    std::printf("microphone '%ls': %u Hz, %u channels, sample kind %d, %u frames a block\n",
                capture.SourceName(TSoundSource::Microphone).c_str(), f.rate, f.channels,
                static_cast<int>(f.sample), blocks[1].frames);
    // The last second is the tone, whenever it began.
    std::vector<float> x = FirstChannel(blocks);
    x.erase(x.begin(), x.end() - f.rate);
    EXPECT_GT(Share(x, 440, f.rate), 0.8);
    EXPECT_LT(Share(x, 660, f.rate), 0.05);
}

TEST_F(SoundServerTest, ComputersSoundIsTheOutputsMonitorWhereLoopbackIsRefused) {
    PlayTone(output_, 660, 8);
    TSoundCapture capture(Sources(false, true));
    capture.Start();
    EXPECT_EQ(capture.State(TSoundSource::System), TSourceState::Running);
    // Wine 8 refuses loopback; a Wine that does it records the output itself.
    if (capture.Substituted(TSoundSource::System)) {
        EXPECT_EQ(capture.SourceName(TSoundSource::System), L"Monitor of PulseAudio");
    }
    std::vector<TSoundBlock> blocks;
    ASSERT_TRUE(CollectUntil(capture, blocks,
                             [&] { return Span(blocks) >= 2 * media::kSoundTicksPerSecond; }));
    capture.Stop();
    std::vector<float> x = FirstChannel(blocks);
    x.erase(x.begin(), x.end() - blocks[0].format.rate);
    EXPECT_GT(Share(x, 660, blocks[0].format.rate), 0.8);
}

TEST_F(SoundServerTest, ALostMicrophoneIsMissingWithoutStoppingAnythingAndComesBack) {
    PlayTone(input_, 440, 12);
    PlayTone(output_, 660, 12);
    // By name: PulseAudio moves a stream of its default source elsewhere instead of losing it.
    TSoundCapture capture(Sources(true, true, L"Monitor of Microphone"));
    capture.Start();
    ASSERT_EQ(capture.State(TSoundSource::Microphone), TSourceState::Running);
    EXPECT_FALSE(capture.Substituted(TSoundSource::Microphone));
    std::vector<TSoundBlock> before, after;
    ASSERT_TRUE(CollectUntil(capture, before,
                             [&] { return !OfSource(before, TSoundSource::Microphone).empty(); }));

    Shell("sound_sink_unload " + input_);
    ASSERT_TRUE(CollectUntil(capture, before, [&] {
        return capture.State(TSoundSource::Microphone) == TSourceState::Missing;
    }));
    EXPECT_EQ(capture.Level(TSoundSource::Microphone), 0.0f);
    Shell("sound_sink_load " + input_ + " Microphone && sound_play_tone " + input_ + " 440 10");
    ASSERT_TRUE(CollectUntil(capture, after, [&] {
        const auto mic = OfSource(after, TSoundSource::Microphone);
        return !mic.empty() && capture.State(TSoundSource::Microphone) == TSourceState::Running;
    }));
    capture.Stop();

    EXPECT_EQ(capture.State(TSoundSource::System), TSourceState::Running);
    EXPECT_EQ(capture.MissingMilliseconds(TSoundSource::System), 0u);
    EXPECT_GT(capture.MissingMilliseconds(TSoundSource::Microphone), 0u);
    const auto micBefore = OfSource(before, TSoundSource::Microphone);
    const auto micAfter = OfSource(after, TSoundSource::Microphone);
    EXPECT_TRUE(micAfter.front().discontinuity);
    EXPECT_GT(micAfter.front().time, micBefore.back().time + Duration(micBefore.back()));
    // The computer's sound went on meanwhile.
    EXPECT_FALSE(OfSource(after, TSoundSource::System).empty());
}

TEST_F(SoundServerTest, TheMicrophoneFollowsTheDefaultDevice) {
    PlayTone(input_, 440, 20);
    PlayTone(output_, 660, 20);
    TSoundCapture capture(Sources(true, false));
    capture.Start();
    std::vector<TSoundBlock> blocks;
    ASSERT_TRUE(CollectUntil(capture, blocks, [&] { return !blocks.empty(); }));
    // As when a headset is plugged in: the output's monitor becomes the default input. (PulseAudio
    // moves Wine's stream of its default device, which then goes quiet until opened again.)
    Shell("pactl set-default-source " + output_ + ".monitor");
    const auto hears = [&](int hz) {
        if (Span(blocks) < media::kSoundTicksPerSecond) return false;
        std::vector<float> x = FirstChannel(blocks);
        const std::uint32_t rate = blocks.back().format.rate;
        x.erase(x.begin(), x.end() - rate / 2);
        return Share(x, hz, rate) > 0.8;
    };
    // Wine's stream goes quiet when moved; it is opened again once found quiet for 2 s, and its
    // first packet comes some seconds after that.
    EXPECT_TRUE(CollectUntil(
        capture, blocks, [&] { return hears(660); }, 40));
    EXPECT_EQ(capture.State(TSoundSource::Microphone), TSourceState::Running);
    capture.Stop();
}

// In the run without any sound (wine-run with QUARNELBY_SOUND_SERVER=none).
TEST(NoSoundTest, StartReturnsWithBothSourcesMissing) {
    if (Env("QUARNELBY_SOUND_SERVER") != "none") GTEST_SKIP() << "the machine's sound is on";
    EXPECT_TRUE(CaptureDeviceNames().empty());
    TSoundCapture capture(Sources(true, true));
    capture.Start();
    EXPECT_EQ(capture.State(TSoundSource::Microphone), TSourceState::Missing);
    EXPECT_EQ(capture.State(TSoundSource::System), TSourceState::Missing);
    Sleep(600);
    std::vector<TSoundBlock> blocks;
    capture.Take(blocks);
    EXPECT_TRUE(blocks.empty());
    EXPECT_GT(capture.MissingMilliseconds(TSoundSource::Microphone), 0u);
    capture.Stop();
}
