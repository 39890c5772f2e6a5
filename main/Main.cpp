#include "main/Main.h"

#include "core/Exception.h"
#include "core/MainRules.h"
#include "main/RecordFolder.h"
#include "options/optdlg.h"
#include "resources/Resources.h"
#include "settings/libIniFile.h"
#include "ui/IMECtrl.h"
#include "ui/xConfirm.h"

namespace mainwin {

using namespace forms;

TfrmMain* frmMain = nullptr;
engine::TScreenCam* ScreenCam = nullptr;
std::wstring IniBaseName;

const wchar_t kCloseWhileRecordingMessage[] =
    L"録画が完了していません！！\r\r　　終了してもよろしいですか？";

namespace {

// Progress values handed from the worker to the user-interface thread.
constexpr UINT kProgressMessage = WM_APP + 1;

const TFont kMainFont(kJapaneseFontName, -12, SHIFTJIS_CHARSET, clWindowText);

TProps ToolButton(const wchar_t* hint, const wchar_t* glyph) {
    TProps p;
    p.parent = L"pnlMenu";
    p.hint = hint;
    p.glyph = glyph;
    p.cursor = crHandPoint;
    return p;
}

TProps ToggleButton(const wchar_t* hint, const wchar_t* glyph, int group) {
    TProps p = ToolButton(hint, glyph);
    p.groupIndex = group;
    p.allowAllUp = true;
    return p;
}

} // namespace

TfrmMain::TfrmMain() {
    TFormDesc desc;
    desc.name = L"frmMain";
    desc.bounds = {274, 122, 328, 290};
    desc.caption = L"Zo/quarnelby";
    desc.borderStyle = bsSizeable;
    desc.borderIcons = biSystemMenu;
    desc.formStyle = fsStayOnTop;
    desc.color = clFuchsia;
    desc.font = kMainFont;
    desc.icon = resources::kProgramIcon;
    desc.onCreate = [this](TObject* s) { FormCreate(s); };
    desc.onShow = [this](TObject* s) { FormShow(s); };
    desc.onResize = [this](TObject* s) { FormResize(s); };
    desc.onCloseQuery = [this](TObject* s, bool& canClose) { FormCloseQuery(s, canClose); };
    desc.onDestroy = [this](TObject* s) { FormDestroy(s); };

    TProps menu;
    menu.align = alBottom;
    menu.color = RGBColor(205, 204, 251);
    menu.bevelOuter = bvNone;
    menu.tabOrder = 0;

    TProps msg;
    msg.align = alBottom;
    msg.color = RGBColor(219, 243, 218);
    msg.bevelOuter = bvNone;
    msg.alignment = taLeftJustify;
    msg.font = TFont(kJapaneseFontName, -11, SHIFTJIS_CHARSET, clWindowText);
    msg.tabOrder = 1;

    TProps cam;
    cam.align = alClient;
    cam.color = clFuchsia;
    cam.bevelOuter = bvNone;
    cam.tabOrder = 2;

    TProps focus;
    focus.border = cbNone;
    focus.color = clWhite;
    focus.tabOrder = 3;

    TProps bevel;
    bevel.parent = L"pnlMenu";

    TProps close = ToolButton(L"Close", resources::kGlyphClose);
    close.anchors = akTop | akRight;
    close.transparent = false;

    auto click = [this](void (TfrmMain::*handler)(TObject*)) {
        TEvents e;
        e.onClick = [this, handler](TObject* s) { (this->*handler)(s); };
        return e;
    };
    TEvents focusKeys;
    focusKeys.onKeyDown = [this](TObject* s, WORD& key, TShiftState shift) {
        lstFocusKeyDown(s, key, shift);
    };

    BrowseDirectoryDlg1 = std::make_unique<ui::TBrowseDirectoryDlg>();

    Layout(desc,
           {
               Item(Blend1, L"Blend1", {}, {}, {}, {},
                    std::function<void(ui::TBlend&)>([](ui::TBlend& b) {
                        b.SetAlpha(255);
                        b.SetActive(true);
                        b.SetBlendMode(ui::bmBoth);
                        b.SetDesignActive(false);
                        b.SetTransparentColor(clFuchsia);
                    })),
               Item(pnlMenu, L"pnlMenu", {0, 215, 320, 24}, L"", menu),
               Item(btnPause, L"btnPause", {21, 1, 20, 21}, L"",
                    ToggleButton(L"Pause", resources::kGlyphPause, 2),
                    click(&TfrmMain::btnPauseClick)),
               Item(btnRec, L"btnRec", {1, 1, 20, 21}, L"",
                    ToggleButton(L"Record", resources::kGlyphRec, 1), click(&TfrmMain::btnRecClick)),
               Item(btnStop, L"btnStop", {41, 1, 20, 21}, L"",
                    ToolButton(L"Stop", resources::kGlyphStop), click(&TfrmMain::btnStopClick)),
               Item(spdDir, L"spdDir", {113, 1, 22, 21}, L"",
                    ToolButton(L"Select Recording Folder", resources::kGlyphDir),
                    click(&TfrmMain::spdDirClick)),
               Item(pnlMsg, L"pnlMsg", {0, 239, 320, 17}, L"", msg),
               Item(pnlCam, L"pnlCam", {0, 0, 320, 215}, L"", cam),
               Item(lstFocus, L"lstFocus", {2, 3, 20, 4}, L"", focus, focusKeys),
               Item(SpeedButton4, L"SpeedButton4", {92, 1, 22, 21}, L"",
                    ToolButton(L"Options", resources::kGlyphOptions),
                    click(&TfrmMain::SpeedButton4Click)),
               Item(Bevel1, L"Bevel1", {65, 1, 2, 21}, L"", bevel),
               Item(spdWindow, L"spdWindow", {70, 1, 22, 21}, L"",
                    ToolButton(L"Select Target Window", resources::kGlyphWindow),
                    click(&TfrmMain::spdWindowClick)),
               Item(btnClose, L"btnClose", {297, 1, 22, 21}, L"", close,
                    click(&TfrmMain::btnCloseClick)),
           });
}

TfrmMain::~TfrmMain() = default;

void TfrmMain::FormCreate(TObject*) {
    IniBaseName = settings::GetAppDir() + L"\\Quarnelby";
    settings::LoadFormPos(IniBaseName, L"FORM", L"Main", *this);
    settings::LoadFormSize(IniBaseName, L"FORM", L"Main", POINT{328, 290}, *this);
    ui::AssignImeName(*this);
    ui::ReplaceCursor(*this, crHandPoint, 1);
    ScreenCam = new engine::TScreenCam(Handle());
    ScreenCam->OnProgress = [this](engine::TScreenCam& cam) { ShowProgress(cam); };
    // Test hook: QUARNELBY_MAX_FILE_BYTES lowers the size at which a recording goes on in a new
    // file, so that tests of the program see the switch without writing a gigabyte.
    if (const std::uint64_t limit = MaxFileBytesOverride()) ScreenCam->MaxFileBytes = limit;
    BrowseDirectoryDlg1->SetParentWindow(Handle());
    formReady_ = true;
}

void TfrmMain::FormShow(TObject*) {
    lstFocus->SendToBack();
    lstFocus->SetFocus();
    ShowRecordFolder();
}

void TfrmMain::FormResize(TObject*) {
    ShowRecordFolder();
    if (btnClose) btnClose->SetVisible(core::CloseButtonVisible(Width()));
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
        settings::SaveFormPos(IniBaseName, L"FORM", L"Main", *this);
        settings::SaveFormSize(IniBaseName, L"FORM", L"Main", *this);
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
    delete ScreenCam;
    ScreenCam = nullptr;
}

void TfrmMain::btnCloseClick(TObject*) { Close(); }

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
    const core::WindowBox box = core::CaptureRectangle(p.x, p.y, pnlCam->Width(), pnlCam->Height());
    engine::TRecordRect rect;
    rect.Left = box.left;
    rect.Top = box.top;
    rect.Width = box.width;
    rect.Height = box.height;
    const std::wstring folder = RecordFolder(IniBaseName, Handle());
    // A long recording goes on in further files of the same folder, named like the first.
    ScreenCam->NextFileName = [folder] { return MakeFileName(folder); };
    ScreenCam->StartRecording(rect, MakeFileName(folder));
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
    ShowRecordFolder();
    Delay(500);
}

