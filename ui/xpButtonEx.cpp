#include "ui/xpButtonEx.h"

#include "core/xpButtonRules.h"

namespace ui {

using forms::RGBColor;
using forms::TCanvas;
using forms::TColor;

namespace {

core::Rgb ToRgb(TColor c) {
    COLORREF v = forms::ColorToRGB(c);
    return {GetRValue(v), GetGValue(v), GetBValue(v)};
}

} // namespace

void FillGradient(TCanvas& canvas, const core::Rect& r, TColor from, TColor to, int direction,
                  int bands) {
    const bool vertical = core::GradientIsVertical(direction) || direction < 0 || direction > 3;
    for (const core::GradientBand& b :
         core::GradientBands(r.width, r.height, ToRgb(from), ToRgb(to), direction, bands)) {
        canvas.SetBrushColor(RGBColor(b.color.r, b.color.g, b.color.b));
        if (vertical)
            canvas.FillRect({r.left, r.top + b.offset, r.width, b.length});
        else
            canvas.FillRect({r.left + b.offset, r.top, b.length, r.height});
    }
    canvas.SetPenStyle(forms::psSolid);
}

TxpButtonEx::TxpButtonEx(forms::TWinControl* parent, const TxpButtonExArgs& a)
    : forms::TCustomControl(parent, a.bounds), cancel_(a.cancel), default_(a.isDefault),
      modalResult_(a.modalResult) {
    TCustomControl::SetCaption(a.caption);
    SetFont(a.font);
    SetCursor(a.cursor);
    SetTabStop(true);
    SetTabOrder(a.tabOrder);
    OnClick = a.onClick;
}

void TxpButtonEx::SetCaption(std::wstring v) {
    if (v == Caption()) return;
    TCustomControl::SetCaption(std::move(v));
    Repaint();
}

void TxpButtonEx::Click() {
    TCustomControl::Click();
    if (modalResult_ != 0)
        if (forms::TForm* form = Owner()) form->SetModalResult(modalResult_);
}

bool TxpButtonEx::DialogKey(WORD key, forms::TShiftState) {
    if (Enabled() && ((cancel_ && key == VK_ESCAPE) || (default_ && key == VK_RETURN))) Click();
    return false; // the key goes on
}

bool TxpButtonEx::DialogChar(wchar_t ch) {
    if (Enabled() && core::IsAccelerator(ch, Caption())) Click();
    return false;
}

LRESULT TxpButtonEx::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_CONTEXTMENU:
        return 0; // no context menu
    }
    return TCustomControl::WndProc(msg, wp, lp);
}

void TxpButtonEx::MouseEnter() {
    if (!hot_) {
        hot_ = true;
        Repaint();
    }
    TCustomControl::MouseEnter();
}

void TxpButtonEx::MouseLeave() {
    if (hot_) {
        hot_ = false;
        Repaint();
    }
    TCustomControl::MouseLeave();
}

void TxpButtonEx::MouseDown(forms::TMouseButton button, forms::TShiftState, int, int) {
    if (button != forms::mbLeft || pressed_) return;
    pressed_ = true;
    if (!Focused() && Enabled()) SetFocus();
    Repaint();
}

void TxpButtonEx::MouseUp(forms::TMouseButton button, forms::TShiftState, int, int) {
    if (button != forms::mbLeft || !pressed_) return;
    pressed_ = false;
    Repaint();
    Click();
}

void TxpButtonEx::DblClick() {
    Click();
}

void TxpButtonEx::KeyDown(WORD& key, forms::TShiftState) {
    if (!pressed_ && (key == VK_RETURN || key == VK_SPACE)) {
        pressed_ = true;
        Invalidate();
    }
}

void TxpButtonEx::KeyUp(WORD&, forms::TShiftState) {
    if (pressed_) {
        pressed_ = false;
        Invalidate();
        Click();
    }
}

void TxpButtonEx::FontChanged() {
    TCustomControl::FontChanged();
    Repaint();
}

void TxpButtonEx::FocusReceived() {
    if (!hasFocus_) {
        hasFocus_ = true;
        Invalidate();
    }
}

void TxpButtonEx::FocusLost() {
    if (hasFocus_) {
        hasFocus_ = false;
        Invalidate();
    }
}

