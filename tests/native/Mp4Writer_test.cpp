#include "core/Mp4Writer.h"

#include "core/Mp4Recovery.h"
#include "tests/common/Mp4Testing.h"

#include <gtest/gtest.h>

using namespace core;
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
        const auto n = static_cast<std::uint32_t>(nal.size());
        out.insert(out.end(),
                   {static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
                    static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)});
        out.insert(out.end(), nal.begin(), nal.end());
    }
    return out;
}

Mp4FileInfo Read(TMemoryFile& file, std::vector<Mp4Sample>* samples = nullptr) {
    std::string why;
    const auto info = ReadMp4(file, why, samples);
    EXPECT_TRUE(info) << why;
    return info.value_or(Mp4FileInfo{});
}

TBytes DataOf(const TMemoryFile& file, const Mp4Sample& s) {
    return TBytes(file.bytes.begin() + static_cast<std::ptrdiff_t>(s.offset),
                  file.bytes.begin() + static_cast<std::ptrdiff_t>(s.offset + s.size));
}

} // namespace

TEST(SplitAnnexBTest, FindsTheUnitsBehindThreeAndFourByteStartCodes) {
    const TBytes stream{0x12, 0x34, // before the first start code
                        0,    0,    0, 1,    0x67, 1, 0,
                        0,    3,    1,                    // emulation prevention stays inside
                        0,    0,    1, 0x68, 2,    0, 0,  // zeros before the next start code
                        0,    0,    0, 1,    0x65, 3, 0}; // and at the end
    EXPECT_EQ(Copies(SplitAnnexB(stream)),
              (std::vector<TBytes>{{0x67, 1, 0, 0, 3, 1}, {0x68, 2}, {0x65, 3}}));
    EXPECT_TRUE(SplitAnnexB({}).empty());
    EXPECT_TRUE(SplitAnnexB(TBytes{0, 0, 1, 0, 0, 1}).empty());
    EXPECT_EQ(NalType(SplitAnnexB(stream)[2]), 5);
}

TEST(Mp4WriterTest, ReadsBackTheHeaderAndEverySampleWithItsTimeAndFlags) {
    // Positions skip (5 to 9, 12 to 15); times count from the first sample's position.
    const std::vector<std::uint64_t> ticks{3, 4, 5, 9, 10, 11, 15, 16, 17};
    TMemoryFile file;
    WriteTestFile(file, ticks, 4, {2, 5}, true);

    std::vector<Mp4Sample> samples;
    const Mp4FileInfo info = Read(file, &samples);
    EXPECT_EQ(info.timescale, 10u);
    EXPECT_EQ(info.width, 64u);
    EXPECT_EQ(info.height, 48u);
    EXPECT_EQ(info.sps, TestSps());
    EXPECT_EQ(info.pps, TestPps());
    EXPECT_TRUE(info.hasColour);
    EXPECT_EQ(info.primaries, 1);
    EXPECT_EQ(info.transfer, 1);
    EXPECT_EQ(info.matrix, 1);
    EXPECT_FALSE(info.fullRange);
    EXPECT_EQ(info.fragments, 3u);
    EXPECT_EQ(info.tail, "");
    EXPECT_EQ(info.wholeEnd, file.bytes.size());
    // The last sample lasts one position.
    const std::uint32_t total = 17 + 1 - 3;
    EXPECT_EQ(info.duration, total);
    EXPECT_EQ(info.mvhdDuration, total);
    EXPECT_EQ(info.tkhdDuration, total);
    EXPECT_EQ(info.mdhdDuration, total);
    EXPECT_EQ(info.mehdDuration, total);

    ASSERT_EQ(samples.size(), ticks.size());
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(samples[i].time, ticks[i] - 3);
        EXPECT_EQ(samples[i].duration, i + 1 < ticks.size() ? ticks[i + 1] - ticks[i] : 1);
        EXPECT_EQ(samples[i].sync, i % 4 == 0);
        // The delimiter and the parameter sets that avcC holds are left out.
        const auto nals = Copies(SplitAnnexB(AccessUnit(static_cast<int>(i), i % 4 == 0)));
        EXPECT_EQ(DataOf(file, samples[i]), LengthPrefixed({nals.back()}));
    }
}

