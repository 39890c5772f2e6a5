#include "core/ConfirmRules.h"

#include <gtest/gtest.h>

using namespace core;

TEST(ConfirmRules, IconByFirstCharacterIgnoringCase) {
    EXPECT_EQ(ConfirmIconFor(L"!"), ConfirmIcon::Warning);
    EXPECT_EQ(ConfirmIconFor(L"?"), ConfirmIcon::Question);
    EXPECT_EQ(ConfirmIconFor(L"i"), ConfirmIcon::Information);
    EXPECT_EQ(ConfirmIconFor(L"Info"), ConfirmIcon::Information);
    EXPECT_EQ(ConfirmIconFor(L"X"), ConfirmIcon::Error);
    EXPECT_EQ(ConfirmIconFor(L"w"), ConfirmIcon::Keep);
    EXPECT_EQ(ConfirmIconFor(L""), ConfirmIcon::Keep);
}

TEST(ConfirmRules, ButtonSetByWholeArgumentIgnoringCase) {
    EXPECT_EQ(ConfirmButtonSet(L"Y"), 1);
    EXPECT_EQ(ConfirmButtonSet(L"yn"), 2);
    EXPECT_EQ(ConfirmButtonSet(L"YN"), 2);
    EXPECT_EQ(ConfirmButtonSet(L"yC"), 3);
    EXPECT_EQ(ConfirmButtonSet(L"YNC"), 4);
    EXPECT_EQ(ConfirmButtonSet(L"ny"), 1);
    EXPECT_EQ(ConfirmButtonSet(L"yn "), 1);
    EXPECT_EQ(ConfirmButtonSet(L""), 1);
}

TEST(ConfirmRules, ShortMessageGivesTheMinimumWidth) {
    Rect parent{274, 122, 328, 290};
    auto l = LayoutConfirm({63, 18, 150, 12}, parent, 1);
    EXPECT_EQ(l.dialog.width, 330);
    EXPECT_EQ(l.dialog.height, 18 + 12 + 90);
    EXPECT_EQ(l.buttonLeft[0], 127); // H - 38 with H = 165
    EXPECT_TRUE(l.buttonShown[0]);
    EXPECT_FALSE(l.buttonShown[1]);
    EXPECT_FALSE(l.buttonShown[2]);
    // R = 310 is not yet wider than the minimum.
    EXPECT_EQ(LayoutConfirm({63, 18, 227, 12}, parent, 1).dialog.width, 330);
    EXPECT_EQ(LayoutConfirm({63, 18, 228, 12}, parent, 1).dialog.width, 327);
}

TEST(ConfirmRules, LongMessageWidensTheDialog) {
    // The label ends at x = 400: R = 420, width 436, H = 218.
    auto l = LayoutConfirm({63, 18, 337, 36}, {0, 0, 800, 600}, 4);
    EXPECT_EQ(l.dialog.width, 436);
    EXPECT_EQ(l.dialog.height, 18 + 36 + 90);
    EXPECT_EQ(l.buttonLeft[0], 100);
    EXPECT_EQ(l.buttonLeft[1], 180);
    EXPECT_EQ(l.buttonLeft[2], 260);
    EXPECT_TRUE(l.buttonShown[0] && l.buttonShown[1] && l.buttonShown[2]);
}

TEST(ConfirmRules, ButtonRowPerSet) {
    Rect label{63, 18, 150, 12}, parent{0, 0, 330, 300};
    auto yn = LayoutConfirm(label, parent, 2);
    EXPECT_EQ(yn.buttonLeft[0], 165 - 78);
    EXPECT_EQ(yn.buttonLeft[1], 165 + 2);
    EXPECT_TRUE(yn.buttonShown[0] && yn.buttonShown[1]);
    EXPECT_FALSE(yn.buttonShown[2]);
    auto yc = LayoutConfirm(label, parent, 3);
    EXPECT_EQ(yc.buttonLeft[0], 165 - 78);
    EXPECT_EQ(yc.buttonLeft[2], 165 + 2);
    EXPECT_TRUE(yc.buttonShown[0] && yc.buttonShown[2]);
    EXPECT_FALSE(yc.buttonShown[1]);
    auto ync = LayoutConfirm(label, parent, 4);
    EXPECT_EQ(ync.buttonLeft[0], 165 - 118);
    EXPECT_EQ(ync.buttonLeft[1], 165 - 38);
    EXPECT_EQ(ync.buttonLeft[2], 165 + 42);
}

