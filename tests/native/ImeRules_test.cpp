#include "core/ImeRules.h"

#include <gtest/gtest.h>

using namespace core;

TEST(ImeRules, ConversionBitsPerMode) {
    EXPECT_EQ(ImeConversionFor(ImeMode::SAlpha, 0xB), 0x0u);
    EXPECT_EQ(ImeConversionFor(ImeMode::Alpha, 0x0), 0x8u);
    EXPECT_EQ(ImeConversionFor(ImeMode::Hira, 0x2), 0x9u);
    EXPECT_EQ(ImeConversionFor(ImeMode::SKata, 0x8), 0x3u);
    EXPECT_EQ(ImeConversionFor(ImeMode::Kata, 0x0), 0xBu);
    EXPECT_EQ(ImeConversionFor(ImeMode::Hanguel, 0xB), 0x0u);
    // Other bits (here roman 0x10 and 0x4) survive.
    EXPECT_EQ(ImeConversionFor(ImeMode::Hira, 0x14 | 0x2), 0x14u | 0x9u);
}

TEST(ImeRules, PreferredImeIsTheFirstMicrosoftOne) {
    EXPECT_EQ(PreferredImeIndex({L"ATOK 2004", L"MICROSOFT IME 2002 ver. 8.1"}), 1);
    EXPECT_EQ(PreferredImeIndex({L"Microsoft IME Standard", L"Microsoft IME 2"}), 0);
    EXPECT_EQ(PreferredImeIndex({L"ATOK", L"Other"}), 0);
    EXPECT_EQ(PreferredImeIndex({L"MicrosoftIME"}), 0);
    EXPECT_EQ(PreferredImeIndex({}), -1);
}

TEST(ImeRules, EditLikeClassesMatchExactly) {
    for (const wchar_t* name : {L"TEdit", L"TListBox", L"TComboBox", L"TMemo", L"TFlatComboBox",
                                L"TxxRich", L"TComboBox97"})
        EXPECT_TRUE(IsEditLikeClass(name)) << name;
    EXPECT_FALSE(IsEditLikeClass(L"tedit"));
    EXPECT_FALSE(IsEditLikeClass(L"TPanel"));
    EXPECT_FALSE(IsEditLikeClass(L"TEdit2"));
}
