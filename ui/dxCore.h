// dxCore: the base classes of the flat controls (state flags, clicks, accelerators, styles and
// their shared manager) and their drawing helpers, the dithered gradient and the greyed glyph.
#pragma once

#include "core/dxRules.h"
#include "forms/Forms.h"

#include <vector>

namespace ui {

// A width x height, 24 bits per pixel bitmap holding a vertical gradient of 64 dithered steps
// from `top` to `bottom`; nothing for an empty size.
base::TBitmapHandle MakeGradientBitmap(int width, int height, core::Rgb top, core::Rgb bottom);
// Turns every pixel of the picture's bitmap grey (see core::GrayGlyphPixel). Exact for the
// program's true-colour glyphs; a palette bitmap gets the nearest greys of its palette.
void GrayGlyph(forms::TPicture& glyph);

// The base of the family's non-visual components.
class TdxCustomComponent : public forms::TComponent {
public:
    using TComponent::TComponent;
};

// The flat controls: the state they paint from, their modal result and their accelerator.
// Click gives the form the modal result (also 0), then raises OnClick. A left press captures
// the mouse and a release inside clicks; the mouse leaving during the press clears Hot.
class TdxCustomControl : public forms::TCustomControl {
public:
    TdxCustomControl(forms::TWinControl* parent, const core::Rect& bounds);

    bool Hot() const { return hot_; }
    bool Pressed() const { return pressed_; }
    bool HasFocus() const { return hasFocus_; }
    // The form's active control is a flat control (recomputed on every focus change).
    bool FlatControlActive() const { return flatControlActive_; }
    int ModalResult() const { return modalResult_; }
    bool ShowAccelChar() const { return showAccelChar_; }

    void Click() override;
    bool DialogChar(wchar_t ch) override;
    void FocusChanged(forms::TWinControl* active) override;

protected:
    void SetModalResult(int v) { modalResult_ = v; }
    void SetShowAccelChar(bool v) { showAccelChar_ = v; }
    LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;
    void MouseEnter() override;
    void MouseLeave() override;
    // Takes the focus if it can and marks the control pressed (left button, or Space).
    void Press();
    void SetHot(bool v) { hot_ = v; }
    void SetPressed(bool v) { pressed_ = v; }

private:
    bool hot_ = false;
    bool pressed_ = false;
    bool hasFocus_ = false;
    bool flatControlActive_ = false;
    bool mousePress_ = false; // the press came from the left button, which is captured
    int modalResult_ = 0;
    bool showAccelChar_ = true;
};

enum TdxTheme { WindowsXP, OfficeXP };

class TdxCustomStyleControl;

// The theme of one style control, which it repaints when changed.
class TdxStyle {
public:
    explicit TdxStyle(TdxCustomStyleControl& owner) : owner_(owner) {}
    TdxTheme Theme() const { return theme_; }
    void SetTheme(TdxTheme v);
    // Follow the style manager's theme when the control has one.
    bool UseStyleManager() const { return useStyleManager_; }
    void SetUseStyleManager(bool v);

private:
    TdxCustomStyleControl& owner_;
    TdxTheme theme_ = WindowsXP;
    bool useStyleManager_ = true;
};

struct TdxStyleManagerArgs {
    TdxTheme theme = WindowsXP;
    forms::TNotifyEvent onThemeChanged{};
};

// A theme shared by the style controls registered with it. When it goes it repaints them and
// they drop their reference to it.
class TdxStyleManager : public TdxCustomComponent {
public:
    using Args = TdxStyleManagerArgs;
    TdxStyleManager(forms::TForm* owner, const TdxStyleManagerArgs& a);
    ~TdxStyleManager() override;
    std::wstring ClassName() const override { return L"TdxStyleManager"; }

    TdxTheme Theme() const { return theme_; }
    // Stores the theme, raises OnThemeChanged and repaints every registered control.
    void SetTheme(TdxTheme v);
    const std::vector<TdxCustomStyleControl*>& Controls() const { return controls_; }

    forms::TNotifyEvent OnThemeChanged;

private:
    friend class TdxCustomStyleControl;
    TdxTheme theme_;
    std::vector<TdxCustomStyleControl*> controls_;
};

// A flat control with a style and, optionally, a shared style manager.
class TdxCustomStyleControl : public TdxCustomControl {
public:
    TdxCustomStyleControl(forms::TWinControl* parent, const core::Rect& bounds);
    ~TdxCustomStyleControl() override;

    TdxStyle& Style() { return style_; }
    TdxStyleManager* StyleManager() const { return styleManager_; }
    // Moves the control's registration to the new manager (none: to no manager) and repaints.
    void SetStyleManager(TdxStyleManager* v);
    // The theme painted: the manager's when the style follows it, else the style's own.
    TdxTheme Theme() const;

private:
    friend class TdxStyleManager;
    TdxStyle style_;
    TdxStyleManager* styleManager_ = nullptr;
};

} // namespace ui
