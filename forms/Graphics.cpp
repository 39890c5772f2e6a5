#include "forms/Graphics.h"

#include "base/WinUtil.h"

namespace forms {

COLORREF ColorToRGB(TColor c) {
    if ((c & 0xFF000000) == 0x80000000) return GetSysColor(static_cast<int>(c & 0xFF));
    return c & 0x00FFFFFF;
}

HFONT TFont::Handle() const {
    if (!handle_) {
        LOGFONTW lf{};
        lf.lfHeight = height_;
        lf.lfWeight = (style_ & fsBold) ? FW_BOLD : FW_NORMAL;
        lf.lfItalic = (style_ & fsItalic) ? TRUE : FALSE;
        lf.lfUnderline = (style_ & fsUnderline) ? TRUE : FALSE;
        lf.lfCharSet = static_cast<BYTE>(charset_);
        lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
        lf.lfClipPrecision = CLIP_DEFAULT_PRECIS;
        lf.lfQuality = DEFAULT_QUALITY;
        lf.lfPitchAndFamily = DEFAULT_PITCH;
        lstrcpynW(lf.lfFaceName, name_.c_str(), LF_FACESIZE);
        handle_ = std::make_shared<TFontHandle>(CreateFontIndirectW(&lf));
    }
    return handle_->get();
}

// --- TPicture ---------------------------------------------------------------------------

bool TPicture::LoadBitmap(const wchar_t* name) {
    Clear();
    auto* bmp = static_cast<HBITMAP>(
        LoadImageW(GetModuleHandleW(nullptr), name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (!bmp) return false;
    bitmap_.reset(bmp);
    BITMAP info{};
    GetObjectW(bmp, sizeof info, &info);
    width_ = info.bmWidth;
    height_ = info.bmHeight;
    return true;
}

bool TPicture::LoadIcon(const wchar_t* name, int size) {
    Clear();
    auto* icon =
        static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), name, IMAGE_ICON, size, size, 0));
    if (!icon) return false;
    icon_.reset(icon);
    width_ = height_ = size;
    return true;
}

