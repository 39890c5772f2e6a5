// Windows-side tests of long recordings: the file size limit and a full disk, with real AVI files
// read back through the AVIFile API and ffprobe/ffmpeg.
#include "engine/scrcam.h"

#include "engine/RecordOutput.h"
#include "engine/msvc1drv.h"

#include "EngineFixture.h"
#include "EngineTestSupport.h"
#include "TestCompressors.h"
#include "core/CaptureRules.h"
#include "core/Text.h"
#include "media/FileSplit.h"
#include "media/Mp4Recovery.h"
#include "core/RecordNaming.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

using namespace engine;
using namespace enginetest;

namespace {

constexpr DWORD kMSVC = core::FourCC('M', 'S', 'V', 'C');

std::wstring NowStampName(const std::wstring& folder) {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    const core::DateTime now{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
    return folder + L"\\" + core::DateStampOf(now) + core::TimeStampOf(now) + L".avi";
}

// Seconds since midnight of a "YYYYMMDDHHMMSS" stamp (the tests run far from midnight's edge
// only in the sense that a day change is allowed for below).
long long StampSeconds(const std::wstring& stamp) {
    auto n = [&](std::size_t at, std::size_t len) { return std::stoll(stamp.substr(at, len)); };
    return ((n(6, 2) * 24 + n(8, 2)) * 60 + n(10, 2)) * 60 + n(12, 2);
}

std::vector<std::wstring> AviFilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"\\*.avi").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        names.push_back(folder + L"\\" + fd.cFileName);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    std::sort(names.begin(), names.end());
    return names;
}

// Whether the sample at the position is a key frame, as the AVIFile API reads the file.
bool KeyFrameAt(const std::wstring& file, LONG position) {
    AVIFileInit();
    PAVIFILE f = nullptr;
    bool key = false;
    if (AVIFileOpenW(&f, file.c_str(), OF_READ | OF_SHARE_DENY_WRITE, nullptr) == 0) {
        PAVISTREAM s = nullptr;
        if (AVIFileGetStream(f, &s, streamtypeVIDEO, 0) == 0) {
            key = AVIStreamFindSample(s, position, FIND_KEY | FIND_PREV) == position;
            AVIStreamRelease(s);
        }
        AVIFileRelease(f);
    }
    AVIFileExit();
    return key;
}

// What ffprobe says of the first frame: "1" for a key frame.
std::string FirstFrameKeyByFfprobe(const std::wstring& file) {
    std::string out;
    RunUnixShell("ffprobe -v error -select_streams v -read_intervals '%+#1' -show_entries "
                 "frame=key_frame -of csv=p=0 '" +
                     UnixPath(file) + "'",
                 out);
    out.erase(std::remove_if(out.begin(), out.end(), [](char c) { return c == '\n' || c == '\r'; }),
              out.end());
    return out;
}

class LongRecordingTest : public TEngineFixture {
protected:
    // Records until the recording has `files` files, then stops at once.
    void RecordUntilFiles(const core::Rect& rect, const std::wstring& first, std::size_t files) {
        cam->StartRecording(rect, first);
        ASSERT_TRUE(cam->Recording);
        const bool reached = base::TThread::ServeUntil(
            [&] { return cam->RecordingFiles().size() >= files || !cam->Recording; }, 60000);
        cam->StopRecording();
        ASSERT_TRUE(WaitForWorker(*cam));
        ASSERT_TRUE(reached);
    }
    // Every file reads back without error, starts at position 0 with a key frame, stays within
    // the limit; returns the frames of all of them.
    int CheckFiles(const std::vector<std::wstring>& files, std::uint64_t limit) {
        int total = 0;
        for (const std::wstring& f : files) {
            SCOPED_TRACE(UnixPath(f));
            EXPECT_LE(FileSize(f), limit);
            const TAviReadBack avi = ReadAvi(f);
            EXPECT_TRUE(avi.opened);
            EXPECT_FALSE(avi.positions.empty());
            if (avi.positions.empty()) continue;
            EXPECT_EQ(avi.positions.front(), 0);
            EXPECT_TRUE(KeyFrameAt(f, 0));
            total += static_cast<int>(avi.positions.size());
            const TProbe probe = ProbeWithFfmpeg(f);
            EXPECT_TRUE(probe.ran) << probe.raw;
            EXPECT_GE(probe.decodedFrames, static_cast<int>(avi.positions.size())) << probe.raw;
            EXPECT_EQ(probe.ffmpegExit, 0);
            EXPECT_EQ(probe.ffmpegErrors, "");
            EXPECT_EQ(FirstFrameKeyByFfprobe(f), "1");
        }
        return total;
    }
};

} // namespace

