#include "main/Hotkeys.h"

#include "ControlTesting.h"
#include "main/Main.h"
#include "options/optdlg.h"
#include "settings/libIniFile.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace mainwin;

namespace {

// The main window as the program makes it, with the test's own settings file and folder.
class HotkeysTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { forms::Application.Initialize(); }

    void SetUp() override {
        std::filesystem::create_directory(folder_);
        DeleteFileW((base_ + L".ini").c_str());
        settings::WriteIniString(base_, L"SETTING", L"PATH", folder_.wstring());
    }

    void TearDown() override {
        if (frmMain) {
            if (ScreenCam->Recording) frmMain->btnStopClick(nullptr);
            while (ScreenCam->RecordThread)
                forms::Application.ProcessMessages();
            frmMain->Free();
            frmMain = nullptr;
        }
        std::filesystem::remove_all(folder_);
        DeleteFileW((base_ + L".ini").c_str());
    }

    static std::wstring Open() {
        return AnswerMessageBoxWhile(L"Zo/quarnelby", [] { (frmMain = new TfrmMain())->Show(); });
    }

    static void Hotkey(int id) {
        PostMessageW(frmMain->Handle(), WM_HOTKEY, id, 0);
        forms::Application.ProcessMessages();
    }

    const std::filesystem::path folder_ = std::filesystem::temp_directory_path() / "quarnelby-hk";
    const std::wstring base_ = settings::GetAppDir() + L"\\Quarnelby";
};

TEST_F(HotkeysTest, ATakenOrUnreadableKeyIsReportedOnceAndTheOthersAreSetUp) {
    ASSERT_TRUE(RegisterHotKey(nullptr, 0x100, MOD_CONTROL | MOD_SHIFT, VK_F11)); // Stop's key
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
    EXPECT_EQ(AnswerMessageBoxWhile(L"Zo/quarnelby", [] { frmMain->FormShow(nullptr); }),
              L""); // told once only

    // Record has the key of the settings file.
    EXPECT_FALSE(RegisterHotKey(nullptr, 0x101, MOD_ALT | MOD_SHIFT, 'R'));
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
    EXPECT_TRUE(ScreenCam->Recording && rec->Down());
    Hotkey(hkPause);
    EXPECT_TRUE(ScreenCam->Paused && pause->Down() && !rec->Down());
    Hotkey(hkRecord); // resumes
    EXPECT_TRUE(!ScreenCam->Paused && rec->Down() && !pause->Down());
    Hotkey(hkStop);
    EXPECT_FALSE(ScreenCam->Recording || rec->Down());
}

} // namespace