void TPicture::Assign(const TPicture& o) {
    Clear();
    if (o.bitmap_)
        bitmap_.reset(static_cast<HBITMAP>(
            CopyImage(o.bitmap_.get(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    if (o.icon_) icon_.reset(CopyIcon(o.icon_.get()));
    width_ = o.width_;
    height_ = o.height_;
}

void TPicture::Clear() {
    bitmap_.reset();
    icon_.reset();
    width_ = height_ = 0;
}

// --- TCanvas ----------------------------------------------------------------------------

TCanvas::TCanvas(HDC dc) : dc_(dc) {
    oldPen_ = GetCurrentObject(dc, OBJ_PEN);
    oldBrush_ = GetCurrentObject(dc, OBJ_BRUSH);
    oldFont_ = GetCurrentObject(dc, OBJ_FONT);
}

TCanvas::~TCanvas() {
    // Our objects are deselected before their owners delete them.
    SelectObject(dc_, oldPen_);
    SelectObject(dc_, oldBrush_);
    SelectObject(dc_, oldFont_);
}

void TCanvas::SetPenColor(TColor c) {
    if (c != penColor_) penColor_ = c, penDirty_ = true;
}
void TCanvas::SetPenStyle(TPenStyle s) {
    if (s != penStyle_) penStyle_ = s, penDirty_ = true;
}
void TCanvas::SetPenWidth(int w) {
    if (w != penWidth_) penWidth_ = w, penDirty_ = true;
}
void TCanvas::SetBrushColor(TColor c) {
    if (c != brushColor_ || brushStyle_ != bsSolid) brushColor_ = c, brushDirty_ = true;
    brushStyle_ = bsSolid;
}
void TCanvas::SetBrushStyle(TBrushStyle s) {
    if (s != brushStyle_) brushStyle_ = s, brushDirty_ = true;
}
void TCanvas::SetFont(const TFont& f) {
    font_ = f;
    fontDirty_ = true;
}

void TCanvas::UsePen() {
    if (!penDirty_) return;
    int style = penStyle_ == psSolid ? PS_SOLID : penStyle_ == psDot ? PS_DOT : PS_NULL;
    TPenHandle pen(CreatePen(style, penWidth_, ColorToRGB(penColor_)));
    SelectObject(dc_, pen.get());
    pen_ = std::move(pen);
    SetROP2(dc_, R2_COPYPEN);
    penDirty_ = false;
}

void TCanvas::UseBrush() {
    if (brushDirty_) {
        if (brushStyle_ == bsClear) {
            SelectObject(dc_, GetStockObject(NULL_BRUSH));
            brush_.reset();
        } else {
            TBrushHandle brush(CreateSolidBrush(ColorToRGB(brushColor_)));
            SelectObject(dc_, brush.get());
            brush_ = std::move(brush);
        }
        brushDirty_ = false;
    }
}

void TCanvas::UseFont() {
    if (fontDirty_) {
        SelectObject(dc_, font_.Handle());
        selectedFont_ = font_;
        fontDirty_ = false;
    }
    SetTextColor(dc_, ColorToRGB(font_.Color()));
    if (brushStyle_ == bsClear) {
        SetBkMode(dc_, TRANSPARENT);
    } else {
        SetBkMode(dc_, OPAQUE);
        SetBkColor(dc_, ColorToRGB(brushColor_));
    }
}

void TCanvas::FillRect(const core::Rect& r) {
    if (brushStyle_ == bsClear) return;
    const RECT rc = base::ToRECT(r);
    TBrushHandle brush(CreateSolidBrush(ColorToRGB(brushColor_)));
    ::FillRect(dc_, &rc, brush.get());
}

void TCanvas::Rectangle(int x1, int y1, int x2, int y2) {
    UsePen();
    UseBrush();
    ::Rectangle(dc_, x1, y1, x2, y2);
}

void TCanvas::RoundRect(int x1, int y1, int x2, int y2, int w, int h) {
    UsePen();
    UseBrush();
    ::RoundRect(dc_, x1, y1, x2, y2, w, h);
}

void TCanvas::MoveTo(int x, int y) {
    MoveToEx(dc_, x, y, nullptr);
}

void TCanvas::LineTo(int x, int y) {
    UsePen();
    ::LineTo(dc_, x, y);
}

void TCanvas::SetPixel(int x, int y, TColor c) {
    ::SetPixelV(dc_, x, y, ColorToRGB(c));
}

void TCanvas::DrawFocusRect(const core::Rect& r) {
    const RECT rc = base::ToRECT(r);
    // The dotted rectangle is drawn in XOR with the text and background colours.
    SetTextColor(dc_, RGB(0, 0, 0));
    SetBkColor(dc_, RGB(255, 255, 255));
    ::DrawFocusRect(dc_, &rc);
}

SIZE TCanvas::TextExtent(const std::wstring& s) {
    UseFont();
    SIZE size{};
    GetTextExtentPoint32W(dc_, s.c_str(), static_cast<int>(s.size()), &size);
    return size;
}

void TCanvas::TextRect(const core::Rect& clip, int x, int y, const std::wstring& s) {
    UseFont();
    const RECT rc = base::ToRECT(clip);
    UINT opts = ETO_CLIPPED | (brushStyle_ == bsClear ? 0 : ETO_OPAQUE);
    ExtTextOutW(dc_, x, y, opts, &rc, s.c_str(), static_cast<UINT>(s.size()), nullptr);
}

int TCanvas::DrawText(const std::wstring& s, core::Rect& r, UINT flags) {
    UseFont();
    RECT rc = base::ToRECT(r);
    int h = ::DrawTextW(dc_, s.c_str(), static_cast<int>(s.size()), &rc, flags);
    r = base::FromRECT(rc);
    return h;
}

void TCanvas::Draw(int x, int y, const TPicture& p, bool transparent) {
    if (p.IsIcon()) {
        DrawIconEx(dc_, x, y, p.Icon(), p.Width(), p.Height(), 0, nullptr, DI_NORMAL);
        return;
    }
    if (!p.Bitmap()) return;
    TMemoryDC mem(CreateCompatibleDC(dc_));
    TSelectObject sel(mem.get(), p.Bitmap());
    if (transparent) {
        // The colour of the bottom-left pixel is left out: a mask (white where that colour
        // is) lets the destination through between two XORs of the picture.
        const int w = p.Width(), h = p.Height();
        SetBkColor(mem.get(), GetPixel(mem.get(), 0, h - 1));
        TMemoryDC maskDC(CreateCompatibleDC(dc_));
        TBitmapHandle mask(CreateBitmap(w, h, 1, 1, nullptr));
        TSelectObject selMask(maskDC.get(), mask.get());
        BitBlt(maskDC.get(), 0, 0, w, h, mem.get(), 0, 0, SRCCOPY);
        COLORREF oldText = SetTextColor(dc_, RGB(0, 0, 0));
        COLORREF oldBack = SetBkColor(dc_, RGB(255, 255, 255));
        BitBlt(dc_, x, y, w, h, mem.get(), 0, 0, SRCINVERT);
        BitBlt(dc_, x, y, w, h, maskDC.get(), 0, 0, SRCAND);
        BitBlt(dc_, x, y, w, h, mem.get(), 0, 0, SRCINVERT);
        SetTextColor(dc_, oldText);
        SetBkColor(dc_, oldBack);
    } else {
        BitBlt(dc_, x, y, p.Width(), p.Height(), mem.get(), 0, 0, SRCCOPY);
    }
}

} // namespace forms