// ---------------------------------------------------------------------------------------------
// The file size limit

TEST_F(LongRecordingTest, CrossingTheLimitTwiceLeavesThreeCompleteFilesInOrder) {
    TPatternWindow window(40, 40, 64, 48, PaintMoving);
    // 12 KB frames, about twelve to a file: a file every 1.2 s at ten frames a second.
    const std::uint64_t limit = 2048 + 12 * (8 + 64 * 48 * 4 + 16) + 28 + 100;
    cam->MaxFileBytes = limit;
    const std::wstring first = NowStampName(dir.Path());
    RecordUntilFiles({40, 40, 64, 48}, first, 3);
    EXPECT_TRUE(messages.Shown().empty());

    const std::vector<std::wstring> files = cam->RecordingFiles();
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files.front(), first);
    EXPECT_EQ(cam->FileName, first);
    // The files on disk are exactly these, and sorting their names gives recording order.
    EXPECT_EQ(AviFilesIn(dir.Path()), files);
    for (std::size_t i = 1; i < files.size(); ++i) {
        const std::wstring a = media::StampOf(files[i - 1]), b = media::StampOf(files[i]);
        ASSERT_EQ(b.size(), 14u);
        EXPECT_GE(b, a);
        EXPECT_LE(StampSeconds(b) - StampSeconds(a), 3) << "named by the time of the switch";
    }
    // Every frame written is in one of them.
    EXPECT_EQ(CheckFiles(files, limit), cam->FramesWritten);
    // The recording time went on across the switches.
    EXPECT_GT(cam->ElapsedTime, 2000u);
}

TEST_F(LongRecordingTest, NoSlotIsLostBetweenFiles) {
    // At one slot per pass (a long interval), the frames of all files together cover every slot:
    // the last position of a file plus one is the first slot of the next.
    cam->CaptureInterval = 150;
    const std::uint64_t limit = 2048 + 5 * (8 + 32 * 32 * 4 + 16) + 28 + 50;
    cam->MaxFileBytes = limit;
    RecordUntilFiles({0, 0, 32, 32}, NowStampName(dir.Path()), 3);
    const std::vector<std::wstring> files = cam->RecordingFiles();
    ASSERT_EQ(files.size(), 3u);
    LONG slots = 0;
    int frames = 0;
    for (const std::wstring& f : files) {
        const TAviReadBack avi = ReadAvi(f);
        ASSERT_TRUE(avi.opened);
        ASSERT_FALSE(avi.positions.empty());
        // A full file holds five frames; the last may still have been filling at the stop.
        if (f != files.back()) {
            EXPECT_EQ(avi.positions.size(), 5u);
        }
        EXPECT_EQ(avi.positions.front(), 0);
        slots += avi.positions.back() + 1;
        frames += static_cast<int>(avi.positions.size());
    }
    // The last file may still have been filling when the recording stopped.
    EXPECT_EQ(frames, cam->FramesWritten);
    EXPECT_LE(slots, frames + 2) << "at most a rare dropped slot on a busy host";
}

TEST_F(LongRecordingTest, CompressedFilesStartWithAKeyFrameAndCloseTheirCompressor) {
    TTestCompressors compressors;
    const DWORD fcc = mmioFOURCC('Q', 'S', 'P', 'L');
    TCompressorLog* log = compressors.Install(fcc, {});
    ASSERT_NE(log, nullptr);
    cam->EnumCompressors();
    cam->CompressorIndex = CatalogueIndex(fcc);
    ASSERT_GE(cam->CompressorIndex, 0);
    const std::uint64_t limit = 2048 + 8 * (8 + 48 * 32 * 4 + 16) + 28 + 50;
    cam->MaxFileBytes = limit;
    RecordUntilFiles({0, 0, 48, 32}, NowStampName(dir.Path()), 3);
    EXPECT_TRUE(messages.Shown().empty());
    const std::vector<std::wstring> files = cam->RecordingFiles();
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(CheckFiles(files, limit), cam->FramesWritten);
    EXPECT_EQ(log->framesCompressed, cam->FramesWritten);
    // Wine's compressing stream leaves its instance open; the engine closes it with the file.
    EXPECT_EQ(log->StillOpen(ICMODE_COMPRESS), 0);
    EXPECT_EQ(log->StillOpen(ICMODE_QUERY), 0);
}

