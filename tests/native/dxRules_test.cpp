#include "core/dxRules.h"

#include <gtest/gtest.h>

using namespace core;

namespace {

const Rgb kFaceTop{255, 255, 255};
const Rgb kFaceBottom{239, 235, 231};

RandomSource Always(int value) {
    return [value](int) { return value; };
}

} // namespace

TEST(GradientRamp, EndsExactlyAndRoundsHalvesToEven) {
    const auto face = GradientRamp(kFaceTop, kFaceBottom, 64);
    ASSERT_EQ(face.size(), 64u);
    EXPECT_EQ(face[0], kFaceTop);
    EXPECT_EQ(face[32], (Rgb{247, 245, 243})); // 255 - 8.13, 255 - 10.16, 255 - 12.19
    EXPECT_EQ(face[63], kFaceBottom);

    // Steps of half a level: 0.5 and 1.5 go to the even neighbours, also downwards.
    const auto halves = GradientRamp({0, 10, 100}, {2, 8, 100}, 5);
    ASSERT_EQ(halves.size(), 5u);
    EXPECT_EQ(halves[1], (Rgb{0, 10, 100}));
    EXPECT_EQ(halves[2], (Rgb{1, 9, 100}));
    EXPECT_EQ(halves[3], (Rgb{2, 8, 100}));
}

TEST(GradientBandRows, MulDivBandsCoverEveryRowOnce) {
    // MulDiv rounds halves up: in 32 rows band 0 is row 0 alone and band 1 is empty.
    EXPECT_EQ(GradientBandRows(0, 32, 64), (RowSpan{0, 0}));
    EXPECT_EQ(GradientBandRows(1, 32, 64), (RowSpan{1, 0}));
    EXPECT_EQ(GradientBandRows(2, 32, 64), (RowSpan{1, 1}));
    EXPECT_EQ(GradientBandRows(63, 32, 64), (RowSpan{32, 31}));
    for (int height : {1, 19, 21, 63, 64, 65, 130, 500}) {
        int next = 0;
        for (int i = 0; i < 64; ++i) {
            const RowSpan s = GradientBandRows(i, height, 64);
            ASSERT_EQ(s.first, next) << height << " " << i;
            next = std::max(next, s.last + 1);
        }
        EXPECT_EQ(next, height);
    }
}

TEST(DitherRows, RandomOffsetsFromTheBandStartInsideTheBitmap) {
    // 130 rows: j = 0 .. 2, the offsets drawn from 0 .. j - 1 (the first one without a draw).
    std::vector<int> asked;
    const auto rows = DitherRows(5, 130, 64, [&](int n) {
        asked.push_back(n);
        return n - 1;
    });
    EXPECT_EQ(rows, (std::vector<int>{10, 10, 11}));
    EXPECT_EQ(asked, (std::vector<int>{1, 2}));
    // Rows below the bitmap are left out; the first band has none.
    EXPECT_EQ(DitherRows(2, 10, 3, [](int n) { return n - 1; }), (std::vector<int>{7, 7, 8, 9}));
    EXPECT_TRUE(DitherRows(0, 130, 64, Always(0)).empty());
}

TEST(GradientRowColors, BandsWithTheirDitherRows) {
    const auto ramp = GradientRamp(kFaceTop, kFaceBottom, 64);
    const auto rows = GradientRowColors(130, kFaceTop, kFaceBottom, 64, Always(0));
    ASSERT_EQ(rows.size(), 130u);
    EXPECT_EQ(rows[0], ramp[0]);
    EXPECT_EQ(rows[10], ramp[4]); // band 5 starts with a row of band 4's colour
    EXPECT_EQ(rows[11], ramp[5]);
    EXPECT_EQ(rows[128], ramp[62]);
    EXPECT_EQ(rows[129], kFaceBottom);
    EXPECT_TRUE(GradientRowColors(0, kFaceTop, kFaceBottom, 64, Always(0)).empty());
}

