// Blend: TBlend, which turns its form's window into a layered window with a key colour and/or
// a constant opacity.
#pragma once

#include "forms/Forms.h"

#include <windows.h>

namespace ui {

enum TBlendMode { bmLWA_COLORKEY, bmLWA_ALPHA, bmBoth };

// The flags handed to the system for a mode: LWA_COLORKEY 1, LWA_ALPHA 2, both 3.
DWORD BlendFlags(TBlendMode mode);

// Switches and tests the layered bit of a window's extended style.
void SetLayered(HWND wnd, bool on);
bool IsLayered(HWND wnd);

struct TBlendArgs {
    BYTE alpha = 0;
    bool active = false;
    TBlendMode blendMode = bmLWA_COLORKEY;
    bool designActive = false;
    forms::TColor transparentColor = 0;
};

// A non-visual component of a form. Every property starts at zero; each setter stores a
// changed value and re-applies the layered state at once, so setting a property to the value
// it holds calls the system not at all. At run time the effect follows Active and DesignActive
// is ignored (never stored); in design mode only DesignActive switches it.
class TBlend : public forms::TComponent {
public:
    using Args = TBlendArgs;
    // Once added, the arguments are applied through the setters, in the order of their fields.
    explicit TBlend(forms::TForm* owner, const TBlendArgs& a = {});
    ~TBlend() override;
    std::wstring ClassName() const override { return L"TBlend"; }

    BYTE Alpha() const { return alpha_; }
    void SetAlpha(BYTE v);
    bool Active() const { return active_; }
    void SetActive(bool v);
    TBlendMode BlendMode() const { return mode_; }
    void SetBlendMode(TBlendMode v);
    bool DesignActive() const { return designActive_; }
    void SetDesignActive(bool v);
    forms::TColor TransparentColor() const { return color_; }
    void SetTransparentColor(forms::TColor v);

    // Design mode: the component is shown in a form designer (tests set it).
    bool Designing() const { return designing_; }
    void SetDesigning(bool v) { designing_ = v; }

protected:
    void Added() override;
    // The system calls, one place each, so that tests can watch them.
    virtual LONG_PTR GetExStyle(HWND wnd);
    virtual void SetExStyle(HWND wnd, LONG_PTR style);
    virtual void SetAttributes(HWND wnd, COLORREF key, BYTE alpha, DWORD flags);

private:
    void Apply();

    forms::TForm* form_;
    BYTE alpha_ = 0;
    bool active_ = false;
    TBlendMode mode_ = bmLWA_COLORKEY;
    bool designActive_ = false;
    forms::TColor color_ = 0;
    bool designing_ = false;
    TBlendArgs args_;
};

} // namespace ui