void TxpButtonEx::PaintCaption(TCanvas& canvas, TColor color, int offset, int underlineOffset) {
    const int w = Width(), h = Height();
    const core::Rect face{4, 4, w - 8, h - 8};
    const core::CaptionParts parts = core::SplitCaption(Caption());
    forms::TFont font = Font();
    font.SetColor(color);
    canvas.SetFont(font);
    canvas.SetBrushStyle(forms::bsClear);
    const SIZE size = canvas.TextExtent(parts.text);
    const int x = (w - size.cx) / 2, y = (h - size.cy) / 2;
    canvas.TextRect(face, x + offset, y + offset, parts.text);
    if (hasFocus_ && Enabled()) canvas.DrawFocusRect(face);
    if (parts.accelerator) {
        const std::size_t at = *parts.accelerator;
        const int from = canvas.TextWidth(parts.text.substr(0, at));
        const int to = canvas.TextWidth(parts.text.substr(0, at + 1));
        const int ly = y + size.cy + underlineOffset;
        canvas.SetPenColor(color);
        canvas.SetPenWidth(1);
        canvas.SetPenStyle(forms::psSolid);
        canvas.Line(x + from + underlineOffset, ly, x + to + underlineOffset, ly);
    }
}

void TxpButtonEx::Paint(TCanvas& canvas) {
    const int w = Width(), h = Height();
    const core::Rect face{4, 4, w - 8, h - 8};
    const int p = pressed_ ? 1 : 0;
    canvas.SetPenStyle(forms::psSolid);
    canvas.SetPenWidth(1);
    if (!Enabled()) {
        canvas.SetPenColor(RGBColor(214, 211, 211));
        canvas.SetBrushColor(RGBColor(241, 241, 237));
        canvas.RoundRect(0, 0, w, h, 3, 3);
        for (auto [x, y] : {std::pair{0, 0}, {w - 1, 0}, {w - 1, h - 1}, {0, h - 1}})
            canvas.SetPixel(x, y, forms::clBtnFace);
        canvas.SetBrushStyle(forms::bsClear);
        canvas.SetPenColor(RGBColor(196, 195, 191));
        canvas.RoundRect(1, 1, w - 1, h - 1, 5, 5);
        PaintCaption(canvas, RGBColor(161, 161, 146), 0, p);
        return;
    }
    const TColor white = RGBColor(255, 255, 255);
    canvas.SetPenColor(RGBColor(214, 211, 211));
    canvas.SetBrushColor(RGBColor(214, 211, 211));
    canvas.RoundRect(0, 0, w, h, 3, 3);
    canvas.SetBrushStyle(forms::bsClear);
    canvas.SetPenColor(RGBColor(0, 60, 116));
    canvas.RoundRect(1, 1, w - 1, h - 1, 5, 5);
    if (pressed_ && hot_)
        FillGradient(canvas, face, RGBColor(253, 253, 253), RGBColor(205, 204, 223), 1,
                     ClientHeight() / 2);
    else
        FillGradient(canvas, face, RGBColor(253, 253, 253), RGBColor(205, 204, 223), 0,
                     ClientHeight() / 3);
    canvas.SetPenColor(RGBColor(206, 231, 255));
    canvas.Line(3, 2, w - 3, 2);
    canvas.SetPenColor(RGBColor(105, 130, 238));
    canvas.Line(3, h - 3, w - 3, h - 3);
    canvas.SetBrushStyle(forms::bsClear);
    canvas.SetPenColor(RGBColor(188, 212, 246));
    canvas.Rectangle(2, 3, w - 2, h - 3);
    canvas.SetPenColor(white);
    canvas.Line(3, 4, 3, h - 4);
    canvas.Line(w - 4, 4, w - 4, h - 4);
    canvas.Line(3, h - 1, w - 3, h - 1);
    canvas.Line(w - 1, h - 4, w - 1, 2);
    if (hot_) {
        canvas.SetPenColor(RGBColor(248, 179, 48));
        canvas.RoundRect(3, 3, w - 3, h - 3, 2, 2);
    }
    PaintCaption(canvas, Font().Color(), p, p);
}

} // namespace ui
