// Rules of the flat button: its dithered gradient faces, the greyed glyph, when it shows a rim,
// and where its glyph and caption go.
#pragma once

#include "core/Geometry.h"
#include "core/Colour.h"

#include <functional>
#include <string>
#include <vector>

namespace core {

// The colours of a vertical gradient of `steps` entries from `top` to `bottom`: per channel
// top + Round(i * (bottom - top) / (steps - 1)), halves to even, so the ends are exact. Fewer
// than 2 steps give the top colour alone.
std::vector<Rgb> GradientRamp(Rgb top, Rgb bottom, int steps);

// The rows [first, last] that band i of `steps` bands covers in a bitmap `height` rows high:
// MulDiv(i, height, steps) .. MulDiv(i + 1, height, steps) - 1 (empty when last < first).
struct RowSpan {
    int first = 0, last = -1;
    bool operator==(const RowSpan&) const = default;
};
RowSpan GradientBandRows(int band, int height, int steps);

// A source of pseudo-random numbers: random(n) is in 0 .. n - 1 for n > 0.
using RandomSource = std::function<int(int n)>;

// The rows that take the colour of band i - 1 to soften the step into band i (i > 0): for
// j = 0 .. height div (steps - 1) the first row of the band plus a random number in 0 .. j - 1
// (0 when j is 0), leaving out rows below the bitmap. In the order drawn.
std::vector<int> DitherRows(int band, int height, int steps, const RandomSource& random);

// The colour of every row of a dithered vertical gradient `height` rows high: the bands of the
// ramp, each followed by its dither rows. A dithered row takes the earlier colour over the
// whole tile that is repeated across the width, so each row has one colour.
std::vector<Rgb> GradientRowColors(int height, Rgb top, Rgb bottom, int steps,
                                   const RandomSource& random);

// A glyph pixel greyed for a disabled button: grey (R + G + B) div 3 + 100, at most 255.
Rgb GrayGlyphPixel(Rgb c);

// What decides whether the button shows a rim (and a smaller face).
struct DxButtonState {
    bool hot = false;     // the mouse is over the button
    bool pressed = false; // left button or Space held
    bool hasFocus = false;
    bool isDefault = false;
    bool canFocus = false;
    bool flatControlActive = false; // the form's active control is a flat control
};
// While pressed: true when the mouse has left the button; otherwise when it is hot or focused.
// Unless ownStateOnly, also true for a default button that can take the focus while no flat
// control is active.
bool IsHighlighted(const DxButtonState& s, bool ownStateOnly);

enum ButtonLayout { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };

// The rectangle the caption is measured in (before the platform's text measurement shrinks it
// to the text): the client area less the glyph's side; a right glyph right-aligns the text.
// An empty glyph (0 x 0) leaves the client area as it is.
struct CaptionBox {
    Rect rect;
    bool rightAligned = false;
};
CaptionBox CaptionMeasureBox(Size client, Size glyph, ButtonLayout layout, int spacing);
// The measured caption rectangle moved so that its right and bottom edges centre it in the
// client area, then by `shift` (1 while the button is pressed under the mouse).
Rect PlaceCaption(const Rect& measured, Size client, int shift);
// The glyph's top-left corner beside the placed caption.
Point GlyphOrigin(const Rect& caption, Size client, Size glyph, ButtonLayout layout, int spacing,
                  int shift);

// The text measured for a caption: an empty text, or a lone "&" while accelerators are shown,
// gets a space appended so that it keeps the height of a line.
std::wstring CaptionToMeasure(const std::wstring& text, bool showAccelChar);

} // namespace core
