#include "core/RecordNaming.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

using namespace core;

namespace {

// A proportional font: dots are narrow, so "...\\" is narrower than the " C:\\" it replaces.
int Px(std::wstring_view t) {
    int w = 0;
    for (wchar_t c : t)
        w += c == L'.' ? 3 : 7;
    return w;
}

} // namespace

TEST(RecordNaming, StampsArePaddedDigitsOfTheLocalDateAndTime) {
    const DateTime t{2026, 1, 5, 7, 4, 3};
    EXPECT_EQ(DateStampOf(t), L"20260105");
    EXPECT_EQ(TimeStampOf(t), L"070403");
    EXPECT_EQ(DateStampOf(t) + TimeStampOf(t), L"20260105070403");
    EXPECT_EQ(DateStampOf({2026, 12, 6, 20, 53, 5}) + TimeStampOf({2026, 12, 6, 20, 53, 5}),
              L"20261206205305");
    EXPECT_EQ(DateStampOf({987, 10, 31, 0, 0, 0}), L"09871031");
    EXPECT_EQ(DateStampOf({12026, 1, 1, 0, 0, 0}), L"20260101"); // last four digits
    EXPECT_EQ(TimeStampOf({2026, 1, 1, 23, 59, 59}), L"235959");
    EXPECT_EQ(TimeStampOf({2026, 1, 1, 0, 0, 0}), L"000000");
}

TEST(RecordNaming, FileNameAlwaysInsertsTheSeparator) {
    auto none = [](const std::wstring&) { return false; };
    EXPECT_EQ(RecordFileName(L"C:\\Video", L"20261206205305", none),
              L"C:\\Video\\20261206205305.avi");
    EXPECT_EQ(RecordFileName(L"D:\\", L"20261206205305", none), L"D:\\\\20261206205305.avi");
    EXPECT_EQ(RecordFileName(L"", L"20261206205305", none), L"\\20261206205305.avi");
}

TEST(RecordNaming, AnExistingFileGetsANumberBeforeTheExtension) {
    std::set<std::wstring> files = {L"C:\\V\\20260105070403.avi"};
    std::vector<std::wstring> asked;
    auto exists = [&](const std::wstring& n) {
        asked.push_back(n);
        return files.count(n) > 0;
    };
    EXPECT_EQ(RecordFileName(L"C:\\V", L"20260105070403", exists), L"C:\\V\\20260105070403_2.avi");
    files.insert(L"C:\\V\\20260105070403_2.avi");
    asked.clear();
    EXPECT_EQ(RecordFileName(L"C:\\V", L"20260105070403", exists), L"C:\\V\\20260105070403_3.avi");
    EXPECT_EQ(asked, (std::vector<std::wstring>{L"C:\\V\\20260105070403.avi",
                                                L"C:\\V\\20260105070403_2.avi",
                                                L"C:\\V\\20260105070403_3.avi"}));
    // Another second's name is free again.
    EXPECT_EQ(RecordFileName(L"C:\\V", L"20260105070404", exists), L"C:\\V\\20260105070404.avi");
}

TEST(RecordNaming, FolderTextLosesOneFolderPerCutUntilItFits) {
    const std::wstring text = L" C:\\Documents and Settings\\user\\Favorites";
    const std::vector<std::wstring> forms = {text, L"...\\Documents and Settings\\user\\Favorites",
                                             L"...\\user\\Favorites", L"...\\Favorites",
                                             L"Favorites"};
    for (const auto& expected : forms)
        EXPECT_EQ(ShortenFolderText(Px, Px(expected), text), expected);
    // A width between two forms gives the shorter one.
    EXPECT_EQ(ShortenFolderText(Px, Px(L"...\\user\\Favorites") - 1, text), L"...\\Favorites");
    // Narrower than the name: the name all the same.
    EXPECT_EQ(ShortenFolderText(Px, 10, text), L"Favorites");

    std::vector<std::wstring> measured;
    auto record = [&](std::wstring_view t) {
        measured.emplace_back(t);
        return 1000;
    };
    EXPECT_EQ(ShortenFolderText(record, 999, text), L"Favorites");
    // The bare name is the last form and is not measured any more.
    EXPECT_EQ(measured, std::vector<std::wstring>(forms.begin(), forms.end() - 1));
}

TEST(RecordNaming, FolderTextOfARootOrAPlainName) {
    EXPECT_EQ(ShortenFolderText(Px, 0, L" D:\\"), L"");
    EXPECT_EQ(ShortenFolderText(Px, 0, L" D:\\Video"), L"Video");
    EXPECT_EQ(ShortenFolderText(Px, 0, L" name"), L" name");
    EXPECT_EQ(ShortenFolderText(Px, 0, L" C:\\.git\\objects\\pack"), L"pack");
    EXPECT_EQ(ShortenFolderText(Px, Px(L"...\\objects\\pack"), L" C:\\.git\\objects\\pack"),
              L"...\\objects\\pack");
}

TEST(RecordNaming, ProgressTextHasTwoDecimalsBehindTheLocaleSeparator) {
    EXPECT_EQ(ProgressText(60000, 600, L"."), L" RecordingTime : 60.00 sec ,  FrameNo : 600");
    EXPECT_EQ(ProgressText(12340, 123, L"."), L" RecordingTime : 12.34 sec ,  FrameNo : 123");
    EXPECT_EQ(ProgressText(12340, 123, L","), L" RecordingTime : 12,34 sec ,  FrameNo : 123");
    EXPECT_EQ(ProgressText(0, 0, L"."), L" RecordingTime : 0.00 sec ,  FrameNo : 0");
    EXPECT_EQ(ProgressText(501, 5, L"."), L" RecordingTime : 0.50 sec ,  FrameNo : 5");
    EXPECT_EQ(ProgressText(1009, 10, L"."), L" RecordingTime : 1.01 sec ,  FrameNo : 10");
    EXPECT_EQ(ProgressText(4294967295u, 2147483647, L"."),
              L" RecordingTime : 4294967.30 sec ,  FrameNo : 2147483647");
}

TEST(RecordNaming, ProgressSecondsRoundHalfUpFromTheExactMilliseconds) {
    // 12.345 and 0.005 have no exact binary form; the text still rounds the decimal half up.
    EXPECT_EQ(ProgressText(12345, 1, L"."), L" RecordingTime : 12.35 sec ,  FrameNo : 1");
    EXPECT_EQ(ProgressText(5, 1, L"."), L" RecordingTime : 0.01 sec ,  FrameNo : 1");
    EXPECT_EQ(ProgressText(1004, 1, L"."), L" RecordingTime : 1.00 sec ,  FrameNo : 1");
    EXPECT_EQ(ProgressText(99995, 1, L"."), L" RecordingTime : 100.00 sec ,  FrameNo : 1");
}

TEST(RecordNaming, SpecialFolderIndexesMapToShellFolders) {
    const int expected[] = {16, 11, 2, 8, 5, 7, 6, 9, 20};
    for (std::uint32_t i = 1; i <= 9; ++i)
        EXPECT_EQ(SpecialFolderNumber(i), expected[i - 1]);
    EXPECT_EQ(SpecialFolderNumber(7), 6); // Favorites
    EXPECT_EQ(SpecialFolderNumber(0), 10);
    EXPECT_EQ(SpecialFolderNumber(10), 10);
    EXPECT_EQ(SpecialFolderNumber(0xFFFFFFFFu), 10);
}
