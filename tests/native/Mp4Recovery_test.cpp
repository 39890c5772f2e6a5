#include "core/Mp4Recovery.h"

#include "tests/common/Mp4Testing.h"

#include <gtest/gtest.h>

#include <random>

using namespace core;
using namespace testing_mp4;

namespace {

// Three whole fragments of three samples, as a killed recording leaves them: the durations never
// filled in, the tenth sample still waiting in memory.
struct TUnfinished {
    TUnfinished() {
        WriteTestFile(file, {0, 1, 2, 3, 5, 6, 7, 8, 9, 10}, 4, {3, 6, 9}, false);
        std::string why;
        std::vector<Mp4Sample> samples;
        info = *ReadMp4(file, why, &samples);
        thirdStart = samples[6].offset - 8 - (88 + 3 * 12); // its mdat header and moof before it
        thirdData = samples[6].offset;
    }
    TMemoryFile file;
    Mp4FileInfo info;
    std::size_t thirdStart = 0, thirdData = 0;
};

Mp4FileInfo Read(TMemoryFile& file) {
    std::string why;
    const auto info = ReadMp4(file, why);
    EXPECT_TRUE(info) << why;
    return info.value_or(Mp4FileInfo{});
}

// A file the cut has finished: its end after whole fragments, the durations of those stated, and
// read again it is left as it is.
void ExpectFinishedWith(TMemoryFile& file, std::uint64_t samples, std::uint32_t duration) {
    const Mp4FileInfo info = Read(file);
    EXPECT_EQ(info.tail, "");
    EXPECT_EQ(info.wholeEnd, file.bytes.size());
    EXPECT_EQ(info.samples, samples);
    EXPECT_EQ(info.duration, duration);
    EXPECT_EQ(info.mvhdDuration, duration);
    EXPECT_EQ(info.tkhdDuration, duration);
    EXPECT_EQ(info.mdhdDuration, duration);
    EXPECT_EQ(info.mehdDuration, duration);
    const TBytes bytes = file.bytes;
    EXPECT_EQ(CutMp4Tail(file).outcome, RecoveryOutcome::Finished);
    EXPECT_EQ(file.bytes, bytes);
}

} // namespace

TEST(CutMp4TailTest, CutsATornLastFragmentWhereverTheFileEnds) {
    const TUnfinished whole;
    ASSERT_EQ(whole.info.fragments, 3u);
    for (std::size_t cut = whole.thirdStart + 1; cut < whole.file.bytes.size(); ++cut) {
        SCOPED_TRACE(cut);
        TMemoryFile file(TBytes(whole.file.bytes.begin(),
                                whole.file.bytes.begin() + static_cast<std::ptrdiff_t>(cut)));
        const RecoveryResult result = CutMp4Tail(file);
        EXPECT_EQ(result.outcome, RecoveryOutcome::Rebuilt);
        EXPECT_EQ(result.frames, 6u);
        EXPECT_EQ(file.bytes.size(), whole.thirdStart);
        // The sixth sample lasts up to the seventh's position.
        ExpectFinishedWith(file, 6, 7);
    }
}

TEST(CutMp4TailTest, FillsInTheDurationsOfAFileThatEndsAfterWholeFragments) {
    TUnfinished whole;
    EXPECT_EQ(whole.info.mdhdDuration, 0u);
    EXPECT_FALSE(whole.info.mehdDuration);
    const std::size_t size = whole.file.bytes.size();
    const RecoveryResult result = CutMp4Tail(whole.file);
    EXPECT_EQ(result.outcome, RecoveryOutcome::Rebuilt);
    EXPECT_EQ(result.frames, 9u);
    EXPECT_EQ(whole.file.bytes.size(), size);
    ExpectFinishedWith(whole.file, 9, 10);

    // A file with its header alone.
    TMemoryFile empty(
        TBytes(whole.file.bytes.begin(),
               whole.file.bytes.begin() + static_cast<std::ptrdiff_t>(whole.info.headerEnd)));
    EXPECT_EQ(CutMp4Tail(empty).outcome, RecoveryOutcome::Rebuilt);
    ExpectFinishedWith(empty, 0, 0);
}

TEST(CutMp4TailTest, WritesNothingToAFinishedFile) {
    TMemoryFile file;
    WriteTestFile(file, {0, 1, 2, 3, 4}, 4, {2}, true);
    file.writes = 0;
    const RecoveryResult result = CutMp4Tail(file);
    EXPECT_EQ(result.outcome, RecoveryOutcome::Finished);
    EXPECT_EQ(file.writes, 0);
}

