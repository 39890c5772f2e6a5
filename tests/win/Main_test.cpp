#include "main/Main.h"

#include "base/ScopeGuard.h"
#include "base/WinUtil.h"
#include "core/TargetRules.h"

#include "TestCompressors.h"
#include "main/ClickHook.h"
#include "main/RecordFolder.h"
#include "options/optdlg.h"
#include "settings/libIniFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

using namespace mainwin;

namespace {

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000) {
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs) return false;
        forms::Application.ProcessMessages();
        Sleep(10);
    }
    return true;
}

// A left click as the mouse gives it: press and release over the button.
void Click(forms::TWinControl* button) {
    SendMessageW(button->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    SendMessageW(button->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    forms::Application.ProcessMessages();
}

RECT WindowRect(HWND hwnd) {
    RECT rc;
    GetWindowRect(hwnd, &rc);
    return rc;
}

// The main window as the program makes it, recording into a folder of the test's own.
class MainWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { forms::Application.Initialize(); }

    void SetUp() override {
        wchar_t tmp[MAX_PATH];
        GetTempPathW(MAX_PATH, tmp);
        folder_ = std::wstring(tmp) + L"quarnelby-main-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder_.c_str(), nullptr);
        base_ = settings::GetAppDir() + L"\\Quarnelby";
        DeleteFileW((base_ + L".ini").c_str());
        settings::WriteIniString(base_, L"SETTING", L"PATH", folder_);
        frmMain = new TfrmMain();
        frmMain->Show();
        forms::Application.ProcessMessages();
        // Failure messages of the engine are answered here instead of waiting for a person.
        ScreenCam->Services.ShowMessage = [this](const std::wstring& text, const std::wstring&,
                                                 UINT) {
            messages_ += text + L"\n";
            return IDOK;
        };
    }

    void TearDown() override {
        if (ScreenCam && ScreenCam->Recording) frmMain->btnStopClick(nullptr);
        PumpUntil([] { return ScreenCam->RecordThread == nullptr; });
        frmMain->Free();
        frmMain = nullptr;
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

    std::wstring folder_, base_;
    std::wstring messages_;
};

TEST_F(MainWindowTest, StartsAtTheDesignPlaceWithASeeThroughCameraPanel) {
    EXPECT_EQ(frmMain->Left(), 274);
    EXPECT_EQ(frmMain->Top(), 122);
    EXPECT_EQ(frmMain->Width(), 328);
    EXPECT_EQ(frmMain->Height(), 290);
    const HWND hwnd = frmMain->Handle();
    EXPECT_TRUE(GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_TRUE(GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_LAYERED);
    COLORREF key = 0;
    BYTE alpha = 0;
    DWORD flags = 0;
    ASSERT_TRUE(GetLayeredWindowAttributes(hwnd, &key, &alpha, &flags));
    EXPECT_EQ(key, 0x00FF00FFu);
    EXPECT_EQ(alpha, 255);
    EXPECT_EQ(flags, 3u);
    const LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
    EXPECT_TRUE(style & WS_THICKFRAME);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    // The camera panel fills the client area above the tool bar and the status line.
    EXPECT_EQ(frmMain->pnlMsg->Height(), 17);
    EXPECT_EQ(frmMain->pnlMenu->Height(), 24);
    EXPECT_EQ(frmMain->pnlCam->Top(), 0);
    EXPECT_EQ(frmMain->pnlCam->Height(), frmMain->ClientHeight() - 41);
    EXPECT_EQ(frmMain->pnlCam->Width(), frmMain->ClientWidth());
    EXPECT_EQ(frmMain->pnlMsg->Top() + 17, frmMain->ClientHeight());
    // The status line shows the recording folder.
    EXPECT_EQ(frmMain->pnlMsg->Caption().rfind(L" ", 0), 0u);
    EXPECT_NE(frmMain->pnlMsg->Caption().find(L"quarnelby-main"), std::wstring::npos)
        << std::string(frmMain->pnlMsg->Caption().begin(), frmMain->pnlMsg->Caption().end());
}

TEST_F(MainWindowTest, MinimumTrackingSizeIs69By84) {
    MINMAXINFO info{};
    info.ptMaxTrackSize = POINT{5000, 4000};
    SendMessageW(frmMain->Handle(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize.x, 69);
    EXPECT_EQ(info.ptMinTrackSize.y, 84);
    EXPECT_EQ(info.ptMaxTrackSize.x, 5000); // untouched
}

TEST_F(MainWindowTest, WhileRecordingTheWindowCanNeitherMoveNorResize) {
    frmMain->SetBounds({300, 200, 400, 300});
    forms::Application.ProcessMessages();
    const RECT before = WindowRect(frmMain->Handle());
    ASSERT_EQ(before.left, 300);

    ScreenCam->Recording = true; // the lock looks only at the flag
    SetWindowPos(frmMain->Handle(), nullptr, 10, 20, 200, 150, SWP_NOZORDER | SWP_NOACTIVATE);
    frmMain->SetBounds({50, 60, 500, 400});
    forms::Application.ProcessMessages();
    const RECT during = WindowRect(frmMain->Handle());
    ScreenCam->Recording = false;
    EXPECT_EQ(during.left, before.left);
    EXPECT_EQ(during.top, before.top);
    EXPECT_EQ(during.right, before.right);
    EXPECT_EQ(during.bottom, before.bottom);
    EXPECT_EQ(frmMain->Left(), 300); // the form's own idea of its bounds agrees
    EXPECT_EQ(frmMain->Width(), 400);

    frmMain->SetBounds({50, 60, 500, 400});
    forms::Application.ProcessMessages();
    const RECT after = WindowRect(frmMain->Handle());
    EXPECT_EQ(after.left, 50);
    EXPECT_EQ(after.right - after.left, 500);
    EXPECT_EQ(after.bottom - after.top, 400);
    EXPECT_EQ(frmMain->LastWindowPos().left, 50);
    EXPECT_EQ(frmMain->LastWindowPos().height, 400);
}

TEST_F(MainWindowTest, ThePickersPlacementCoversTheWindowButNotWhileRecording) {
    const core::Rect target = core::TargetBox(200, 150, 600, 450);
    auto place = [&] {
        const core::Point corner = frmMain->WindowCorner(), cam = frmMain->CameraOrigin();
        frmMain->PlaceCamera(core::FitCameraToWindow(target, {cam.x - corner.x, cam.y - corner.y},
                                                     frmMain->BarsHeight(), base::WorkArea()));
        forms::Application.ProcessMessages();
    };
    frmMain->SetBounds({30, 40, 328, 290});
    forms::Application.ProcessMessages();
    ScreenCam->Recording = true;
    place();
    ScreenCam->Recording = false;
    EXPECT_EQ(frmMain->BoundsRect(), (core::Rect{30, 40, 328, 290}));
    place();
    EXPECT_EQ(frmMain->pnlCam->ClientOrigin(), target.Origin());
    EXPECT_EQ(frmMain->pnlCam->BoundsRect().Extent(), target.Extent());
}

TEST_F(MainWindowTest, CloseButtonHiddenAt165AndShownAt166) {
    frmMain->SetWidth(165);
    forms::Application.ProcessMessages();
    EXPECT_FALSE(frmMain->btnClose->Visible());
    EXPECT_FALSE(IsWindowVisible(frmMain->btnClose->Handle()));
    frmMain->SetWidth(166);
    forms::Application.ProcessMessages();
    EXPECT_TRUE(frmMain->btnClose->Visible());
    // It keeps its distance from the tool bar's right end.
    EXPECT_EQ(frmMain->pnlMenu->Width() - (frmMain->btnClose->Left() + frmMain->btnClose->Width()),
              1);
}

TEST_F(MainWindowTest, ArrowKeysMoveAndSizeTheFrame) {
    WORD key;
    frmMain->SetBounds({100, 100, 141, 141});
    key = VK_LEFT;
    frmMain->lstFocusKeyDown(nullptr, key, forms::ssShift);
    EXPECT_EQ(frmMain->Width(), 140);
    frmMain->lstFocusKeyDown(nullptr, key, forms::ssShift);
    EXPECT_EQ(frmMain->Width(), 140); // the keyboard's lower bound
    key = VK_UP;
    frmMain->lstFocusKeyDown(nullptr, key, forms::ssShift);
    frmMain->lstFocusKeyDown(nullptr, key, forms::ssShift);
    EXPECT_EQ(frmMain->Height(), 140);
    EXPECT_EQ(frmMain->Left(), 100);
    EXPECT_EQ(key, VK_UP); // the key is left as it was

    int right = 0, bottom = 0;
    GetWorkArea(right, bottom);
    ASSERT_GT(right, 0);
    frmMain->SetBounds({0, 0, right, 300});
    key = VK_RIGHT;
    frmMain->lstFocusKeyDown(nullptr, key, forms::ssShift);
    EXPECT_EQ(frmMain->Width(), right); // the work area's upper bound
    key = VK_DOWN;
    frmMain->lstFocusKeyDown(nullptr, key, forms::ssShift);
    EXPECT_EQ(frmMain->Height(), 301);

    frmMain->SetBounds({100, 100, 328, 290});
    key = VK_LEFT;
    frmMain->lstFocusKeyDown(nullptr, key, forms::ssCtrl); // Ctrl moves like no modifier
    EXPECT_EQ(frmMain->Left(), 99);
    frmMain->lstFocusKeyDown(nullptr, key, forms::ssCtrl | forms::ssShift);
    EXPECT_EQ(frmMain->Left(), 98);
    EXPECT_EQ(frmMain->Width(), 328);
    key = VK_DOWN;
    frmMain->lstFocusKeyDown(nullptr, key, 0);
    EXPECT_EQ(frmMain->Top(), 101);

    ScreenCam->Recording = true;
    frmMain->lstFocusKeyDown(nullptr, key, 0);
    frmMain->lstFocusKeyDown(nullptr, key, forms::ssShift);
    ScreenCam->Recording = false;
    EXPECT_EQ(frmMain->Top(), 101);
    EXPECT_EQ(frmMain->Height(), 290);
}

TEST_F(MainWindowTest, RecordPauseStopFollowTheStateTable) {
    auto* rec = frmMain->btnRec;
    auto* pause = frmMain->btnPause;
    const std::wstring folderText = frmMain->pnlMsg->Caption();

    // Idle: Pause springs back, Stop does nothing.
    Click(pause);
    EXPECT_FALSE(pause->Down());
    EXPECT_FALSE(ScreenCam->Recording);
    Click(frmMain->btnStop);
    EXPECT_EQ(frmMain->pnlMsg->Caption(), folderText);

    // Record starts a recording of the camera panel.
    Click(rec);
    EXPECT_TRUE(ScreenCam->Recording);
    EXPECT_TRUE(rec->Down());
    EXPECT_FALSE(pause->Down());
    EXPECT_EQ(ScreenCam->FileName.rfind(folder_ + L"\\", 0), 0u);

    // Record while recording changes nothing.
    Click(rec);
    EXPECT_TRUE(rec->Down());
    EXPECT_FALSE(ScreenCam->Paused);

    // Pause, then Record resumes.
    Click(pause);
    EXPECT_TRUE(ScreenCam->Paused);
    EXPECT_FALSE(rec->Down());
    EXPECT_TRUE(pause->Down());
    Click(rec);
    EXPECT_FALSE(ScreenCam->Paused);
    EXPECT_TRUE(rec->Down());
    EXPECT_FALSE(pause->Down());

    // Pause twice resumes too.
    Click(pause);
    Click(pause);
    EXPECT_FALSE(ScreenCam->Paused);
    EXPECT_TRUE(rec->Down());

    // The status line shows the progress text once the engine reports.
    EXPECT_TRUE(
        PumpUntil([] { return frmMain->pnlMsg->Caption().rfind(L" RecordingTime : ", 0) == 0; }));

    // Stop during a pause releases both buttons and shows the folder again.
    Click(pause);
    Click(frmMain->btnStop);
    EXPECT_FALSE(ScreenCam->Recording);
    EXPECT_FALSE(rec->Down());
    EXPECT_FALSE(pause->Down());
    EXPECT_EQ(frmMain->pnlMsg->Caption(), folderText);
    ASSERT_TRUE(PumpUntil([] { return ScreenCam->RecordThread == nullptr; }));
    EXPECT_NE(GetFileAttributesW(ScreenCam->FileName.c_str()), INVALID_FILE_ATTRIBUTES);

    // The next recording starts unpaused.
    Click(rec);
    EXPECT_TRUE(ScreenCam->Recording);
    EXPECT_FALSE(ScreenCam->Paused);
    Click(frmMain->btnStop);
}

TEST_F(MainWindowTest, RecordAfterARecordingEndedOnItsOwnStartsANewOne) {
    // A folder that does not exist: the engine reports it and gives up by itself.
    settings::WriteIniString(base_, L"SETTING", L"PATH", folder_ + L"\\missing");
    Click(frmMain->btnRec);
    ASSERT_TRUE(PumpUntil([] { return ScreenCam->RecordThread == nullptr; }));
    EXPECT_FALSE(ScreenCam->Recording);
    EXPECT_NE(messages_.find(L"Error Creating AVI file"), std::wstring::npos);
    EXPECT_TRUE(frmMain->btnRec->Down()); // the buttons are left as they were

    // The next click releases Record and starts a new recording, which runs with Record up.
    settings::WriteIniString(base_, L"SETTING", L"PATH", folder_);
    Click(frmMain->btnRec);
    EXPECT_TRUE(ScreenCam->Recording);
    EXPECT_FALSE(frmMain->btnRec->Down());
    Click(frmMain->btnStop);
    EXPECT_FALSE(ScreenCam->Recording);
}

TEST_F(MainWindowTest, TheClickHookGoesWithARecordingThatEndsOnItsOwn) {
    // A full disk ends the recording at its first frame, held until the hook has been seen.
    std::atomic<bool> hold{true}, held{false};
    const auto release = base::ScopeExit([&] { hold = false; });
    ScreenCam->ShowClicks = true;
    ScreenCam->Services.FreeDiskBytes = [&](const std::wstring&) {
        held = true;
        while (hold)
            Sleep(5);
        return std::uint64_t{0};
    };
    Click(frmMain->btnRec);
    ASSERT_TRUE(PumpUntil([&] { return held.load(); }));
    EXPECT_TRUE(frmMain->ClickHook()->Installed());
    hold = false;
    ASSERT_TRUE(PumpUntil([] { return ScreenCam->RecordThread == nullptr; }));
    EXPECT_NE(messages_.find(L"Error Creating AVI file"), std::wstring::npos);
    EXPECT_FALSE(frmMain->ClickHook()->Installed());
}

TEST_F(MainWindowTest, RecordWhileThePreviousWorkerWindsDownStartsNothingAndStaysUp) {
    // The worker is held in its first write, so it is still there after Stop.
    std::atomic<bool> hold{true}, held{false};
    const auto release = base::ScopeExit([&] { hold = false; });
    ScreenCam->Services.FreeDiskBytes = [&](const std::wstring&) {
        held = true;
        while (hold)
            Sleep(5);
        return std::numeric_limits<std::uint64_t>::max();
    };
    const std::wstring folderText = frmMain->pnlMsg->Caption();
    Click(frmMain->btnRec);
    ASSERT_TRUE(PumpUntil([&] { return held.load(); }));
    Click(frmMain->btnStop);
    const std::wstring first = ScreenCam->FileName;
    ASSERT_NE(ScreenCam->RecordThread, nullptr);
    Click(frmMain->btnRec);
    EXPECT_FALSE(ScreenCam->Recording);
    EXPECT_FALSE(frmMain->btnRec->Down());
    EXPECT_FALSE(frmMain->btnPause->Down());
    EXPECT_EQ(ScreenCam->FileName, first);
    EXPECT_EQ(frmMain->pnlMsg->Caption(), folderText);
}

TEST_F(MainWindowTest, ProgressAfterTheWindowIsGoneMakesNoWindowOnTheGrabbingThread) {
    Click(frmMain->btnRec);
    ASSERT_TRUE(ScreenCam->Recording);
    DestroyWindow(frmMain->Handle());
    // Progress is due twice within the first 1.5 s of recording.
    ASSERT_TRUE(PumpUntil([] { return ScreenCam->ElapsedTime >= 1500; }));
    if (frmMain->HandleAllocated()) {
        EXPECT_EQ(GetWindowThreadProcessId(frmMain->Handle(), nullptr), GetCurrentThreadId());
    }
}

TEST_F(MainWindowTest, CaptureRectangleIsThePanelMovedUpTwoAndOneTaller) {
    Click(frmMain->btnRec);
    ASSERT_TRUE(ScreenCam->Recording);
    Click(frmMain->btnStop);
    ASSERT_TRUE(PumpUntil([] { return ScreenCam->RecordThread == nullptr; }));
    // The recorded frames have the panel's width and its height plus one.
    HANDLE f = CreateFileW(ScreenCam->FileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    // AVI main header: dwWidth and dwHeight at offsets 64 and 68 of the file.
    unsigned char header[72];
    DWORD read = 0;
    ReadFile(f, header, sizeof header, &read, nullptr);
    CloseHandle(f);
    ASSERT_EQ(read, sizeof header);
    auto u32 = [&](int at) {
        return header[at] | header[at + 1] << 8 | header[at + 2] << 16 | header[at + 3] << 24;
    };
    EXPECT_EQ(u32(64), frmMain->pnlCam->Width());
    EXPECT_EQ(u32(68), frmMain->pnlCam->Height() + 1);
}

} // namespace

TEST_F(MainWindowTest, ALongRecordingGoesOnInTheSameFolderNamedLikeTheFirst) {
    ScreenCam->MaxFileBytes = 1200000; // a few camera frames to a file
    Click(frmMain->btnRec);
    ASSERT_TRUE(ScreenCam->Recording);
    ASSERT_TRUE(PumpUntil([] { return ScreenCam->RecordingFiles().size() >= 2; }, 20000));
    Click(frmMain->btnStop);
    ASSERT_TRUE(PumpUntil([] { return ScreenCam->RecordThread == nullptr; }));
    const std::vector<std::wstring> files = ScreenCam->RecordingFiles();
    ASSERT_GE(files.size(), 2u);
    EXPECT_EQ(files[0], ScreenCam->FileName);
    for (const std::wstring& f : files) {
        EXPECT_EQ(f.substr(0, folder_.size() + 1), folder_ + L"\\");
        // YYYYMMDDHHMMSS, an optional _N, then .avi: the first file's rule.
        const std::wstring name = f.substr(folder_.size() + 1);
        EXPECT_GE(name.size(), 18u) << std::string(name.begin(), name.end());
        EXPECT_EQ(name.substr(name.size() - 4), L".avi");
        EXPECT_NE(GetFileAttributesW(f.c_str()), INVALID_FILE_ATTRIBUTES);
    }
    EXPECT_TRUE(std::is_sorted(files.begin(), files.end()));
    EXPECT_TRUE(messages_.empty());
}

TEST(MaxFileBytesOverrideTest, ReadsTheTestHookOnlyWhenItIsANumber) {
    SetEnvironmentVariableW(L"QUARNELBY_MAX_FILE_BYTES", nullptr);
    EXPECT_EQ(MaxFileBytesOverride(), 0u);
    SetEnvironmentVariableW(L"QUARNELBY_MAX_FILE_BYTES", L"3000000");
    EXPECT_EQ(MaxFileBytesOverride(), 3000000u);
    SetEnvironmentVariableW(L"QUARNELBY_MAX_FILE_BYTES", L"3 MB");
    EXPECT_EQ(MaxFileBytesOverride(), 0u);
    SetEnvironmentVariableW(L"QUARNELBY_MAX_FILE_BYTES", L"");
    EXPECT_EQ(MaxFileBytesOverride(), 0u);
    SetEnvironmentVariableW(L"QUARNELBY_MAX_FILE_BYTES", nullptr);
}

namespace {

TEST_F(MainWindowTest, OptionsDuringARecordingShowTheCatalogueAsItStands) {
    options::OptionDlg = new options::TOptionDlg;
    enginetest::TTestCompressors compressors;
    int listed = -1;
    // Opens the options as the button does and notes how many items the compressor list holds.
    auto openOptions = [&] {
        listed = -1;
        forms::Application.Queue([&] {
            listed = options::OptionDlg->ComboBoxCompressor->Count();
            PostMessageW(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 1);
        });
        Click(frmMain->SpeedButton4);
    };
    openOptions();
    const int before = listed;
    ASSERT_GE(before, 1); // at least "No Compression"
    ASSERT_NE(compressors.Install(mmioFOURCC('Q', 'M', 'N', 'O'), {}), nullptr);
    Click(frmMain->btnRec);
    ASSERT_TRUE(ScreenCam->Recording);
    openOptions();
    EXPECT_EQ(listed, before); // not rebuilt under the running worker
    frmMain->btnStopClick(nullptr);
    ASSERT_TRUE(PumpUntil([] { return ScreenCam->RecordThread == nullptr; }));
    openOptions();
    EXPECT_EQ(listed, before + 1);
    options::OptionDlg->Free();
    options::OptionDlg = nullptr;
}

} // namespace
