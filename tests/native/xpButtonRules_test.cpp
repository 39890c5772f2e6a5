#include "core/xpButtonRules.h"

#include <gtest/gtest.h>

using namespace core;

namespace {

const Rgb kLight{253, 253, 253};
const Rgb kDark{205, 204, 223};

} // namespace

TEST(GradientBands, NormalFaceOfTheDefaultButton) {
    // Face rectangle (4, 4, 71, 21) of a 75 x 25 button, band count 25 div 3.
    auto bands = GradientBands(67, 17, kLight, kDark, 0, 25 / 3);
    ASSERT_EQ(bands.size(), 9u);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(bands[i].offset, 2 * i);
        EXPECT_EQ(bands[i].length, 2);
    }
    EXPECT_EQ(bands[0].color, kLight);
    EXPECT_EQ(bands[1].color, (Rgb{246, 246, 249}));
    EXPECT_EQ(bands[3].color, (Rgb{232, 232, 240}));
    EXPECT_EQ(bands[7].color, kDark);
    EXPECT_EQ(bands[8], (GradientBand{16, 1, kDark})); // 1-pixel rest at the bottom
}

TEST(GradientBands, PressedFaceRunsTheOtherWay) {
    auto bands = GradientBands(67, 17, kLight, kDark, 1, 25 / 2);
    ASSERT_EQ(bands.size(), 13u);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(bands[i].offset, i);
        EXPECT_EQ(bands[i].length, 1);
    }
    EXPECT_EQ(bands[0].color, kDark);
    EXPECT_EQ(bands[1].color, (Rgb{209, 208, 226})); // 205 + 4.36, 204 + 4.45, 223 + 2.73
    EXPECT_EQ(bands[11].color, kLight);
    EXPECT_EQ(bands[12], (GradientBand{12, 5, kLight})); // 5-pixel rest in the end colour
}

TEST(GradientBands, HorizontalAndDegenerateCases) {
    auto h = GradientBands(10, 3, {0, 0, 0}, {90, 0, 0}, 2, 4);
    ASSERT_EQ(h.size(), 5u); // 4 strips of 2 along the width, 2 left over
    EXPECT_EQ(h[3], (GradientBand{6, 2, {90, 0, 0}}));
    EXPECT_EQ(h[1].color, (Rgb{30, 0, 0}));
    EXPECT_EQ(h[4], (GradientBand{8, 2, {90, 0, 0}}));
    auto hr = GradientBands(10, 3, {0, 0, 0}, {90, 0, 0}, 3, 4);
    EXPECT_EQ(hr[0].color, (Rgb{90, 0, 0}));
    EXPECT_EQ(hr.back().color, (Rgb{0, 0, 0}));

    // Fewer than two bands: one fill in the from-colour, whatever the direction.
    auto one = GradientBands(10, 20, kLight, kDark, 1, 1);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0], (GradientBand{0, 20, kLight}));
    // Empty rectangles and unknown directions paint nothing.
    EXPECT_TRUE(GradientBands(0, 20, kLight, kDark, 0, 8).empty());
    EXPECT_TRUE(GradientBands(10, -1, kLight, kDark, 0, 8).empty());
    EXPECT_TRUE(GradientBands(10, 10, kLight, kDark, 4, 8).empty());
    // More bands than pixels: one pixel each.
    auto thin = GradientBands(5, 3, kLight, kDark, 0, 200);
    ASSERT_EQ(thin.size(), 3u);
    EXPECT_EQ(thin[2].color, kDark);
    // A 1-pixel extent has no whole band: the pixel takes the end colour.
    auto tiny = GradientBands(5, 1, kLight, kDark, 0, 8);
    ASSERT_EQ(tiny.size(), 1u);
    EXPECT_EQ(tiny[0], (GradientBand{0, 1, kDark}));
}

TEST(Caption, FirstAmpersandMarksTheUnderlinedCharacter) {
    auto plain = SplitCaption(L"Cancel");
    EXPECT_EQ(plain.text, L"Cancel");
    EXPECT_FALSE(plain.accelerator);

    auto save = SplitCaption(L"&Save");
    EXPECT_EQ(save.text, L"Save");
    EXPECT_EQ(save.accelerator, 0u);

    auto last = SplitCaption(L"Save&"); // underline of zero length after the text
    EXPECT_EQ(last.text, L"Save");
    EXPECT_EQ(last.accelerator, 4u);

    auto doubled = SplitCaption(L"A&&B"); // shows A&B, the remaining & underlined
    EXPECT_EQ(doubled.text, L"A&B");
    EXPECT_EQ(doubled.accelerator, 1u);
}

TEST(Caption, AcceleratorKeyFollowsThePlatformTest) {
    EXPECT_EQ(CaptionAccelerator(L"&Save"), L'S');
    EXPECT_EQ(CaptionAccelerator(L"Sa&ve"), L'v');
    EXPECT_FALSE(CaptionAccelerator(L"Save&"));
    EXPECT_FALSE(CaptionAccelerator(L"A&&B"));
    EXPECT_EQ(CaptionAccelerator(L"A&&B&c"), L'c');
    EXPECT_FALSE(CaptionAccelerator(L"はい"));
    EXPECT_TRUE(IsAccelerator(L's', L"&Save"));
    EXPECT_TRUE(IsAccelerator(L'S', L"&save"));
    EXPECT_FALSE(IsAccelerator(L'a', L"&Save"));
    EXPECT_FALSE(IsAccelerator(L'&', L"A&&B"));
}
