#include "ui/Blend.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace forms;
using ui::TBlend;

namespace {

// Records every system call the component makes, then makes it.
class TRecordingBlend : public TBlend {
public:
    using TBlend::TBlend;
    std::vector<std::wstring> calls;

protected:
    LONG_PTR GetExStyle(HWND wnd) override {
        calls.push_back(L"get");
        return TBlend::GetExStyle(wnd);
    }
    void SetExStyle(HWND wnd, LONG_PTR style) override {
        calls.push_back((style & WS_EX_LAYERED) ? L"set layered" : L"set plain");
        TBlend::SetExStyle(wnd, style);
    }
    void SetAttributes(HWND wnd, COLORREF key, BYTE alpha, DWORD flags) override {
        calls.push_back(L"attr " + std::to_wstring(key) + L" " + std::to_wstring(alpha) + L" " +
                        std::to_wstring(flags));
        TBlend::SetAttributes(wnd, key, alpha, flags);
    }
};

// A camera frame: a see-through fuchsia panel above a coloured tool bar.
class TfrmCamera : public TForm {
public:
    TRecordingBlend* Blend1 = nullptr;
    TPanel *pnlCam = nullptr, *pnlMenu = nullptr;
    std::vector<std::wstring> loadCalls;

    TfrmCamera()
        : TForm({.bounds = {200, 150, 328, 290},
                 .borderIcons = biSystemMenu,
                 .formStyle = fsStayOnTop,
                 .color = clFuchsia}) {
        Blend1 = Add<TRecordingBlend>(this, {.alpha = 255,
                                             .active = true,
                                             .blendMode = ui::bmBoth,
                                             .designActive = false,
                                             .transparentColor = clFuchsia});
        loadCalls = Blend1->calls;
        Blend1->calls.clear();
        pnlMenu = Add<TPanel>(this, {.bounds = {0, 215, 320, 41},
                                     .align = alBottom,
                                     .color = RGBColor(205, 204, 251),
                                     .bevelOuter = bvNone});
        pnlCam = Add<TPanel>(this, {.bounds = {0, 0, 320, 215},
                                    .align = alClient,
                                    .color = clFuchsia,
                                    .bevelOuter = bvNone});
        Loaded();
    }
};

class TfrmBelow : public TForm {
public:
    TfrmBelow()
        : TForm({.bounds = {150, 100, 428, 390},
                 .borderStyle = bsNone,
                 .color = RGBColor(30, 120, 200)}) {
        Loaded();
    }
};

void Pump(int rounds = 20) {
    for (int i = 0; i < rounds; ++i) {
        Application.ProcessMessages();
        Sleep(10);
    }
}

COLORREF ScreenPixel(int x, int y) {
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, 1, 1);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, 1, 1, screen, x, y, SRCCOPY);
    COLORREF c = GetPixel(mem, 0, 0);
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return c;
}

class BlendTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Application.Initialize(); }
};

TEST_F(BlendTest, ComponentStartsAtZero) {
    TFormPtr<TfrmBelow> f(new TfrmBelow);
    TBlend b(f.get());
    EXPECT_EQ(b.Alpha(), 0);
    EXPECT_FALSE(b.Active());
    EXPECT_EQ(b.BlendMode(), ui::bmLWA_COLORKEY);
    EXPECT_FALSE(b.DesignActive());
    EXPECT_EQ(b.TransparentColor(), 0u);
    EXPECT_EQ(ui::BlendFlags(ui::bmLWA_COLORKEY), 1u);
    EXPECT_EQ(ui::BlendFlags(ui::bmLWA_ALPHA), 2u);
    EXPECT_EQ(ui::BlendFlags(ui::bmBoth), 3u);
}

TEST_F(BlendTest, LoadingTheFormAppliesEachPropertyInTurn) {
    TFormPtr<TfrmCamera> f(new TfrmCamera);
    const std::vector<std::wstring> expected = {
        L"attr 0 255 2", L"get",
        L"set plain", // Alpha: not in force yet
        L"get",          L"set layered",
        L"attr 0 255 1",                         // Active: key black
        L"get",          L"attr 0 255 3",        // BlendMode: both
        L"get",          L"attr 16711935 255 3", // TransparentColor
    };
    EXPECT_EQ(f->loadCalls, expected);

    HWND wnd = f->Handle();
    EXPECT_TRUE(ui::IsLayered(wnd));
    COLORREF key = 0;
    BYTE alpha = 0;
    DWORD flags = 0;
    ASSERT_TRUE(GetLayeredWindowAttributes(wnd, &key, &alpha, &flags));
    EXPECT_EQ(key, 0x00FF00FFu);
    EXPECT_EQ(alpha, 255);
    EXPECT_EQ(flags, 3u);
}

