#include "core/Text.h"

#include <gtest/gtest.h>

using namespace core;

// The helpers replaced copies that each folded case their own way; these are the cases where
// one fold differs from another.
TEST(TextTest, OnlyAsciiLettersFoldCase) {
    EXPECT_TRUE(SameTextAscii(L"PageUp", L"pAGEuP"));
    // Each pair differs by the bit that tells a capital from a small letter.
    EXPECT_FALSE(SameTextAscii(L"F[", L"f{"));
    EXPECT_FALSE(SameTextAscii(L"@", L"`"));
    EXPECT_FALSE(SameTextAscii(L"\u00C9", L"\u00E9")) << "no letter outside ASCII folds";
    EXPECT_FALSE(SameTextAscii(L"Ctrl", L"Ctr"));
    EXPECT_EQ(AsciiLowered(L"YNC\u00C9_1"), L"ync\u00C9_1");
}

TEST(TextTest, TrimTakesSpacesAndTabsOnly) {
    EXPECT_EQ(Trim(L" \tCtrl\t "), L"Ctrl");
    EXPECT_EQ(Trim(L"Ctrl + Shift"), L"Ctrl + Shift");
    EXPECT_EQ(Trim(L"\r\nF9\n"), L"\r\nF9\n");
    EXPECT_EQ(Trim(L" \t "), L"");
}

TEST(TextTest, FourCharacterCodesMatchWithoutRegardToCase) {
    EXPECT_TRUE(SameFourCC(FourCC("MSVC"), FourCC("msvc")));
    EXPECT_TRUE(SameFourCC(FourCC("cvid"), FourCC('C', 'V', 'I', 'D')));
    EXPECT_FALSE(SameFourCC(FourCC("MSVC"), FourCC("MRLE")));
    EXPECT_FALSE(SameFourCC(FourCC("IV50"), FourCC("IV41")));
    EXPECT_FALSE(SameFourCC(FourCC("[@\0\0"), FourCC("{`\0\0"))) << "non-letters keep their case bit";
    EXPECT_EQ(FourCC("vids"), 0x73646976u) << "the first letter in the lowest byte";
    EXPECT_EQ(HexDigitValue(L'f'), 15);
    EXPECT_EQ(HexDigitValue('G'), -1);
}
