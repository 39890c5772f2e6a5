#include "core/IniValue.h"

#include "core/Text.h"

namespace core {

namespace {

int DigitValue(wchar_t c, int base) {
    const int v = HexDigitValue(c);
    return v < base ? v : -1;
}

} // namespace

std::optional<std::int32_t> ParseIniInteger(std::wstring_view text) {
    std::wstring s(text);
    if (s.size() > 2 && s[0] == L'0' && (s[1] == L'x' || s[1] == L'X')) s.replace(0, 2, L"$");

    std::size_t i = 0;
    bool negative = false;
    int base = 10;
    if (i < s.size() && s[i] == L'$') {
        base = 16;
        ++i;
    } else if (i < s.size() && (s[i] == L'-' || s[i] == L'+')) {
        negative = s[i] == L'-';
        ++i;
    }
    if (i == s.size()) return std::nullopt;

    // Accumulate the magnitude in 64 bits and stop as soon as it cannot fit any more.
    const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
    std::int64_t magnitude = 0;
    for (; i < s.size(); ++i) {
        int d = DigitValue(s[i], base);
        if (d < 0) return std::nullopt;
        magnitude = magnitude * base + d;
        if (magnitude > limit) return std::nullopt;
    }
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

std::wstring FormatIniInteger(std::int32_t value) { return std::to_wstring(value); }

std::wstring AppDirFromModulePath(std::wstring_view path) {
    std::size_t cut = path.find_last_of(L"\\/");
    if (cut == std::wstring_view::npos) return std::wstring();
    return std::wstring(path.substr(0, cut));
}

} // namespace core