TEST_F(LongRecordingTest, OwnMsvc1FilesBeginWithAKeyFrameBetweenKeyFrameSlots) {
    ASSERT_TRUE(InstallOwnMsvc1IfNeeded(cam->BitsPerPixel));
    cam->EnumCompressors();
    cam->CompressorIndex = CatalogueIndex(kMSVC);
    ASSERT_GE(cam->CompressorIndex, 0);
    cam->KeyFrameRate = 50; // within a file, only its first frame is a key frame
    TPatternWindow window(0, 0, 64, 48, PaintMoving);
    const std::uint64_t limit = 6000;
    cam->MaxFileBytes = limit;
    RecordUntilFiles({0, 0, 64, 48}, NowStampName(dir.Path()), 3);
    RemoveOwnMsvc1();
    EXPECT_TRUE(messages.Shown().empty());
    const std::vector<std::wstring> files = cam->RecordingFiles();
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(CheckFiles(files, limit), cam->FramesWritten);
    for (const std::wstring& f : files) {
        const TProbe probe = ProbeWithFfmpeg(f);
        EXPECT_EQ(probe.codecName, "msvideo1") << probe.raw;
    }
}

TEST_F(LongRecordingTest, AnOwnersNameIsUsedAndTheListIsFixedOnceStopped) {
    int named = 0;
    cam->NextFileName = [&] { return dir.File(L"part" + std::to_wstring(++named + 1) + L".avi"); };
    cam->MaxFileBytes = 2048 + 4 * (8 + 32 * 32 * 4 + 16) + 28;
    RecordUntilFiles({0, 0, 32, 32}, dir.File(L"part1.avi"), 3);
    const std::vector<std::wstring> files = cam->RecordingFiles();
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[1], dir.File(L"part2.avi"));
    EXPECT_EQ(files[2], dir.File(L"part3.avi"));
    EXPECT_EQ(AviFilesIn(dir.Path()), files);
    // A name the owner gives twice would replace a file of the recording: the default is used.
    const std::wstring again = dir.File(L"part3.avi");
    cam->NextFileName = [&] { return again; };
    RecordUntilFiles({0, 0, 32, 32}, again, 2);
    const std::vector<std::wstring> second = cam->RecordingFiles();
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0], again);
    EXPECT_EQ(media::FolderOf(second[1]), dir.Path());
    EXPECT_EQ(media::StampOf(second[1]).size(), 14u);
    EXPECT_GT(ReadAvi(again).positions.size(), 2u) << "the first file was not replaced";
    // A new recording starts a new list.
    cam->StartRecording({0, 0, 32, 32}, dir.File(L"again.avi"));
    EXPECT_EQ(cam->RecordingFiles(), std::vector<std::wstring>{dir.File(L"again.avi")});
    cam->StopRecording();
    ASSERT_TRUE(WaitForWorker(*cam));
}

TEST_F(LongRecordingTest, ANameSourceSetDuringARecordingNamesOnlyTheNextRecordingsFiles) {
    // The recording's source is held in its first call until the owner has set another one; once
    // waiting it reads none of its captures, which are gone if it is replaced under the worker.
    std::atomic<bool> entered{false}, go{false};
    int named = 0;
    cam->NextFileName = [&] {
        const std::wstring name = dir.File(L"own" + std::to_wstring(++named + 1) + L".avi");
        const std::atomic<bool>& release = go;
        entered = true;
        while (!release)
            Sleep(1);
        return name;
    };
    cam->MaxFileBytes = 2048 + 4 * (8 + 32 * 32 * 4 + 16) + 28;
    cam->StartRecording({0, 0, 32, 32}, dir.File(L"own1.avi"));
    const bool switching = base::TThread::ServeUntil([&] { return entered.load(); }, 20000);
    cam->NextFileName = [&] { return dir.File(L"later.avi"); };
    go = true;
    ASSERT_TRUE(switching);
    const bool reached =
        base::TThread::ServeUntil([&] { return cam->RecordingFiles().size() >= 3; }, 60000);
    cam->StopRecording();
    ASSERT_TRUE(WaitForWorker(*cam));
    ASSERT_TRUE(reached);
    EXPECT_EQ(cam->RecordingFiles(),
              (std::vector<std::wstring>{dir.File(L"own1.avi"), dir.File(L"own2.avi"),
                                         dir.File(L"own3.avi")}));
    RecordUntilFiles({0, 0, 32, 32}, dir.File(L"next.avi"), 2);
    ASSERT_EQ(cam->RecordingFiles().size(), 2u);
    EXPECT_EQ(cam->RecordingFiles()[1], dir.File(L"later.avi"));
}

