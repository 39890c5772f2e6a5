// Windows-side tests of the AVI output with sound: files written through TAviOutput, read back by
// AVIFile, ffprobe and ffmpeg sample by sample, and rebuilt from what reached the disk.
#include "engine/AviOutput.h"

#include "EngineTestSupport.h"
#include "media/AviRecovery.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

using namespace enginetest;

namespace {

constexpr int kW = 32, kH = 16, kRate = 10, kSoundPerFrame = 4800;

using TSamples = std::vector<std::int16_t>;

std::string ReadBytes(const std::wstring& path) {
    std::ifstream in(UnixPath(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A stereo ramp, frame `from` on: the left channel climbs in threes, the right falls in ones.
TSamples Ramp(std::size_t from, std::size_t frames) {
    TSamples s;
    for (std::size_t i = from; i < from + frames; ++i)
        s.insert(s.end(), {static_cast<std::int16_t>(i * 3), static_cast<std::int16_t>(0 - i)});
    return s;
}

// An uncompressed 32-bit frame of one grey: the header, then the pixels.
std::vector<BYTE> Frame(BYTE grey) {
    std::vector<BYTE> f(sizeof(BITMAPINFOHEADER) + kW * kH * 4, grey);
    const BITMAPINFOHEADER h{sizeof h, kW, kH, 1, 32, BI_RGB, kW * kH * 4, 0, 0, 0, 0};
    std::memcpy(f.data(), &h, sizeof h);
    return f;
}

std::unique_ptr<engine::TAviOutput> SoundOutput() {
    AVISTREAMINFOW header{};
    header.fccType = streamtypeVIDEO;
    header.dwScale = 1;
    header.dwRate = kRate;
    header.dwSuggestedBufferSize = kW * kH * 4;
    SetRect(&header.rcFrame, 0, 0, kW, kH);
    const std::vector<BYTE> f = Frame(0);
    return std::make_unique<engine::TAviOutput>(
        header, AVICOMPRESSOPTIONS{}, false,
        std::vector<BYTE>(f.begin(), f.begin() + sizeof(BITMAPINFOHEADER)), true);
}

// Writes `frames` frames from position 0, each with its sound in two uneven calls, then `extra`
// frames of sound; gives the samples written.
TSamples WriteFile(engine::TAviOutput& out, int frames, std::size_t from, std::size_t extra) {
    TSamples written;
    bool fileSystem = false;
    auto sound = [&](std::size_t n) {
        const TSamples s = Ramp(from + written.size() / 2, n);
        EXPECT_EQ(out.WriteSound(s.data(), n, fileSystem), 0);
        written.insert(written.end(), s.begin(), s.end());
    };
    for (int i = 0; i < frames; ++i) {
        const std::vector<BYTE> f = Frame(static_cast<BYTE>(i * 8));
        EXPECT_EQ(out.Write(*reinterpret_cast<const BITMAPINFOHEADER*>(f.data()), i, fileSystem),
                  0);
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
    RunUnixShell("ffmpeg -nostdin -v error -i '" + file +
                     "' -f null - && ffmpeg -nostdin -v error " + "-i '" + file +
                     "' -map 0:a -f s16le -y '" + raw + "'",
                 p.errors);
    const std::string bytes = ReadBytes(path + L".raw");
    p.decoded.resize(bytes.size() / 2);
    std::memcpy(p.decoded.data(), bytes.data(), p.decoded.size() * 2);
    return p;
}

// The sound as AVIFile reads it back, and the stream's length in blocks.
TSamples ReadSound(const std::wstring& path, LONG& length) {
    base::TAviFileLibrary library;
    base::TAviFileHandle file;
    base::TAviStreamHandle stream;
    if (AVIFileOpenW(file.put(), path.c_str(), OF_READ, nullptr) != 0 ||
        AVIFileGetStream(file.get(), stream.put(), streamtypeAUDIO, 0) != 0)
        return {};
    length = AVIStreamLength(stream.get());
    TSamples s(static_cast<std::size_t>(length) * 2);
    LONG bytes = 0;
    AVIStreamRead(stream.get(), 0, length, s.data(), length * 4, &bytes, nullptr);
    s.resize(static_cast<std::size_t>(bytes) / 2);
    return s;
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
    const TSamples written = WriteFile(*out, 25, 0, 1234);
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
    LONG length = 0;
    EXPECT_EQ(ReadSound(path, length), written);
    EXPECT_EQ(length, 121234);

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
    const TSamples a = WriteFile(*out, 12, 0, 1000);
    EXPECT_TRUE(out->Close());
    ASSERT_EQ(out->Open(second), 0);
    const TSamples b = WriteFile(*out, 8, a.size() / 2, 0);
    EXPECT_TRUE(out->Close());
    for (const auto& [path, samples] : {std::pair{first, a}, {second, b}}) {
        const TSoundProbe probe = Probe(path);
        EXPECT_EQ(probe.errors, "");
        EXPECT_EQ(probe.decoded, samples);
    }
}
