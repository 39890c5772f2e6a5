#include "ui/BrowseDr.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace ui;
using namespace std::chrono_literals;

namespace {

const std::wstring kCaption = L"保存フォルダーの指定";
constexpr int kStatusLineId = 14147;

std::wstring TextOf(HWND wnd) {
    wchar_t buffer[1024] = L"";
    GetWindowTextW(wnd, buffer, 1024);
    return buffer;
}

// What the driving thread saw of the open dialog.
struct Seen {
    bool found = false;
    RECT rect{};
    int screenWidth = 0;
    int screenHeight = 0;
    std::wstring caption;
    std::wstring status;
    int statusWidth = 0;
    int statusTextWidth = 0;
    bool okEnabled = false;
};

// Finds the picker by its caption from another thread, waits until ready() holds (at most a few
// seconds), notes what it shows and then presses a button of it, as a user would.
class TDialogDriver {
public:
    TDialogDriver(
        std::wstring caption, UINT command, std::function<bool()> ready = [] { return true; })
        : thread_([this, caption, command, ready] {
              HWND dlg = nullptr;
              for (int i = 0; i < 300 && !dlg; ++i) {
                  dlg = FindWindowW(L"#32770", caption.c_str());
                  if (!dlg) std::this_thread::sleep_for(50ms);
              }
              if (!dlg) return;
              // Generous: on a loaded machine the shell fills its tree slowly in a new prefix.
              for (int i = 0; i < 400 && !(IsWindowVisible(dlg) && ready()); ++i)
                  std::this_thread::sleep_for(50ms);
              seen.found = true;
              GetWindowRect(dlg, &seen.rect);
              seen.screenWidth = GetSystemMetrics(SM_CXSCREEN);
              seen.screenHeight = GetSystemMetrics(SM_CYSCREEN);
              seen.caption = TextOf(dlg);
              HWND status = GetDlgItem(dlg, kStatusLineId);
              if (status) {
                  seen.status = TextOf(status);
                  RECT r{};
                  GetWindowRect(status, &r);
                  seen.statusWidth = r.right - r.left;
                  HDC dc = GetDC(status);
                  HGDIOBJ old = SelectObject(
                      dc, reinterpret_cast<HFONT>(SendMessageW(status, WM_GETFONT, 0, 0)));
                  SIZE size{};
                  GetTextExtentPoint32W(dc, seen.status.c_str(),
                                        static_cast<int>(seen.status.size()), &size);
                  seen.statusTextWidth = size.cx;
                  SelectObject(dc, old);
                  ReleaseDC(status, dc);
              }
              seen.okEnabled = IsWindowEnabled(GetDlgItem(dlg, IDOK));
              PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), 0);
          }) {}
    ~TDialogDriver() { Join(); }
    void Join() {
        if (thread_.joinable()) thread_.join();
    }
    Seen seen;

private:
    std::thread thread_;
};

// A folder tree under the temp directory, removed at the end.
class BrowseDrTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t tmp[MAX_PATH];
        GetTempPathW(MAX_PATH, tmp);
        root_ = std::wstring(tmp) + L"quarnelby-browse-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(root_.c_str(), nullptr);
        video_ = root_ + L"\\Video";
        CreateDirectoryW(video_.c_str(), nullptr);
        longDir_ = video_ + L"\\A folder with a rather long name for the status line";
        CreateDirectoryW(longDir_.c_str(), nullptr);
        file_ = root_ + L"\\clip.avi";
        HANDLE f = CreateFileW(file_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        CloseHandle(f);
    }
    void TearDown() override {
        DeleteFileW(file_.c_str());
        RemoveDirectoryW(longDir_.c_str());
        RemoveDirectoryW(video_.c_str());
        RemoveDirectoryW(root_.c_str());
    }
    // The dialog as the main window sets it up for choosing the recording folder.
    void SetUpLikeTheMainWindow(TBrowseDirectoryDlg& dlg) {
        dlg.SetCaption(kCaption);
        dlg.SetTitle(L"ファイルの種類 : MP3 WAV");
        dlg.SetStatusText(L"フォルダー選択 :");
    }
    std::wstring root_, video_, longDir_, file_;
};

bool SameFolder(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

} // namespace