// ---------------------------------------------------------------------------------------------
// A full disk. The test driver mounts a 4 MB file system and names it in QUARNELBY_SMALL_DISK;
// where mounting is not allowed the free space of a 4 MB disk is played through the engine's
// free-space service instead.

namespace {

constexpr std::uint64_t kSmallDisk = 4u << 20;

class SmallDiskTest : public LongRecordingTest {
protected:
    void SetUp() override {
        LongRecordingTest::SetUp();
        const char* env = std::getenv("QUARNELBY_SMALL_DISK");
        if (!env || !*env) GTEST_SKIP() << "run by the win_scrcam_smalldisk test";
        folder = std::wstring(env, env + std::strlen(env));
        ULARGE_INTEGER free{}, total{};
        realDisk = GetDiskFreeSpaceExW((folder + L"\\").c_str(), &free, &total, nullptr) &&
                   total.QuadPart <= 2 * kSmallDisk;
        std::printf("small disk: %s\n",
                    realDisk ? "a real mounted file system" : "played by the free-space service");
        if (!realDisk) {
            // A 4 MB disk holding only this folder's files.
            cam->Services.FreeDiskBytes = [this](const std::wstring&) -> std::uint64_t {
                std::uint64_t used = 0;
                for (const std::wstring& f : AviFilesIn(folder))
                    used += (FileSize(f) + 4095) / 4096 * 4096;
                return used < kSmallDisk ? kSmallDisk - used : 0;
            };
        }
    }
    void TearDown() override {
        LongRecordingTest::TearDown();
        for (const std::wstring& f : AviFilesIn(folder))
            DeleteFileW(f.c_str());
    }
    // Records on the small disk until the recording ends by itself.
    void RecordUntilItEnds(const std::wstring& file) {
        cam->CaptureInterval = 1;
        cam->StartRecording({0, 0, 160, 120}, file);
        const bool ended = base::TThread::ServeUntil([&] { return !cam->Recording; }, 60000);
        if (!ended) cam->StopRecording();
        ASSERT_TRUE(WaitForWorker(*cam));
        ASSERT_TRUE(ended) << "the recording did not end on a full disk";
    }
    void ExpectReadableWithEveryFrame(const std::wstring& file) {
        const TAviReadBack avi = ReadAvi(file);
        ASSERT_TRUE(avi.opened);
        EXPECT_GT(cam->FramesWritten, 10);
        EXPECT_EQ(static_cast<int>(avi.positions.size()), cam->FramesWritten);
        const TProbe probe = ProbeWithFfmpeg(file);
        EXPECT_GE(probe.decodedFrames, cam->FramesWritten) << probe.raw;
        EXPECT_EQ(probe.ffmpegExit, 0);
        EXPECT_EQ(probe.ffmpegErrors, "");
    }

    std::wstring folder;
    bool realDisk = false;
};

} // namespace

TEST_F(SmallDiskTest, AFullDiskEndsTheRecordingOnceAndKeepsEveryFrameWritten) {
    const std::wstring file = folder + L"\\full.avi";
    RecordUntilItEnds(file);
    const auto shown = messages.Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, L"Error Creating AVI file");
    EXPECT_EQ(shown[0].caption, L"Error");
    ExpectReadableWithEveryFrame(file);
    // The disk was used: the file holds most of it.
    EXPECT_GT(FileSize(file), kSmallDisk / 2);
    EXPECT_LE(FileSize(file), kSmallDisk);
}

