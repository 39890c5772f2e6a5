// Windows-side tests of the AVI output with sound: files written through TAviOutput, read back by
// AVIFile, ffprobe and ffmpeg sample by sample, and rebuilt from what reached the disk.
#include "engine/AviOutput.h"

#include "EngineTestSupport.h"
#include "media/AviRecovery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

using namespace enginetest;

namespace {

constexpr int kW = 32, kH = 16, kRate = 10, kSoundPerFrame = 4800;

using TSamples = std::vector<std::int16_t>;

// An uncompressed 32-bit frame: its header, then its pixels.
struct TFrame {
    BITMAPINFOHEADER header{sizeof header, kW, kH, 1, 32, BI_RGB, kW* kH * 4, 0, 0, 0, 0};
    BYTE pixels[kW * kH * 4]{};
};

std::unique_ptr<engine::TAviOutput> SoundOutput() {
    AVISTREAMINFOW header{};
    header.fccType = streamtypeVIDEO;
    header.dwScale = 1;
    header.dwRate = kRate;
    const TFrame f;
    const auto* format = reinterpret_cast<const BYTE*>(&f.header);
    return std::make_unique<engine::TAviOutput>(header, AVICOMPRESSOPTIONS{}, false,
                                                std::vector<BYTE>(format, format + sizeof f.header),
                                                true);
}

// Writes `frames` frames from position 0, each with its sound in two uneven calls, then `extra`
// frames of sound: a stereo ramp from frame `from` on, the left channel climbing in threes, the
// right falling in ones. Gives the samples written.
TSamples WriteFile(engine::TAviOutput& out, int frames, std::size_t extra, std::size_t from = 0) {
    TSamples written;
    bool fileSystem = false;
    auto sound = [&](std::size_t n) {
        const std::size_t at = written.size();
        for (std::size_t i = from + at / 2; i < from + at / 2 + n; ++i)
            written.insert(written.end(),
                           {static_cast<std::int16_t>(i * 3), static_cast<std::int16_t>(0 - i)});
        EXPECT_EQ(out.WriteSound(written.data() + at, n, fileSystem), 0);
    };
    const TFrame f;
    for (int i = 0; i < frames; ++i) {
        EXPECT_EQ(out.Write(f.header, i, fileSystem), 0);
        sound(3000);
        sound(kSoundPerFrame - 3000);
    }
    sound(extra);
    return written;
}

// ffprobe's streams (codec, type, sample rate, channels, length in frames or blocks), what ffmpeg
// says while decoding, and the sound it decodes.
struct TSoundProbe {
    std::string streams, errors;
    TSamples decoded;
};
TSoundProbe Probe(const std::wstring& path) {
    TSoundProbe p;
    const std::string file = UnixPath(path), raw = file + ".raw";
    RunUnixShell("ffprobe -v error -show_entries "
                 "stream=codec_type,codec_name,sample_rate,channels,nb_frames "
                 "-of csv=p=0 '" +
                     file + "'",
                 p.streams);
    RunUnixShell("ffmpeg -nostdin -v error -i '" + file + "' -f null - && ffmpeg -nostdin -v " +
                     "error -i '" + file + "' -map 0:a -f s16le -y '" + raw + "'",
                 p.errors);
    std::ifstream in(raw, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    p.decoded.resize(bytes.size() / 2);
    std::memcpy(p.decoded.data(), bytes.data(), p.decoded.size() * 2);
    return p;
}

class AviOutputTest : public ::testing::Test {
protected:
    TTempDir dir;
};

} // namespace

TEST_F(AviOutputTest, TheSoundIsASecondStreamOfExactlyTheSamplesWritten) {
    const auto out = SoundOutput();
    const std::wstring path = dir.File(L"sound.avi"), crashed = dir.File(L"crashed.avi");
    ASSERT_EQ(out->Open(path), 0);
    const TSamples written = WriteFile(*out, 25, 1234);
    // What reached the disk so far, and the note beside it, as a crash would leave them (taken
    // from outside: the program holds both without sharing).
    std::string text, why;
    RunUnixShell("cp '" + UnixPath(path) + "' '" + UnixPath(crashed) + "' && cat '" +
                     UnixPath(path + L".recovering") + "'",
                 text);
    const auto note = media::ParseRecoveryNote(text, why);
    ASSERT_TRUE(note && note->sound.size() == sizeof(WAVEFORMATEX)) << why;
    const std::uint64_t foreseen = out->Size().ClosedSize();
    EXPECT_TRUE(out->Close());

    EXPECT_EQ(FileSize(path), foreseen);
    const TSoundProbe probe = Probe(path);
    EXPECT_EQ(probe.streams, "rawvideo,video,25\npcm_s16le,audio,48000,2,121234\n");
    EXPECT_EQ(probe.errors, "");
    EXPECT_EQ(probe.decoded, written);

    // The rebuild keeps the whole chunks of both streams: a beginning of the sound, in step.
    {
        const base::TKernelHandle h = base::FileHandle(CreateFileW(
            crashed.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        engine::TWin32RecoveryFile file(h.get());
        EXPECT_EQ(media::RecoverAvi(file, *note).outcome, media::RecoveryOutcome::Rebuilt);
    }
    const TSoundProbe rebuilt = Probe(crashed);
    EXPECT_EQ(rebuilt.errors, "");
    ASSERT_GE(rebuilt.decoded.size(), 2u * 24000) << rebuilt.streams;
    EXPECT_TRUE(std::equal(rebuilt.decoded.begin(), rebuilt.decoded.end(), written.begin()));
    EXPECT_NE(rebuilt.streams.find(",audio,48000,2," + std::to_string(rebuilt.decoded.size() / 2)),
              std::string::npos)
        << rebuilt.streams;
}

TEST_F(AviOutputTest, EachFileOfASwitchHoldsTheSoundWrittenToIt) {
    const auto out = SoundOutput();
    const std::wstring first = dir.File(L"first.avi"), second = dir.File(L"second.avi");
    ASSERT_EQ(out->Open(first), 0);
    const TSamples a = WriteFile(*out, 12, 1000);
    EXPECT_TRUE(out->Close());
    ASSERT_EQ(out->Open(second), 0);
    const TSamples b = WriteFile(*out, 8, 0, a.size() / 2);
    EXPECT_TRUE(out->Close());
    for (const auto& [path, samples] : {std::pair{first, a}, {second, b}}) {
        const TSoundProbe probe = Probe(path);
        EXPECT_EQ(probe.errors, "");
        EXPECT_EQ(probe.decoded, samples);
    }
}
