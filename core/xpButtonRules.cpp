#include "core/xpButtonRules.h"

#include <algorithm>
#include <cstdint>
#include <cwctype>
#include <limits>

namespace core {

int MulDivRounded(int a, int b, int c) {
    if (c == 0) return -1;
    std::int64_t p = static_cast<std::int64_t>(a) * b;
    std::int64_t q = c;
    bool negative = (p < 0) != (q < 0);
    std::uint64_t ap = p < 0 ? static_cast<std::uint64_t>(-p) : static_cast<std::uint64_t>(p);
    std::uint64_t aq = q < 0 ? static_cast<std::uint64_t>(-q) : static_cast<std::uint64_t>(q);
    std::uint64_t r = (ap + aq / 2) / aq;
    if (r > static_cast<std::uint64_t>(std::numeric_limits<int>::max())) return -1;
    return negative ? -static_cast<int>(r) : static_cast<int>(r);
}

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
           std::towupper(static_cast<wint_t>(*key)) == std::towupper(static_cast<wint_t>(ch));
}

} // namespace core