TEST_F(BrowseDrTest, IsDirectoryKnowsDrivesFoldersAndFiles) {
    EXPECT_TRUE(TBrowseDirectoryDlg::IsDirectory(L"C:\\"));
    EXPECT_TRUE(TBrowseDirectoryDlg::IsDirectory(L"c:\\"));
    const DWORD drives = GetLogicalDrives();
    for (int d = 0; d < 26; ++d) {
        const std::wstring rootText = std::wstring(1, static_cast<wchar_t>(L'A' + d)) + L":\\";
        EXPECT_EQ(TBrowseDirectoryDlg::IsDirectory(rootText), ((drives >> d) & 1u) != 0) << d;
    }
    EXPECT_TRUE(TBrowseDirectoryDlg::IsDirectory(video_));
    EXPECT_TRUE(TBrowseDirectoryDlg::IsDirectory(video_ + L"\\"));
    EXPECT_FALSE(TBrowseDirectoryDlg::IsDirectory(root_ + L"\\missing"));
    EXPECT_FALSE(TBrowseDirectoryDlg::IsDirectory(file_));
    EXPECT_FALSE(TBrowseDirectoryDlg::IsDirectory(L""));
    EXPECT_FALSE(TBrowseDirectoryDlg::IsDirectory(L"\\"));
    // A wildcard would match some other entry; it names no folder.
    EXPECT_FALSE(TBrowseDirectoryDlg::IsDirectory(root_ + L"\\Vid*"));
}

TEST_F(BrowseDrTest, SelectionOfAnExistingFolderKeepsATrailingBackslash) {
    TBrowseDirectoryDlg dlg;
    EXPECT_EQ(dlg.Selection(), L"");
    dlg.SetSelection(video_);
    EXPECT_EQ(dlg.Selection(), video_ + L"\\");
    dlg.SetSelection(root_ + L"\\missing");
    EXPECT_EQ(dlg.Selection(), root_ + L"\\missing");
    dlg.SetSelection(file_);
    EXPECT_EQ(dlg.Selection(), file_);
}

TEST_F(BrowseDrTest, DefaultsAreThoseOfAFreshComponent) {
    TBrowseDirectoryDlg dlg;
    EXPECT_EQ(dlg.Root(), idDesktop);
    EXPECT_EQ(dlg.Options(), TBrowseFlags{});
    EXPECT_TRUE(dlg.Center());
    EXPECT_TRUE(dlg.FitStatusText());
    EXPECT_TRUE(dlg.EnableOKButton());
    EXPECT_EQ(dlg.ImageIndex(), -1);
    EXPECT_FALSE(dlg.ShowSelectionInStatus());
    EXPECT_EQ(dlg.Caption(), L"");
    EXPECT_EQ(dlg.DialogHandle(), nullptr);
    EXPECT_EQ(dlg.SelectionPIDL(), nullptr);
    EXPECT_EQ((TBrowseFlags{bfDirectoriesOnly, bfComputers, bfIncludeFiles}.ShellFlags()), 0x5001u);
}

TEST_F(BrowseDrTest, OkReturnsTheFolderSelectedAtOpening) {
    TBrowseDirectoryDlg dlg;
    SetUpLikeTheMainWindow(dlg);
    dlg.SetSelection(video_);
    std::vector<std::wstring> changes;
    std::atomic<bool> selected{false};
    int created = 0;
    HWND handleAtCreate = nullptr;
    std::wstring captionAtCreate;
    dlg.OnCreate = [&](TBrowseDirectoryDlg& sender) {
        ++created;
        handleAtCreate = sender.DialogHandle();
        captionAtCreate = sender.Caption();
    };
    dlg.OnSelChanged = [&](TBrowseDirectoryDlg&, const std::wstring& path, LPCITEMIDLIST list) {
        changes.push_back(path);
        if (list && SameFolder(path, video_)) selected = true;
    };

    TDialogDriver driver(kCaption, IDOK, [&] { return selected.load(); });
    const bool chosen = dlg.Execute();
    driver.Join();

    ASSERT_TRUE(driver.seen.found);
    const Seen& s = driver.seen;
    const int w = s.rect.right - s.rect.left;
    const int h = s.rect.bottom - s.rect.top;
    EXPECT_EQ(s.rect.left, (s.screenWidth - w) / 2);
    EXPECT_EQ(s.rect.top, (s.screenHeight - h) / 2);
    EXPECT_EQ(s.caption, kCaption);
    EXPECT_EQ(s.status, L"フォルダー選択 :"); // short enough to stand as it is
    EXPECT_TRUE(s.okEnabled);
    EXPECT_EQ(created, 1);
    EXPECT_NE(handleAtCreate, nullptr);
    EXPECT_EQ(captionAtCreate, kCaption); // read from the open window
    ASSERT_TRUE(selected.load());

    EXPECT_TRUE(chosen);
    EXPECT_TRUE(SameFolder(dlg.Selection(), video_))
        << "got " << testing::PrintToString(dlg.Selection());
    EXPECT_NE(dlg.SelectionPIDL(), nullptr);
    EXPECT_NE(dlg.ImageIndex(), -1);
    EXPECT_EQ(dlg.DialogHandle(), nullptr);
    EXPECT_EQ(dlg.Caption(), kCaption); // the stored text once closed
}

