#include "main/Hotkeys.h"

#include "main/Main.h"
#include "options/optdlg.h"
#include "settings/libIniFile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

using namespace mainwin;

namespace {

// The main window as the program makes it, with the test's own settings file and folder.
class HotkeysTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { forms::Application.Initialize(); }

    void SetUp() override {
        wchar_t tmp[MAX_PATH];
        GetTempPathW(MAX_PATH, tmp);
        folder_ =
            std::wstring(tmp) + L"quarnelby-hotkeys-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder_.c_str(), nullptr);
        base_ = settings::GetAppDir() + L"\\Quarnelby";
        DeleteFileW((base_ + L".ini").c_str());
        settings::WriteIniString(base_, L"SETTING", L"PATH", folder_);
    }

    void TearDown() override {
        if (frmMain) {
            if (ScreenCam->Recording) frmMain->btnStopClick(nullptr);
            while (ScreenCam->RecordThread)
                forms::Application.ProcessMessages();
            frmMain->Free();
            frmMain = nullptr;
        }
        WIN32_FIND_DATAW fd;
        HANDLE find = FindFirstFileW((folder_ + L"\\*").c_str(), &fd);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                DeleteFileW((folder_ + L"\\" + fd.cFileName).c_str());
            } while (FindNextFileW(find, &fd));
            FindClose(find);
        }
        RemoveDirectoryW(folder_.c_str());
        DeleteFileW((base_ + L".ini").c_str());
    }

    // Shows the main window once it exists (or $show) and returns the text of the message box
    // it puts up, answering it; empty when none comes within two seconds.
    static std::wstring ReportWhile(const std::function<void()>& show) {
        std::atomic<bool> found{false}, done{false};
        std::wstring text;
        std::thread reader([&] {
            while (!done) {
                Sleep(10);
                const HWND box = FindWindowW(L"#32770", L"Zo/quarnelby");
                if (!box) continue;
                EnumChildWindows(
                    box,
                    [](HWND child, LPARAM lp) -> BOOL {
                        wchar_t buf[2048] = {};
                        GetWindowTextW(child, buf, 2048);
                        auto& longest = *reinterpret_cast<std::wstring*>(lp);
                        if (wcslen(buf) > longest.size()) longest = buf;
                        return TRUE;
                    },
                    reinterpret_cast<LPARAM>(&text));
                found = true;
                PostMessageW(box, WM_COMMAND, IDOK, 0);
                return;
            }
        });
        show();
        for (const DWORD start = GetTickCount(); !found && GetTickCount() - start < 2000;) {
            forms::Application.ProcessMessages();
            Sleep(10);
        }
        done = true;
        reader.join();
        return text;
    }

    static std::wstring Open() {
        return ReportWhile([] {
            frmMain = new TfrmMain();
            frmMain->Show();
        });
    }

    static void Hotkey(int id) {
        PostMessageW(frmMain->Handle(), WM_HOTKEY, id, 0);
        forms::Application.ProcessMessages();
    }

    std::wstring folder_, base_;
};

TEST_F(HotkeysTest, ATakenOrUnreadableKeyIsReportedOnceAndTheOthersAreSetUp) {
    // Another registration holds Stop's key.
    ASSERT_TRUE(RegisterHotKey(nullptr, 0x100, MOD_CONTROL | MOD_SHIFT, VK_F11));
    settings::WriteIniString(base_, L"HOTKEY", L"Record", L"alt + shift + r");
    settings::WriteIniString(base_, L"HOTKEY", L"Pause", L"Ctrl+Shift+Banana");
    const std::wstring report = Open();
    UnregisterHotKey(nullptr, 0x100);
    EXPECT_NE(report.find(L"\r\nPause: \"Ctrl+Shift+Banana\" cannot be read: no key is called "
                          L"\"Banana\"\r\nStop: Ctrl+Shift+F11 is already in use by another "
                          L"program\r\n"),
              std::wstring::npos)
        << std::string(report.begin(), report.end());
    EXPECT_EQ(report.find(L"Record:"), std::wstring::npos);
    EXPECT_EQ(ReportWhile([] { frmMain->FormShow(nullptr); }), L""); // told once only

    // Record has the key of the settings file, and only until the window goes.
    EXPECT_FALSE(RegisterHotKey(nullptr, 0x101, MOD_ALT | MOD_SHIFT, 'R'));
    frmMain->Free();
    frmMain = nullptr;
    EXPECT_TRUE(RegisterHotKey(nullptr, 0x101, MOD_ALT | MOD_SHIFT, 'R'));
    UnregisterHotKey(nullptr, 0x101);
}

TEST_F(HotkeysTest, AHotkeyClicksItsButtonUnlessAModalDialogIsOpen) {
    ASSERT_EQ(Open(), L""); // the default keys are free
    auto* rec = frmMain->btnRec;
    auto* pause = frmMain->btnPause;

    // Under the options dialog the window is disabled and Record's key does nothing.
    options::OptionDlg = new options::TOptionDlg;
    bool downUnderDialog = true;
    forms::Application.Queue([&] {
        SendMessageW(frmMain->Handle(), WM_HOTKEY, hkRecord, 0);
        downUnderDialog = rec->Down();
        PostMessageW(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 1);
    });
    frmMain->SpeedButton4Click(nullptr);
    options::OptionDlg->Free();
    options::OptionDlg = nullptr;
    EXPECT_FALSE(downUnderDialog);
    EXPECT_FALSE(ScreenCam->Recording);

    // The keys follow the buttons' state table.
    Hotkey(hkPause); // springs back without a recording
    EXPECT_FALSE(pause->Down());
    Hotkey(hkRecord);
    EXPECT_TRUE(ScreenCam->Recording);
    EXPECT_TRUE(rec->Down());
    Hotkey(hkPause);
    EXPECT_TRUE(ScreenCam->Paused);
    EXPECT_TRUE(pause->Down());
    EXPECT_FALSE(rec->Down());
    Hotkey(hkRecord); // resumes
    EXPECT_FALSE(ScreenCam->Paused);
    EXPECT_TRUE(rec->Down());
    EXPECT_FALSE(pause->Down());
    Hotkey(hkStop);
    EXPECT_FALSE(ScreenCam->Recording);
    EXPECT_FALSE(rec->Down());
}

} // namespace
