#include "media/Mp4Recovery.h"

#include "tests/common/Mp4Testing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
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

// The finishing's result, and that the file it leaves reads as finished: whole fragments, their
// duration stated everywhere, the regular moov of their samples at the end and no moof left, and
// nothing written when it is finished again. fragmentsEnd: where the fragments end.
RecoveryResult FinishAndCheck(TMemoryFile& file, std::uint64_t* fragmentsEnd = nullptr) {
    const RecoveryResult result = FinishMp4(file);
    if (result.outcome == RecoveryOutcome::LeftAlone) return result;
    std::string why;
    const auto info = ReadMp4(file, why);
    EXPECT_TRUE(info) << why;
    if (!info) return result;
    const std::uint32_t d = static_cast<std::uint32_t>(info->duration);
    EXPECT_EQ(info->tail, "");
    EXPECT_TRUE(info->regular && info->moovFreed && info->moofsAt.empty());
    EXPECT_EQ(info->samples, result.frames);
    if (const auto& a = info->audio) {
        // The sound's track and edit play its length; the movie lasts as long as the longer track.
        const auto length = static_cast<std::uint32_t>(a->Length());
        EXPECT_EQ(std::tuple(a->tkhdDuration, a->editDuration, a->mdhdDuration),
                  std::tuple(length, length, static_cast<std::uint32_t>(a->duration)));
        EXPECT_EQ(info->mdhdDuration, d);
        EXPECT_EQ(info->mvhdDuration, std::max(info->tkhdDuration, length));
        EXPECT_EQ(info->mehdDuration, info->mvhdDuration);
    } else {
        EXPECT_EQ(std::tuple(info->mvhdDuration, info->tkhdDuration, info->mdhdDuration),
                  std::tuple(d, d, d));
        EXPECT_EQ(info->mehdDuration, d);
    }
    if (fragmentsEnd) *fragmentsEnd = info->wholeEnd;
    const int writes = file.writes;
    EXPECT_EQ(FinishMp4(file).outcome, RecoveryOutcome::Finished);
    EXPECT_EQ(file.writes, writes);
    return result;
}

void Put32(TBytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

} // namespace

TEST(FinishMp4Test, CutsATornLastFragmentWhereverTheFileEnds) {
    const TUnfinished whole;
    for (std::size_t cut = whole.thirdStart + 1; cut < whole.file.bytes.size(); ++cut) {
        SCOPED_TRACE(cut);
        TMemoryFile file(TBytes(whole.file.bytes.begin(),
                                whole.file.bytes.begin() + static_cast<std::ptrdiff_t>(cut)));
        std::uint64_t end = 0;
        const RecoveryResult result = FinishAndCheck(file, &end);
        EXPECT_EQ(result.outcome, RecoveryOutcome::Rebuilt);
        EXPECT_EQ(result.frames, 6u);
        EXPECT_EQ(end, whole.thirdStart);
    }
}

TEST(FinishMp4Test, FillsInTheDurationsOfWholeFragmentsAndLeavesAFinishedFile) {
    TUnfinished whole;
    EXPECT_EQ(whole.info.mdhdDuration, 0u);
    EXPECT_FALSE(whole.info.mehdDuration);
    const std::size_t size = whole.file.bytes.size();
    std::uint64_t end = 0;
    EXPECT_EQ(FinishAndCheck(whole.file, &end).frames, 9u);
    EXPECT_EQ(end, size);
    // The header alone: no frame reached the disk.
    TMemoryFile header(
        TBytes(whole.file.bytes.begin(),
               whole.file.bytes.begin() + static_cast<std::ptrdiff_t>(whole.info.headerEnd)));
    EXPECT_EQ(FinishAndCheck(header).outcome, RecoveryOutcome::Rebuilt);

    // What the writer finished: whole, its durations stated, still fragmented.
    TMemoryFile finished;
    WriteTestFile(finished, {0, 1, 2, 3, 4}, 4, {2}, true);
    const TBytes fragmented = finished.bytes;
    EXPECT_EQ(FinishAndCheck(finished, &end).frames, 5u);
    EXPECT_EQ(end, fragmented.size());
    // Only four bytes of each fragmented box changed, to "free": the data stays where it was.
    std::size_t changed = 0;
    for (std::size_t i = 0; i < fragmented.size(); ++i)
        changed += fragmented[i] != finished.bytes[i];
    EXPECT_LE(changed, 3u * 4);
    EXPECT_EQ(std::string(finished.bytes.begin() + 36, finished.bytes.begin() + 40), "free");
}