void TfrmMain::ShowProgress(engine::TScreenCam& sender) {
    PostMessageW(Handle(), kProgressMessage, sender.ElapsedTime.load(),
                 static_cast<LPARAM>(sender.FramesWritten.load()));
}

void TfrmMain::ShowRecordFolder() {
    if (IniBaseName.empty() || !pnlMsg) return;
    pnlMsg->SetCaption(RecordFolderText(IniBaseName, pnlMsg->Width(), Font().Handle(), Handle()));
}

void TfrmMain::spdDirClick(TObject*) {
    if (ChooseRecordFolder(*BrowseDirectoryDlg1, IniBaseName, Handle())) ShowRecordFolder();
}

void TfrmMain::spdWindowClick(TObject*) {
    // The target-window picker is not part of the program yet.
}

void TfrmMain::SpeedButton4Click(TObject*) {
    ScreenCam->EnumCompressors();
    if (options::OptionDlg) options::OptionDlg->EditOptions();
}

void TfrmMain::lstFocusKeyDown(TObject*, WORD& key, TShiftState shift) {
    if (ScreenCam->Recording) return;
    const core::WindowBox box{Left(), Top(), Width(), Height()};
    if (shift == ssShift) {
        // Without a readable work area the screen bounds growth.
        int right = GetSystemMetrics(SM_CXSCREEN), bottom = GetSystemMetrics(SM_CYSCREEN);
        GetWorkArea(right, bottom);
        const core::WindowBox sized = core::ApplyArrowKey(box, key, true, right, bottom);
        if (!(sized == box)) SetBounds(sized.left, sized.top, sized.width, sized.height);
        Application.ProcessMessages();
        return;
    }
    const core::WindowBox moved = core::ApplyArrowKey(box, key, false, 0, 0);
    if (!(moved == box)) SetBounds(moved.left, moved.top, moved.width, moved.height);
}

