#include "core/IniValue.h"

#include <gtest/gtest.h>

using core::ParseIniInteger;

TEST(IniValue, HexadecimalWithEitherPrefix) {
    EXPECT_EQ(ParseIniInteger(L"0x20"), 32);
    EXPECT_EQ(ParseIniInteger(L"0X20"), 32);
    EXPECT_EQ(ParseIniInteger(L"$20"), 32);
    EXPECT_EQ(ParseIniInteger(L"$7fffffff"), 2147483647);
    EXPECT_EQ(ParseIniInteger(L"$Ff"), 255);
    // "0x" alone is not long enough to be rewritten, and "$" alone has no digits.
    EXPECT_EQ(ParseIniInteger(L"0x"), std::nullopt);
    EXPECT_EQ(ParseIniInteger(L"$"), std::nullopt);
    EXPECT_EQ(ParseIniInteger(L"0xg1"), std::nullopt);
}

TEST(IniValue, DecimalWithOptionalSign) {
    EXPECT_EQ(ParseIniInteger(L"-40"), -40);
    EXPECT_EQ(ParseIniInteger(L"+7"), 7);
    EXPECT_EQ(ParseIniInteger(L"0"), 0);
    EXPECT_EQ(ParseIniInteger(L"000328"), 328);
    EXPECT_EQ(ParseIniInteger(L"-"), std::nullopt);
}

TEST(IniValue, WholeTextMustConvert) {
    EXPECT_EQ(ParseIniInteger(L""), std::nullopt);
    EXPECT_EQ(ParseIniInteger(L"wide"), std::nullopt);
    EXPECT_EQ(ParseIniInteger(L"12px"), std::nullopt);
    EXPECT_EQ(ParseIniInteger(L"abc"), std::nullopt);
    EXPECT_EQ(ParseIniInteger(L" 12"), std::nullopt);
    EXPECT_EQ(ParseIniInteger(L"1 2"), std::nullopt);
}

TEST(IniValue, ThirtyTwoBitRange) {
    EXPECT_EQ(ParseIniInteger(L"2147483647"), 2147483647);
    EXPECT_EQ(ParseIniInteger(L"-2147483648"), INT32_MIN);
    EXPECT_EQ(ParseIniInteger(L"2147483648"), std::nullopt);
    EXPECT_EQ(ParseIniInteger(L"-2147483649"), std::nullopt);
    EXPECT_EQ(ParseIniInteger(L"$80000000"), std::nullopt);
    EXPECT_EQ(ParseIniInteger(L"99999999999999999999999"), std::nullopt);
}

TEST(IniValue, FormatsDecimal) {
    EXPECT_EQ(core::FormatIniInteger(-40), L"-40");
    EXPECT_EQ(core::FormatIniInteger(274), L"274");
    EXPECT_EQ(ParseIniInteger(core::FormatIniInteger(INT32_MIN)), INT32_MIN);
}

TEST(IniValue, AppDirDropsTheLastSeparator) {
    EXPECT_EQ(core::AppDirFromModulePath(L"D:\\Tools\\rec.exe"), L"D:\\Tools");
    EXPECT_EQ(core::AppDirFromModulePath(L"C:\\rec.exe"), L"C:");
    EXPECT_EQ(core::AppDirFromModulePath(L"rec.exe"), L"");
}
