#include "core/BrowseRules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace core;

namespace {

// Every character is 10 pixels wide; the calls are recorded to follow the steps of a fit.
struct Measure {
    std::vector<std::wstring> seen;
    TextWidthFn Fn() {
        return [this](std::wstring_view t) {
            seen.emplace_back(t);
            return static_cast<int>(t.size()) * 10;
        };
    }
};

// A proportional font: dots are narrow.
int Px(std::wstring_view t) {
    int w = 0;
    for (wchar_t c : t)
        w += c == L'.' ? 3 : 10;
    return w;
}

} // namespace

TEST(BrowseRules, NormalizeSelectionGivesThePickerItsPathText) {
    EXPECT_EQ(NormalizeSelection(L"C:"), L"C:\\");
    EXPECT_EQ(NormalizeSelection(L"C:\\"), L"C:\\");
    EXPECT_EQ(NormalizeSelection(L"C:x"), L"C:x"); // short drive-relative text stays
    EXPECT_EQ(NormalizeSelection(L"D:\\Video\\"), L"D:\\Video");
    EXPECT_EQ(NormalizeSelection(L"D:\\Video"), L"D:\\Video");
    EXPECT_EQ(NormalizeSelection(L"\\"), L"\\");
    EXPECT_EQ(NormalizeSelection(L"\\\\server\\share\\"), L"\\\\server\\share");
    EXPECT_EQ(NormalizeSelection(L""), L"");
}

TEST(BrowseRules, ShortenDirectoryCutsOneFolderPerCall) {
    std::wstring dir = L"\\Program Files\\Video\\";
    ShortenDirectory(dir);
    EXPECT_EQ(dir, L"\\...\\Video\\");
    ShortenDirectory(dir);
    EXPECT_EQ(dir, L"\\...\\");
    dir = L"...\\";
    ShortenDirectory(dir);
    EXPECT_EQ(dir, L"");
    dir = L"\\";
    ShortenDirectory(dir);
    EXPECT_EQ(dir, L"");
    dir = L"Video\\Output\\";
    ShortenDirectory(dir);
    EXPECT_EQ(dir, L"...\\Output\\");
    // A folder name beginning with a dot is an ordinary folder, not a cut marker.
    dir = L"\\.m2\\repo\\";
    ShortenDirectory(dir);
    EXPECT_EQ(dir, L"\\...\\repo\\");
}

TEST(BrowseRules, FitPathShrinksFolderByFolderUntilItFits) {
    const std::wstring path = L"C:\\Program Files\\Video\\Output";
    const std::vector<std::wstring> steps = {path, L"C:\\...\\Video\\Output", L"C:\\...\\Output",
                                             L"...\\Output", L"Output"};
    for (const auto& expected : steps)
        EXPECT_EQ(FitPath(Px, Px(expected), path), expected) << "width of " << Px(expected);
    // Too narrow for anything: the bare name.
    EXPECT_EQ(FitPath(Px, 5, path), L"Output");
    // One pixel short of a form goes on to the next one.
    EXPECT_EQ(FitPath(Px, Px(L"C:\\...\\Video\\Output") - 1, path), L"C:\\...\\Output");

    // The bare name is the last form and is not measured any more.
    Measure m;
    (void)FitPath(m.Fn(), 0, path);
    EXPECT_EQ(m.seen, std::vector<std::wstring>(steps.begin(), steps.end() - 1));
}

TEST(BrowseRules, FitPathOfADirectoryWithTrailingBackslashEndsEmpty) {
    const std::wstring path = L"C:\\Program Files\\Video\\Output\\";
    Measure m;
    EXPECT_EQ(FitPath(m.Fn(), 0, path), L"");
    const std::vector<std::wstring> steps = {
        path, L"C:\\...\\Video\\Output\\", L"C:\\...\\Output\\", L"C:\\...\\", L"...\\", L""};
    // The empty text fits any width, so it is never measured.
    EXPECT_EQ(m.seen, std::vector<std::wstring>(steps.begin(), steps.end() - 1));
    EXPECT_EQ(FitPath(Px, Px(L"C:\\...\\"), path), L"C:\\...\\");
}

