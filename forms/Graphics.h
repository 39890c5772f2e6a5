// Graphics: colours, fonts, pictures and the canvas that controls paint on.
#pragma once

#include "base/Handles.h"
#include "core/Geometry.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

namespace forms {

using base::TBitmapHandle;
using base::TBrushHandle;
using base::TFontHandle;
using base::TIconHandle;
using base::TMemoryDC;
using base::TPenHandle;
using base::TSelectObject;
using base::TWindowDC;

// 0x00BBGGRR; a value with the top byte 0x80 is a system colour index resolved when drawn.
using TColor = std::uint32_t;

constexpr TColor clBlack = 0x00000000;
constexpr TColor clWhite = 0x00FFFFFF;
constexpr TColor clRed = 0x000000FF;
constexpr TColor clLime = 0x0000FF00;
constexpr TColor clFuchsia = 0x00FF00FF;
constexpr TColor clBtnFace = 0x80000000 | COLOR_BTNFACE;
constexpr TColor clBtnShadow = 0x80000000 | COLOR_BTNSHADOW;
constexpr TColor clBtnHighlight = 0x80000000 | COLOR_BTNHIGHLIGHT;
constexpr TColor clBtnText = 0x80000000 | COLOR_BTNTEXT;
constexpr TColor clWindow = 0x80000000 | COLOR_WINDOW;
constexpr TColor clWindowText = 0x80000000 | COLOR_WINDOWTEXT;
constexpr TColor clGrayText = 0x80000000 | COLOR_GRAYTEXT;

constexpr TColor RGBColor(int r, int g, int b) {
    return static_cast<TColor>(r) | (static_cast<TColor>(g) << 8) | (static_cast<TColor>(b) << 16);
}
// A plain RGB value: system colour indexes are looked up.
COLORREF ColorToRGB(TColor c);

enum TFontStyle : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4 };

// A font description; the GDI font is made on first use and shared by copies.
class TFont {
public:
    TFont() = default;
    TFont(std::wstring name, int height, int charset = DEFAULT_CHARSET, TColor color = clWindowText,
          unsigned style = 0)
        : name_(std::move(name)), height_(height), charset_(charset), color_(color), style_(style) {
    }

    const std::wstring& Name() const { return name_; }
    int Height() const { return height_; }
    int Charset() const { return charset_; }
    TColor Color() const { return color_; }
    unsigned Style() const { return style_; }
    void SetColor(TColor v) { color_ = v; }
    // The same font with its height scaled from dpi `from` to dpi `to`.
    TFont Scaled(int to, int from) const {
        return TFont(name_, core::ScaleBetween(height_, to, from), charset_, color_, style_);
    }

    HFONT Handle() const;
    bool operator==(const TFont& o) const {
        return name_ == o.name_ && height_ == o.height_ && charset_ == o.charset_ &&
               color_ == o.color_ && style_ == o.style_;
    }

private:
    std::wstring name_ = L"MS Sans Serif";
    int height_ = -11;
    int charset_ = DEFAULT_CHARSET;
    TColor color_ = clWindowText;
    unsigned style_ = 0;
    mutable std::shared_ptr<TFontHandle> handle_;
};

// The face every Japanese text of the program is shown in; Shift-JIS so that Wine finds a
// font with the glyphs (a DEFAULT_CHARSET font of another face shows boxes there).
inline const wchar_t kJapaneseFontName[] = L"ＭＳ Ｐゴシック";
inline TFont JapaneseFont(int height = -12, TColor color = clWindowText) {
    return TFont(kJapaneseFontName, height, SHIFTJIS_CHARSET, color);
}

// A device-dependent bitmap, or an icon, loaded from the program's resources or copied.
class TPicture {
public:
    TPicture() = default;
    TPicture(const TPicture& o) { Assign(o); }
    TPicture& operator=(const TPicture& o) {
        if (this != &o) Assign(o);
        return *this;
    }
    // Loads the named RT_BITMAP or RT_GROUP_ICON resource of the program (icons at 32 x 32
    // unless a size is given). Returns false when there is no such resource.
    bool LoadBitmap(const wchar_t* name);
    bool LoadIcon(const wchar_t* name, int size = 32);
    void Assign(const TPicture& o);
    void Clear();

    bool Empty() const { return !bitmap_ && !icon_; }
    bool IsIcon() const { return static_cast<bool>(icon_); }
    HBITMAP Bitmap() const { return bitmap_.get(); }
    HICON Icon() const { return icon_.get(); }
    int Width() const { return width_; }
    int Height() const { return height_; }

private:
    TBitmapHandle bitmap_;
    TIconHandle icon_;
    int width_ = 0, height_ = 0;
};

enum TPenStyle { psSolid, psDot, psClear };
enum TBrushStyle { bsSolid, bsClear };

// Drawing on a device context with a current pen, brush and font. The objects are made when
// first needed and the context's own objects are selected back when the canvas ends.
class TCanvas {
public:
    explicit TCanvas(HDC dc);
    ~TCanvas();
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    HDC Handle() const { return dc_; }

    void SetPenColor(TColor c);
    void SetPenStyle(TPenStyle s);
    void SetPenWidth(int w);
    void SetBrushColor(TColor c);
    void SetBrushStyle(TBrushStyle s);
    void SetFont(const TFont& f);
    TColor PenColor() const { return penColor_; }
    TPenStyle PenStyle() const { return penStyle_; }
    TColor BrushColor() const { return brushColor_; }
    const TFont& Font() const { return font_; }

    void FillRect(const core::Rect& r);
    void Rectangle(int x1, int y1, int x2, int y2);
    void RoundRect(int x1, int y1, int x2, int y2, int w, int h);
    void MoveTo(int x, int y);
    void LineTo(int x, int y);
    void Line(int x1, int y1, int x2, int y2) { MoveTo(x1, y1), LineTo(x2, y2); }
    void SetPixel(int x, int y, TColor c);
    void DrawFocusRect(const core::Rect& r);

    // Text in the current font and font colour, with a transparent background when the brush
    // is clear, otherwise on the brush colour.
    SIZE TextExtent(const std::wstring& s);
    int TextWidth(const std::wstring& s) { return TextExtent(s).cx; }
    int TextHeight(const std::wstring& s) { return TextExtent(s).cy; }
    void TextRect(const core::Rect& clip, int x, int y, const std::wstring& s);
    // DrawTextW with the given flags; with DT_CALCRECT the rectangle is updated.
    int DrawText(const std::wstring& s, core::Rect& r, UINT flags);

    // Draws a picture at (x, y): icons with their mask; bitmaps opaque, or with the colour of
    // their bottom-left pixel left out when transparent.
    void Draw(int x, int y, const TPicture& p, bool transparent = false);

private:
    void UsePen();
    void UseBrush();
    void UseFont();

    HDC dc_;
    HGDIOBJ oldPen_ = nullptr, oldBrush_ = nullptr, oldFont_ = nullptr;
    TPenHandle pen_;
    TBrushHandle brush_;
    TColor penColor_ = clBlack;
    TPenStyle penStyle_ = psSolid;
    int penWidth_ = 1;
    bool penDirty_ = true;
    TColor brushColor_ = clWhite;
    TBrushStyle brushStyle_ = bsSolid;
    bool brushDirty_ = true;
    TFont font_;
    TFont selectedFont_; // keeps the selected GDI font alive while it is in the context
    bool fontDirty_ = true;
};

} // namespace forms
