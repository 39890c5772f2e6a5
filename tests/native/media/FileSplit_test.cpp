#include "media/FileSplit.h"

#include <gtest/gtest.h>

#include <set>

using namespace media;

TEST(AviSizeTrackerTest, CountsTheWritersLayoutToTheByte) {
    // Ten 320 x 240 frames of 32 bits as the platform's writer stored them: 3074316 bytes.
    TAviSizeTracker t(40);
    EXPECT_EQ(t.ClosedSize(), 2048u + 28u);
    for (int i = 0; i < 10; ++i)
        t.Add(307200, 0);
    EXPECT_EQ(t.ClosedSize(), 3074316u);
    EXPECT_EQ(t.Frames(), 10u);
    EXPECT_EQ(t.ClosingBytes(), 10u * 16 + 28);
}

TEST(AviSizeTrackerTest, EmptyPositionsAndOddSizesCost) {
    TAviSizeTracker t(40);
    const std::uint64_t empty = t.ClosedSize();
    EXPECT_EQ(t.ClosedSizeWith(101, 3), empty + 3 * 24 + 8 + 102 + 16);
    t.Add(101, 3);
    EXPECT_EQ(t.ClosedSize(), empty + 3 * 24 + 8 + 102 + 16);
    EXPECT_EQ(TAviSizeTracker::ChunkBytes(0), 8u);
    EXPECT_EQ(TAviSizeTracker::ChunkBytes(7), 16u);
}

TEST(AviSizeTrackerTest, LargeColourTablesMoveTheFirstFrame) {
    EXPECT_EQ(TAviSizeTracker(40 + 1024).ClosedSize(), 2048u + 28u);
    EXPECT_EQ(TAviSizeTracker(40 + 4 * 512).ClosedSize(), 4096u + 28u);
    // The sound stream's headers as well.
    EXPECT_EQ(TAviSizeTracker(1800).ClosedSize(), 2048u + 28u);
    EXPECT_EQ(TAviSizeTracker(1800, 18).ClosedSize(), 4096u + 28u);
}

TEST(AviSizeTrackerTest, SoundCountsWhetherHeldOrStored) {
    TAviSizeTracker t(40, 18);
    t.Add(100, 0);
    const std::uint64_t frame = t.ClosedSize();
    // Held sound is one chunk and entry of the close; stored, the same bytes come before it.
    t.HoldSound(1001);
    EXPECT_EQ(t.ClosedSize(), frame + 8 + 1002 + 16);
    EXPECT_EQ(t.ClosingBytes(), 2 * 16 + 28 + 8 + 1002);
    const std::uint64_t held = t.ClosedSize();
    t.AddSound(1001);
    t.HoldSound(0);
    EXPECT_EQ(t.ClosedSize(), held);
    EXPECT_EQ(t.ClosingBytes(), 2 * 16 + 28u);
    EXPECT_EQ(t.Frames(), 1u);
    EXPECT_EQ(t.NewFileSizeWith(100), frame);
}

TEST(NeedsNewFileTest, SwitchesBeforeTheLimitWouldBePassed) {
    TAviSizeTracker t(40);
    t.Add(1000, 0);
    const std::uint64_t after = t.ClosedSizeWith(1000, 0);
    EXPECT_FALSE(NeedsNewFile(t, 1000, 0, after));
    EXPECT_TRUE(NeedsNewFile(t, 1000, 0, after - 1));
    // Empty positions count as well.
    EXPECT_TRUE(NeedsNewFile(t, 1000, 1, after));
}

TEST(NeedsNewFileTest, AFileWithoutFramesTakesEvenAnOversizedFrame) {
    const TAviSizeTracker t(40);
    EXPECT_FALSE(NeedsNewFile(t, 10'000'000, 0, 1'000'000));
    TAviSizeTracker one(40);
    one.Add(10'000'000, 0);
    EXPECT_TRUE(NeedsNewFile(one, 10'000'000, 0, 1'000'000));
}

TEST(LoweredMaxFileBytesTest, ANumberMayLowerTheLimitButNeverRaiseIt) {
    EXPECT_EQ(LoweredMaxFileBytes(L"3000000"), 3000000u);
    EXPECT_EQ(LoweredMaxFileBytes(L"1073741824"), kDefaultMaxFileBytes);
    EXPECT_EQ(LoweredMaxFileBytes(L"1073741825"), 0u);
    EXPECT_EQ(LoweredMaxFileBytes(L"99999999999999999999999"), 0u); // would wrap in 64 bits
}

