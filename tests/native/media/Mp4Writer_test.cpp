#include "media/Mp4Writer.h"

#include "media/Mp4Recovery.h"
#include "tests/common/Mp4Testing.h"

#include <gtest/gtest.h>

using namespace media;
using namespace testing_mp4;

namespace {

std::vector<TBytes> Copies(const std::vector<TBytesView>& views) {
    std::vector<TBytes> out;
    for (const TBytesView v : views)
        out.emplace_back(v.begin(), v.end());
    return out;
}

// The NAL units with four-byte big-endian lengths, as the file stores them.
TBytes LengthPrefixed(const std::vector<TBytes>& nals) {
    TBytes out;
    for (const TBytes& nal : nals) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<std::uint8_t>(nal.size() >> shift));
        out.insert(out.end(), nal.begin(), nal.end());
    }
    return out;
}

TBytes DataOf(const TMemoryFile& file, const Mp4Sample& s) {
    const auto begin = file.bytes.begin() + static_cast<std::ptrdiff_t>(s.offset);
    return TBytes(begin, begin + s.size);
}

} // namespace

TEST(SplitAnnexBTest, FindsTheUnitsBehindThreeAndFourByteStartCodes) {
    const TBytes stream{0x12, 0x34,                               // before the first start code
                        0,    0,    0, 1,    0x67, 1, 0, 0, 3, 1, // 00 00 03 stays inside
                        0,    0,    1, 0x68, 2,    0, 0,  // zeros before the next start code
                        0,    0,    0, 1,    0x65, 3, 0}; // and at the end
    EXPECT_EQ(Copies(SplitAnnexB(stream)),
              (std::vector<TBytes>{{0x67, 1, 0, 0, 3, 1}, {0x68, 2}, {0x65, 3}}));
    EXPECT_TRUE(SplitAnnexB(TBytes{0, 0, 1, 0, 0, 1}).empty());
}

TEST(Mp4WriterTest, ReadsBackTheHeaderAndEverySampleWithItsTimeAndFlags) {
    // Positions skip (5 to 9, 11 to 15); times count from the first sample's position. A flush
    // keeps the newest sample, whose duration it does not know yet, for the next fragment.
    const std::vector<std::uint64_t> ticks{3, 4, 5, 9, 10, 11, 15, 16, 17};
    TMemoryFile file;
    WriteTestFile(file, ticks, 4, {0, 2, 5}, true, 4);

    std::string why;
    std::vector<Mp4Sample> samples;
    const Mp4FileInfo info = ReadMp4(file, why, &samples).value();
    EXPECT_EQ(std::tuple(info.timescale, info.width, info.height), std::tuple(10u, 64u, 48u));
    EXPECT_EQ(info.sps, TestSps());
    EXPECT_EQ(info.pps, TestPps());
    EXPECT_TRUE(info.hasColour);
    EXPECT_EQ(std::tuple(info.primaries, info.transfer, info.matrix, info.fullRange),
              std::tuple(1, 1, 1, false));
    EXPECT_EQ(info.fragments, 3u);
    EXPECT_EQ(info.tail, "");
    EXPECT_EQ(info.wholeEnd, file.bytes.size());
    const std::uint32_t total = 17 + 4 - 3; // the last sample lasts Finish's 4
    EXPECT_EQ(std::tuple(info.duration, info.mvhdDuration, info.tkhdDuration, info.mdhdDuration),
              std::tuple(total, total, total, total));
    EXPECT_EQ(info.mehdDuration, total);

    ASSERT_EQ(samples.size(), ticks.size());
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(samples[i].time, ticks[i] - 3);
        EXPECT_EQ(samples[i].duration, i + 1 < ticks.size() ? ticks[i + 1] - ticks[i] : 4);
        EXPECT_EQ(samples[i].sync, i % 4 == 0);
        // The delimiter and the parameter sets that avcC holds are left out.
        const auto nals = Copies(SplitAnnexB(AccessUnit(static_cast<int>(i), i % 4 == 0)));
        EXPECT_EQ(DataOf(file, samples[i]), LengthPrefixed({nals.back()}));
    }
}

TEST(Mp4WriterTest, KeepsAParameterSetThatDiffersFromTheHeadersInItsSample) {
    TMemoryFile file;
    TMp4Writer writer(file);
    ASSERT_TRUE(writer.Begin(64, 48, 10, TestSps(), TestPps()));
    const TBytes sps = TestSps(), otherPps{0x68, 0xEE, 0x06, 0xF2}, slice{0x65, 0x88, 1, 2, 3};
    ASSERT_TRUE(writer.AddSample(std::vector<TBytesView>{sps, otherPps, slice}, 0, true));
    ASSERT_TRUE(writer.Finish());
    std::string why;
    std::vector<Mp4Sample> samples;
    ASSERT_TRUE(ReadMp4(file, why, &samples));
    EXPECT_EQ(DataOf(file, samples.at(0)), LengthPrefixed({otherPps, slice}));
}

