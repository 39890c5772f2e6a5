// Rules of the XP-style push button: gradient bands of its face and its caption's accelerator.
#pragma once

#include "core/Colour.h"
#include "core/Geometry.h"

#include <optional>
#include <string>
#include <vector>

namespace core {

// One solid strip of a gradient: `offset` and `length` along the gradient's axis, the full
// size of the rectangle across.
struct GradientBand {
    int offset = 0;
    int length = 0;
    Rgb color;
    bool operator==(const GradientBand&) const = default;
};

// The strips that fill a width x height rectangle with a banded gradient from `from` to `to`.
// Directions: 0 top to bottom, 1 the same axis reversed (starts with `to`), 2 left to right,
// 3 left to right reversed. Fewer than 2 bands fill the whole rectangle with `from`; otherwise
// n = max(2, min(bands, extent)) strips of extent / n pixels, strip i coloured
// start + MulDiv(i, end - start, n - 1) per channel, and the extent % n pixels left at the far
// end in the end colour. An empty rectangle or an unknown direction gives no strips.
std::vector<GradientBand> GradientBands(int width, int height, Rgb from, Rgb to, int direction,
                                        int bands);
// True when the strips run along the vertical axis (directions 0 and 1).
inline bool GradientIsVertical(int direction) {
    return direction == 0 || direction == 1;
}

// A caption as painted: the text without its first "&", and the position in that text of the
// character that followed the "&" (may equal the text's length when "&" was last).
struct CaptionParts {
    std::wstring text;
    std::optional<std::size_t> accelerator;
};
CaptionParts SplitCaption(const std::wstring& caption);

// The accelerator key of a caption as the platform's accelerator test sees it: the character
// after a single "&" ("&&" stands for "&" and marks nothing).
std::optional<wchar_t> CaptionAccelerator(const std::wstring& caption);
// Whether a typed character is the caption's accelerator, ignoring case.
bool IsAccelerator(wchar_t ch, const std::wstring& caption);

} // namespace core
