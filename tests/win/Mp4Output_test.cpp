// Windows-side tests of recordings with the built-in H.264 encoder: real MP4 files written by the
// engine, read back by our own reader, ffprobe and ffmpeg.
#include "engine/scrcam.h"

#include "EngineFixture.h"
#include "media/Mp4Recovery.h"
#include "tests/common/Mp4Testing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>

using namespace enginetest;

namespace {

struct TMp4ReadBack {
    std::optional<media::Mp4FileInfo> info;
    std::vector<media::Mp4Sample> samples;
    std::string why;
};

TMp4ReadBack ReadMp4File(const std::wstring& path) {
    std::ifstream in(UnixPath(path), std::ios::binary);
    testing_mp4::TMemoryFile file(
        {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()});
    TMp4ReadBack back;
    back.info = media::ReadMp4(file, back.why, &back.samples);
    return back;
}

// ffprobe's word on the stream's format and colours, and ffmpeg's decode.
std::string Describe(const std::wstring& path) {
    std::string out;
    RunUnixShell("ffprobe -v error -show_entries stream=codec_name,profile,pix_fmt,width,height,"
                 "r_frame_rate,color_space,color_primaries,color_transfer,color_range "
                 "-of csv=p=0 '" +
                     UnixPath(path) + "'",
                 out);
    return out;
}

// A finished file is a regular MP4: ftyp, then only mdat and free boxes (what the fragments were),
// the moov with the sample tables last; its stsz counts what ffmpeg decodes, and ffmpeg seeks
// into its middle without a word.
void ExpectRegular(const std::wstring& path) {
    // The top-level boxes (a run of one type once) and the moov's sample count, as the end-to-end
    // tests read them.
    std::string boxes;
    RunUnixShell("python3 '" QUARNELBY_SOURCE_DIR "/tests/e2e/mp4_boxes.py' '" + UnixPath(path) +
                     "'",
                 boxes);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(boxes, m, std::regex("ftyp free mdat( free mdat)* moov (\\d+)\n")))
        << boxes;
    const int samples = std::stoi(m[2]);
    const TProbe probe = ProbeWithFfmpeg(path);
    EXPECT_EQ(samples, probe.decodedFrames) << probe.raw;
    EXPECT_EQ(probe.ffmpegErrors, "");
    std::string seek;
    RunUnixShell("d=$(ffprobe -v error -show_entries format=duration -of csv=p=0 '" +
                     UnixPath(path) +
                     "'); ffmpeg -v error -ss \"$(awk \"BEGIN { print $d / 2 }\")\" -i '" +
                     UnixPath(path) + "' -frames:v 3 -f null - 2>&1",
                 seek);
    EXPECT_EQ(seek, "");
}

class Mp4OutputTest : public TEngineFixture {
protected:
    void SetUp() override {
        TEngineFixture::SetUp();
        cam->EnumCompressors();
        cam->CompressorIndex = cam->CompressorCount - 1;
        ASSERT_TRUE(cam->RecordsMp4());
        cam->DrawCursor = false;
    }
    // Records for about `ms` while the window paints a new picture every 20 ms.
    void Record(const TPatternWindow& window, const core::Rect& rect, const std::wstring& file,
                DWORD ms) {
        cam->StartRecording(rect, file);
        ASSERT_TRUE(cam->Recording);
        for (DWORD t = 0; t < ms; t += 20) {
            InvalidateRect(window.Handle(), nullptr, FALSE);
            PumpMessages(20);
        }
        cam->StopRecording();
        ASSERT_TRUE(WaitForWorker(*cam));
    }
};

} // namespace

TEST_F(Mp4OutputTest, AnOddPanelRecordsAsH264AtEvenSidesInBt709WithEveryFrame) {
    TPatternWindow window(40, 40, 200, 150, PaintMoving);
    const std::wstring file = dir.File(L"odd.mp4");
    Record(window, {40, 40, 161, 121}, file, 1500);
    EXPECT_TRUE(messages.Shown().empty());
    EXPECT_FALSE(FileExists(file + L".recovering"));

    EXPECT_EQ(Describe(file), "h264,High,162,122,yuv420p,tv,bt709,bt709,bt709,10/1\n");
    const TProbe probe = ProbeWithFfmpeg(file);
    EXPECT_EQ(probe.decodedFrames, cam->FramesWritten) << probe.raw;
    EXPECT_EQ(probe.ffmpegErrors, "");
    ExpectRegular(file);

    const TMp4ReadBack back = ReadMp4File(file);
    ASSERT_TRUE(back.info) << back.why;
    EXPECT_EQ(back.info->timescale, 10u);
    ASSERT_GE(back.samples.size(), 8u);
    EXPECT_EQ(static_cast<int>(back.samples.size()), cam->FramesWritten);
    EXPECT_TRUE(back.samples.front().sync);
    EXPECT_EQ(back.samples.front().time, 0u);
    // Nearly one picture per 100 ms slot, each lasting until the next.
    EXPECT_LE(back.samples.back().time + back.samples.back().duration, back.samples.size() + 3);
}

