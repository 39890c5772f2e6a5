#include "ui/dxButtons.h"

#include <algorithm>

namespace ui {

using forms::RGBColor;
using forms::TCanvas;

namespace {

// Copies the top-left w x h pixels of a bitmap (no more than it has) to (x, y).
void CopyBitmap(HDC dc, int x, int y, int w, int h, HBITMAP bmp) {
    if (!bmp) return;
    BITMAP info{};
    GetObjectW(bmp, sizeof info, &info);
    w = std::min(w, static_cast<int>(info.bmWidth));
    h = std::min(h, static_cast<int>(info.bmHeight));
    if (w <= 0 || h <= 0) return;
    const forms::TMemoryDC mem(CreateCompatibleDC(dc));
    const forms::TSelectObject sel(mem.get(), bmp);
    BitBlt(dc, x, y, w, h, mem.get(), 0, 0, SRCCOPY);
}

bool MouseOver(HWND wnd) {
    POINT pt{};
    return GetCursorPos(&pt) && WindowFromPoint(pt) == wnd;
}

} // namespace

void DrawButtonText(TCanvas& canvas, const std::wstring& text, UINT flags, core::Rect& r,
                    bool showAccelChar, bool enabled, const forms::TFont& font) {
    if (!showAccelChar) flags |= DT_NOPREFIX;
    canvas.SetBrushStyle(forms::bsClear);
    // Measuring draws nothing, so a disabled caption is measured like an enabled one.
    if (flags & DT_CALCRECT) {
        canvas.SetFont(font);
        canvas.DrawText(core::CaptionToMeasure(text, showAccelChar), r, flags);
        return;
    }
    if (enabled) {
        canvas.SetFont(font);
        canvas.DrawText(text, r, flags);
        return;
    }
    forms::TFont shade = font;
    shade.SetColor(forms::clBtnHighlight);
    canvas.SetFont(shade);
    core::Rect moved{r.left + 1, r.top + 1, r.width, r.height};
    canvas.DrawText(text, moved, flags);
    shade.SetColor(forms::clBtnShadow);
    canvas.SetFont(shade);
    canvas.DrawText(text, r, flags);
}

TdxCustomButton::TdxCustomButton(forms::TWinControl* parent, const TdxButtonArgs& a)
    : TdxCustomStyleControl(parent, a.bounds), default_(a.isDefault), cancel_(a.cancel),
      layout_(a.layout), spacing_(std::clamp(a.spacing, 0, 255)), showFocusRect_(a.showFocusRect),
      wordWrap_(a.wordWrap), smoothEdges_(a.smoothEdges), autoGray_(a.autoGray) {
    TWinControl::SetCaption(a.caption);
    SetFont(a.font);
    SetCursor(a.cursor);
    SetTabStop(true);
    SetTabOrder(a.tabOrder);
    TWinControl::SetVisible(a.visible);
    SetModalResult(a.modalResult);
    SetShowAccelChar(a.showAccelChar);
    if (a.glyph) glyph_.LoadBitmap(a.glyph);
    OnClick = a.onClick;
}

void TdxCustomButton::SetDefault(bool v) {
    if (v == default_) return;
    default_ = v;
    if (forms::TForm* form = Owner())
        for (const auto& c : form->Components())
            if (auto* w = dynamic_cast<forms::TWinControl*>(c.get()))
                w->FocusChanged(form->ActiveControl());
    Invalidate();
}

bool TdxCustomButton::IsHighlighted(bool ownStateOnly) const {
    return core::IsHighlighted(
        {Hot(), Pressed(), HasFocus(), default_, CanFocus(), FlatControlActive()}, ownStateOnly);
}

bool TdxCustomButton::DialogKey(WORD key, forms::TShiftState shift) {
    using namespace forms;
    const bool enter = key == VK_RETURN && (Focused() || (default_ && !FlatControlActive()));
    const bool escape = key == VK_ESCAPE && cancel_ && !(shift & (ssShift | ssCtrl | ssAlt));
    if (!(enter || escape) || !CanFocus()) return false;
    Click();
    return true;
}

void TdxCustomButton::KeyDown(WORD& key, forms::TShiftState shift) {
    using namespace forms;
    if (key != VK_SPACE || (shift & (ssShift | ssCtrl | ssAlt))) return;
    SetHot(true);
    Press();
}

void TdxCustomButton::KeyUp(WORD&, forms::TShiftState) {
    if (!Pressed()) return;
    if (!MouseOver(handle_)) SetHot(false);
    SetPressed(false);
    Invalidate();
    Click();
}

void TdxCustomButton::Resized() {
    MakeFaces();
    Invalidate();
}

void TdxCustomButton::MakeFaces() {
    const int w = ClientWidth(), h = ClientHeight();
    smallFace_ = IsHighlighted(true);
    const int inset = smallFace_ ? 4 : 0;
    face_ = MakeGradientBitmap(w - 2 - inset, h - 2 - inset, {255, 255, 255}, {239, 235, 231});
    pressedFace_ = MakeGradientBitmap(w - 2, h - 2, {214, 207, 198}, {247, 243, 235});
    focusRim_ = MakeGradientBitmap(w - 2, h - 2, {206, 231, 255}, {109, 132, 239});
    hotRim_ = MakeGradientBitmap(w - 2, h - 2, {255, 243, 206}, {231, 150, 0});
    facesSize_ = {w, h};
}

void TdxCustomButton::Paint(TCanvas& canvas) {
    const int w = ClientWidth(), h = ClientHeight();
    const bool lit = IsHighlighted(false);
    const bool sunk = Hot() && Pressed();
    // A face made while the button was highlighted is too small to fill a plain button.
    if (facesSize_ != core::Size{w, h} || (smallFace_ && !lit && !sunk)) MakeFaces();

    canvas.SetBrushColor(Color());
    canvas.FillRect({0, 0, w, h});
    const HDC dc = canvas.Handle();
    if (lit) CopyBitmap(dc, 1, 1, w - 2, h - 2, (Hot() ? hotRim_ : focusRim_).get());
    if (sunk) {
        CopyBitmap(dc, 1, 1, w - 2, h - 2, pressedFace_.get());
    } else {
        const int k = lit ? 1 : 0; // a highlighted face leaves a 2-pixel rim
        CopyBitmap(dc, 2 * k + 1, 2 * k + 1, w - 6 * k, h - 6 * k, face_.get());
    }

    const bool on = Enabled();
    canvas.SetPenStyle(forms::psSolid);
    canvas.SetPenWidth(1);
    canvas.SetBrushStyle(forms::bsClear);
    canvas.SetPenColor(on ? RGBColor(0, 56, 115) : RGBColor(206, 199, 189));
    canvas.RoundRect(0, 0, w, h, 5, 5);
    if (smoothEdges_) {
        canvas.SetPenColor(on ? RGBColor(123, 158, 173) : RGBColor(206, 199, 189));
        canvas.Line(0, 1, 2, 0);
        canvas.Line(w - 2, 0, w, 2);
        canvas.Line(0, h - 2, 2, h);
        canvas.Line(w - 3, h, w, h - 3);
    }
    PaintGlyphAndCaption(canvas);
}

void TdxCustomButton::PaintGlyphAndCaption(TCanvas& canvas) {
    const core::Size client{ClientWidth(), ClientHeight()};
    UINT flags = DT_END_ELLIPSIS | (wordWrap_ ? DT_WORDBREAK : 0);
    forms::TPicture grey;
    const forms::TPicture* glyph = &glyph_;
    if (autoGray_ && !Enabled() && !glyph_.Empty()) {
        grey = glyph_; // the owned glyph keeps its colours
        GrayGlyph(grey);
        glyph = &grey;
    }
    const core::Size glyphSize{glyph->Width(), glyph->Height()};
    const core::CaptionBox box = core::CaptionMeasureBox(client, glyphSize, layout_, spacing_);
    if (box.rightAligned) flags |= DT_RIGHT;
    core::Rect r = box.rect;
    DrawButtonText(canvas, Caption(), flags | DT_CALCRECT, r, ShowAccelChar(), Enabled(), Font());
    const int p = Hot() && Pressed() ? 1 : 0;
    r = core::PlaceCaption(r, client, p);
    if (!glyph->Empty()) {
        const core::Point at = core::GlyphOrigin(r, client, glyphSize, layout_, spacing_, p);
        canvas.Draw(at.x, at.y, *glyph, true);
    }
    if (HasFocus() && showFocusRect_)
        canvas.DrawFocusRect({3, 3, client.width - 6, client.height - 6});
    DrawButtonText(canvas, Caption(), flags, r, ShowAccelChar(), Enabled(), Font());
}

} // namespace ui
