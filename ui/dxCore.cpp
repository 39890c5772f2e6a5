#include "ui/dxCore.h"

#include "core/xpButtonRules.h"

#include <windowsx.h>

#include <algorithm>
#include <cstdint>
#include <random>

namespace ui {

namespace {

bool InClient(HWND wnd, int x, int y) {
    RECT rc;
    GetClientRect(wnd, &rc);
    return x >= rc.left && x < rc.right && y >= rc.top && y < rc.bottom;
}

BITMAPINFO TopDownInfo(int width, int height, WORD bits) {
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, bits, BI_RGB, 0, 0, 0, 0, 0};
    return bi;
}

} // namespace

base::TBitmapHandle MakeGradientBitmap(int width, int height, core::Rgb top, core::Rgb bottom) {
    if (width <= 0 || height <= 0) return {};
    // A fixed seed: a face rebuilt at the same size looks the same.
    std::minstd_rand generator(1);
    const std::vector<core::Rgb> rows =
        core::GradientRowColors(height, top, bottom, 64, [&](int n) {
            return static_cast<int>(generator() % static_cast<unsigned>(n));
        });
    const BITMAPINFO bi = TopDownInfo(width, height, 24);
    void* bits = nullptr;
    base::TBitmapHandle bmp(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bmp || !bits) return {};
    const int stride = (width * 3 + 3) & ~3;
    for (int y = 0; y < height; ++y) {
        BYTE* p = static_cast<BYTE*>(bits) + static_cast<std::ptrdiff_t>(y) * stride;
        const core::Rgb c = rows[static_cast<std::size_t>(y)];
        for (int x = 0; x < width; ++x, p += 3) {
            p[0] = static_cast<BYTE>(c.b);
            p[1] = static_cast<BYTE>(c.g);
            p[2] = static_cast<BYTE>(c.r);
        }
    }
    return bmp;
}

void GrayGlyph(forms::TPicture& glyph) {
    HBITMAP bmp = glyph.Bitmap();
    const int w = glyph.Width(), h = glyph.Height();
    if (!bmp || w <= 0 || h <= 0) return;
    BITMAPINFO bi = TopDownInfo(w, h, 32);
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    const forms::TWindowDC screen(nullptr);
    if (GetDIBits(screen.get(), bmp, 0, static_cast<UINT>(h), pixels.data(), &bi, DIB_RGB_COLORS) !=
        h)
        return;
    for (std::uint32_t& v : pixels) {
        const core::Rgb g =
            core::GrayGlyphPixel({static_cast<int>((v >> 16) & 0xFF),
                                  static_cast<int>((v >> 8) & 0xFF), static_cast<int>(v & 0xFF)});
        v = static_cast<std::uint32_t>(g.r << 16 | g.g << 8 | g.b);
    }
    (void)SetDIBits(screen.get(), bmp, 0, static_cast<UINT>(h), pixels.data(), &bi, DIB_RGB_COLORS);
}

// --- TdxCustomControl ---------------------------------------------------------------------

TdxCustomControl::TdxCustomControl(forms::TWinControl* parent, const core::Rect& bounds)
    : forms::TCustomControl(parent, bounds) {}

void TdxCustomControl::Click() {
    if (forms::TForm* form = Owner()) form->SetModalResult(modalResult_);
    TCustomControl::Click();
}

bool TdxCustomControl::DialogChar(wchar_t ch) {
    if (!showAccelChar_ || !core::IsAccelerator(ch, Caption()) || !CanFocus()) return false;
    if (!Focused() && !(forms::KeyboardShiftState() & forms::ssAlt)) return false;
    Click();
    return true;
}

void TdxCustomControl::FocusChanged(forms::TWinControl* active) {
    hasFocus_ = active == this;
    if (!hasFocus_) pressed_ = false;
    flatControlActive_ = dynamic_cast<TdxCustomControl*>(active) != nullptr;
    Invalidate();
}

