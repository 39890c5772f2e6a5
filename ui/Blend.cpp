#include "ui/Blend.h"

namespace ui {

DWORD BlendFlags(TBlendMode mode) {
    switch (mode) {
    case bmLWA_COLORKEY:
        return LWA_COLORKEY;
    case bmLWA_ALPHA:
        return LWA_ALPHA;
    case bmBoth:
        return LWA_COLORKEY | LWA_ALPHA;
    }
    return LWA_COLORKEY;
}

void SetLayered(HWND wnd, bool on) {
    LONG_PTR style = GetWindowLongPtrW(wnd, GWL_EXSTYLE);
    style = on ? (style | WS_EX_LAYERED) : (style & ~static_cast<LONG_PTR>(WS_EX_LAYERED));
    SetWindowLongPtrW(wnd, GWL_EXSTYLE, style);
}

bool IsLayered(HWND wnd) {
    return (GetWindowLongPtrW(wnd, GWL_EXSTYLE) & WS_EX_LAYERED) != 0;
}

TBlend::TBlend(forms::TForm* owner, const TBlendArgs& a)
    : forms::TComponent(owner), form_(owner), args_(a) {}

void TBlend::Added() {
    SetAlpha(args_.alpha);
    SetActive(args_.active);
    SetBlendMode(args_.blendMode);
    SetDesignActive(args_.designActive);
    SetTransparentColor(args_.transparentColor);
}

TBlend::~TBlend() {
    // In a designer the form ends opaque and unlayered; at run time neither setter changes
    // anything, so the window keeps its state until it goes itself.
    if (designing_) {
        SetActive(false);
        SetDesignActive(false);
    }
}

void TBlend::SetAlpha(BYTE v) {
    if (v == alpha_) return;
    alpha_ = v;
    Apply();
}

void TBlend::SetActive(bool v) {
    if (v == active_) return;
    active_ = v;
    Apply();
}

void TBlend::SetBlendMode(TBlendMode v) {
    if (v == mode_) return;
    mode_ = v;
    Apply();
}

void TBlend::SetDesignActive(bool v) {
    if (!designing_ || v == designActive_) return;
    designActive_ = v;
    Apply();
}

void TBlend::SetTransparentColor(forms::TColor v) {
    if (v == color_) return;
    color_ = v;
    Apply();
}

LONG_PTR TBlend::GetExStyle(HWND wnd) {
    return GetWindowLongPtrW(wnd, GWL_EXSTYLE);
}

void TBlend::SetExStyle(HWND wnd, LONG_PTR style) {
    (void)SetWindowLongPtrW(wnd, GWL_EXSTYLE, style);
}

void TBlend::SetAttributes(HWND wnd, COLORREF key, BYTE alpha, DWORD flags) {
    (void)SetLayeredWindowAttributes(wnd, key, alpha, flags);
}

void TBlend::Apply() {
    HWND wnd = form_->Handle(); // made now if the form has no window yet
    const bool inForce = designing_ ? designActive_ : active_;
    if (inForce) {
        LONG_PTR style = GetExStyle(wnd);
        if (!(style & WS_EX_LAYERED)) SetExStyle(wnd, style | WS_EX_LAYERED);
        // The key colour goes to the system as it is: no system-colour lookup.
        SetAttributes(wnd, color_, alpha_, BlendFlags(mode_));
    } else {
        SetAttributes(wnd, 0, 255, LWA_ALPHA);
        SetExStyle(wnd, GetExStyle(wnd) & ~static_cast<LONG_PTR>(WS_EX_LAYERED));
    }
}

} // namespace ui
