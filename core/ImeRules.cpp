#include "core/ImeRules.h"

#include "core/Text.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace core {

unsigned ImeConversionFor(ImeMode mode, unsigned current) {
    unsigned c = current & ~(kImeNative | kImeKatakana | kImeFullShape);
    switch (mode) {
    case ImeMode::Alpha:
        return c | kImeFullShape;
    case ImeMode::Hira:
        return c | kImeNative | kImeFullShape;
    case ImeMode::SKata:
        return c | kImeNative | kImeKatakana;
    case ImeMode::Kata:
        return c | kImeNative | kImeKatakana | kImeFullShape;
    default:
        return c;
    }
}

int PreferredImeIndex(const std::vector<std::wstring>& names) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (AsciiLowered(names[i]).find(L"microsoft ime") != std::wstring::npos) return static_cast<int>(i);
    }
    return names.empty() ? -1 : 0;
}

bool IsEditLikeClass(const std::wstring& className) {
    static constexpr std::array<std::wstring_view, 15> kNames = {
        L"TEdit",      L"TFlatEdit", L"TxxEdit",     L"TKanaEdit",   L"TKanjiEdit",
        L"TRichEdit",  L"TxxRich",   L"TOleRich",    L"TMemo",       L"TListBox",
        L"TxxListBox", L"TComboBox", L"TxxComboBox", L"TComboBox97", L"TFlatComboBox"};
    return std::find(kNames.begin(), kNames.end(), className) != kNames.end();
}

} // namespace core