TEST(CutMp4TailTest, CutsZerosGarbageAndALastFragmentWhoseDataIsZeros) {
    const TUnfinished whole;
    auto recovered = [&](TBytes bytes) {
        TMemoryFile file(std::move(bytes));
        const RecoveryResult result = CutMp4Tail(file);
        EXPECT_EQ(result.outcome, RecoveryOutcome::Rebuilt);
        return std::pair{result.frames, file.bytes.size()};
    };
    const std::size_t end = whole.file.bytes.size();
    TBytes zeros = whole.file.bytes;
    zeros.resize(end + 5000, 0);
    EXPECT_EQ(recovered(zeros), std::pair(9u, end));

    TBytes garbage = whole.file.bytes;
    std::mt19937 random(3);
    for (int i = 0; i < 300; ++i)
        garbage.push_back(static_cast<std::uint8_t>(random()));
    EXPECT_EQ(recovered(garbage), std::pair(9u, end));
    // A box header that promises more than the file holds, and one of 64-bit size.
    TBytes huge = whole.file.bytes;
    huge.insert(huge.end(), {0xFF, 0xFF, 0xFF, 0xF0, 'm', 'o', 'o', 'f', 0, 0, 0, 0});
    EXPECT_EQ(recovered(huge), std::pair(9u, end));
    TBytes large = whole.file.bytes;
    large.insert(large.end(), {0, 0, 0, 1, 'm', 'o', 'o', 'f', 0xFF, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(recovered(large), std::pair(9u, end));

    // The system went down after the file's size reached the disk but before its last data.
    TBytes hole = whole.file.bytes;
    std::fill(hole.begin() + static_cast<std::ptrdiff_t>(whole.thirdData), hole.end(), 0);
    EXPECT_EQ(recovered(hole), std::pair(6u, whole.thirdStart));
}

TEST(CutMp4TailTest, CutsAFragmentWhoseBoxesLie) {
    const TUnfinished whole;
    const std::size_t trun =
        whole.thirdStart + 8 + 16 + 8 + 16 + 20; // moof, mfhd, traf, tfhd, tfdt
    auto put32 = [](TBytes& b, std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
    };
    const std::pair<std::size_t, std::uint32_t> lies[] = {
        {trun + 12, 0xFFFFFFFF},                       // sample count
        {trun + 16, 0},                                // data offset
        {trun + 20 + 4, 0xFFFFFFF0},                   // a sample's size
        {trun + 20, 0},                                // a sample that lasts no time
        {whole.thirdStart + 8 + 12, 7},                // the fragment's sequence number
        {whole.thirdStart + 8 + 16 + 8 + 16 + 12, 99}, // its time does not follow on
        {whole.thirdStart, 0},                         // the moof's size
        {whole.thirdStart, 1},
        {whole.thirdStart + 8, 0xFFFF}, // mfhd's
        {whole.thirdData - 8, 0},       // the mdat's
    };
    for (const auto& [at, value] : lies) {
        SCOPED_TRACE(testing::Message() << "at " << at << ": " << value);
        TMemoryFile file(whole.file.bytes);
        put32(file.bytes, at, value);
        const RecoveryResult result = CutMp4Tail(file);
        EXPECT_EQ(result.outcome, RecoveryOutcome::Rebuilt);
        EXPECT_EQ(result.frames, 6u);
        EXPECT_EQ(file.bytes.size(), whole.thirdStart);
    }
}

TEST(CutMp4TailTest, LeavesAloneWhatIsNotARecordingOrCannotBeRead) {
    const TUnfinished whole;
    const std::size_t moov = 32;
    auto leftAlone = [](TBytes bytes, bool failReads = false) {
        TMemoryFile file(bytes);
        file.failReads = failReads;
        const RecoveryResult result = CutMp4Tail(file);
        EXPECT_EQ(result.outcome, RecoveryOutcome::LeftAlone);
        EXPECT_EQ(file.writes, 0);
        EXPECT_EQ(file.bytes, bytes);
        return result.why;
    };
    EXPECT_EQ(leftAlone(whole.file.bytes, true), "the file cannot be read");
    EXPECT_EQ(leftAlone({}), "not a recording of this program");
    TBytes riff = whole.file.bytes;
    std::copy_n("RIFF", 4, riff.begin() + 4);
    EXPECT_EQ(leftAlone(riff), "not a recording of this program");
    // A moov cut short, and one with a second track.
    EXPECT_EQ(leftAlone(TBytes(whole.file.bytes.begin(), whole.file.bytes.begin() + moov + 100)),
              "not a recording of this program");
    TBytes twoTracks = whole.file.bytes;
    const auto trak = std::search(twoTracks.begin(), twoTracks.end(), std::begin("mvex"),
                                  std::begin("mvex") + 4) -
                      4;
    std::copy_n("trak", 4, trak + 4);
    EXPECT_EQ(leftAlone(twoTracks), "not a recording of this program");
}

// Bytes changed at random never crash or hang the cut; what it keeps reads as finished.
TEST(CutMp4TailTest, SurvivesChangedBytesAnywhere) {
    const TUnfinished whole;
    std::mt19937 random(11);
    for (int round = 0; round < 3000; ++round) {
        TMemoryFile file(whole.file.bytes);
        const int changes = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < changes; ++i)
            file.bytes[random() % file.bytes.size()] = static_cast<std::uint8_t>(random());
        if (random() % 4 == 0) file.bytes.resize(random() % file.bytes.size());
        const RecoveryResult result = CutMp4Tail(file);
        if (result.outcome == RecoveryOutcome::LeftAlone) continue;
        const TBytes bytes = file.bytes;
        ASSERT_EQ(CutMp4Tail(file).outcome, RecoveryOutcome::Finished) << round;
        ASSERT_EQ(file.bytes, bytes);
    }
}
