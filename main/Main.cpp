#include "main/Main.h"

#include "base/ScopeGuard.h"
#include "base/WinUtil.h"
#include "core/Exception.h"
#include "core/MainRules.h"
#include "main/ClickHook.h"
#include "main/Hotkeys.h"
#include "main/RecordFolder.h"
#include "main/Recovery.h"
#include "media/FileSplit.h"
#include "options/optdlg.h"
#include "resources/Resources.h"
#include "settings/libIniFile.h"
#include "ui/IMECtrl.h"
#include "ui/xConfirm.h"

namespace mainwin {

using namespace forms;

TfrmMain* frmMain = nullptr;
std::wstring IniBaseName;

namespace {

// Progress values handed from the worker to the user-interface thread.
constexpr UINT kProgressMessage = WM_APP + 1;
// Looks for interrupted recordings once the window is on the screen.
constexpr UINT kRecoverMessage = WM_APP + 2;
// Tells which hotkeys could not be set up, once the window is on the screen.
constexpr UINT kHotkeyReportMessage = WM_APP + 3;
// After another program's window was activated, the camera frame takes its place on top again
// every 100 ms for a second.
constexpr UINT_PTR kKeepOnTopTimer = 1;
constexpr UINT kKeepOnTopMs = 100;
constexpr int kKeepOnTopTicks = 10;

} // namespace

TfrmMain::TfrmMain()
    : TForm({.bounds = {274, 122, 328, 290},
             .caption = L"Zo/quarnelby",
             .borderIcons = biSystemMenu,
             .formStyle = fsStayOnTop,
             .color = clFuchsia,
             .font = JapaneseFont(-12),
             .icon = resources::kProgramIcon,
             .onCreate = [this](TObject* s) { FormCreate(s); },
             .onShow = [this](TObject* s) { FormShow(s); },
             .onResize = [this](TObject* s) { FormResize(s); },
             .onDestroy = [this](TObject* s) { FormDestroy(s); },
             .onCloseQuery = [this](TObject* s, bool& canClose) { FormCloseQuery(s, canClose); }}) {
    using namespace resources;
    auto click = [this](void (TfrmMain::*handler)(TObject*)) {
        return [this, handler](TObject* s) { (this->*handler)(s); };
    };
    Blend1 = Add<ui::TBlend>(
        this,
        {.alpha = 255, .active = true, .blendMode = ui::bmBoth, .transparentColor = clFuchsia});
    pnlMenu = Add<TPanel>(this, {.bounds = {0, 215, 320, 24},
                                 .align = alBottom,
                                 .color = RGBColor(205, 204, 251),
                                 .bevelOuter = bvNone});
    btnPause = Add<TSpeedButton>(pnlMenu, {.bounds = {21, 1, 20, 21},
                                           .cursor = crHandPoint,
                                           .hint = L"Pause",
                                           .glyph = kGlyphPause,
                                           .groupIndex = 2,
                                           .allowAllUp = true,
                                           .onClick = click(&TfrmMain::btnPauseClick)});
    btnRec = Add<TSpeedButton>(pnlMenu, {.bounds = {1, 1, 20, 21},
                                         .cursor = crHandPoint,
                                         .hint = L"Record",
                                         .glyph = kGlyphRec,
                                         .groupIndex = 1,
                                         .allowAllUp = true,
                                         .onClick = click(&TfrmMain::btnRecClick)});
    btnStop = Add<TSpeedButton>(pnlMenu, {.bounds = {41, 1, 20, 21},
                                          .cursor = crHandPoint,
                                          .hint = L"Stop",
                                          .glyph = kGlyphStop,
                                          .onClick = click(&TfrmMain::btnStopClick)});
    spdDir = Add<TSpeedButton>(pnlMenu, {.bounds = {113, 1, 22, 21},
                                         .cursor = crHandPoint,
                                         .hint = L"Select Recording Folder",
                                         .glyph = kGlyphDir,
                                         .onClick = click(&TfrmMain::spdDirClick)});
    pnlMsg = Add<TPanel>(this, {.bounds = {0, 239, 320, 17},
                                .align = alBottom,
                                .color = RGBColor(219, 243, 218),
                                .font = JapaneseFont(-11),
                                .bevelOuter = bvNone,
                                .alignment = taLeftJustify});
    pnlCam = Add<TPanel>(
        this,
        {.bounds = {0, 0, 320, 215}, .align = alClient, .color = clFuchsia, .bevelOuter = bvNone});
    lstFocus = Add<TListBox>(this, {.bounds = {2, 3, 20, 4},
                                    .color = clWhite,
                                    .border = cbNone,
                                    .onKeyDown = [this](TObject* s, WORD& key, TShiftState shift) {
                                        lstFocusKeyDown(s, key, shift);
                                    }});
    SpeedButton4 = Add<TSpeedButton>(pnlMenu, {.bounds = {92, 1, 22, 21},
                                               .cursor = crHandPoint,
                                               .hint = L"Options",
                                               .glyph = kGlyphOptions,
                                               .onClick = click(&TfrmMain::SpeedButton4Click)});
    Bevel1 = Add<TBevel>(pnlMenu, {.bounds = {65, 1, 2, 21}});
    spdWindow = Add<TSpeedButton>(pnlMenu, {.bounds = {70, 1, 22, 21},
                                            .cursor = crHandPoint,
                                            .hint = L"Select Target Window",
                                            .glyph = kGlyphWindow,
                                            .onClick = click(&TfrmMain::spdWindowClick)});
    btnClose = Add<TSpeedButton>(pnlMenu, {.bounds = {297, 1, 22, 21},
                                           .anchors = akTop | akRight,
                                           .cursor = crHandPoint,
                                           .hint = L"Close",
                                           .glyph = kGlyphClose,
                                           .transparent = false,
                                           .onClick = click(&TfrmMain::btnCloseClick)});
    SoundMeter =
        Add<ui::TSoundMeter>(pnlMsg, {.bounds = {272, 3, 44, 11}, .anchors = akTop | akRight});
    SoundMeter->SetVisible(false);
    tmrSound = Add<TTimer>(this, {.interval = 100,
                                  .enabled = false,
                                  .onTimer = click(&TfrmMain::tmrSoundTimer)});
    BrowseDirectoryDlg1 = std::make_unique<ui::TBrowseDirectoryDlg>();
    Loaded();
}

TfrmMain::~TfrmMain() = default;

void TfrmMain::FormCreate(TObject*) {
    IniBaseName = settings::GetAppDir() + L"\\Quarnelby";
    // The default size is the declared one, as the display's scaling made it.
    const core::Rect declared = BoundsRect();
    SetBounds(
        settings::LoadFormSize(IniBaseName, L"FORM", L"Main", declared.Extent(),
                               settings::LoadFormPos(IniBaseName, L"FORM", L"Main", declared)));
    ui::AssignImeName(*this);
    ui::ReplaceCursor(*this, crHandPoint, 1);
    // A window stored on a monitor that is gone could never be reached: it comes back onto the
    // nearest one. One still partly on a monitor stays exactly where it was.
    const core::Rect stored = base::WindowRect(Handle()).value_or(BoundsRect());
    const core::Rect restored = core::RestoreOntoMonitors(stored, base::Monitors());
    if (restored != stored) SetBounds(restored);
    ScreenCam = new engine::TScreenCam(Handle());
    clickHook_ = std::make_unique<TClickHook>(*ScreenCam);
    ScreenCam->OnProgress = [this](engine::TScreenCam& cam) { ShowProgress(cam); };
    ScreenCam->OnStopped = [this](engine::TScreenCam& cam) { RecordingEnded(cam); };
    // Test hook: QUARNELBY_MAX_FILE_BYTES lowers the size at which a recording goes on in a new
    // file, so that tests of the program see the switch without writing a gigabyte; it never
    // raises it.
    if (const std::uint64_t limit = MaxFileBytesOverride()) ScreenCam->MaxFileBytes = limit;
    options::LoadKeptOptions(IniBaseName, *ScreenCam);
    BrowseDirectoryDlg1->SetParentWindow(Handle());
    hotkeys_ = std::make_unique<THotkeys>(Handle(), IniBaseName);
    // The place the window holds while recording starts as the window's own: a move or size to
    // what the window already has reports neither, and the size would stay unknown (0 x 0).
    lastWindowPos_ = base::WindowRect(Handle()).value_or(BoundsRect());
    formReady_ = true;
}

void TfrmMain::FormShow(TObject*) {
    lstFocus->SendToBack();
    lstFocus->SetFocus();
    ShowRecordFolder();
    PostMessageW(Handle(), kRecoverMessage, 0, 0);
    PostMessageW(Handle(), kHotkeyReportMessage, 0, 0);
}

void TfrmMain::RecoverInterruptedRecordings() {
    const std::wstring report =
        RecoveryReport(RecoverRecordings(RecordFolder(IniBaseName, Handle())));
    if (!report.empty())
        MessageBoxW(Handle(), report.c_str(), L"Zo/quarnelby",
                    MB_OK | MB_ICONINFORMATION | MB_TOPMOST);
}

void TfrmMain::FormResize(TObject*) {
    ShowRecordFolder();
    if (btnClose) btnClose->SetVisible(core::CloseButtonVisible(Width(), PixelsPerInch()));
}

void TfrmMain::FormCloseQuery(TObject*, bool& canClose) {
    if (ScreenCam && ScreenCam->Recording) {
        const int answer =
            ShowConfirm(this, L"Zo/quarnelby", kCloseWhileRecordingMessage, L"?", L"YN", 2);
        if (answer == mrNo) {
            canClose = false;
            return;
        }
        btnStopClick(nullptr);
        // Every file of the interrupted recording goes, not only the one it was started with.
        // Once stopped, the recording opens no new file, so this list is complete.
        for (const std::wstring& file : ScreenCam->RecordingFiles())
            DeleteUnfinishedRecording(file);
    }
    // A settings file that cannot be written never keeps the user from closing: the error is
    // shown and only the position and size are lost.
    try {
        settings::SaveFormPos(IniBaseName, L"FORM", L"Main", BoundsRect());
        settings::SaveFormSize(IniBaseName, L"FORM", L"Main", BoundsRect());
    } catch (...) {
        Application.HandleException(std::current_exception());
    }
    canClose = true;
}

void TfrmMain::DeleteUnfinishedRecording(const std::wstring& fileName) {
    // The worker closes the file on its own once it has seen the stop; retry while it still
    // holds it, but never hang on a file that cannot be deleted.
    const DWORD giveUpAfter = 10000;
    const DWORD start = GetTickCount();
    while (!DeleteFileW(fileName.c_str())) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return;
        if (GetTickCount() - start >= giveUpAfter) return;
        Sleep(500);
    }
}

