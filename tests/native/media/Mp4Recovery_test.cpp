#include "media/Mp4Recovery.h"

#include "tests/common/Mp4Testing.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

using namespace media;
using namespace testing_mp4;

namespace {

// Three whole fragments of three samples, as a killed recording leaves them: the durations never
// filled in, the tenth sample still in memory. Six samples last 7 positions, nine 10.
struct TUnfinished {
    TUnfinished() {
        WriteTestFile(file, {0, 1, 2, 3, 5, 6, 7, 8, 9, 10}, 4, {3, 6, 9}, false);
        std::string why;
        std::vector<Mp4Sample> samples;
        info = ReadMp4(file, why, &samples).value();
        thirdData = samples.at(6).offset;
        thirdStart = thirdData - 8 - (88 + 3 * 12); // its mdat header and moof
    }
    TMemoryFile file;
    Mp4FileInfo info;
    std::size_t thirdStart = 0, thirdData = 0;
};

// The cut's result, and that the file it leaves reads as finished: whole fragments up to its end,
// their duration stated everywhere, and nothing written when it is cut again.
RecoveryResult CutAndCheck(TMemoryFile& file) {
    const RecoveryResult result = CutMp4Tail(file);
    if (result.outcome == RecoveryOutcome::LeftAlone) return result;
    std::string why;
    const auto info = ReadMp4(file, why);
    EXPECT_TRUE(info) << why;
    if (!info) return result;
    const std::uint32_t d = static_cast<std::uint32_t>(info->duration);
    EXPECT_EQ(info->tail, "");
    EXPECT_EQ(info->samples, result.frames);
    EXPECT_EQ(std::tuple(info->mvhdDuration, info->tkhdDuration, info->mdhdDuration),
              std::tuple(d, d, d));
    EXPECT_EQ(info->mehdDuration, d);
    const int writes = file.writes;
    EXPECT_EQ(CutMp4Tail(file).outcome, RecoveryOutcome::Finished);
    EXPECT_EQ(file.writes, writes);
    return result;
}

void Put32(TBytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

} // namespace

TEST(CutMp4TailTest, CutsATornLastFragmentWhereverTheFileEnds) {
    const TUnfinished whole;
    for (std::size_t cut = whole.thirdStart + 1; cut < whole.file.bytes.size(); ++cut) {
        SCOPED_TRACE(cut);
        TMemoryFile file(TBytes(whole.file.bytes.begin(),
                                whole.file.bytes.begin() + static_cast<std::ptrdiff_t>(cut)));
        const RecoveryResult result = CutAndCheck(file);
        EXPECT_EQ(result.outcome, RecoveryOutcome::Rebuilt);
        EXPECT_EQ(result.frames, 6u);
        EXPECT_EQ(file.bytes.size(), whole.thirdStart);
    }
}

TEST(CutMp4TailTest, FillsInTheDurationsOfWholeFragmentsAndLeavesAFinishedFile) {
    TUnfinished whole;
    EXPECT_EQ(whole.info.mdhdDuration, 0u);
    EXPECT_FALSE(whole.info.mehdDuration);
    const std::size_t size = whole.file.bytes.size();
    EXPECT_EQ(CutAndCheck(whole.file).frames, 9u);
    EXPECT_EQ(whole.file.bytes.size(), size);
    // The header alone: no frame reached the disk.
    TMemoryFile header(
        TBytes(whole.file.bytes.begin(),
               whole.file.bytes.begin() + static_cast<std::ptrdiff_t>(whole.info.headerEnd)));
    EXPECT_EQ(CutAndCheck(header).outcome, RecoveryOutcome::Rebuilt);

    TMemoryFile finished;
    WriteTestFile(finished, {0, 1, 2, 3, 4}, 4, {2}, true);
    finished.writes = 0;
    EXPECT_EQ(CutMp4Tail(finished).outcome, RecoveryOutcome::Finished);
    EXPECT_EQ(finished.writes, 0);
}

TEST(CutMp4TailTest, CutsZerosGarbageAndAFragmentWhoseBoxesLie) {
    const TUnfinished whole;
    const std::size_t trun = whole.thirdStart + 8 + 16 + 8 + 16 + 20; // moof mfhd traf tfhd tfdt
    using TChange = std::function<void(TBytes&)>;
    auto append = [](TBytes more) {
        return [more](TBytes& b) { b.insert(b.end(), more.begin(), more.end()); };
    };
    auto put = [](std::size_t at, std::uint32_t v) { return [=](TBytes& b) { Put32(b, at, v); }; };
    std::mt19937 random(3);
    TBytes garbage(300);
    for (auto& g : garbage)
        g = static_cast<std::uint8_t>(random());
    // After the third fragment (which stays), then in it (which goes).
    struct TCase {
        const char* what;
        TChange change;
        bool inThird;
    };
    const TCase cases[] = {
        {"zeros", append(TBytes(5000, 0)), false},
        {"garbage", append(garbage), false},
        {"a size past the end", append({0xFF, 0xFF, 0xFF, 0xF0, 'm', 'o', 'o', 'f', 0, 0, 0, 0}),
         false},
        {"a 64-bit size", append({0, 0, 0, 1, 'm', 'o', 'o', 'f', 0xFF, 0, 0, 0, 0, 0, 0, 0}),
         false},
        {"zeros for data (a system crash)",
         [&](TBytes& b) {
             std::fill(b.begin() + static_cast<std::ptrdiff_t>(whole.thirdData), b.end(), 0);
         },
         true},
        {"2^32-1 samples", put(trun + 12, 0xFFFFFFFF), true},
        {"a data offset", put(trun + 16, 0), true},
        {"a sample's size", put(trun + 24, 0xFFFFFFF0), true},
        {"a sample lasting nothing", put(trun + 20, 0), true},
        {"the sequence number", put(whole.thirdStart + 20, 7), true},
        {"the time", put(whole.thirdStart + 60, 99), true},
        {"a moof of size 0", put(whole.thirdStart, 0), true},
        {"a moof of size 1", put(whole.thirdStart, 1), true},
        {"mfhd's size", put(whole.thirdStart + 8, 0xFFFF), true},
        {"mdat's size", put(whole.thirdData - 8, 0), true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.what);
        TMemoryFile file(whole.file.bytes);
        c.change(file.bytes);
        const RecoveryResult result = CutAndCheck(file);
        EXPECT_EQ(result.outcome, RecoveryOutcome::Rebuilt);
        EXPECT_EQ(result.frames, c.inThird ? 6u : 9u);
        EXPECT_EQ(file.bytes.size(), c.inThird ? whole.thirdStart : whole.file.bytes.size());
    }
}

TEST(CutMp4TailTest, LeavesAloneWhatIsNotARecordingOrCannotBeRead) {
    const TUnfinished whole;
    auto why = [](TBytes bytes, bool failReads = false) {
        TMemoryFile file(bytes);
        file.failReads = failReads;
        const RecoveryResult result = CutMp4Tail(file);
        EXPECT_EQ(result.outcome, RecoveryOutcome::LeftAlone);
        EXPECT_EQ(file.writes, 0);
        return result.why;
    };
    const std::string notOurs = "not a recording of this program";
    EXPECT_EQ(why(whole.file.bytes, true), "the file cannot be read");
    EXPECT_EQ(why({}), notOurs);
    TBytes riff = whole.file.bytes;
    std::copy_n("RIFF", 4, riff.begin() + 4);
    EXPECT_EQ(why(riff), notOurs);
    EXPECT_EQ(why(TBytes(whole.file.bytes.begin(), whole.file.bytes.begin() + 132)), notOurs);
    // A second track instead of mvex.
    TBytes twoTracks = whole.file.bytes;
    const char* mvex = "mvex";
    std::copy_n("trak", 4, std::search(twoTracks.begin(), twoTracks.end(), mvex, mvex + 4));
    EXPECT_EQ(why(twoTracks), notOurs);
}

// Bytes changed anywhere never crash or hang the cut, and what it keeps reads as finished.
TEST(CutMp4TailTest, SurvivesChangedBytesAnywhere) {
    const TUnfinished whole;
    std::mt19937 random(11);
    for (int round = 0; round < 2000; ++round) {
        SCOPED_TRACE(round);
        TMemoryFile file(whole.file.bytes);
        for (int i = 0, n = 1 + static_cast<int>(random() % 4); i < n; ++i)
            file.bytes[random() % file.bytes.size()] = static_cast<std::uint8_t>(random());
        if (random() % 4 == 0) file.bytes.resize(random() % file.bytes.size());
        CutAndCheck(file);
    }
}
