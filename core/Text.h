// Text: small helpers for the program's own texts: ASCII case folding and comparison, trimming,
// quoting, hexadecimal digits and four-character codes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace core {

// Only the letters a-z and A-Z change case: the names this program reads (keys, buttons,
// handlers) are ASCII, and no locale may make another character equal to one of them.
template <class Char> constexpr Char AsciiUpper(Char c) {
    return c >= 'a' && c <= 'z' ? static_cast<Char>(c - 'a' + 'A') : c;
}
template <class Char> constexpr Char AsciiLower(Char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<Char>(c - 'A' + 'a') : c;
}

inline std::wstring AsciiLowered(std::wstring_view s) {
    std::wstring out(s);
    for (wchar_t& c : out)
        c = AsciiLower(c);
    return out;
}

// Whether two texts are equal with the case of ASCII letters ignored.
constexpr bool SameTextAscii(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
    return true;
}

// The text without the blanks (spaces and tabs) around it.
constexpr std::wstring_view Trim(std::wstring_view s) {
    const auto first = s.find_first_not_of(L" \t");
    if (first == std::wstring_view::npos) return {};
    return s.substr(first, s.find_last_not_of(L" \t") - first + 1);
}

// The text in double quotes for a message to the user; only its first 40 characters and "…" when
// it is longer, since outside data (a settings value) can run to megabytes.
inline std::wstring Quoted(std::wstring_view s) {
    constexpr std::size_t kShown = 40;
    return L"\"" + std::wstring(s.substr(0, kShown)) + (s.size() > kShown ? L"…\"" : L"\"");
}

// The value of a hexadecimal digit in either case, -1 for any other character.
template <class Char> constexpr int HexDigitValue(Char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// FOURCC from four letters, the first in the lowest byte.
constexpr std::uint32_t FourCC(char a, char b, char c, char d) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(a)) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(d)) << 24;
}
constexpr std::uint32_t FourCC(const char (&id)[5]) {
    return FourCC(id[0], id[1], id[2], id[3]);
}

// Whether two four-character codes are equal with the case of ASCII letters ignored, as the
// compression manager matches handlers ("msvc" opens the same compressor as "MSVC").
constexpr bool SameFourCC(std::uint32_t a, std::uint32_t b) {
    for (int shift = 0; shift < 32; shift += 8)
        if (AsciiUpper((a >> shift) & 0xFF) != AsciiUpper((b >> shift) & 0xFF)) return false;
    return true;
}

} // namespace core