void TfrmMain::FormDestroy(TObject*) {
    clickHook_.reset();
    delete ScreenCam;
    ScreenCam = nullptr;
}

void TfrmMain::btnCloseClick(TObject*) {
    Close();
}

void TfrmMain::btnRecClick(TObject*) {
    if (ScreenCam->Recording) {
        // Record during a pause resumes; Record stays pressed whatever the click did to it.
        btnPause->SetDown(false);
        btnPauseClick(nullptr);
        return;
    }
    btnPause->SetDown(false);
    POINT p{pnlCam->Left(), pnlCam->Top()};
    ClientToScreen(pnlCam->Handle(), &p);
    const core::Rect rect = core::CaptureRectangle({p.x, p.y}, pnlCam->BoundsRect().Extent());
    const std::wstring folder = RecordFolder(IniBaseName, Handle());
    // A long recording goes on in further files of the same folder, named like the first.
    const std::wstring extension = ScreenCam->RecordsMp4() ? L".mp4" : L".avi";
    progressWindow_ = Handle();
    ScreenCam->NextFileName = [folder, extension] { return MakeFileName(folder, extension); };
    // A worker still finishing the last recording (or no thread to be had) starts nothing, and
    // Record goes back up rather than show a recording that does not exist.
    if (!ScreenCam->StartRecording(rect, MakeFileName(folder, extension))) btnRec->SetDown(false);
    clickHook_->Update();
    tmrSound->SetEnabled(ScreenCam->Recording);
}

