// xpButtonEx: TxpButtonEx, an owner-painted push button in an XP look, and FillGradient.
#pragma once

#include "forms/Forms.h"

namespace ui {

// Fills a rectangle with a banded gradient: direction 0 top to bottom, 1 bottom to top,
// 2 left to right, 3 right to left; fewer than 2 bands fill it with `from`.
void FillGradient(forms::TCanvas& canvas, const core::Rect& r, forms::TColor from, forms::TColor to,
                  int direction, int bands);

struct TxpButtonExArgs {
    core::Rect bounds{0, 0, 75, 25};
    std::wstring caption = L"XP Button";
    std::optional<forms::TFont> font{};
    forms::TCursor cursor = forms::crDefault;
    std::optional<int> tabOrder{};
    bool isDefault = false;
    bool cancel = false;
    int modalResult = 0; // given to the form when clicked, unless 0
    forms::TNotifyEvent onClick{};
};

// A push button with a light gradient face, a dark blue rounded border and an orange frame
// while the mouse is over it. One "&" in the caption marks its accelerator. Clicks come from a
// left release after a press (the mouse is not captured), a double click, the release of any
// key after Enter or Space, Enter when Default, Escape when Cancel, and the accelerator.
class TxpButtonEx : public forms::TCustomControl {
public:
    using Args = TxpButtonExArgs;
    TxpButtonEx(forms::TWinControl* parent, const TxpButtonExArgs& a);
    std::wstring ClassName() const override { return L"TxpButtonEx"; }

    bool Cancel() const { return cancel_; }
    void SetCancel(bool v) { cancel_ = v; }
    bool Default() const { return default_; }
    void SetDefault(bool v) { default_ = v; }
    int ModalResult() const { return modalResult_; }
    void SetModalResult(int v) { modalResult_ = v; }
    bool Hot() const { return hot_; }
    bool Pressed() const { return pressed_; }
    bool HasFocus() const { return hasFocus_; }

    void SetCaption(std::wstring v) override;
    void Click() override;
    bool DialogKey(WORD key, forms::TShiftState shift) override;
    bool DialogChar(wchar_t ch) override;

protected:
    void Paint(forms::TCanvas& canvas) override;
    LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;
    void MouseEnter() override;
    void MouseLeave() override;
    void MouseDown(forms::TMouseButton button, forms::TShiftState shift, int x, int y) override;
    void MouseUp(forms::TMouseButton button, forms::TShiftState shift, int x, int y) override;
    void DblClick() override;
    void KeyDown(WORD& key, forms::TShiftState shift) override;
    void KeyUp(WORD& key, forms::TShiftState shift) override;
    // The button keeps OnKeyDown but never raises it.
    void DoKeyDown(WORD&, forms::TShiftState) override {}
    void FontChanged() override;
    void FocusReceived() override;
    void FocusLost() override;

private:
    void PaintCaption(forms::TCanvas& canvas, forms::TColor color, int offset, int underlineOffset);

    bool cancel_ = false;
    bool default_ = false;
    int modalResult_ = 0;
    bool hot_ = false;
    bool pressed_ = false;
    bool hasFocus_ = false;
};

} // namespace ui
