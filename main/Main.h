// Main: the main window, a see-through camera frame with the recording commands.
#pragma once

#include "engine/scrcam.h"
#include "forms/Forms.h"
#include "picker/xWindow.h"
#include "ui/Blend.h"
#include "ui/BrowseDr.h"
#include "ui/SoundMeter.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace mainwin {

class THotkeys;
class TClickHook;

// The picker lays the camera panel over a window through TCameraWindow.
class TfrmMain : public forms::TForm, public picker::TCameraWindow {
public:
    TfrmMain();
    ~TfrmMain() override;
    std::wstring ClassName() const override { return L"TfrmMain"; }

    // Components, in declaration order.
    ui::TBlend* Blend1 = nullptr;
    forms::TPanel* pnlMenu = nullptr;
    forms::TSpeedButton* btnPause = nullptr;
    forms::TSpeedButton* btnRec = nullptr;
    forms::TSpeedButton* btnStop = nullptr;
    forms::TSpeedButton* spdDir = nullptr;
    std::unique_ptr<ui::TBrowseDirectoryDlg> BrowseDirectoryDlg1;
    forms::TPanel* pnlMsg = nullptr;
    forms::TPanel* pnlCam = nullptr;
    forms::TListBox* lstFocus = nullptr;
    forms::TSpeedButton* SpeedButton4 = nullptr;
    forms::TBevel* Bevel1 = nullptr;
    forms::TSpeedButton* spdWindow = nullptr;
    forms::TSpeedButton* btnClose = nullptr;
    // The sound sources' levels during a recording with sound, at the status line's right end.
    ui::TSoundMeter* SoundMeter = nullptr;
    forms::TTimer* tmrSound = nullptr;

    void FormCreate(forms::TObject* sender);
    void FormShow(forms::TObject* sender);
    void FormResize(forms::TObject* sender);
    void FormCloseQuery(forms::TObject* sender, bool& canClose);
    void FormDestroy(forms::TObject* sender);
    void btnCloseClick(forms::TObject* sender);

    void btnRecClick(forms::TObject* sender);
    void btnPauseClick(forms::TObject* sender);
    void btnStopClick(forms::TObject* sender);
    void spdWindowClick(forms::TObject* sender);
    void SpeedButton4Click(forms::TObject* sender);
    void spdDirClick(forms::TObject* sender);
    // Shows the engine's sound levels on the meter, which shows only while a source is recorded.
    void tmrSoundTimer(forms::TObject* sender);
    void lstFocusKeyDown(forms::TObject* sender, WORD& key, forms::TShiftState shift);
    // The engine's progress notification: raised on the grabbing thread, it posts the two values
    // to the window taken when the recording started, whose thread shows the progress text.
    void ShowProgress(engine::TScreenCam& sender);
    // The engine's notification that a recording's worker has ended, also for a recording that
    // ended on its own: the click hook goes with it. The buttons and the status line stay as they
    // were.
    void RecordingEnded(engine::TScreenCam& sender);
    // The recording folder in the status line, shortened to fit.
    void ShowRecordFolder();
    // Rebuilds what a crash left unfinished in the recording folder and tells the user.
    void RecoverInterruptedRecordings();

    // Asks a question in the program's confirmation dialog; 6 Yes, 7 No, 2 Cancel.
    int ShowConfirm(forms::TForm* parent, const std::wstring& caption, const std::wstring& message,
                    const std::wstring& icon, const std::wstring& buttons, int defaultButton);

    core::Point WindowCorner() override { return BoundsRect().Origin(); }
    core::Point CameraOrigin() override { return pnlCam->ClientOrigin(); }
    int BarsHeight() override { return pnlMenu->Height() + pnlMsg->Height(); }
    std::vector<HWND> OwnWindows() override { return {Handle()}; }
    void PlaceCamera(const core::CameraFit& fit) override;

    // The main window's outer position and size as the platform last reported them.
    core::Rect LastWindowPos() const { return lastWindowPos_; }
    bool FormReady() const { return formReady_; }
    const TClickHook* ClickHook() const { return clickHook_.get(); }

protected:
    LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;

private:
    // Takes the camera frame's place above the other windows again.
    void KeepOnTop();
    void DeleteUnfinishedRecording(const std::wstring& fileName);

    bool formReady_ = false;
    // Taken on the user-interface thread when a recording starts. The grabbing thread never asks
    // the form for its handle: where the window is gone, that would make one on that thread.
    std::atomic<HWND> progressWindow_{nullptr};
    core::Rect lastWindowPos_{};
    std::unique_ptr<THotkeys> hotkeys_;
    std::unique_ptr<TClickHook> clickHook_;
    int keepOnTopTicks_ = 0; // KeepOnTop's turns left after another program was activated
};

// Right and bottom edge of the desktop work area; both left unchanged when it cannot be read.
void GetWorkArea(int& right, int& bottom);
// Test hook: the value of the environment variable QUARNELBY_MAX_FILE_BYTES (decimal bytes), or 0
// when it is unset, not a number or above the 1 GiB limit; a non-zero value replaces the engine's
// file size limit, which it can only lower.
std::uint64_t MaxFileBytesOverride();
// Waits ms milliseconds while the window goes on handling messages.
void Delay(DWORD ms);

// The program-wide objects made at start-up.
extern TfrmMain* frmMain;
using engine::ScreenCam;
extern std::wstring IniBaseName;

// The message the main window asks when it is closed during a recording.
inline constexpr wchar_t kCloseWhileRecordingMessage[] =
    L"録画が完了していません！！\r\r　　終了してもよろしいですか？";

} // namespace mainwin