void TfrmMain::tmrSoundTimer(TObject*) {
    bool any = false;
    for (int i = 0; i < ui::TSoundMeter::kRows; ++i) {
        const int state = ScreenCam->SoundStates[static_cast<std::size_t>(i)];
        any = any || state != 0;
        SoundMeter->SetRow(i,
                           state == 1   ? ui::TSoundMeter::TRow::Running
                           : state == 2 ? ui::TSoundMeter::TRow::Missing
                                        : ui::TSoundMeter::TRow::Off,
                           ScreenCam->SoundLevels[static_cast<std::size_t>(i)]);
    }
    SoundMeter->SetVisible(any);
    if (!ScreenCam->Recording && !any) tmrSound->SetEnabled(false);
}

void TfrmMain::btnPauseClick(TObject*) {
    if (!ScreenCam->Recording) {
        btnPause->SetDown(false);
        return;
    }
    ScreenCam->Paused = btnPause->Down();
    btnRec->SetDown(!btnPause->Down());
}

void TfrmMain::btnStopClick(TObject*) {
    if (!ScreenCam->Recording) return;
    btnPause->SetDown(false);
    btnRec->SetDown(false);
    ScreenCam->StopRecording();
    clickHook_->Update();
    ShowRecordFolder();
    Delay(500);
}