TEST(DiskHasRoomTest, KeepsRoomForTheIndexAndTheSlack) {
    TAviSizeTracker t(40);
    for (int i = 0; i < 100; ++i)
        t.Add(5000, 0);
    // Next frame 5008 + its entry 16, the index of the 100 written and the pad, then the slack.
    const std::uint64_t needed = 5008 + 16 + 100 * 16 + 28 + kDiskSlackBytes;
    EXPECT_TRUE(DiskHasRoom(t, 5000, 0, false, needed));
    EXPECT_FALSE(DiskHasRoom(t, 5000, 0, false, needed - 1));
    // Empty positions before the frame need their chunks and entries.
    EXPECT_FALSE(DiskHasRoom(t, 5000, 1, false, needed));
    EXPECT_TRUE(DiskHasRoom(t, 5000, 1, false, needed + 24));
}

TEST(DiskHasRoomTest, ANewFileNeedsTheOldOnesCloseAndItsOwnHeaders) {
    TAviSizeTracker t(40);
    t.Add(5000, 0);
    const std::uint64_t needed = (16 + 28) + (2048 + 5008 + 16 + 28) + kDiskSlackBytes;
    EXPECT_TRUE(DiskHasRoom(t, 5000, 0, true, needed));
    EXPECT_FALSE(DiskHasRoom(t, 5000, 0, true, needed - 1));
}

TEST(FileNamePartsTest, FolderAndStamp) {
    EXPECT_EQ(FolderOf(L"C:\\rec\\20261208094500.avi"), L"C:\\rec");
    EXPECT_EQ(FolderOf(L"x.avi"), L"");
    EXPECT_EQ(StampOf(L"C:\\rec\\20261208094500_2.avi"), L"20261208094500");
    EXPECT_EQ(StampOf(L"C:\\rec\\clip.avi"), L"");
    EXPECT_EQ(StampOf(L"C:\\2026120809450.avi"), L"");
}

TEST(NextRecordFileNameTest, NamedByNowInTheSameFolderWithTheNumberRule) {
    std::set<std::wstring> existing{L"D:\\v\\20261208094500.avi"};
    auto exists = [&](const std::wstring& n) { return existing.count(n) > 0; };
    EXPECT_EQ(NextRecordFileName(L"D:\\v\\20261208094500.avi", L"20261208094507", exists),
              L"D:\\v\\20261208094507.avi");
    // A switch in the same second as the start.
    EXPECT_EQ(NextRecordFileName(L"D:\\v\\20261208094500.avi", L"20261208094500", exists),
              L"D:\\v\\20261208094500_2.avi");
    existing.insert(L"D:\\v\\20261208094500_2.avi");
    EXPECT_EQ(NextRecordFileName(L"D:\\v\\20261208094500_2.avi", L"20261208094500", exists),
              L"D:\\v\\20261208094500_3.avi");
    // An MP4 recording goes on in MP4 files; a folder with a dot gives no extension.
    EXPECT_EQ(NextRecordFileName(L"D:\\v.1\\20261208094500.mp4", L"20261208094507", exists),
              L"D:\\v.1\\20261208094507.mp4");
    EXPECT_EQ(ExtensionOf(L"D:\\v.1\\clip"), L"");
}

TEST(NextRecordFileNameTest, AClockSetBackKeepsRecordingOrder) {
    std::set<std::wstring> existing{L"D:\\v\\20261025025959.avi"};
    auto exists = [&](const std::wstring& n) { return existing.count(n) > 0; };
    const std::wstring next =
        NextRecordFileName(L"D:\\v\\20261025025959.avi", L"20261025020001", exists);
    EXPECT_EQ(next, L"D:\\v\\20261025025959_2.avi");
    EXPECT_GT(next, L"D:\\v\\20261025025959.avi");
    // A previous name without a stamp: now's stamp is used as it is.
    EXPECT_EQ(NextRecordFileName(L"D:\\v\\clip.avi", L"20261025020001", exists),
              L"D:\\v\\20261025020001.avi");
}