TEST_F(SmallDiskTest, WithAnotherCompressorAFullDiskAsksNothingAndKeepsTheFile) {
    TTestCompressors compressors;
    const DWORD fcc = mmioFOURCC('Q', 'D', 'S', 'K');
    ASSERT_NE(compressors.Install(fcc, {}), nullptr);
    cam->EnumCompressors();
    cam->CompressorIndex = CatalogueIndex(fcc);
    ASSERT_GE(cam->CompressorIndex, 0);
    // A Yes would record over the file: it must not be asked.
    messages.Answer(IDYES);
    const std::wstring file = folder + L"\\other.avi";
    RecordUntilItEnds(file);
    const auto shown = messages.Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, L"Error Creating AVI file");
    EXPECT_EQ(cam->CompressorHandler, fcc);
    ExpectReadableWithEveryFrame(file);
}

TEST_F(SmallDiskTest, AWriteTheFileSystemRefusesEndsTheRecordingWithOneMessage) {
    if (!realDisk) GTEST_SKIP() << "needs the mounted file system";
    // Blind the engine's look at the free space, so the disk really runs full under the writer.
    cam->Services.FreeDiskBytes = [](const std::wstring&) {
        return std::numeric_limits<std::uint64_t>::max();
    };
    const std::wstring file = folder + L"\\refused.avi";
    RecordUntilItEnds(file);
    const auto shown = messages.Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, L"Error Creating AVI file");
    std::printf("frames counted before the refused write: %d; file %llu bytes\n",
                cam->FramesWritten.load(), static_cast<unsigned long long>(FileSize(file)));
}

// An MP4 file that cannot be finished is not taken for a good one: the recording ends with the
// message, the file keeps its note and plays as it is, and the next start's finishing completes
// it once there is room. (Its regular moov needs more than a page: the recording has over a
// thousand frames.)
TEST_F(SmallDiskTest, AnMp4FileThatCannotBeFinishedKeepsItsNoteForTheNextStart) {
    if (!realDisk) GTEST_SKIP() << "needs the mounted file system";
    cam->Services.FreeDiskBytes = [](const std::wstring&) {
        return std::numeric_limits<std::uint64_t>::max();
    };
    cam->EnumCompressors();
    cam->CompressorIndex = cam->CompressorCount - 1;
    ASSERT_TRUE(cam->RecordsMp4());
    cam->CaptureInterval = 1;
    const std::wstring file = folder + L"\\unfinished.mp4", filler = folder + L"\\filler";
    cam->StartRecording({0, 0, 64, 48}, file);
    base::TThread::ServeUntil([&] { return cam->FramesWritten > 2500; }, 20000);
    {
        // The rest of the disk, to the last byte, goes to another file.
        const base::TKernelHandle f = base::FileHandle(
            CreateFileW(filler.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(f);
        const std::vector<char> block(65536);
        for (DWORD size = 65536; size > 0; size /= 2) {
            DWORD done = 0;
            while (WriteFile(f.get(), block.data(), size, &done, nullptr) && done == size) {
            }
        }
    }
    const bool ended = base::TThread::ServeUntil([&] { return !cam->Recording; }, 10000);
    if (!ended) cam->StopRecording();
    ASSERT_TRUE(WaitForWorker(*cam));
    const auto shown = messages.Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, L"Error Creating AVI file");
    EXPECT_TRUE(FileExists(file + L".recovering"));
    EXPECT_EQ(ProbeWithFfmpeg(file).ffmpegErrors, "");

    DeleteFileW(filler.c_str());
    {
        const base::TKernelHandle again = base::FileHandle(CreateFileW(
            file.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(again);
        engine::TWin32RecoveryFile recovered(again.get());
        const media::RecoveryResult result = media::FinishMp4(recovered);
        EXPECT_EQ(result.outcome, media::RecoveryOutcome::Rebuilt);
        EXPECT_GT(result.frames, 1000u);
    }
    const TProbe probe = ProbeWithFfmpeg(file);
    EXPECT_EQ(probe.ffmpegErrors, "");
    EXPECT_GT(probe.decodedFrames, 1000);
    DeleteFileW(file.c_str());
    DeleteFileW((file + L".recovering").c_str());
}