void TfrmMain::ShowProgress(engine::TScreenCam& sender) {
    // A window destroyed since just drops the notification.
    if (const HWND window = progressWindow_)
        PostMessageW(window, kProgressMessage, sender.ElapsedTime.load(),
                     static_cast<LPARAM>(sender.FramesWritten.load()));
}

void TfrmMain::RecordingEnded(engine::TScreenCam&) {
    // Deleting the engine in FormDestroy still delivers a running worker's end, after the hook.
    if (clickHook_) clickHook_->Update();
    if (SoundMeter) SoundMeter->SetVisible(false);
}

void TfrmMain::ShowRecordFolder() {
    if (IniBaseName.empty() || !pnlMsg) return;
    pnlMsg->SetCaption(RecordFolderText(IniBaseName, pnlMsg->Width(), Font().Handle(), Handle()));
}

void TfrmMain::spdDirClick(TObject*) {
    if (ChooseRecordFolder(*BrowseDirectoryDlg1, IniBaseName, Handle())) ShowRecordFolder();
}

void TfrmMain::spdWindowClick(TObject*) {
    // Everything the picker does to this window happens before it closes.
    auto* frmWindow = new picker::TfrmWindow(*this);
    const auto release = base::ScopeExit([frmWindow] { frmWindow->Release(); });
    frmWindow->ShowModal();
}

void TfrmMain::PlaceCamera(const core::CameraFit& fit) {
    // While recording, the window keeps its place (see WM_WINDOWPOSCHANGING).
    SetTop(fit.top);
    SetLeft(fit.left);
    SetClientWidth(fit.clientWidth);
    SetClientHeight(fit.clientHeight);
}

void TfrmMain::SpeedButton4Click(TObject*) {
    // During a recording the dialog shows the catalogue as it stands: a rebuild would rewrite
    // what the worker reads and open every compressor on this thread while the worker
    // compresses, and Wine's compressor manager is not thread-safe.
    if (!ScreenCam->Recording) ScreenCam->EnumCompressors();
    if (!options::OptionDlg) return;
    options::OptionDlg->IniBaseName = IniBaseName;
    options::OptionDlg->EditOptions();
    // Click rings switched on or off during a recording take effect at once.
    clickHook_->Update();
}

void TfrmMain::lstFocusKeyDown(TObject*, WORD& key, TShiftState shift) {
    if (ScreenCam->Recording) return;
    const core::Rect box = BoundsRect();
    if (shift == ssShift) {
        // Growth is bounded by the work area of the window's monitor; without a readable monitor,
        // by the screen.
        const core::MonitorArea monitor = base::MonitorOf(Handle()).value_or(
            core::MonitorArea{base::ScreenRect(), base::WorkAreaOrScreen()});
        const core::Rect sized =
            core::ApplyArrowKey(box, key, true, monitor, Scale(core::kMainKeyMinSize));
        if (sized != box) SetBounds(sized);
        Application.ProcessMessages();
        return;
    }
    const core::Rect moved = core::ApplyArrowKey(box, key, false, {});
    if (moved != box) SetBounds(moved);
}

int TfrmMain::ShowConfirm(TForm* parent, const std::wstring& caption, const std::wstring& message,
                          const std::wstring& icon, const std::wstring& buttons,
                          int defaultButton) {
    return ui::ShowConfirm(parent, caption, message, icon, buttons, defaultButton);
}