TEST(FinishMp4Test, AFinishingStoppedAtAnyWriteIsCompletedByTheNext) {
    // Two whole fragments of three samples each, as a killed recording leaves them.
    TMemoryFile whole;
    WriteTestFile(whole, {0, 1, 2, 3, 5, 6, 7, 8}, 4, {3, 6}, false);
    TMemoryFile reference(whole.bytes);
    ASSERT_EQ(FinishMp4(reference).outcome, RecoveryOutcome::Rebuilt);
    const int steps = reference.writes;
    // The durations, the moov, the second moof, the old moov with the first moof.
    EXPECT_EQ(steps, 4 + 1 + 1 + 1);
    for (int n = 0; n < steps; ++n) {
        SCOPED_TRACE(n);
        TMemoryFile file(whole.bytes);
        file.writesLeft = n; // the program ends at the n-th write
        EXPECT_EQ(FinishMp4(file).why, "the file cannot be written");
        std::string why;
        const auto left = ReadMp4(file, why);
        ASSERT_TRUE(left) << why;
        EXPECT_EQ(left->samples, 6u);
        file.writesLeft = INT_MAX;
        EXPECT_EQ(FinishAndCheck(file).frames, 6u);
        EXPECT_EQ(file.bytes, reference.bytes);
    }
}

TEST(FinishMp4Test, CutsZerosGarbageAndAFragmentWhoseBoxesLie) {
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
        std::uint64_t end = 0;
        const RecoveryResult result = FinishAndCheck(file, &end);
        EXPECT_EQ(result.outcome, RecoveryOutcome::Rebuilt);
        EXPECT_EQ(result.frames, c.inThird ? 6u : 9u);
        EXPECT_EQ(end, c.inThird ? whole.thirdStart : whole.file.bytes.size());
    }
}

TEST(FinishMp4Test, LeavesAloneWhatIsNotARecordingOrCannotBeRead) {
    const TUnfinished whole;
    auto why = [](TBytes bytes, bool failReads = false) {
        TMemoryFile file(bytes);
        file.failReads = failReads;
        const RecoveryResult result = FinishMp4(file);
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
TEST(FinishMp4Test, SurvivesChangedBytesAnywhere) {
    const TUnfinished whole;
    std::mt19937 random(11);
    for (int round = 0; round < 2000; ++round) {
        SCOPED_TRACE(round);
        TMemoryFile file(whole.file.bytes);
        for (int i = 0, n = 1 + static_cast<int>(random() % 4); i < n; ++i)
            file.bytes[random() % file.bytes.size()] = static_cast<std::uint8_t>(random());
        if (random() % 4 == 0) file.bytes.resize(random() % file.bytes.size());
        FinishAndCheck(file);
    }
}

// With sound, wherever the recording stopped (the program ended at any write of the writer) and
// wherever its finishing then stopped, the finished file holds both tracks up to the same
// fragment: the sound plays as long as the video to within a video sample and an access unit.
TEST(FinishMp4Test, KeepsBothTracksInStepWhereverTheRecordingOrItsFinishingStopped) {
    const std::vector<std::uint64_t> ticks{0, 1, 2, 3, 5, 6, 7, 8, 9, 10};
    auto record = [&](TMemoryFile& file, bool finish) {
        WriteTestFile(file, ticks, 4, {3, 6, 9}, finish, 1, true);
        file.writesLeft = INT_MAX;
    };
    auto inStep = [](TMemoryFile& file) {
        std::string why;
        const auto info = ReadMp4(file, why);
        ASSERT_TRUE(info && info->audio) << why;
        const std::int64_t video = static_cast<std::int64_t>(info->duration) * 4800;
        EXPECT_LE(std::abs(static_cast<std::int64_t>(info->audio->Length()) - video), 4800 + 1024);
    };
    TMemoryFile whole;
    record(whole, true);
    int rebuilt = 0;
    for (int n = 1; n <= whole.writes; ++n) {
        SCOPED_TRACE(n);
        TMemoryFile file;
        file.writesLeft = n;
        record(file, true);
        if (FinishAndCheck(file).outcome == RecoveryOutcome::LeftAlone) continue; // no header
        ++rebuilt;
        inStep(file);
    }
    EXPECT_GE(rebuilt, whole.writes - 2);

    TMemoryFile unfinished;
    record(unfinished, false);
    TMemoryFile reference(unfinished.bytes);
    ASSERT_EQ(FinishMp4(reference).outcome, RecoveryOutcome::Rebuilt);
    inStep(reference);
    for (int n = 0; n < reference.writes; ++n) {
        SCOPED_TRACE(n);
        TMemoryFile file(unfinished.bytes);
        file.writesLeft = n;
        EXPECT_EQ(FinishMp4(file).why, "the file cannot be written");
        file.writesLeft = INT_MAX;
        FinishAndCheck(file);
        EXPECT_EQ(file.bytes, reference.bytes);
    }
}