TEST(Mp4WriterTest, FlushKeepsTheNewestSampleForTheNextFragment) {
    TMemoryFile file;
    TMp4Writer writer(file);
    ASSERT_TRUE(writer.Begin(64, 48, 10, TestSps(), TestPps()));
    const std::size_t header = file.bytes.size();
    ASSERT_TRUE(writer.AddSample(AccessUnit(0, true), 0, true));
    EXPECT_TRUE(writer.Flush());
    EXPECT_EQ(file.bytes.size(), header); // one sample: its duration is not known
    ASSERT_TRUE(writer.AddSample(AccessUnit(1, false), 2, false));
    ASSERT_TRUE(writer.AddSample(AccessUnit(2, false), 3, false));
    EXPECT_TRUE(writer.Flush());
    std::vector<Mp4Sample> samples;
    Mp4FileInfo info = Read(file, &samples);
    EXPECT_EQ(info.fragments, 1u);
    ASSERT_EQ(samples.size(), 2u);
    EXPECT_EQ(samples[0].duration, 2u);
    EXPECT_EQ(samples[1].duration, 1u);
    // Nothing new to write: the newest sample still waits for the one after it.
    const TBytes once = file.bytes;
    EXPECT_TRUE(writer.Flush());
    EXPECT_EQ(file.bytes, once);
    // Until Finish gives it its duration.
    EXPECT_TRUE(writer.Finish(4));
    samples.clear();
    info = Read(file, &samples);
    EXPECT_EQ(info.fragments, 2u);
    ASSERT_EQ(samples.size(), 3u);
    EXPECT_EQ(samples[2].time, 3u);
    EXPECT_EQ(samples[2].duration, 4u);
    EXPECT_EQ(info.mdhdDuration, 7u);
}

TEST(Mp4WriterTest, KeepsAParameterSetThatDiffersFromTheHeadersInItsSample) {
    TMemoryFile file;
    TMp4Writer writer(file);
    ASSERT_TRUE(writer.Begin(64, 48, 10, TestSps(), TestPps()));
    const TBytes sps = TestSps(), otherPps{0x68, 0xEE, 0x06, 0xF2}, slice{0x65, 0x88, 1, 2, 3};
    const std::vector<TBytesView> nals{sps, otherPps, slice};
    const TBytes expected = LengthPrefixed({otherPps, slice});
    ASSERT_TRUE(writer.AddSample(nals, 0, true));
    ASSERT_TRUE(writer.Finish());
    std::vector<Mp4Sample> samples;
    Read(file, &samples);
    ASSERT_EQ(samples.size(), 1u);
    EXPECT_EQ(DataOf(file, samples[0]), expected);
}

TEST(Mp4WriterTest, ClosedSizeForeseesTheFinishedFile) {
    TMemoryFile file;
    TMp4Writer writer(file);
    EXPECT_EQ(writer.ClosedSize(), 0u);
    ASSERT_TRUE(writer.Begin(64, 48, 10, TestSps(), TestPps()));
    EXPECT_EQ(writer.ClosedSize(), file.bytes.size());
    for (int i = 0; i < 40; ++i) {
        const TBytes au = AccessUnit(i, i % 10 == 0);
        const std::uint64_t foreseen = writer.ClosedSizeWith(writer.StoredSampleBytes(au));
        ASSERT_TRUE(writer.AddSample(au, static_cast<std::uint64_t>(i * 2), i % 10 == 0));
        EXPECT_EQ(writer.ClosedSize(), foreseen) << i;
        if (i % 7 == 6) {
            ASSERT_TRUE(writer.Flush());
        }
        EXPECT_EQ(writer.BytesWritten(), file.bytes.size());
    }
    const std::uint64_t closed = writer.ClosedSize();
    ASSERT_TRUE(writer.Finish());
    EXPECT_EQ(file.bytes.size(), closed);
    EXPECT_EQ(writer.BytesWritten(), closed);
}

