#include "main/RecordFolder.h"

#include "core/Exception.h"
#include "settings/libIniFile.h"
#include "ui/BrowseDr.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cwctype>
#include <string>
#include <thread>

using namespace mainwin;

namespace {

bool IsFolder(const std::wstring& path) {
    const DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

void Touch(const std::wstring& path) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    CloseHandle(f);
}

bool AllDigits(const std::wstring& s) {
    for (wchar_t c : s)
        if (!std::iswdigit(c)) return false;
    return !s.empty();
}

// The main window's font: MS PGothic, 12 pixels.
struct TMainFont {
    HFONT font = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             DEFAULT_PITCH, L"ＭＳ Ｐゴシック");
    ~TMainFont() { DeleteObject(font); }
    int Width(const std::wstring& text) const {
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, font);
        SIZE size{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        SelectObject(dc, old);
        DeleteDC(dc);
        return size.cx;
    }
};

// Presses a button of the folder dialog from another thread once it is shown and ready() holds
// (or a few seconds have passed), as a user would.
class TFolderDialogDriver {
public:
    TFolderDialogDriver(UINT command, std::function<bool()> ready)
        : thread_([command, ready] {
              using namespace std::chrono_literals;
              HWND dlg = nullptr;
              for (int i = 0; i < 300 && !dlg; ++i) {
                  dlg = FindWindowW(L"#32770", L"保存フォルダーの指定");
                  if (!dlg) std::this_thread::sleep_for(50ms);
              }
              if (!dlg) return;
              for (int i = 0; i < 100 && !(IsWindowVisible(dlg) && ready()); ++i)
                  std::this_thread::sleep_for(50ms);
              PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), 0);
          }) {}
    ~TFolderDialogDriver() { thread_.join(); }

private:
    std::thread thread_;
};

// A settings base and a recording folder under the temp directory, removed at the end.
class RecordFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t tmp[MAX_PATH];
        GetTempPathW(MAX_PATH, tmp);
        dir_ = std::wstring(tmp) + L"quarnelby-folder-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(dir_.c_str(), nullptr);
        base_ = dir_ + L"\\Quarnelby";
        videos_ = dir_ + L"\\Recordings of the week";
        CreateDirectoryW(videos_.c_str(), nullptr);
    }
    void TearDown() override {
        for (const auto& f : made_)
            DeleteFileW(f.c_str());
        DeleteFileW((base_ + L".ini").c_str());
        RemoveDirectoryW(videos_.c_str());
        RemoveDirectoryW(dir_.c_str());
    }
    std::wstring dir_, base_, videos_;
    std::vector<std::wstring> made_;
};

} // namespace

TEST_F(RecordFolderTest, FavoritesIsAnExistingFolderAndTheRecycleBinHasNoPath) {
    const std::wstring favorites = GetSpecialFolder(7);
    ASSERT_FALSE(favorites.empty());
    EXPECT_TRUE(IsFolder(favorites)) << testing::PrintToString(favorites);
    EXPECT_TRUE(IsFolder(GetSpecialFolder(5))); // documents
    EXPECT_EQ(GetSpecialFolder(10), L"");       // any other index: the recycle bin
    EXPECT_EQ(GetSpecialFolder(0), L"");
}

TEST_F(RecordFolderTest, StampsAreTheCurrentLocalDateAndTime) {
    SYSTEMTIME before{};
    GetLocalTime(&before);
    const std::wstring date = DateStamp();
    const std::wstring time = TimeStamp();
    ASSERT_EQ(date.size(), 8u);
    ASSERT_EQ(time.size(), 6u);
    EXPECT_TRUE(AllDigits(date));
    EXPECT_TRUE(AllDigits(time));
    EXPECT_EQ(std::stoi(date.substr(0, 4)), before.wYear);
    const int seconds = std::stoi(time.substr(0, 2)) * 3600 + std::stoi(time.substr(2, 2)) * 60 +
                        std::stoi(time.substr(4, 2));
    const int then = before.wHour * 3600 + before.wMinute * 60 + before.wSecond;
    EXPECT_LE((seconds - then + 86400) % 86400, 2) << seconds << " " << then; // midnight wraps
}