TEST_F(Mp4OutputTest, EachFileOfALongRecordingBeginsWithAnIdrAndNoSlotIsLost) {
    TPatternWindow window(0, 0, 160, 120, PaintMoving);
    cam->MaxFileBytes = 12 * 1024;
    cam->CaptureInterval = 20;
    Record(window, {0, 0, 160, 120}, dir.File(L"20261209120000.mp4"), 3000);
    const std::vector<std::wstring> files = cam->RecordingFiles();
    std::printf("%zu files, %d frames\n", files.size(), cam->FramesWritten.load());
    ASSERT_GE(files.size(), 3u);
    std::uint64_t samples = 0, ticks = 0;
    for (const std::wstring& f : files) {
        EXPECT_EQ(media::ExtensionOf(f), L".mp4");
        EXPECT_LE(FileSize(f), cam->MaxFileBytes.load());
        const TMp4ReadBack back = ReadMp4File(f);
        ASSERT_TRUE(back.info) << back.why;
        ASSERT_FALSE(back.samples.empty());
        EXPECT_TRUE(back.samples.front().sync) << "a file that begins without an IDR";
        samples += back.samples.size();
        ticks += back.info->duration;
        ExpectRegular(f);
    }
    EXPECT_EQ(samples, static_cast<std::uint64_t>(cam->FramesWritten));
    // The files' durations add up to the recording's slots: each file's last sample lasts one.
    EXPECT_LE(ticks, samples + files.size() + 6);
}

TEST_F(Mp4OutputTest, AnIdrComesAtLeastEveryTenSecondsOfTheFile) {
    // At 10 ms a slot, ten seconds of the file at 10 frames a second pass in one second. The
    // picture stays, so the encoder sees no change that would make an IDR of its own.
    TPatternWindow window(0, 0, 64, 48, [](HDC dc, int w, int h) {
        RECT r{0, 0, w, h};
        FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
    });
    cam->CaptureInterval = 10;
    const std::wstring file = dir.File(L"idr.mp4");
    Record(window, {0, 0, 64, 48}, file, 2500);
    const TMp4ReadBack back = ReadMp4File(file);
    ASSERT_TRUE(back.info) << back.why;
    ASSERT_GT(back.samples.back().time, 150u);
    std::uint64_t lastIdr = 0;
    int idrs = 0;
    for (const media::Mp4Sample& s : back.samples)
        if (s.sync) {
            EXPECT_LE(s.time - lastIdr, 100u);
            lastIdr = s.time;
            ++idrs;
        }
    EXPECT_GE(idrs, 2);
    EXPECT_LE(back.samples.back().time - lastIdr, 100u);
}

// Frames wait in memory at most a second, however slow the pace: at one frame a minute the
// first is on disk long before the second is grabbed.
TEST_F(Mp4OutputTest, AtOneFrameAMinuteTheNewestFrameIsOnDiskWithinASecond) {
    TPatternWindow window(0, 0, 64, 48, PaintMoving);
    cam->CaptureInterval = 60000;
    const std::wstring file = dir.File(L"minute.mp4");
    cam->StartRecording({0, 0, 64, 48}, file);
    ASSERT_TRUE(cam->Recording);
    PumpMessages(2500);
    const TMp4ReadBack back = ReadMp4File(file);
    ASSERT_TRUE(back.info) << back.why;
    EXPECT_EQ(back.samples.size(), 1u);
    EXPECT_EQ(cam->FramesWritten, 1);
    cam->StopRecording();
    ASSERT_TRUE(WaitForWorker(*cam));
    EXPECT_TRUE(messages.Shown().empty());
    ExpectRegular(file);
}