// The size foreseen before a sample is never passed once it is added, however the fragments fall
// (a flush right after it puts it in a fragment of its own), and the file the writer and the
// finishing make has exactly the size foreseen when it is closed.
TEST(Mp4WriterTest, ClosedSizeForeseesTheFinishedRegularFile) {
    for (const int stop : {1, 2, 7, 23, 40}) {
        SCOPED_TRACE(stop);
        TMemoryFile file;
        TMp4Writer writer(file);
        ASSERT_TRUE(writer.Begin(64, 48, 10, TestSps(), TestPps()));
        std::uint64_t tick = 0;
        for (int i = 0; i < stop; ++i) {
            const TBytes au = AccessUnit(i, i % 10 == 0);
            const std::uint64_t foreseen = writer.ClosedSizeWith(writer.StoredSampleBytes(au));
            tick += 1 + (i % 9 == 4 ? 5 : 0) + (i > 20 ? 1 : 0); // skips, and a slower run
            ASSERT_TRUE(writer.AddSample(au, tick, i % 10 == 0));
            if (i % 7 == 6) {
                EXPECT_TRUE(writer.Flush());
            }
            if (i % 11 == 3) {
                EXPECT_TRUE(writer.FlushAll());
            }
            EXPECT_LE(writer.ClosedSize(), foreseen) << i;
            EXPECT_EQ(writer.BytesWritten(), file.bytes.size());
        }
        const std::uint64_t closed = writer.ClosedSize();
        ASSERT_TRUE(writer.Finish());
        ASSERT_EQ(FinishMp4(file).outcome, RecoveryOutcome::Rebuilt);
        EXPECT_EQ(file.bytes.size(), closed);
    }
}

// A sample flushed before its successor came is on disk at once, lasting one position, and gets
// its whole duration once the next one comes: the fragments always follow on each other.
TEST(Mp4WriterTest, FlushAllPutsTheNewestSampleOnDiskAndSettlesItsDurationLater) {
    TMemoryFile file;
    TMp4Writer writer(file);
    ASSERT_TRUE(writer.Begin(64, 48, 10, TestSps(), TestPps()));
    ASSERT_TRUE(writer.AddSample(AccessUnit(0, true), 5, true));
    ASSERT_TRUE(writer.FlushAll());
    std::string why;
    std::vector<Mp4Sample> samples;
    ASSERT_TRUE(ReadMp4(file, why, &samples));
    ASSERT_EQ(samples.size(), 1u);
    EXPECT_EQ(samples[0].duration, 1u);

    ASSERT_TRUE(writer.AddSample(AccessUnit(1, false), 605, false)); // a minute later
    ASSERT_TRUE(writer.FlushAll());
    ASSERT_TRUE(writer.AddSample(AccessUnit(2, false), 606, false));
    ASSERT_TRUE(writer.Finish(3));
    const auto info = ReadMp4(file, why, &samples);
    ASSERT_TRUE(info) << why;
    EXPECT_EQ(info->tail, "");
    ASSERT_EQ(samples.size(), 3u);
    EXPECT_EQ(std::tuple(samples[0].duration, samples[1].duration, samples[2].duration),
              std::tuple(600u, 1u, 3u));
    EXPECT_EQ(info->mvhdDuration, 604u);
}

TEST(Mp4WriterTest, StopsAtTheFirstWriteThatFails) {
    TMemoryFile file;
    TMp4Writer writer(file);
    ASSERT_TRUE(writer.Begin(64, 48, 10, TestSps(), TestPps()));
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(writer.AddSample(AccessUnit(i, i == 0), static_cast<std::uint64_t>(i), i == 0));
    file.failAfter = file.bytes.size() + 20; // the disk fills in the middle of the fragment
    EXPECT_FALSE(writer.Flush());
    const int writes = file.writes;
    file.failAfter = UINT64_MAX; // room again: the writer has stopped all the same
    EXPECT_FALSE(writer.AddSample(AccessUnit(3, false), 3, false));
    EXPECT_FALSE(writer.Flush());
    EXPECT_FALSE(writer.Finish());
    EXPECT_EQ(file.writes, writes);
}