int TfrmMain::ShowConfirm(TForm* parent, const std::wstring& caption, const std::wstring& message,
                          const std::wstring& icon, const std::wstring& buttons, int defaultButton) {
    return ui::ShowConfirm(parent, caption, message, icon, buttons, defaultButton);
}

LRESULT TfrmMain::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lp);
        info->ptMinTrackSize = POINT{core::kMainMinTrackWidth, core::kMainMinTrackHeight};
        return 0;
    }
    case WM_WINDOWPOSCHANGING: {
        const LRESULT r = TForm::WndProc(msg, wp, lp);
        // While recording, the frame stays exactly over what is being captured.
        if (formReady_ && ScreenCam && ScreenCam->Recording) {
            auto* pos = reinterpret_cast<WINDOWPOS*>(lp);
            pos->x = lastWindowPos_.x;
            pos->y = lastWindowPos_.y;
            pos->cx = lastWindowPos_.cx;
            pos->cy = lastWindowPos_.cy;
        }
        return r;
    }
    case WM_WINDOWPOSCHANGED: {
        const LRESULT r = TForm::WndProc(msg, wp, lp);
        // Only the parts the change reports: a pure z-order change carries no position.
        const auto* pos = reinterpret_cast<const WINDOWPOS*>(lp);
        if (!(pos->flags & SWP_NOMOVE)) {
            lastWindowPos_.x = pos->x;
            lastWindowPos_.y = pos->y;
        }
        if (!(pos->flags & SWP_NOSIZE)) {
            lastWindowPos_.cx = pos->cx;
            lastWindowPos_.cy = pos->cy;
        }
        return r;
    }
    case kProgressMessage:
        // A notification still queued when the recording stopped must not hide the folder again.
        if (ScreenCam && ScreenCam->Recording)
            pnlMsg->SetCaption(
                FormatProgressText(static_cast<std::uint32_t>(wp), static_cast<std::int32_t>(lp)));
        return 0;
    }
    return TForm::WndProc(msg, wp, lp);
}

std::uint64_t MaxFileBytesOverride() {
    wchar_t text[32] = {};
    const DWORD n = GetEnvironmentVariableW(L"QUARNELBY_MAX_FILE_BYTES", text, 32);
    if (n == 0 || n >= 32) return 0;
    std::uint64_t value = 0;
    for (const wchar_t* p = text; *p; ++p) {
        if (*p < L'0' || *p > L'9' || value > (std::uint64_t{1} << 40)) return 0;
        value = value * 10 + static_cast<std::uint64_t>(*p - L'0');
    }
    return value;
}

void GetWorkArea(int& right, int& bottom) {
    RECT rc;
    if (SystemParametersInfoW(SPI_GETWORKAREA, 0, &rc, 0)) {
        right = rc.right;
        bottom = rc.bottom;
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
