#include "settings/libIniFile.h"

#include "core/Exception.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

using namespace settings;

namespace {

// A fresh folder under the Wine prefix's temp directory for each test.
class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t tmp[MAX_PATH];
        GetTempPathW(MAX_PATH, tmp);
        dir_ = std::wstring(tmp) + L"quarnelby-ini-" + std::to_wstring(GetCurrentProcessId()) +
               L"-" + std::to_wstring(counter_++);
        CreateDirectoryW(dir_.c_str(), nullptr);
        base_ = dir_ + L"\\Quarnelby";
    }
    void TearDown() override {
        DeleteFileW((base_ + L".ini").c_str());
        RemoveDirectoryW(dir_.c_str());
    }
    void WriteRaw(const std::string& content) {
        HANDLE f = CreateFileW((base_ + L".ini").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(f, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(f, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
        CloseHandle(f);
    }
    std::wstring dir_, base_;
    static inline int counter_ = 0;
};

TEST_F(IniFileTest, IntegersFollowTheStoredRules) {
    WriteRaw("[FORM]\r\nMainLeft=0x20\r\nMainTop=$20\r\nMainWidth=-40\r\nMainHeight=\r\n"
             "OtherWidth=wide\r\nOtherHeight=12px\r\n");
    EXPECT_EQ(ReadIniInteger(base_, L"FORM", L"MainLeft", 7), 32);
    EXPECT_EQ(ReadIniInteger(base_, L"FORM", L"MainTop", 7), 32);
    EXPECT_EQ(ReadIniInteger(base_, L"FORM", L"MainWidth", 7), -40);
    EXPECT_EQ(ReadIniInteger(base_, L"FORM", L"MainHeight", 328), 328);
    EXPECT_EQ(ReadIniInteger(base_, L"FORM", L"OtherWidth", 328), 328);
    EXPECT_EQ(ReadIniInteger(base_, L"FORM", L"OtherHeight", 290), 290);
    // Keys and sections match without regard to case.
    EXPECT_EQ(ReadIniInteger(base_, L"form", L"MAINLEFT", 7), 32);
}

TEST_F(IniFileTest, MissingEntriesGiveTheDefaultButAnEmptyValueDoesNot) {
    EXPECT_EQ(ReadIniString(base_, L"SETTING", L"PATH", L"C:\\fav"), L"C:\\fav"); // no file
    WriteRaw("[SETTING]\r\nPATH=\r\n[FORM]\r\nMainTop=5\r\n");
    EXPECT_EQ(ReadIniString(base_, L"SETTING", L"PATH", L"C:\\fav"), L"");
    EXPECT_EQ(ReadIniString(base_, L"SETTING", L"OTHER", L"d"), L"d");  // missing key
    EXPECT_EQ(ReadIniString(base_, L"NOSECTION", L"PATH", L"d"), L"d"); // missing section
    EXPECT_EQ(ReadIniInteger(base_, L"FORM", L"MainLeft", 274), 274);
    // Only the key list tells the empty value from the missing key.
    EXPECT_TRUE(IniKeyExists(base_, L"setting", L"path"));
    EXPECT_FALSE(IniKeyExists(base_, L"SETTING", L"OTHER"));
    EXPECT_FALSE(IniKeyExists(base_, L"NOSECTION", L"PATH"));
}

TEST_F(IniFileTest, LongValuesAndNonAnsiFoldersRoundTrip) {
    std::wstring longValue(100000, L'x'); // far longer than one read's buffer
    longValue[0] = L'C';
    longValue.back() = L'Z';
    WriteIniString(base_, L"SETTING", L"PATH", longValue);
    const std::wstring read = ReadIniString(base_, L"SETTING", L"PATH", L"");
    EXPECT_EQ(read.size(), longValue.size());
    EXPECT_TRUE(read == longValue);

    const std::wstring japanese = L"D:\\録画\\ビデオ";
    WriteIniString(base_, L"SETTING", L"PATH", japanese);
    EXPECT_EQ(ReadIniString(base_, L"SETTING", L"PATH", L""), japanese);
}

TEST_F(IniFileTest, FormPositionAndSizeRoundTripThroughTheFile) {
    // No file: the position stays, the size is the default.
    EXPECT_EQ(LoadFormSize(base_, L"FORM", L"Main", core::Size{328, 290},
                           LoadFormPos(base_, L"FORM", L"Main", {274, 122, 10, 20})),
              (core::Rect{274, 122, 328, 290}));

    const core::Rect bounds{-40, 33, 400, 300};
    SaveFormPos(base_, L"FORM", L"Main", bounds);
    SaveFormSize(base_, L"FORM", L"Main", bounds);
    EXPECT_EQ(ReadIniString(base_, L"FORM", L"MainLeft", L""), L"-40");
    EXPECT_EQ(ReadIniString(base_, L"FORM", L"MainTop", L""), L"33");
    EXPECT_EQ(ReadIniString(base_, L"FORM", L"MainWidth", L""), L"400");
    EXPECT_EQ(ReadIniString(base_, L"FORM", L"MainHeight", L""), L"300");

    EXPECT_EQ(LoadFormSize(base_, L"FORM", L"Main", core::Size{328, 290},
                           LoadFormPos(base_, L"FORM", L"Main", {1, 2, 3, 4})),
              bounds);
}

TEST_F(IniFileTest, MissingOrNonPositiveSizesUseTheGivenDefaults) {
    WriteRaw("[FORM]\r\nMainWidth=\r\nMainHeight=-290\r\n");
    EXPECT_EQ(LoadFormSize(base_, L"FORM", L"Main", core::Size{328, 290}, {5, 6, 10, 10}),
              (core::Rect{5, 6, 328, 290}));
}

TEST_F(IniFileTest, RefusedWriteRaisesTheErrorWithThePath) {
    const std::wstring missing = dir_ + L"\\no-such-folder\\Quarnelby";
    try {
        WriteIniString(missing, L"SETTING", L"PATH", L"x");
        FAIL() << "the write into a missing folder was reported as done";
    } catch (const core::Exception& e) {
        EXPECT_EQ(e.Message(), missing + L".ini に書き込めません");
    }
    EXPECT_THROW(SaveFormPos(missing, L"FORM", L"Main", {}), core::Exception);
}

TEST(IniFile, AppDirIsTheFolderOfThisProgram) {
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    const std::wstring dir = GetAppDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_NE(dir.back(), L'\\');
    EXPECT_EQ(std::wstring(exe).rfind(dir + L"\\", 0), 0u);
    EXPECT_EQ(std::wstring(exe).find(L'\\', dir.size() + 1), std::wstring::npos);
}

} // namespace