TEST_F(BrowseDrTest, CancelReturnsFalseAndClearsTheSelection) {
    TBrowseDirectoryDlg dlg;
    SetUpLikeTheMainWindow(dlg);
    dlg.SetSelection(video_);
    TDialogDriver driver(kCaption, IDCANCEL);
    EXPECT_FALSE(dlg.Execute());
    driver.Join();
    ASSERT_TRUE(driver.seen.found);
    EXPECT_EQ(dlg.Selection(), L"");
    EXPECT_EQ(dlg.SelectionPIDL(), nullptr);
}

TEST_F(BrowseDrTest, OkButtonOpensInTheSetState) {
    TBrowseDirectoryDlg dlg;
    dlg.SetCaption(kCaption);
    dlg.SetEnableOKButton(false);
    TDialogDriver driver(kCaption, IDCANCEL);
    EXPECT_FALSE(dlg.Execute());
    driver.Join();
    ASSERT_TRUE(driver.seen.found);
    EXPECT_FALSE(driver.seen.okEnabled);
}

TEST_F(BrowseDrTest, AHeldListReselectsTheLastChoice) {
    TBrowseDirectoryDlg dlg;
    dlg.SetCaption(kCaption);
    dlg.SetSelection(video_);
    {
        // OK only once the folder is selected, or the choice held is whatever the tree showed.
        std::atomic<bool> selected{false};
        dlg.OnSelChanged = [&](TBrowseDirectoryDlg&, const std::wstring& path, LPCITEMIDLIST) {
            if (SameFolder(path, video_)) selected = true;
        };
        TDialogDriver driver(kCaption, IDOK, [&] { return selected.load(); });
        ASSERT_TRUE(dlg.Execute());
        driver.Join();
        ASSERT_TRUE(SameFolder(dlg.Selection(), video_));
    }
    // With the text cleared, the list of the last choice alone selects it again and gives the
    // text back.
    dlg.SetSelection(L"");
    ASSERT_NE(dlg.SelectionPIDL(), nullptr);
    std::wstring selectionAtCreate;
    dlg.OnCreate = [&](TBrowseDirectoryDlg& sender) { selectionAtCreate = sender.Selection(); };
    std::atomic<bool> selected{false};
    dlg.OnSelChanged = [&](TBrowseDirectoryDlg&, const std::wstring& path, LPCITEMIDLIST) {
        if (SameFolder(path, video_)) selected = true;
    };
    TDialogDriver driver(kCaption, IDOK, [&] { return selected.load(); });
    EXPECT_TRUE(dlg.Execute());
    driver.Join();
    EXPECT_TRUE(selected.load());
    EXPECT_TRUE(SameFolder(selectionAtCreate, video_));
    EXPECT_TRUE(SameFolder(dlg.Selection(), video_));
}

TEST_F(BrowseDrTest, ALongSentenceIsCutToTheStatusLineWithDots) {
    const std::wstring sentence = L"Choose the folder in which every new recording is written; it "
                                  L"can be changed at any time.";
    TBrowseDirectoryDlg dlg;
    dlg.SetCaption(kCaption);
    dlg.SetStatusText(sentence);
    TDialogDriver driver(kCaption, IDCANCEL);
    EXPECT_FALSE(dlg.Execute());
    driver.Join();
    const Seen& s = driver.seen;
    ASSERT_TRUE(s.found);
    ASSERT_GT(s.statusWidth, 0);
    ASSERT_TRUE(s.status.ends_with(L"..."));
    EXPECT_LT(s.status.size(), sentence.size());
    EXPECT_EQ(sentence.substr(0, s.status.size() - 3), s.status.substr(0, s.status.size() - 3));
    EXPECT_LE(s.statusTextWidth, s.statusWidth);
}