TEST(GrayGlyphPixel, AverageLiftedBy100AndCapped) {
    EXPECT_EQ(GrayGlyphPixel({0, 0, 0}), (Rgb{100, 100, 100}));
    EXPECT_EQ(GrayGlyphPixel({10, 20, 32}), (Rgb{120, 120, 120})); // 20.67 truncated
    EXPECT_EQ(GrayGlyphPixel({155, 155, 156}), (Rgb{255, 255, 255}));
    EXPECT_EQ(GrayGlyphPixel({255, 255, 255}), (Rgb{255, 255, 255}));
}

TEST(IsHighlighted, TruthTable) {
    struct Row {
        DxButtonState s;
        bool own, full;
    };
    // hot, pressed, hasFocus, isDefault, canFocus, flatControlActive
    const Row rows[] = {
        {{false, false, false, false, true, false}, false, false},
        {{true, false, false, false, true, false}, true, true},
        {{false, false, true, false, true, false}, true, true},
        {{true, true, true, false, true, false}, false, false},    // pressed under the mouse
        {{false, true, true, false, true, false}, true, true},     // the press left the button
        {{false, false, false, true, true, false}, false, true},   // default, no flat control
        {{false, false, false, true, true, true}, false, false},   // default, a flat control active
        {{false, false, false, true, false, false}, false, false}, // default, cannot focus
        {{true, true, false, true, true, false}, false, true},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(IsHighlighted(r.s, true), r.own) << &r - rows;
        EXPECT_EQ(IsHighlighted(r.s, false), r.full) << &r - rows;
    }
}

TEST(GlyphLayout, GlyphAndCaptionAreCentredTogether) {
    const Size button{73, 21}, tall{73, 41}, glyph{12, 12};
    // The platform's measurement keeps the top-left corner: 20 x 13 there.
    auto measure = [](const CaptionBox& b) { return Rect{b.rect.left, b.rect.top, 20, 13}; };

    const CaptionBox left = CaptionMeasureBox(button, glyph, blGlyphLeft, 3);
    EXPECT_EQ(left.rect, (Rect{15, 0, 58, 21}));
    EXPECT_FALSE(left.rightAligned);
    Rect r = PlaceCaption(measure(left), button, 0);
    EXPECT_EQ(r, (Rect{34, 4, 20, 13}));
    EXPECT_EQ(GlyphOrigin(r, button, glyph, blGlyphLeft, 3, 0), (Point{19, 4}));
    r = PlaceCaption(measure(left), button, 1); // pressed: both one pixel down and right
    EXPECT_EQ(r, (Rect{35, 5, 20, 13}));
    EXPECT_EQ(GlyphOrigin(r, button, glyph, blGlyphLeft, 3, 1), (Point{20, 5}));

    const CaptionBox right = CaptionMeasureBox(button, glyph, blGlyphRight, 3);
    EXPECT_EQ(right.rect, Rect::FromEdges(-15, 0, 43, 21));
    EXPECT_TRUE(right.rightAligned);
    r = PlaceCaption(measure(right), button, 0);
    EXPECT_EQ(r, (Rect{19, 4, 20, 13}));
    EXPECT_EQ(GlyphOrigin(r, button, glyph, blGlyphRight, 3, 0), (Point{42, 4}));

    const CaptionBox top = CaptionMeasureBox(tall, glyph, blGlyphTop, 3);
    EXPECT_EQ(top.rect, Rect::FromEdges(0, 15, 73, 41));
    r = PlaceCaption(measure(top), tall, 0);
    EXPECT_EQ(r, (Rect{26, 21, 20, 13}));
    EXPECT_EQ(GlyphOrigin(r, tall, glyph, blGlyphTop, 3, 0), (Point{30, 6}));
    // Too little height: the offset is truncated toward zero (-3.5 gives -3).
    EXPECT_EQ(PlaceCaption(measure(CaptionMeasureBox(button, glyph, blGlyphTop, 3)), button, 0),
              (Rect{26, 12, 20, 13}));

    const CaptionBox bottom = CaptionMeasureBox(tall, glyph, blGlyphBottom, 3);
    EXPECT_EQ(bottom.rect, Rect::FromEdges(0, -15, 73, 41));
    r = PlaceCaption(measure(bottom), tall, 0);
    EXPECT_EQ(r, (Rect{26, 6, 20, 13}));
    EXPECT_EQ(GlyphOrigin(r, tall, glyph, blGlyphBottom, 3, 0), (Point{30, 22}));
}
