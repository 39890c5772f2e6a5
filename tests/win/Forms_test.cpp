#include "forms/Forms.h"

#include "core/Exception.h"
#include "resources/Resources.h"

#include <gtest/gtest.h>
#include <commctrl.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

using namespace forms;

namespace {

void Pump() {
    for (int i = 0; i < 5; ++i) {
        Application.ProcessMessages();
        Sleep(10);
    }
}

void PostClick(TWinControl* c) {
    PostMessageW(c->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
    PostMessageW(c->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
}

void PostKey(HWND wnd, WORD key) {
    PostMessageW(wnd, WM_KEYDOWN, key, 1);
    PostMessageW(wnd, WM_KEYUP, key, 0xC0000001);
}

struct TProbeArgs {
    core::Rect bounds{};
};

// A control that counts what the form offers it.
class TProbe : public TCustomControl {
public:
    using Args = TProbeArgs;
    TProbe(TWinControl* parent, const TProbeArgs& a) : TCustomControl(parent, a.bounds) {}
    int enterKeys = 0, escapeKeys = 0, focusChanges = 0;
    TWinControl* lastActive = nullptr;
    bool DialogKey(WORD key, TShiftState) override {
        if (key == VK_RETURN) ++enterKeys;
        if (key == VK_ESCAPE) ++escapeKeys;
        return false;
    }
    void FocusChanged(TWinControl* active) override {
        ++focusChanges;
        lastActive = active;
    }

protected:
    void Paint(TCanvas& canvas) override {
        canvas.SetBrushColor(clWhite);
        canvas.FillRect({0, 0, Width(), Height()});
    }
};

// A window laid out like the program's camera frame: panels docked to the bottom and the
// client area, buttons on the tool bar, one anchored to the right.
class TfrmSample : public TForm {
public:
    TPanel *pnlCam = nullptr, *pnlMenu = nullptr, *pnlMsg = nullptr;
    TSpeedButton *btnRec = nullptr, *btnPause = nullptr, *btnA = nullptr, *btnB = nullptr,
                 *btnClose = nullptr;
    TListBox *lstOne = nullptr, *lstTwo = nullptr;
    TProbe* probe = nullptr;
    TLabel* lblText = nullptr;
    int created = 0, shown = 0, resized = 0, closeQueries = 0;
    bool refuseClose = false;
    std::wstring log;

    TfrmSample()
        : TForm({.bounds = {274, 122, 328, 290},
                 .caption = L"Sample",
                 .borderIcons = biSystemMenu,
                 .formStyle = fsStayOnTop,
                 .color = clFuchsia,
                 .font = JapaneseFont(),
                 .icon = resources::kProgramIcon,
                 .onCreate = [this](TObject*) { ++created; },
                 .onShow = [this](TObject*) { ++shown; },
                 .onResize = [this](TObject*) { ++resized; },
                 .onCloseQuery =
                     [this](TObject*, bool& canClose) {
                         ++closeQueries;
                         if (refuseClose) canClose = false;
                     },
                 .onKeyDown =
                     [this](TObject*, WORD& key, TShiftState) {
                         log += L"form:" + std::to_wstring(key) + L";";
                         if (key == 'Y') key = 0;
                     }}) {
        pnlCam = Add<TPanel>(this, {.bounds = {0, 0, 320, 215},
                                    .align = alClient,
                                    .color = clFuchsia,
                                    .bevelOuter = bvNone});
        pnlMenu = Add<TPanel>(this, {.bounds = {0, 215, 320, 24},
                                     .align = alBottom,
                                     .color = RGBColor(205, 204, 251),
                                     .bevelOuter = bvNone});
        pnlMsg = Add<TPanel>(this, {.bounds = {0, 239, 320, 17},
                                    .align = alBottom,
                                    .color = RGBColor(219, 243, 218),
                                    .font = JapaneseFont(-11),
                                    .bevelOuter = bvNone,
                                    .alignment = taLeftJustify});
        pnlMsg->SetCaption(L"folder");
        btnRec = Add<TSpeedButton>(pnlMenu, {.bounds = {1, 1, 20, 21},
                                             .cursor = crHandPoint,
                                             .hint = L"Record",
                                             .glyph = resources::kGlyphRec,
                                             .groupIndex = 1,
                                             .allowAllUp = true});
        btnPause = Add<TSpeedButton>(pnlMenu, {.bounds = {21, 1, 20, 21},
                                               .glyph = resources::kGlyphPause,
                                               .groupIndex = 2,
                                               .allowAllUp = true});
        btnA = Add<TSpeedButton>(pnlMenu, {.bounds = {41, 1, 20, 21}, .groupIndex = 3});
        btnB = Add<TSpeedButton>(pnlMenu, {.bounds = {61, 1, 20, 21},
                                           .groupIndex = 3,
                                           .onClick = [this](TObject*) { log += L"B;"; }});
        btnClose = Add<TSpeedButton>(pnlMenu, {.bounds = {297, 1, 22, 21},
                                               .anchors = akTop | akRight,
                                               .glyph = resources::kGlyphClose,
                                               .transparent = false});
        lstOne = Add<TListBox>(pnlCam, {.bounds = {2, 3, 40, 40},
                                        .border = cbNone,
                                        .onKeyDown =
                                            [this](TObject*, WORD& key, TShiftState) {
                                                log += L"list:" + std::to_wstring(key) + L";";
                                            },
                                        .onEnter = [this](TObject*) { log += L"enter1;"; },
                                        .onExit = [this](TObject*) { log += L"exit1;"; }});
        lstTwo = Add<TListBox>(pnlCam, {.bounds = {60, 3, 40, 40},
                                        .onEnter = [this](TObject*) { log += L"enter2;"; }});
        probe = Add<TProbe>(pnlCam, {.bounds = {120, 3, 20, 20}});
        lblText = Add<TLabel>(pnlCam, {.bounds = {150, 3, 0, 0}, .caption = L"あ"});
        Loaded();
    }
};

class FormsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Application.Initialize();
        Application.SetTitle(L"FormsTest");
    }
    void TearDown() override {
        Application.OnException = nullptr;
        Pump();
    }
};

TEST_F(FormsTest, DeclaredControlsAreAlignedAndAnchored) {
    TFormPtr<TfrmSample> f(new TfrmSample);
    EXPECT_EQ(f->created, 1);
    EXPECT_EQ(f->Width(), 328);
    EXPECT_EQ(f->Height(), 290);
    const int ch = f->ClientHeight(), cw = f->ClientWidth();
    EXPECT_EQ(f->pnlMsg->Top(), ch - 17);
    EXPECT_EQ(f->pnlMsg->Height(), 17);
    EXPECT_EQ(f->pnlMenu->Top(), ch - 41);
    EXPECT_EQ(f->pnlMenu->Width(), cw);
    EXPECT_EQ(f->pnlCam->Height(), ch - 41);
    EXPECT_EQ(f->btnClose->Left(), cw - 23);
    EXPECT_EQ(f->btnRec->Owner(), f.get());
    EXPECT_EQ(f->btnRec->Parent(), f->pnlMenu);
    EXPECT_EQ(f->btnRec->Glyph().Width(), 12);
    EXPECT_EQ(f->btnClose->Glyph().Width(), 16);

    // Styles of a sizeable, always-on-top window with only the system menu.
    LONG_PTR style = GetWindowLongPtrW(f->Handle(), GWL_STYLE);
    EXPECT_TRUE(style & WS_THICKFRAME);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_TRUE(GetWindowLongPtrW(f->Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST);

    // Fonts: the panel's own Japanese font, the label inherits the form's.
    LOGFONTW lf{};
    GetObjectW(f->pnlMsg->Font().Handle(), sizeof lf, &lf);
    EXPECT_EQ(lf.lfCharSet, SHIFTJIS_CHARSET);
    EXPECT_EQ(lf.lfHeight, -11);
    EXPECT_EQ(std::wstring(lf.lfFaceName), L"ＭＳ Ｐゴシック");
    EXPECT_EQ(f->lblText->Font().Height(), -12);
    EXPECT_GT(f->lblText->Width(), 0); // AutoSize

    // Growing the window: the anchored button follows the right edge, OnResize is raised.
    int resizedBefore = f->resized;
    f->SetWidth(378);
    EXPECT_EQ(f->btnClose->Left(), cw + 50 - 23);
    EXPECT_EQ(f->pnlMenu->Width(), cw + 50);
    EXPECT_GT(f->resized, resizedBefore);
    f->SetClientHeight(300);
    EXPECT_EQ(f->ClientHeight(), 300);
    EXPECT_EQ(f->pnlMsg->Top(), 283);
}

// A move to a monitor of another dpi, as the system reports it: the suggested outer rectangle
// keeps the corner and scales the client area.
void ChangeDpi(TForm& f, int dpi, core::Size client) {
    RECT frame{0, 0, 0, 0};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(f.Handle(), GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(f.Handle(), GWL_EXSTYLE)));
    RECT suggested{f.Left(), f.Top(), f.Left() + client.width + frame.right - frame.left,
                   f.Top() + client.height + frame.bottom - frame.top};
    SendMessageW(f.Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                 reinterpret_cast<LPARAM>(&suggested));
}

int WindowFontHeight(HWND wnd) {
    LOGFONTW lf{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(wnd, WM_GETFONT, 0, 0)), sizeof lf, &lf);
    return lf.lfHeight;
}