TEST_F(BlendTest, FuchsiaAreaShowsTheWindowBelow) {
    TFormPtr<TfrmBelow> below(new TfrmBelow);
    below->Show();
    TFormPtr<TfrmCamera> f(new TfrmCamera);
    f->Show();
    Pump();
    const core::Point cam = f->pnlCam->ClientOrigin();
    const core::Point menu = f->pnlMenu->ClientOrigin();
    EXPECT_EQ(ScreenPixel(cam.x + 60, cam.y + 60), RGB(30, 120, 200));
    EXPECT_EQ(ScreenPixel(menu.x + 200, menu.y + 20), RGB(205, 204, 251));

    // Switched off, the frame is opaque: its fuchsia shows.
    f->Blend1->SetActive(false);
    Pump();
    EXPECT_EQ(ScreenPixel(cam.x + 60, cam.y + 60), RGB(255, 0, 255));
}

TEST_F(BlendTest, SettingTheSameValueCallsNothing) {
    TFormPtr<TfrmCamera> f(new TfrmCamera);
    TRecordingBlend& b = *f->Blend1;
    b.SetAlpha(255);
    b.SetActive(true);
    b.SetBlendMode(ui::bmBoth);
    b.SetTransparentColor(clFuchsia);
    b.SetDesignActive(false);
    EXPECT_TRUE(b.calls.empty());

    // At run time DesignActive is not even stored.
    b.SetDesignActive(true);
    EXPECT_TRUE(b.calls.empty());
    EXPECT_FALSE(b.DesignActive());
}

TEST_F(BlendTest, InactiveMakesTheWindowOpaqueAndUnlayered) {
    TFormPtr<TfrmCamera> f(new TfrmCamera);
    TRecordingBlend& b = *f->Blend1;
    HWND wnd = f->Handle();
    b.SetActive(false);
    EXPECT_EQ(b.calls, (std::vector<std::wstring>{L"attr 0 255 2", L"get", L"set plain"}));
    EXPECT_FALSE(ui::IsLayered(wnd));

    b.calls.clear();
    b.SetActive(true);
    EXPECT_EQ(b.calls, (std::vector<std::wstring>{L"get", L"set layered", L"attr 16711935 255 3"}));
    EXPECT_TRUE(ui::IsLayered(wnd));

    // Each mode passes both key and alpha; only the flags differ.
    b.calls.clear();
    b.SetBlendMode(ui::bmLWA_ALPHA);
    b.SetAlpha(128);
    EXPECT_EQ(b.calls, (std::vector<std::wstring>{L"get", L"attr 16711935 255 2", L"get",
                                                  L"attr 16711935 128 2"}));
    COLORREF key = 0;
    BYTE alpha = 0;
    DWORD flags = 0;
    ASSERT_TRUE(GetLayeredWindowAttributes(wnd, &key, &alpha, &flags));
    EXPECT_EQ(alpha, 128);
    EXPECT_EQ(flags, 2u);
}

TEST_F(BlendTest, InDesignModeOnlyDesignActiveSwitches) {
    TFormPtr<TfrmBelow> f(new TfrmBelow);
    HWND wnd = f->Handle();
    {
        TRecordingBlend b(f.get());
        b.SetDesigning(true);
        b.SetTransparentColor(clFuchsia);
        b.SetActive(true); // stored, but the effect stays off
        EXPECT_FALSE(ui::IsLayered(wnd));
        b.SetDesignActive(true);
        EXPECT_TRUE(b.DesignActive());
        EXPECT_TRUE(ui::IsLayered(wnd));
        b.calls.clear();
    } // leaving the designer: Active off, DesignActive off, window plain again
    EXPECT_FALSE(ui::IsLayered(wnd));

    ui::SetLayered(wnd, true);
    EXPECT_TRUE(ui::IsLayered(wnd));
    ui::SetLayered(wnd, false);
    EXPECT_FALSE(ui::IsLayered(wnd));
}

TEST_F(BlendTest, AtRunTimeDestructionLeavesTheWindowLayered) {
    TFormPtr<TfrmBelow> f(new TfrmBelow);
    HWND wnd = f->Handle();
    {
        TBlend b(f.get());
        b.SetActive(true);
    }
    EXPECT_TRUE(ui::IsLayered(wnd));
}

} // namespace