TEST_F(RecordFolderTest, FileNameTakesTheStampAndNumbersAnExistingOne) {
    // Three names within one second; a turn of the second in between starts over.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const std::wstring first = MakeFileName(videos_);
        Touch(first);
        made_.push_back(first);
        const std::wstring second = MakeFileName(videos_);
        Touch(second);
        made_.push_back(second);
        const std::wstring third = MakeFileName(videos_);
        const std::wstring stem = first.substr(0, first.size() - 4);
        if (second.substr(0, stem.size()) != stem || third.substr(0, stem.size()) != stem) continue;
        ASSERT_EQ(first.substr(0, videos_.size() + 1), videos_ + L"\\");
        EXPECT_TRUE(first.ends_with(L".avi"));
        EXPECT_TRUE(AllDigits(stem.substr(videos_.size() + 1)));
        EXPECT_EQ(stem.size(), videos_.size() + 1 + 14);
        EXPECT_EQ(second, stem + L"_2.avi");
        EXPECT_EQ(third, stem + L"_3.avi");
        return;
    }
    FAIL() << "the clock turned a second in every attempt";
}

TEST_F(RecordFolderTest, FileNameInADriveRootHasTwoSeparators) {
    const std::wstring name = MakeFileName(L"C:\\");
    EXPECT_EQ(name.substr(0, 4), L"C:\\\\");
    EXPECT_TRUE(AllDigits(name.substr(4, 14)));
    EXPECT_EQ(name.substr(18), L".avi");
}

TEST_F(RecordFolderTest, StatusLineShowsFavoritesWhenNoFolderIsStored) {
    TMainFont font;
    const std::wstring favorites = GetSpecialFolder(7);
    EXPECT_EQ(RecordFolder(base_), favorites);
    EXPECT_EQ(RecordFolderText(base_, 2000, font.font), L" " + favorites);
}

TEST_F(RecordFolderTest, StatusLineFallsBackToFavoritesForADeletedFolder) {
    TMainFont font;
    const std::wstring gone = dir_ + L"\\deleted";
    CreateDirectoryW(gone.c_str(), nullptr);
    settings::WriteIniString(base_, L"SETTING", L"PATH", gone);
    EXPECT_EQ(RecordFolderText(base_, 2000, font.font), L" " + gone);
    RemoveDirectoryW(gone.c_str());
    // The recording still goes to the stored folder; only the display falls back.
    EXPECT_EQ(RecordFolder(base_), gone);
    EXPECT_EQ(DisplayedRecordFolder(base_), GetSpecialFolder(7));
    EXPECT_EQ(RecordFolderText(base_, 2000, font.font), L" " + GetSpecialFolder(7));
    // An empty stored folder is no directory either.
    settings::WriteIniString(base_, L"SETTING", L"PATH", L"");
    EXPECT_EQ(RecordFolder(base_), L"");
    EXPECT_EQ(RecordFolderText(base_, 2000, font.font), L" " + GetSpecialFolder(7));
}

TEST_F(RecordFolderTest, StatusLineShortensTheFolderAtNarrowWidths) {
    TMainFont font;
    settings::WriteIniString(base_, L"SETTING", L"PATH", videos_);
    const std::wstring full = L" " + videos_;
    EXPECT_EQ(RecordFolderText(base_, font.Width(full), font.font), full);

    const std::wstring narrow = RecordFolderText(base_, font.Width(full) - 1, font.font);
    EXPECT_TRUE(narrow.starts_with(L"...\\")) << testing::PrintToString(narrow);
    EXPECT_TRUE(narrow.ends_with(L"\\Recordings of the week"));
    EXPECT_LE(font.Width(narrow), font.Width(full) - 1);

    const int nameOnly = font.Width(L"...\\Recordings of the week") - 1;
    EXPECT_EQ(RecordFolderText(base_, nameOnly, font.font), L"Recordings of the week");
    EXPECT_EQ(RecordFolderText(base_, 1, font.font), L"Recordings of the week");
}