TEST_F(FormsTest, ADpiChangeScalesTheLayoutAndFontsAndComesBackExactly) {
    TFormPtr<TfrmSample> f(new TfrmSample);
    const int cw = f->ClientWidth(), ch = f->ClientHeight();
    std::vector<core::Rect> at96;
    for (const auto& c : f->Components())
        at96.push_back(dynamic_cast<TWinControl&>(*c).BoundsRect());
    const int labelHeight = f->lblText->Height();

    ChangeDpi(*f, 144, {cw * 3 / 2, ch * 3 / 2});
    EXPECT_EQ(f->PixelsPerInch(), 144);
    EXPECT_EQ(f->btnRec->PixelsPerInch(), 144);
    EXPECT_EQ(f->ClientHeight(), ch * 3 / 2);
    EXPECT_EQ(f->pnlMenu->Height(), 36);
    EXPECT_EQ(f->pnlMsg->Height(), 26);
    EXPECT_EQ(f->pnlMsg->Top(), f->ClientHeight() - 26);
    EXPECT_EQ(f->pnlMenu->Top(), f->ClientHeight() - 62);
    EXPECT_EQ(f->btnRec->BoundsRect(), (core::Rect{2, 2, 30, 32}));
    EXPECT_EQ(f->btnPause->Left(), f->btnRec->BoundsRect().Right());
    EXPECT_EQ(f->ClientWidth() - f->btnClose->BoundsRect().Right(), 2); // 1 pixel at 96
    EXPECT_EQ(f->Font().Height(), -18);
    EXPECT_EQ(f->pnlMsg->Font().Height(), -17);
    EXPECT_EQ(WindowFontHeight(f->lstOne->Handle()), -18); // a system control is told
    EXPECT_GT(f->lblText->Height(), labelHeight);

    ChangeDpi(*f, 96, {cw, ch});
    EXPECT_EQ(f->ClientWidth(), cw);
    EXPECT_EQ(f->ClientHeight(), ch);
    for (std::size_t i = 0; i < at96.size(); ++i)
        EXPECT_EQ(dynamic_cast<TWinControl&>(*f->Components()[i]).BoundsRect(), at96[i]) << i;
    EXPECT_EQ(f->pnlMsg->Font().Height(), -11);
    EXPECT_EQ(WindowFontHeight(f->lstOne->Handle()), -12);
}