TEST_F(BrowseDrTest, UnfittedStatusTextIsSentAsItIs) {
    const std::wstring sentence = L"Choose the folder in which every new recording is written; it "
                                  L"can be changed at any time.";
    TBrowseDirectoryDlg dlg;
    dlg.SetCaption(kCaption);
    dlg.SetStatusText(sentence);
    dlg.SetFitStatusText(false);
    TDialogDriver driver(kCaption, IDCANCEL);
    EXPECT_FALSE(dlg.Execute());
    driver.Join();
    ASSERT_TRUE(driver.seen.found);
    EXPECT_EQ(driver.seen.status, sentence);
}

TEST_F(BrowseDrTest, SelectionShownInStatusIsFittedAsAPath) {
    TBrowseDirectoryDlg dlg;
    dlg.SetCaption(kCaption);
    dlg.SetShowSelectionInStatus(true);
    dlg.SetSelection(longDir_);
    std::atomic<bool> selected{false};
    dlg.OnSelChanged = [&](TBrowseDirectoryDlg&, const std::wstring& path, LPCITEMIDLIST) {
        if (SameFolder(path, longDir_)) selected = true;
    };
    TDialogDriver driver(kCaption, IDOK, [&] { return selected.load(); });
    EXPECT_TRUE(dlg.Execute());
    driver.Join();
    const Seen& s = driver.seen;
    ASSERT_TRUE(s.found);
    ASSERT_TRUE(selected.load());
    // The status text follows the selection and is shortened folder by folder from the front.
    EXPECT_TRUE(SameFolder(dlg.StatusText(), longDir_));
    EXPECT_NE(s.status, longDir_);
    EXPECT_TRUE(s.status.ends_with(L"A folder with a rather long name for the status line"))
        << testing::PrintToString(s.status);
    EXPECT_NE(s.status.find(L"...\\"), std::wstring::npos);
}

TEST_F(BrowseDrTest, AnErrorInAHandlerClosesThePickerAndReachesTheCaller) {
    TBrowseDirectoryDlg dlg;
    dlg.SetCaption(kCaption);
    dlg.SetSelection(video_);
    dlg.OnCreate = [](TBrowseDirectoryDlg&) { throw std::runtime_error("handler failed"); };
    EXPECT_THROW(dlg.Execute(), std::runtime_error);
    EXPECT_EQ(dlg.Selection(), L"");
    EXPECT_EQ(FindWindowW(L"#32770", kCaption.c_str()), nullptr);
}

TEST_F(BrowseDrTest, ExecuteBringsItsOwnComAndLeavesTheThreadAsItWas) {
    // A thread without COM: the picker works, and afterwards the thread can still choose any
    // apartment, so the initialisation made for the call was undone.
    HRESULT afterwards = E_FAIL;
    bool chosen = false;
    std::wstring selection;
    std::thread worker([&] {
        TBrowseDirectoryDlg dlg;
        dlg.SetCaption(kCaption);
        dlg.SetSelection(video_);
        TDialogDriver driver(kCaption, IDOK);
        chosen = dlg.Execute();
        driver.Join();
        selection = dlg.Selection();
        afterwards = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(afterwards)) CoUninitialize();
    });
    worker.join();
    EXPECT_TRUE(chosen);
    EXPECT_FALSE(selection.empty());
    EXPECT_EQ(afterwards, S_OK);

    // A thread already in the multithreaded apartment keeps it and still gets the picker.
    chosen = false;
    std::thread mta([&] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        TBrowseDirectoryDlg dlg;
        dlg.SetCaption(kCaption);
        dlg.SetSelection(video_);
        TDialogDriver driver(kCaption, IDOK);
        chosen = dlg.Execute();
        driver.Join();
        CoUninitialize();
    });
    mta.join();
    EXPECT_TRUE(chosen);
}