LRESULT TfrmMain::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lp);
        info->ptMinTrackSize =
            POINT{Scale(core::kMainMinTrackWidth), Scale(core::kMainMinTrackHeight)};
        return 0;
    }
    case WM_WINDOWPOSCHANGING: {
        const LRESULT r = TForm::WndProc(msg, wp, lp);
        // While recording, the frame stays exactly over what is being captured.
        if (formReady_ && ScreenCam && ScreenCam->Recording) {
            auto* pos = reinterpret_cast<WINDOWPOS*>(lp);
            pos->x = lastWindowPos_.left;
            pos->y = lastWindowPos_.top;
            pos->cx = lastWindowPos_.width;
            pos->cy = lastWindowPos_.height;
        }
        return r;
    }
    case WM_WINDOWPOSCHANGED: {
        const LRESULT r = TForm::WndProc(msg, wp, lp);
        // Only the parts the change reports: a pure z-order change carries no position.
        const auto* pos = reinterpret_cast<const WINDOWPOS*>(lp);
        if (!(pos->flags & SWP_NOMOVE)) {
            lastWindowPos_.left = pos->x;
            lastWindowPos_.top = pos->y;
        }
        if (!(pos->flags & SWP_NOSIZE)) {
            lastWindowPos_.width = pos->cx;
            lastWindowPos_.height = pos->cy;
        }
        return r;
    }
    case kRecoverMessage:
        RecoverInterruptedRecordings();
        return 0;
    case kHotkeyReportMessage:
        if (const std::wstring report = hotkeys_ ? hotkeys_->TakeReport() : L""; !report.empty())
            MessageBoxW(Handle(), report.c_str(), L"Zo/quarnelby",
                        MB_OK | MB_ICONWARNING | MB_TOPMOST);
        return 0;
    case WM_HOTKEY: {
        // A hotkey is a click on its button. While a modal dialog has disabled this window the
        // buttons cannot be clicked, so the hotkeys do nothing either.
        TSpeedButton* const button = wp == hkRecord  ? btnRec
                                     : wp == hkPause ? btnPause
                                     : wp == hkStop  ? btnStop
                                                     : nullptr;
        if (button && IsWindowEnabled(Handle())) button->Click();
        return 0;
    }
    case WM_ACTIVATEAPP:
        // A click through the see-through panel activates the program under it. Windows keeps a
        // topmost window above it; Wine without a window manager raises the other window's X
        // window over ours shortly after, so for a second the frame asserts its place again.
        if (wp) {
            KillTimer(Handle(), kKeepOnTopTimer);
        } else {
            keepOnTopTicks_ = kKeepOnTopTicks;
            SetTimer(Handle(), kKeepOnTopTimer, kKeepOnTopMs, nullptr);
        }
        break;
    case WM_TIMER:
        if (wp != kKeepOnTopTimer) break;
        KeepOnTop();
        if (--keepOnTopTicks_ <= 0) KillTimer(Handle(), kKeepOnTopTimer);
        return 0;
    case kProgressMessage:
        // A notification still queued when the recording stopped must not hide the folder again.
        if (ScreenCam && ScreenCam->Recording)
            pnlMsg->SetCaption(
                FormatProgressText(static_cast<std::uint32_t>(wp), static_cast<std::int32_t>(lp)));
        return 0;
    }
    return TForm::WndProc(msg, wp, lp);
}

void TfrmMain::KeepOnTop() {
    // Another window that stays on top itself keeps the place its user gave it.
    const HWND active = GetForegroundWindow();
    if (active && active != Handle() && (GetWindowLongPtrW(active, GWL_EXSTYLE) & WS_EX_TOPMOST))
        return;
    SetWindowPos(Handle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

std::uint64_t MaxFileBytesOverride() {
    wchar_t text[32] = {};
    const DWORD n = GetEnvironmentVariableW(L"QUARNELBY_MAX_FILE_BYTES", text, 32);
    if (n == 0 || n >= 32) return 0;
    return media::LoweredMaxFileBytes(text);
}

void GetWorkArea(int& right, int& bottom) {
    if (const std::optional<core::Rect> work = base::WorkArea()) {
        right = work->Right();
        bottom = work->Bottom();
    }
}

void Delay(DWORD ms) {
    // Waits for messages instead of spinning; the window stays responsive all the same.
    const DWORD end = GetTickCount() + ms;
    for (;;) {
        const auto left = static_cast<std::int32_t>(end - GetTickCount());
        if (left <= 0) break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left), QS_ALLINPUT);
        Application.ProcessMessages();
    }
}

} // namespace mainwin