TEST_F(FormsTest, LabelAutoSizeBreaksLinesAtCarriageReturns) {
    TFormPtr<TfrmSample> f(new TfrmSample);
    f->lblText->SetCaption(L"あ");
    const int one = f->lblText->Height();
    f->lblText->SetCaption(L"あ\r\rい");
    EXPECT_EQ(f->lblText->Height(), 3 * one);
}

TEST_F(FormsTest, ShowModalReturnsTheResultAButtonSets) {
    TFormPtr<TfrmSample> f(new TfrmSample);
    f->btnB->OnClick = [&](TObject*) { f->SetModalResult(mrOk); };
    PostClick(f->btnB);
    EXPECT_EQ(f->ShowModal(), mrOk);
    EXPECT_EQ(f->shown, 1);
    EXPECT_EQ(f->closeQueries, 1);
    EXPECT_FALSE(IsWindowVisible(f->Handle()));

    // Closing from the title bar gives Cancel; a refused close keeps the dialog up.
    f->refuseClose = true;
    PostMessageW(f->Handle(), WM_CLOSE, 0, 0);
    f->btnB->OnClick = [&](TObject*) {
        f->refuseClose = false;
        f->SetModalResult(mrYes);
    };
    PostClick(f->btnB);
    EXPECT_EQ(f->ShowModal(), mrYes);
    EXPECT_EQ(f->closeQueries, 3);

    PostMessageW(f->Handle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(f->ShowModal(), mrCancel);
}

TEST_F(FormsTest, ReleaseFreesTheFormAfterPendingMessages) {
    auto* f = new TfrmSample;
    bool destroyed = false;
    f->OnDestroy = [&](TObject*) { destroyed = true; };
    HWND wnd = f->Handle();
    f->Release();
    EXPECT_FALSE(destroyed);
    EXPECT_TRUE(IsWindow(wnd));
    Pump();
    EXPECT_TRUE(destroyed);
    EXPECT_FALSE(IsWindow(wnd));
}

TEST_F(FormsTest, KeyPreviewSeesKeysFirstAndCanConsumeThem) {
    TFormPtr<TfrmSample> f(new TfrmSample);
    f->SetKeyPreview(true);
    f->Show();
    f->lstOne->SetFocus();
    Pump();
    ASSERT_EQ(GetFocus(), f->lstOne->Handle());
    f->log.clear();
    PostKey(f->lstOne->Handle(), 'Y');
    PostKey(f->lstOne->Handle(), 'A');
    Pump();
    EXPECT_EQ(f->log, L"form:89;form:65;list:65;");

    f->SetKeyPreview(false);
    f->log.clear();
    PostKey(f->lstOne->Handle(), 'Y');
    Pump();
    EXPECT_EQ(f->log, L"list:89;");
}

TEST_F(FormsTest, DialogKeysReachTheControlsAndTabMovesTheFocus) {
    TFormPtr<TfrmSample> f(new TfrmSample);
    f->Show();
    f->lstOne->SetFocus();
    Pump();
    f->log.clear();
    int changesBefore = f->probe->focusChanges;
    PostKey(f->lstOne->Handle(), VK_RETURN);
    PostKey(f->lstOne->Handle(), VK_ESCAPE);
    Pump();
    EXPECT_EQ(f->probe->enterKeys, 1);
    EXPECT_EQ(f->probe->escapeKeys, 1);

    PostKey(f->lstOne->Handle(), VK_TAB);
    Pump();
    EXPECT_EQ(GetFocus(), f->lstTwo->Handle());
    EXPECT_EQ(f->ActiveControl(), f->lstTwo);
    EXPECT_EQ(f->log, L"list:13;list:27;list:9;exit1;enter2;");
    EXPECT_EQ(f->probe->focusChanges, changesBefore + 1);
    EXPECT_EQ(f->probe->lastActive, f->lstTwo);
}

TEST_F(FormsTest, SpeedButtonsToggleInTheirGroups) {
    TFormPtr<TfrmSample> f(new TfrmSample);
    f->Show();
    int recClicks = 0;
    f->btnRec->OnClick = [&](TObject*) { ++recClicks; };
    PostClick(f->btnRec);
    Pump();
    EXPECT_TRUE(f->btnRec->Down());
    EXPECT_FALSE(f->btnPause->Down());
    PostClick(f->btnPause); // another group: independent
    Pump();
    EXPECT_TRUE(f->btnRec->Down());
    EXPECT_TRUE(f->btnPause->Down());
    PostClick(f->btnRec); // all-up allowed: a second click releases it
    Pump();
    EXPECT_FALSE(f->btnRec->Down());
    EXPECT_EQ(recClicks, 2);

    // Without AllowAllUp one button of the group stays down.
    PostClick(f->btnA);
    Pump();
    EXPECT_TRUE(f->btnA->Down());
    PostClick(f->btnB);
    Pump();
    EXPECT_FALSE(f->btnA->Down());
    EXPECT_TRUE(f->btnB->Down());
    PostClick(f->btnB);
    Pump();
    EXPECT_TRUE(f->btnB->Down());
    f->btnB->SetDown(false);
    EXPECT_TRUE(f->btnB->Down());

    // A release outside the button is no click; speed buttons never take the focus.
    f->log.clear();
    PostMessageW(f->btnB->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
    PostMessageW(f->btnB->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(300, 3));
    Pump();
    EXPECT_EQ(f->log, L"");
    EXPECT_NE(GetFocus(), f->btnB->Handle());
}

TEST_F(FormsTest, ErrorInAHandlerIsShownAndTheLoopGoesOn) {
    TFormPtr<TfrmSample> f(new TfrmSample);
    f->btnA->OnClick = [](TObject*) { throw core::Exception(L"C:\\x.ini に書き込めません"); };
    f->btnB->OnClick = [&](TObject*) { f->SetModalResult(mrOk); };

    // The default handler shows a message box; a helper thread reads and closes it.
    std::atomic<bool> seen{false};
    std::wstring text;
    std::thread closer([&] {
        for (int i = 0; i < 500 && !seen; ++i) {
            Sleep(10);
            HWND box = FindWindowW(L"#32770", L"FormsTest");
            if (!box) continue;
            EnumChildWindows(
                box,
                [](HWND child, LPARAM lp) -> BOOL {
                    wchar_t buf[256] = {};
                    GetWindowTextW(child, buf, 256);
                    if (std::wstring(buf).find(L"書き込めません") != std::wstring::npos)
                        *reinterpret_cast<std::wstring*>(lp) = buf;
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(&text));
            seen = true;
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
    });
    PostClick(f->btnA);
    PostClick(f->btnB);
    EXPECT_EQ(f->ShowModal(), mrOk);
    closer.join();
    EXPECT_TRUE(seen);
    EXPECT_EQ(text, L"C:\\x.ini に書き込めません");

    // With OnException set the message goes there instead.
    std::wstring reported;
    Application.OnException = [&](const std::wstring& m) { reported = m; };
    PostClick(f->btnA);
    PostClick(f->btnB);
    EXPECT_EQ(f->ShowModal(), mrOk);
    EXPECT_EQ(reported, L"C:\\x.ini に書き込めません");
}

TEST_F(FormsTest, CursorsHintsAndMouseTracking) {
    HCURSOR hand = LoadCursorW(GetModuleHandleW(nullptr), resources::kHandCursor);
    ASSERT_NE(hand, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(hand, &info));
    EXPECT_EQ(info.xHotspot, 12u);
    EXPECT_EQ(info.yHotspot, 8u);
    BITMAP mask{};
    GetObjectW(info.hbmMask, sizeof mask, &mask);
    EXPECT_EQ(mask.bmWidth, 32);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    Application.Cursors.Set(1, hand);
    EXPECT_EQ(Application.Cursors[1], hand);
    EXPECT_EQ(Application.Cursors[crHandPoint], LoadCursorW(nullptr, IDC_HAND));

    TFormPtr<TfrmSample> f(new TfrmSample);
    f->Show();
    f->btnRec->SetCursor(1);
    SendMessageW(f->btnRec->Handle(), WM_SETCURSOR, reinterpret_cast<WPARAM>(f->btnRec->Handle()),
                 MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(GetCursor(), hand);

    // The hint is a tool of the form's tool-tip window.
    ASSERT_NE(f->HintWindow(), nullptr);
    EXPECT_EQ(SendMessageW(f->HintWindow(), TTM_GETTOOLCOUNT, 0, 0), 1);
    wchar_t buf[80] = {};
    TTTOOLINFOW ti{};
    ti.cbSize = TTTOOLINFOW_V2_SIZE;
    ti.hwnd = f->Handle();
    ti.uId = reinterpret_cast<UINT_PTR>(f->btnRec->Handle());
    ti.lpszText = buf;
    SendMessageW(f->HintWindow(), TTM_GETTEXTW, 80, reinterpret_cast<LPARAM>(&ti));
    EXPECT_EQ(std::wstring(buf), L"Record");

    int entered = 0, left = 0;
    f->btnRec->OnMouseEnter = [&](TObject*) { ++entered; };
    f->btnRec->OnMouseLeave = [&](TObject*) { ++left; };
    SendMessageW(f->btnRec->Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
    SendMessageW(f->btnRec->Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(3, 2));
    EXPECT_EQ(entered, 1);
    SendMessageW(f->btnRec->Handle(), WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(left, 1);
}

// The pixel of a control painted through WM_PRINTCLIENT.
COLORREF PrintedPixel(TWinControl* c, int x, int y) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, c->Width(), c->Height());
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(dc, bmp);
    SendMessageW(c->Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    COLORREF pixel = GetPixel(dc, x, y);
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
    return pixel;
}

TEST_F(FormsTest, GlyphsLeaveTheirKeyColourOut) {
    TFormPtr<TfrmSample> f(new TfrmSample);
    // A 12 x 12 glyph centred on a 20 x 21 button: its corner shows the tool bar's colour.
    EXPECT_EQ(PrintedPixel(f->btnRec, 4, 4), RGB(205, 204, 251));
    EXPECT_EQ(PrintedPixel(f->btnRec, 10, 10), RGB(200, 0, 0));
    EXPECT_EQ(PrintedPixel(f->btnRec, 1, 1), RGB(205, 204, 251));
    // Down, the face is lighter and the glyph moves by a pixel.
    f->btnRec->SetDown(true);
    EXPECT_NE(PrintedPixel(f->btnRec, 4, 4), RGB(205, 204, 251));
    EXPECT_EQ(PrintedPixel(f->btnRec, 11, 11), RGB(200, 0, 0));
    // The opaque close button paints its own colour.
    EXPECT_EQ(PrintedPixel(f->btnClose, 2, 2), GetSysColor(COLOR_BTNFACE));
    // Panels paint their own colour.
    EXPECT_EQ(PrintedPixel(f->pnlMsg, 300, 8), RGB(219, 243, 218));
}

TEST_F(FormsTest, QueuedTasksRunOnTheUserInterfaceThread) {
    DWORD uiThread = GetCurrentThreadId();
    DWORD ranOn = 0;
    std::thread worker([&] { Application.Queue([&] { ranOn = GetCurrentThreadId(); }); });
    worker.join();
    Pump();
    EXPECT_EQ(ranOn, uiThread);
}

} // namespace
