#include "main/Recovery.h"

#include "EngineFixture.h"
#include "media/Mp4Recovery.h"
#include "tests/common/Mp4Testing.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace enginetest;
using namespace mainwin;

namespace {

constexpr int kW = 64, kH = 48;

std::string ReadBytes(const std::wstring& path) {
    std::ifstream in(UnixPath(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    std::ofstream(UnixPath(path), std::ios::binary)
        .write(bytes.data(), std::streamsize(bytes.size()));
}

// What the recording's writer leaves when the program ends before the file is closed: the
// reserved header area, then whole frames and a torn one.
std::string UnfinishedFile(int frames) {
    std::string file(2048, '\0');
    const std::uint32_t size = kW * kH * 4;
    for (int i = 0; i <= frames; ++i) {
        file += "00db";
        file.append(reinterpret_cast<const char*>(&size), 4);
        file += std::string(i < frames ? size : size / 2, static_cast<char>(i + 1));
    }
    return file;
}

std::string Note() {
    media::RecoveryNote note;
    note.width = kW, note.height = kH, note.bitCount = 32, note.rate = 10;
    BITMAPINFOHEADER f{sizeof f, kW, kH, 1, 32, BI_RGB, kW * kH * 4, 0, 0, 0, 0};
    note.format.assign(reinterpret_cast<BYTE*>(&f), reinterpret_cast<BYTE*>(&f) + sizeof f);
    return media::FormatRecoveryNote(note);
}

class RecoveryTest : public TEngineFixture {};

} // namespace

TEST_F(RecoveryTest, ARunningRecordingsNoteIsHeldAndItsFileLeftAlone) {
    const std::wstring file = dir.File(L"live.avi");
    cam->StartRecording({0, 0, kW, kH}, file);
    ASSERT_TRUE(cam->Recording);
    PumpMessages(600);
    ASSERT_TRUE(FileExists(file + L".recovering"));
    EXPECT_TRUE(RecoverRecordings(dir.Path()).empty());
    EXPECT_TRUE(FileExists(file + L".recovering"));
    EXPECT_EQ(ReadBytes(file).substr(0, 4), std::string(4, '\0')) << "the file was touched";
    cam->StopRecording();
    ASSERT_TRUE(WaitForWorker(*cam));
    EXPECT_FALSE(FileExists(file + L".recovering")) << "a closed file keeps its note";
    EXPECT_TRUE(ReadAvi(file).opened);
}

TEST_F(RecoveryTest, AnInterruptedFileIsRebuiltAndABadNoteKeepsItsFileAsItIs) {
    WriteBytes(dir.File(L"crashed.avi"), UnfinishedFile(3));
    WriteBytes(dir.File(L"crashed.avi.recovering"), Note());
    const std::string bad = UnfinishedFile(2);
    WriteBytes(dir.File(L"garbled.avi"), bad);
    WriteBytes(dir.File(L"garbled.avi.recovering"), "quarnelby recovery note 1\r\nwidth=wide\r\n");

    const std::vector<TRecoveredFile> files = RecoverRecordings(dir.Path());
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].name, L"crashed.avi");
    EXPECT_EQ(files[0].outcome, media::RecoveryOutcome::Rebuilt);
    EXPECT_EQ(files[0].frames, 3u);
    EXPECT_FALSE(FileExists(dir.File(L"crashed.avi.recovering")));
    const TAviReadBack back = ReadAvi(dir.File(L"crashed.avi"));
    EXPECT_TRUE(back.opened);
    EXPECT_EQ(back.length, 3);
    EXPECT_EQ(back.rate, 10u);

    EXPECT_EQ(files[1].outcome, media::RecoveryOutcome::LeftAlone);
    EXPECT_EQ(ReadBytes(dir.File(L"garbled.avi")), bad);
    EXPECT_TRUE(FileExists(dir.File(L"garbled.avi.recovering")));
    const std::wstring report = RecoveryReport(files);
    EXPECT_NE(report.find(L"crashed.avi: 3 frames"), std::wstring::npos) << report.c_str();
    EXPECT_NE(report.find(L"garbled.avi: the note"), std::wstring::npos) << report.c_str();
}

TEST_F(RecoveryTest, AKilledMp4RecordingIsCutBackToItsWholeFragmentsFinishedAndReported) {
    // Two fragments of four pictures reached the disk, then the start of a third.
    testing_mp4::TMemoryFile mp4;
    testing_mp4::WriteTestFile(mp4, {0, 1, 2, 3, 4, 5, 6, 7, 8}, 4, {4, 8}, false);
    const std::string whole(mp4.bytes.begin(), mp4.bytes.end());
    WriteBytes(dir.File(L"killed.mp4"), whole + std::string("\0\0\1\0moof", 8) + "torn");
    WriteBytes(dir.File(L"killed.mp4.recovering"), "anything: an MP4 file needs no note");

    const std::vector<TRecoveredFile> files = RecoverRecordings(dir.Path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].outcome, media::RecoveryOutcome::Rebuilt) << files[0].why;
    EXPECT_EQ(files[0].frames, 8u);
    EXPECT_FALSE(FileExists(dir.File(L"killed.mp4.recovering")));
    // The whole fragments stay where they were, and the regular moov of their samples follows.
    const std::string finished = ReadBytes(dir.File(L"killed.mp4"));
    testing_mp4::TMemoryFile back(testing_mp4::TBytes(finished.begin(), finished.end()));
    std::string why;
    const auto info = media::ReadMp4(back, why);
    ASSERT_TRUE(info) << why;
    EXPECT_EQ(info->wholeEnd, whole.size());
    EXPECT_TRUE(info->regular && info->moovFreed && info->moofsAt.empty());
    const std::wstring report = RecoveryReport(files);
    EXPECT_NE(report.find(L"killed.mp4: 8 frames"), std::wstring::npos) << report.c_str();
}
