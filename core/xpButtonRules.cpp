#include "core/xpButtonRules.h"

#include <algorithm>
#include <cstdint>
#include "core/Text.h"
#include <limits>

namespace core {

std::vector<GradientBand> GradientBands(int width, int height, Rgb from, Rgb to, int direction,
                                        int bands) {
    std::vector<GradientBand> out;
    if (width <= 0 || height <= 0 || direction < 0 || direction > 3) return out;
    const int extent = GradientIsVertical(direction) ? height : width;
    if (bands < 2) {
        out.push_back({0, extent, from});
        return out;
    }
    const bool reversed = direction == 1 || direction == 3;
    const Rgb start = reversed ? to : from;
    const Rgb end = reversed ? from : to;
    const Rgb diff{end.r - start.r, end.g - start.g, end.b - start.b};
    const int n = std::max(2, std::min(bands, extent));
    const int size = extent / n;
    if (size > 0) {
        for (int i = 0; i < n; ++i) {
            Rgb c{start.r + MulDivRounded(i, diff.r, n - 1),
                  start.g + MulDivRounded(i, diff.g, n - 1),
                  start.b + MulDivRounded(i, diff.b, n - 1)};
            out.push_back({i * size, size, c});
        }
    }
    const int rest = extent % n;
    if (rest > 0) out.push_back({extent - rest, rest, end});
    return out;
}

CaptionParts SplitCaption(const std::wstring& caption) {
    CaptionParts parts{caption, std::nullopt};
    std::size_t amp = caption.find(L'&');
    if (amp != std::wstring::npos) {
        parts.text.erase(amp, 1);
        parts.accelerator = amp;
    }
    return parts;
}

std::optional<wchar_t> CaptionAccelerator(const std::wstring& caption) {
    for (std::size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] != L'&') continue;
        if (i + 1 >= caption.size()) return std::nullopt;
        if (caption[i + 1] != L'&') return caption[i + 1];
        ++i; // "&&" is a plain "&"
    }
    return std::nullopt;
}

bool IsAccelerator(wchar_t ch, const std::wstring& caption) {
    auto key = CaptionAccelerator(caption);
    return key &&
           AsciiUpper(*key) == AsciiUpper(ch);
}

} // namespace core