TEST(Mp4WriterTest, RefusesWhatTheFileCannotHold) {
    TMemoryFile file;
    TMp4Writer writer(file);
    EXPECT_FALSE(writer.AddSample(AccessUnit(0, true), 0, true)); // not begun
    EXPECT_FALSE(writer.Begin(64, 48, 10, TestPps(), TestPps())); // no SPS
    EXPECT_FALSE(writer.Begin(64, 48, 0, TestSps(), TestPps()));
    EXPECT_FALSE(writer.Begin(70000, 48, 10, TestSps(), TestPps()));
    // A high-profile SPS that ends before its chroma format.
    EXPECT_FALSE(writer.Begin(64, 48, 10, TBytes{0x67, 100, 0, 30}, TestPps()));
    EXPECT_TRUE(file.bytes.empty());

    ASSERT_TRUE(writer.Begin(64, 48, 10, TestSps(), TestPps()));
    ASSERT_TRUE(writer.AddSample(AccessUnit(0, true), 5, true));
    EXPECT_FALSE(writer.AddSample(AccessUnit(1, false), 5, false)); // no later than the last
    // Nothing left once the delimiter and the parameter sets are taken out.
    const TBytes sps = TestSps(), pps = TestPps();
    EXPECT_FALSE(writer.AddSample(std::vector<TBytesView>{sps, pps}, 6, true));
    ASSERT_TRUE(writer.Finish());
    EXPECT_FALSE(writer.AddSample(AccessUnit(1, false), 7, false));
    EXPECT_FALSE(writer.Finish());
}

// With sound every fragment carries the sound's pending access units after the video's; a flush
// that keeps the only video sample back writes the sound alone. The sound reads back in order, a
// frame each, its edit skipping the priming and playing the length that Finish states.
TEST(Mp4WriterTest, CarriesTheSoundInEveryFragment) {
    TMemoryFile file;
    WriteTestFile(file, {0, 1, 2, 3, 4, 5, 6, 7}, 4, {0, 3, 4}, true, 1, true);
    std::string why;
    std::vector<Mp4Sample> video, sound;
    const Mp4FileInfo info = ReadMp4(file, why, &video, &sound).value();
    ASSERT_TRUE(info.audio);
    EXPECT_EQ(info.tail, "");
    EXPECT_EQ(info.fragments, 4u);
    EXPECT_EQ(video.size(), 8u);
    EXPECT_EQ(std::tuple(info.audio->priming, info.audio->frameSamples), std::tuple(1600u, 1024u));
    ASSERT_EQ(sound.size(), (8u * 4800 + 1600 + 1023) / 1024);
    for (std::size_t i = 0; i < sound.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(std::tuple(sound[i].time, sound[i].duration), std::tuple(i * 1024, 1024u));
        EXPECT_EQ(DataOf(file, sound[i]), AudioUnit(static_cast<int>(i)));
    }
    // Eight positions of a tenth of a second: 38400 ticks of 48 kHz in each track and the movie.
    EXPECT_EQ(std::tuple(info.audio->editDuration, info.audio->tkhdDuration, info.tkhdDuration,
                         info.mvhdDuration, info.mehdDuration),
              std::tuple(38400u, 38400u, 38400u, 38400u, 38400u));
    EXPECT_EQ(std::tuple(info.mdhdDuration, info.audio->mdhdDuration),
              std::tuple(8u, static_cast<std::uint32_t>(sound.size() * 1024)));
}

// With sound the foreseen sizes still hold: sound added before the video begins, between the
// checks and flushed with or without video, counted by ClosedSizeWith and exact at the end.
TEST(Mp4WriterTest, ClosedSizeForeseesTheFinishedRegularFileWithSound) {
    for (const int stop : {1, 2, 7, 23, 40}) {
        SCOPED_TRACE(stop);
        TMemoryFile file;
        TMp4Writer writer(file);
        ASSERT_TRUE(writer.AddAudioTrack(TestAudioFormat()));
        int units = 0;
        ASSERT_TRUE(writer.AddAudioSample(AudioUnit(units++)));
        ASSERT_TRUE(writer.Begin(64, 48, 10, TestSps(), TestPps()));
        for (int i = 0; i < stop; ++i) {
            const TBytes au = AccessUnit(i, i % 10 == 0);
            const int sound = i % 6;
            const std::uint64_t foreseen =
                writer.ClosedSizeWith(writer.StoredSampleBytes(au), sound);
            ASSERT_TRUE(writer.AddSample(au, static_cast<std::uint64_t>(i + i / 9), i % 10 == 0));
            for (int k = 0; k < sound; ++k) {
                ASSERT_TRUE(writer.AddAudioSample(AudioUnit(units++)));
                if (k == 2) {
                    EXPECT_TRUE(i % 2 ? writer.Flush() : writer.FlushAll());
                }
            }
            if (i % 7 == 6) {
                EXPECT_TRUE(writer.Flush());
            }
            EXPECT_LE(writer.ClosedSize(), foreseen) << i;
        }
        const std::uint64_t closed = writer.ClosedSize();
        ASSERT_TRUE(writer.Finish());
        ASSERT_EQ(FinishMp4(file).outcome, RecoveryOutcome::Rebuilt);
        EXPECT_EQ(file.bytes.size(), closed);
    }
}