TEST_F(RecordFolderTest, ProgressTextUsesTheLocaleDecimalSeparator) {
    wchar_t sep[8] = L"";
    ASSERT_GT(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, sep, 8), 1);
    EXPECT_EQ(LocaleDecimalSeparator(), sep);
    EXPECT_EQ(FormatProgressText(12340, 123),
              std::wstring(L" RecordingTime : 12") + sep + L"34 sec ,  FrameNo : 123");
    EXPECT_EQ(FormatProgressText(60000, 600),
              std::wstring(L" RecordingTime : 60") + sep + L"00 sec ,  FrameNo : 600");
}

TEST_F(RecordFolderTest, ChosenFolderIsStoredAndCancelChangesNothing) {
    settings::WriteIniString(base_, L"SETTING", L"PATH", videos_);
    ui::TBrowseDirectoryDlg dlg;
    std::atomic<bool> opened{false};
    std::wstring title;
    dlg.OnSelChanged = [&](ui::TBrowseDirectoryDlg& sender, const std::wstring& path,
                           LPCITEMIDLIST) {
        title = sender.Title();
        if (CompareStringOrdinal(path.c_str(), -1, videos_.c_str(), -1, TRUE) == CSTR_EQUAL)
            opened = true;
    };
    {
        TFolderDialogDriver driver(IDCANCEL, [&] { return opened.load(); });
        EXPECT_FALSE(ChooseRecordFolder(dlg, base_));
    }
    EXPECT_TRUE(opened.load()); // the stored folder was selected at opening
    EXPECT_EQ(title, L"ファイルの種類 : MP3 WAV");
    EXPECT_EQ(settings::ReadIniString(base_, L"SETTING", L"PATH", L"-"), videos_);

    // The user moves to the parent folder and presses OK; the move is made through the Selection
    // setter of the open dialog.
    opened = false;
    dlg.OnCreate = [&](ui::TBrowseDirectoryDlg& sender) { sender.SetSelection(dir_); };
    dlg.OnSelChanged = [&](ui::TBrowseDirectoryDlg&, const std::wstring& path, LPCITEMIDLIST) {
        if (CompareStringOrdinal(path.c_str(), -1, dir_.c_str(), -1, TRUE) == CSTR_EQUAL)
            opened = true;
    };
    {
        TFolderDialogDriver driver(IDOK, [&] { return opened.load(); });
        EXPECT_TRUE(ChooseRecordFolder(dlg, base_));
    }
    const std::wstring stored = settings::ReadIniString(base_, L"SETTING", L"PATH", L"-");
    EXPECT_EQ(CompareStringOrdinal(stored.c_str(), -1, dir_.c_str(), -1, TRUE), CSTR_EQUAL)
        << testing::PrintToString(stored);
    EXPECT_EQ(dlg.Caption(), L"保存フォルダーの指定");
    EXPECT_EQ(dlg.StatusText(), L"フォルダー選択 :");
}

TEST_F(RecordFolderTest, AnUnwritableSettingsFileRaisesTheError) {
    const std::wstring unwritable = dir_ + L"\\missing\\Quarnelby";
    ui::TBrowseDirectoryDlg dlg;
    TFolderDialogDriver driver(IDOK, [] { return true; });
    try {
        ChooseRecordFolder(dlg, unwritable);
        ADD_FAILURE() << "no error raised";
    } catch (const core::Exception& e) {
        EXPECT_EQ(e.Message(), unwritable + L".ini に書き込めません");
    }
}