void TdxCustomControl::Press() {
    if (!Focused() && CanFocus()) SetFocus();
    pressed_ = true;
    Invalidate();
}

void TdxCustomControl::MouseEnter() {
    if (hot_) return;
    hot_ = true;
    TCustomControl::MouseEnter();
    Invalidate();
}

void TdxCustomControl::MouseLeave() {
    if (!hot_) return;
    hot_ = false;
    TCustomControl::MouseLeave();
    Invalidate();
}

LRESULT TdxCustomControl::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_MOUSEMOVE:
        // While the press holds the mouse, moves arrive from outside too: leaving ends Hot
        // (the framework would take every move for one inside).
        if (GetCapture() == handle_ && !InClient(handle_, GET_X_LPARAM(lp), GET_Y_LPARAM(lp))) {
            if (mouseInside_) {
                mouseInside_ = false;
                MouseLeave();
            }
            return 0;
        }
        break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: // each press is a press
        mousePress_ = true;
        SetCapture(handle_);
        Press();
        return 0;
    case WM_LBUTTONUP: {
        if (!mousePress_) break;
        mousePress_ = false;
        const bool click = pressed_ && InClient(handle_, GET_X_LPARAM(lp), GET_Y_LPARAM(lp));
        if (GetCapture() == handle_) ReleaseCapture();
        pressed_ = false;
        // The control now under the mouse saw no move while this one held it.
        POINT pt{};
        GetCursorPos(&pt);
        if (auto* other = dynamic_cast<TdxCustomControl*>(FromHandle(WindowFromPoint(pt)));
            other && other != this)
            other->MouseEnter();
        Invalidate();
        if (click) Click();
        return 0;
    }
    case WM_CAPTURECHANGED:
        // Another window took the mouse during the press: no click comes of it.
        if (mousePress_ && reinterpret_cast<HWND>(lp) != handle_) {
            mousePress_ = false;
            pressed_ = false;
            Invalidate();
        }
        break;
    }
    return TCustomControl::WndProc(msg, wp, lp);
}

// --- TdxStyle, TdxStyleManager, TdxCustomStyleControl -------------------------------------

void TdxStyle::SetTheme(TdxTheme v) {
    if (v == theme_) return;
    theme_ = v;
    owner_.Invalidate();
}

void TdxStyle::SetUseStyleManager(bool v) {
    if (v == useStyleManager_) return;
    useStyleManager_ = v;
    owner_.Invalidate();
}

TdxStyleManager::TdxStyleManager(forms::TForm* owner, const TdxStyleManagerArgs& a)
    : TdxCustomComponent(owner), OnThemeChanged(a.onThemeChanged), theme_(a.theme) {}

TdxStyleManager::~TdxStyleManager() {
    for (TdxCustomStyleControl* c : controls_) {
        c->Invalidate();
        c->styleManager_ = nullptr;
    }
}

void TdxStyleManager::SetTheme(TdxTheme v) {
    if (v == theme_) return;
    theme_ = v;
    if (OnThemeChanged) OnThemeChanged(this);
    for (TdxCustomStyleControl* c : controls_)
        c->Invalidate();
}

TdxCustomStyleControl::TdxCustomStyleControl(forms::TWinControl* parent, const core::Rect& bounds)
    : TdxCustomControl(parent, bounds), style_(*this) {}

TdxCustomStyleControl::~TdxCustomStyleControl() {
    if (styleManager_) std::erase(styleManager_->controls_, this);
}

void TdxCustomStyleControl::SetStyleManager(TdxStyleManager* v) {
    if (v == styleManager_) return;
    if (styleManager_) std::erase(styleManager_->controls_, this);
    styleManager_ = v;
    if (v) v->controls_.push_back(this);
    Invalidate();
}

TdxTheme TdxCustomStyleControl::Theme() const {
    return style_.UseStyleManager() && styleManager_ ? styleManager_->Theme() : style_.Theme();
}

} // namespace ui