TEST(BrowseRules, FitPathUnderADriveRootDropsTheSeparatorThenTheDrive) {
    EXPECT_EQ(FitPath(Px, Px(L"C:\\Data"), L"C:\\Data"), L"C:\\Data");
    EXPECT_EQ(FitPath(Px, Px(L"C:Data"), L"C:\\Data"), L"C:Data");
    EXPECT_EQ(FitPath(Px, Px(L"Data"), L"C:\\Data"), L"Data");
    EXPECT_EQ(FitPath(Px, 0, L"NoFolder"), L"NoFolder");
}

TEST(BrowseRules, FitTextKeepsTheLongestPrefixThatFitsWithDots) {
    const std::wstring text = L"フォルダー選択 :";
    EXPECT_EQ(FitText(Px, Px(text), text), text);
    EXPECT_EQ(FitText(Px, Px(text) - 1, text), L"フォルダー選択 ...");
    EXPECT_EQ(FitText(Px, Px(L"フォルダー選択 ...") - 1, text), L"フォルダー選択...");
    EXPECT_EQ(FitText(Px, Px(L"フォ..."), text), L"フォ...");
    EXPECT_EQ(FitText(Px, 0, text), L"...");
    EXPECT_EQ(FitText(Px, 0, L""), L"");
    // A character outside the basic plane is dropped whole, never half a surrogate pair.
    // (Spelled as UTF-16 code units, as the program holds its text.)
    const std::wstring pair = {wchar_t(0xD83D), wchar_t(0xDE00)};
    const std::wstring wide = L"ab" + pair + L"c";
    EXPECT_EQ(FitText(Px, Px(L"ab" + pair + L"..."), wide), L"ab" + pair + L"...");
    EXPECT_EQ(FitText(Px, Px(L"ab" + pair + L"...") - 1, wide), L"ab...");
}

TEST(BrowseRules, RootsMapToShellFolderNumbersByPlatformFamily) {
    EXPECT_EQ(BrowseRootFolderNumber(0, true), 0);    // desktop
    EXPECT_EQ(BrowseRootFolderNumber(6, false), 6);   // favorites
    EXPECT_EQ(BrowseRootFolderNumber(12, true), 16);  // desktop directory
    EXPECT_EQ(BrowseRootFolderNumber(17, true), 21);  // templates
    EXPECT_EQ(BrowseRootFolderNumber(18, true), 22);  // common start menu
    EXPECT_EQ(BrowseRootFolderNumber(18, false), 11); // ... the user's start menu
    EXPECT_EQ(BrowseRootFolderNumber(19, false), 2);  // common programs
    EXPECT_EQ(BrowseRootFolderNumber(20, false), 7);  // common startup
    EXPECT_EQ(BrowseRootFolderNumber(21, true), 25);  // common desktop directory
    EXPECT_EQ(BrowseRootFolderNumber(21, false), 16);
    EXPECT_EQ(BrowseRootFolderNumber(22, false), 26);    // app data
    EXPECT_EQ(BrowseRootFolderNumber(24, true), 0xFEFE); // expanded desktop
    EXPECT_EQ(BrowseRootFolderNumber(25, true), 0);
    EXPECT_EQ(BrowseRootFolderNumber(-1, true), 0);
}

TEST(BrowseRules, FlagMembersMapToShellBrowseFlags) {
    const std::uint32_t expected[] = {0x0001, 0x0002, 0x0008, 0x1000, 0x2000, 0x4000};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(BrowseFlagValue(i), expected[i]);
    EXPECT_EQ(BrowseFlagValue(6), 0u);
}

TEST(BrowseRules, DriveRootsAreRecognisedByTheirLetter) {
    EXPECT_EQ(DriveRootNumber(L"A:\\"), 0);
    EXPECT_EQ(DriveRootNumber(L"c:\\"), 2);
    EXPECT_EQ(DriveRootNumber(L"Z:\\"), 25);
    EXPECT_EQ(DriveRootNumber(L"_:\\"), 30); // beyond Z but within the mask's bits
    EXPECT_EQ(DriveRootNumber(L"1:\\"), std::nullopt);
    EXPECT_EQ(DriveRootNumber(L"C:"), std::nullopt);
    EXPECT_EQ(DriveRootNumber(L"C:\\x"), std::nullopt);
    EXPECT_EQ(DriveRootNumber(L"C;\\"), std::nullopt);
}