TEST(Mp4WriterTest, StopsAtTheFirstWriteThatFails) {
    TMemoryFile full;
    WriteTestFile(full, {0, 1, 2, 3, 4}, 5, {}, true);
    // The disk fills in the middle of the second fragment.
    TMemoryFile file;
    TMp4Writer writer(file);
    ASSERT_TRUE(writer.Begin(64, 48, 10, TestSps(), TestPps()));
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(writer.AddSample(AccessUnit(i, i == 0), static_cast<std::uint64_t>(i), i == 0));
    ASSERT_TRUE(writer.Flush());
    file.failAfter = file.bytes.size() + 20;
    ASSERT_TRUE(writer.AddSample(AccessUnit(3, false), 3, false));
    EXPECT_FALSE(writer.Flush());
    EXPECT_TRUE(writer.Failed());
    const int writes = file.writes;
    file.failAfter = UINT64_MAX; // room again: the writer has stopped all the same
    EXPECT_FALSE(writer.AddSample(AccessUnit(4, false), 4, false));
    EXPECT_FALSE(writer.Flush());
    EXPECT_FALSE(writer.Finish());
    EXPECT_EQ(file.writes, writes);
    // A full disk at the header.
    TMemoryFile none;
    none.failAfter = 100;
    TMp4Writer first(none);
    EXPECT_FALSE(first.Begin(64, 48, 10, TestSps(), TestPps()));
    EXPECT_FALSE(first.AddSample(AccessUnit(0, true), 0, true));
    EXPECT_TRUE(none.bytes.empty());
}

TEST(Mp4WriterTest, RefusesWhatTheFileCannotHold) {
    TMemoryFile file;
    TMp4Writer writer(file);
    EXPECT_FALSE(writer.AddSample(AccessUnit(0, true), 0, true)); // not begun
    EXPECT_FALSE(writer.Finish());
    EXPECT_FALSE(writer.Begin(64, 48, 10, TestPps(), TestPps())); // no SPS
    EXPECT_FALSE(writer.Begin(64, 48, 0, TestSps(), TestPps()));
    EXPECT_FALSE(writer.Begin(0, 48, 10, TestSps(), TestPps()));
    EXPECT_FALSE(writer.Begin(70000, 48, 10, TestSps(), TestPps()));
    // A high-profile SPS whose chroma format cannot be read.
    EXPECT_FALSE(writer.Begin(64, 48, 10, TBytes{0x67, 100, 0, 30}, TestPps()));
    EXPECT_TRUE(file.bytes.empty());
    ASSERT_TRUE(writer.Begin(64, 48, 10, TestSps(), TestPps()));
    EXPECT_FALSE(writer.Begin(64, 48, 10, TestSps(), TestPps()));

    ASSERT_TRUE(writer.AddSample(AccessUnit(0, true), 5, true));
    EXPECT_FALSE(writer.AddSample(AccessUnit(1, false), 5, false)); // the same position
    EXPECT_FALSE(writer.AddSample(AccessUnit(1, false), 4, false));
    // Nothing left once the delimiter and the parameter sets are taken out.
    TBytes headersOnly = AccessUnit(1, true);
    headersOnly.resize(headersOnly.size() - SplitAnnexB(headersOnly).back().size() - 4);
    EXPECT_FALSE(writer.AddSample(headersOnly, 6, true));
    EXPECT_FALSE(writer.AddSample(TBytes{1, 2, 3}, 6, false));
    ASSERT_TRUE(writer.Finish());
    EXPECT_FALSE(writer.AddSample(AccessUnit(1, false), 7, false));
    EXPECT_FALSE(writer.Finish());
    EXPECT_EQ(writer.Samples(), 1u);
}
