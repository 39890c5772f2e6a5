// dxButtons: TdxButton, the flat push button painted from gradient faces, and DrawButtonText.
#pragma once

#include "ui/dxCore.h"

namespace ui {

using TButtonLayout = core::ButtonLayout;
using enum core::ButtonLayout;

// Measures (DT_CALCRECT in flags: r shrinks to the text) or draws a button caption in the font,
// on a transparent background. An empty caption, or a lone "&" while accelerators are shown,
// is measured with a space appended so that it keeps a line's height. Without accelerators
// "&" shows as it is. A disabled caption is drawn twice: moved by (1, 1) in the button
// highlight colour, then in place in the button shadow colour.
void DrawButtonText(forms::TCanvas& canvas, const std::wstring& text, UINT flags, core::Rect& r,
                    bool showAccelChar, bool enabled, const forms::TFont& font);

struct TdxButtonArgs {
    core::Rect bounds{0, 0, 73, 21};
    std::wstring caption{};
    std::optional<forms::TFont> font{};
    forms::TCursor cursor = forms::crDefault;
    std::optional<int> tabOrder{};
    bool visible = true;
    bool isDefault = false;         // Enter clicks; the rim shows while no flat control is active
    bool cancel = false;            // Escape without Shift, Ctrl or Alt clicks
    int modalResult = 0;            // given to the form on every click, also when 0
    const wchar_t* glyph = nullptr; // bitmap resource beside the caption
    TButtonLayout layout = blGlyphLeft;
    int spacing = 3; // 0 .. 255 pixels between glyph and caption
    bool showFocusRect = false;
    bool showAccelChar = true; // "&" marks the accelerator
    bool wordWrap = true;
    bool smoothEdges = true; // soften the four corners
    bool autoGray = true;    // grey the glyph while disabled
    forms::TNotifyEvent onClick{};
};

// The flat push button: a light face in a rounded dark blue border, a blue rim while it has
// the focus (or is the default button and no flat control is active), an orange rim under the
// mouse, a darker face while pressed. Space presses it and the release of a key clicks it.
class TdxCustomButton : public TdxCustomStyleControl {
public:
    TdxCustomButton(forms::TWinControl* parent, const TdxButtonArgs& a);

    bool Default() const { return default_; }
    // Also tells every control of the form that the focus changed, so that each flat control
    // re-evaluates its default look.
    void SetDefault(bool v);
    bool Cancel() const { return cancel_; }
    const forms::TPicture& Glyph() const { return glyph_; }
    bool IsHighlighted(bool ownStateOnly) const;

    bool DialogKey(WORD key, forms::TShiftState shift) override;

protected:
    void Paint(forms::TCanvas& canvas) override;
    void Resized() override;
    void KeyDown(WORD& key, forms::TShiftState shift) override;
    void KeyUp(WORD& key, forms::TShiftState shift) override;

private:
    void MakeFaces();
    void PaintGlyphAndCaption(forms::TCanvas& canvas);

    bool default_, cancel_;
    forms::TPicture glyph_;
    TButtonLayout layout_;
    int spacing_;
    bool showFocusRect_, wordWrap_, smoothEdges_, autoGray_;
    base::TBitmapHandle face_, pressedFace_, focusRim_, hotRim_;
    core::Size facesSize_{-1, -1};
    bool smallFace_ = false; // the face was made for a highlighted button (2 pixels less each side)
};

class TdxButton : public TdxCustomButton {
public:
    using Args = TdxButtonArgs;
    TdxButton(forms::TWinControl* parent, const TdxButtonArgs& a) : TdxCustomButton(parent, a) {}
    std::wstring ClassName() const override { return L"TdxButton"; }
};

} // namespace ui