TEST(ConfirmRules, MarginsAndButtonPlacesScaleWithTheDpi) {
    // At 144 dpi the label measured 1.5 times as large: the same dialog, 1.5 times as large.
    auto l = LayoutConfirm({95, 27, 506, 54}, {0, 0, 1200, 900}, 4, 144);
    EXPECT_EQ(l.dialog.width, 95 + 506 + 30 + 24);
    EXPECT_EQ(l.dialog.height, 27 + 54 + 135);
    const int h = l.dialog.width / 2;
    EXPECT_EQ(l.buttonLeft[0], h - 177);
    EXPECT_EQ(l.buttonLeft[1], h - 57);
    EXPECT_EQ(l.buttonLeft[2], h + 63);
    EXPECT_EQ(LayoutConfirm({95, 27, 100, 18}, {0, 0, 1200, 900}, 1, 144).dialog.width, 495);
}

TEST(ConfirmRules, CentresOnTheParentEvenWhenNarrower) {
    Rect label{63, 18, 150, 12};
    auto wide = LayoutConfirm(label, {100, 50, 500, 400}, 1);
    EXPECT_EQ(wide.dialog.left, 100 + 85);
    EXPECT_EQ(wide.dialog.top, 50 + (400 - 120) / 2);
    auto narrow = LayoutConfirm(label, {100, 50, 201, 81}, 1);
    EXPECT_EQ(narrow.dialog.left, 100 - 64); // (201 - 330) / 2 rounds toward zero
    EXPECT_EQ(narrow.dialog.top, 50 - 19);   // (81 - 120) / 2
}

TEST(ConfirmRules, KeysAnswerByTheButtonsShown) {
    const bool y[3] = {true, false, false}, yn[3] = {true, true, false},
               yc[3] = {true, false, true}, ync[3] = {true, true, true};
    EXPECT_EQ(ConfirmKeyResult(27, y), kConfirmYes);
    EXPECT_EQ(ConfirmKeyResult(27, yn), kConfirmNo);
    EXPECT_EQ(ConfirmKeyResult(27, yc), kConfirmCancel);
    EXPECT_EQ(ConfirmKeyResult(27, ync), kConfirmCancel);
    EXPECT_EQ(ConfirmKeyResult(78, y), 0);
    EXPECT_EQ(ConfirmKeyResult(78, yc), 0);
    EXPECT_EQ(ConfirmKeyResult(78, yn), kConfirmNo);
    EXPECT_EQ(ConfirmKeyResult(89, ync), kConfirmYes);
    EXPECT_EQ(ConfirmKeyResult(13, ync), 0);
    EXPECT_EQ(ConfirmKeyResult(32, ync), 0);
}

TEST(ConfirmRules, CancelOnCloseBecomesTheSetsAnswer) {
    EXPECT_EQ(ConfirmCloseResult(kConfirmCancel, 1), kConfirmYes);
    EXPECT_EQ(ConfirmCloseResult(kConfirmCancel, 2), kConfirmNo);
    EXPECT_EQ(ConfirmCloseResult(kConfirmCancel, 3), kConfirmCancel);
    EXPECT_EQ(ConfirmCloseResult(kConfirmCancel, 4), kConfirmCancel);
    EXPECT_EQ(ConfirmCloseResult(kConfirmNo, 1), kConfirmNo);
    EXPECT_EQ(ConfirmCloseResult(kConfirmYes, 2), kConfirmYes);
    EXPECT_EQ(ConfirmFocusButton(1), 1);
    EXPECT_EQ(ConfirmFocusButton(2), 2);
    EXPECT_EQ(ConfirmFocusButton(3), 3);
    EXPECT_EQ(ConfirmFocusButton(0), 3);
}
