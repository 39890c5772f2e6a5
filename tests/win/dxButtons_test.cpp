#include "ui/dxButtons.h"

#include "ControlTesting.h"
#include "resources/Resources.h"

#include <gtest/gtest.h>

#include <memory>

using namespace forms;
using namespace ui;

namespace {

class TfrmFlat : public TForm {
public:
    TEdit* edt = nullptr;
    TdxButton *btnOK = nullptr, *btnOther = nullptr, *btnCan = nullptr, *btnSave = nullptr;
    int okClicks = 0, otherClicks = 0, canClicks = 0, saveClicks = 0;

    TfrmFlat() : TForm({.bounds = {100, 100, 420, 200}}) {
        edt = Add<TEdit>(this, {.bounds = {10, 60, 100, 21}});
        btnOK = Add<TdxButton>(this, {.bounds = {10, 10, 75, 25},
                                      .caption = L"OK",
                                      .isDefault = true,
                                      .modalResult = mrOk,
                                      .onClick = [this](TObject*) { ++okClicks; }});
        btnOther = Add<TdxButton>(this, {.bounds = {100, 10, 75, 25},
                                         .caption = L"Other",
                                         .onClick = [this](TObject*) { ++otherClicks; }});
        btnCan = Add<TdxButton>(this, {.bounds = {190, 10, 75, 25},
                                       .caption = L"Cancel",
                                       .cancel = true,
                                       .modalResult = mrCancel,
                                       .onClick = [this](TObject*) { ++canClicks; }});
        btnSave = Add<TdxButton>(this, {.bounds = {280, 10, 75, 25},
                                        .caption = L"&Save",
                                        .onClick = [this](TObject*) { ++saveClicks; }});
        Loaded();
    }
};

// Holds a key down in the thread's keyboard state, which GetKeyState reads.
class THeldKey {
public:
    explicit THeldKey(BYTE vk) : vk_(vk) { Set(0x80); }
    ~THeldKey() { Set(0); }

private:
    void Set(BYTE v) {
        BYTE state[256];
        GetKeyboardState(state);
        state[vk_] = v;
        SetKeyboardState(state);
    }
    BYTE vk_;
};

// The rims and faces by their hue: the focus rim is blue, the hot rim orange, the faces pale.
bool Blue(COLORREF c) {
    return GetBValue(c) - GetRValue(c) >= 40;
}
bool Orange(COLORREF c) {
    return GetRValue(c) - GetBValue(c) >= 40;
}
bool Pale(COLORREF c) {
    return !Blue(c) && !Orange(c) && GetGValue(c) >= 200;
}

// The caption's pixels right of column `from` against the face, which has one colour a row
// (column 4 shows it): the boxes of those lighter and darker than it, and their darkest channel.
struct TInk {
    core::Rect lighter, darker;
    int darkest = 255;
};
void Include(core::Rect& box, int x, int y) {
    box = box.width == 0
              ? core::Rect{x, y, 1, 1}
              : core::Rect::FromEdges(std::min(box.left, x), std::min(box.top, y),
                                      std::max(box.Right(), x + 1), std::max(box.Bottom(), y + 1));
}
TInk Ink(const TRendering& r, int from = 3) {
    auto sum = [](COLORREF c) { return GetRValue(c) + GetGValue(c) + GetBValue(c); };
    TInk ink;
    for (int y = 3; y < r.Height() - 3; ++y)
        for (int x = from; x < r.Width() - 3; ++x) {
            const COLORREF c = r.At(x, y), face = r.At(4, y);
            if (sum(c) == sum(face)) continue;
            Include(sum(c) > sum(face) ? ink.lighter : ink.darker, x, y);
            ink.darkest = std::min({ink.darkest, +GetRValue(c), +GetGValue(c), +GetBValue(c)});
        }
    return ink;
}

// A left click on a control, sent (handled at once) or posted (handled by the next loop).
void Click(TWinControl* c, bool post = false) {
    for (UINT msg : {WM_LBUTTONDOWN, WM_LBUTTONUP}) {
        const WPARAM wp = msg == WM_LBUTTONDOWN ? MK_LBUTTON : 0;
        if (post)
            PostMessageW(c->Handle(), msg, wp, MAKELPARAM(5, 5));
        else
            SendMessageW(c->Handle(), msg, wp, MAKELPARAM(5, 5));
    }
}

// The rim pixel of a button: blue (focus rim), orange (hot rim) or pale (a face).
COLORREF RimPixel(TdxButton* b) {
    return TRendering(b).At(2, 12);
}

class DxButtonTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Application.Initialize(); }
    void TearDown() override { Pump(); }
};

TEST_F(DxButtonTest, DefaultButtonShowsTheRimWhileTheEditHasTheFocus) {
    TFormPtr<TfrmFlat> f(new TfrmFlat);
    f->Show();
    f->edt->SetFocus();
    Pump();
    ASSERT_EQ(GetFocus(), f->edt->Handle());
    EXPECT_TRUE(Blue(RimPixel(f->btnOK)));
    EXPECT_TRUE(Pale(TRendering(f->btnOK).At(3, 12))); // the rim is 2 pixels wide
    EXPECT_TRUE(Pale(RimPixel(f->btnOther)));
    f->btnOther->SetFocus();
    Pump();
    EXPECT_TRUE(Pale(RimPixel(f->btnOK)));
    EXPECT_TRUE(Blue(RimPixel(f->btnOther)));
    f->edt->SetFocus();
    Pump();
    EXPECT_TRUE(Blue(RimPixel(f->btnOK)));
    EXPECT_TRUE(Pale(RimPixel(f->btnOther)));
}

TEST_F(DxButtonTest, PressLeavingAndComingBackUnderTheMouse) {
    TFormPtr<TfrmFlat> f(new TfrmFlat);
    f->Show();
    Pump();
    TdxButton* b = f->btnOther;
    auto move = [&](int x) { SendMessageW(b->Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(x, 5)); };
    move(5);
    ASSERT_TRUE(b->Hot());
    const core::Rect text = Ink(TRendering(b)).darker;
    EXPECT_TRUE(Orange(RimPixel(b)));

    // Pressed under the mouse: the pressed face and the caption one pixel down and right.
    SendMessageW(b->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    EXPECT_TRUE(b->Pressed() && b->HasFocus());
    EXPECT_TRUE(Pale(RimPixel(b)));
    EXPECT_EQ(Ink(TRendering(b)).darker,
              (core::Rect{text.left + 1, text.top + 1, text.width, text.height}));
    // Moved off while held: the focus rim around the normal face, the caption in place.
    move(-20);
    EXPECT_FALSE(b->Hot());
    EXPECT_TRUE(Blue(RimPixel(b)));
    EXPECT_EQ(Ink(TRendering(b)).darker, text);
    move(5);
    EXPECT_TRUE(b->Hot() && Pale(RimPixel(b)));

    // Released outside: no click; inside: one.
    move(-20);
    SendMessageW(b->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(-20, 5));
    EXPECT_FALSE(b->Pressed());
    EXPECT_EQ(f->otherClicks, 0);
    Click(b);
    EXPECT_EQ(f->otherClicks, 1);
}

TEST_F(DxButtonTest, DialogKeysSpaceAndAccelerators) {
    TFormPtr<TfrmFlat> f(new TfrmFlat);
    f->Show();
    f->edt->SetFocus();
    Pump();
    auto key = [](TWinControl* c, WORD k) { PostKey(c->Handle(), k), Pump(); };
    auto chr = [](TWinControl* c, UINT msg, wchar_t ch) {
        PostMessageW(c->Handle(), msg, ch, msg == WM_SYSCHAR ? 1 | (1 << 29) : 1), Pump();
    };
    // Enter clicks the default button while no flat button has the focus, else the focused one.
    key(f->edt, VK_RETURN);
    EXPECT_EQ(f->okClicks, 1);
    f->btnOther->SetFocus();
    key(f->btnOther, VK_RETURN);
    EXPECT_EQ(f->otherClicks, 1);
    EXPECT_EQ(f->okClicks, 1);
    key(f->btnOther, VK_SPACE); // clicks on its release
    EXPECT_EQ(f->otherClicks, 2);

    // Escape with Shift held leaves the Cancel button alone.
    {
        THeldKey shift(VK_SHIFT);
        key(f->btnOther, VK_ESCAPE);
        EXPECT_EQ(f->canClicks, 0);
    }
    key(f->btnOther, VK_ESCAPE);
    EXPECT_EQ(f->canClicks, 1);

    // The accelerator clicks the focused button, or any button with Alt held.
    chr(f->btnOther, WM_CHAR, L's');
    EXPECT_EQ(f->saveClicks, 0);
    {
        THeldKey alt(VK_MENU);
        chr(f->btnOther, WM_SYSCHAR, L'S');
    }
    EXPECT_EQ(f->saveClicks, 1);
    f->btnSave->SetFocus();
    chr(f->btnSave, WM_CHAR, L's');
    EXPECT_EQ(f->saveClicks, 2);
}

TEST_F(DxButtonTest, ClickHandsItsModalResultToTheFormFirst) {
    TFormPtr<TfrmFlat> f(new TfrmFlat);
    int seen = -1;
    f->btnCan->OnClick = [&](TObject*) { seen = f->ModalResult(); };
    Click(f->btnCan, true);
    EXPECT_EQ(f->ShowModal(), mrCancel);
    EXPECT_EQ(seen, mrCancel);
    // A button without a modal result clears the form's.
    f->SetModalResult(mrNo);
    Click(f->btnOther);
    EXPECT_EQ(f->otherClicks, 1);
    EXPECT_EQ(f->ModalResult(), mrNone);
}

TEST_F(DxButtonTest, DisabledButtonDrawsItsCaptionTwiceAndItsGlyphGrey) {
    TFormPtr<TForm> f(new TForm);
    auto* b = f->Add<TdxButton>(
        f.get(), {.bounds = {10, 10, 75, 25}, .caption = L"Rec", .glyph = resources::kGlyphRec});
    // The glyph's red disc, found in the enabled button; the caption lies right of it.
    int disc = 3;
    for (const TRendering r(b); disc < 72 && r.At(disc, 12) != RGB(200, 0, 0);)
        ++disc;
    ASSERT_LT(disc, 72);
    const TInk enabled = Ink(TRendering(b), disc + 12);
    b->SetEnabled(false);
    const TRendering r(b);
    EXPECT_EQ(r.At(disc, 12), RGB(166, 166, 166)); // 200 div 3 + 100
    EXPECT_EQ(r.At(0, 12), RGB(206, 199, 189));    // border

    // Enabled: dark ink only. Disabled: the shadow copy, and the highlight copy one pixel
    // further right and down.
    const TInk disabled = Ink(r, disc + 12);
    EXPECT_EQ(enabled.lighter.width, 0);
    EXPECT_LT(enabled.darkest, 100);
    EXPECT_GE(disabled.darkest, int(GetRValue(GetSysColor(COLOR_BTNSHADOW))));
    ASSERT_GT(disabled.darker.width, 0);
    EXPECT_EQ(disabled.darker.left, enabled.darker.left);
    EXPECT_EQ(disabled.lighter.Right(), disabled.darker.Right() + 1);
    EXPECT_EQ(disabled.lighter.Bottom(), disabled.darker.Bottom() + 1);
}

TEST_F(DxButtonTest, LoneAmpersandKeepsALineHeight) {
    const TMemoryDC dc(CreateCompatibleDC(nullptr));
    TCanvas canvas(dc.get());
    const TFont font;
    canvas.SetFont(font);
    const int line = canvas.TextHeight(L"X");
    for (const wchar_t* text : {L"&", L""}) {
        core::Rect r{0, 0, 73, 21};
        DrawButtonText(canvas, text, DT_CALCRECT | DT_END_ELLIPSIS | DT_WORDBREAK, r, true, true,
                       font);
        EXPECT_EQ(r.height, line) << "'" << text << "'";
        EXPECT_GT(r.width, 0);
    }
}

TEST_F(DxButtonTest, StyleManagerRegistrationFollowsTheControls) {
    auto first = std::make_unique<TdxStyleManager>(nullptr, TdxStyleManagerArgs{});
    TdxStyleManager second(nullptr, {.theme = OfficeXP});
    {
        TFormPtr<TfrmFlat> f(new TfrmFlat);
        f->btnOK->SetStyleManager(first.get());
        f->btnOther->SetStyleManager(first.get());
        f->btnOK->SetStyleManager(&second); // moves, not copies, the registration
        EXPECT_EQ(first->Controls(), (std::vector<TdxCustomStyleControl*>{f->btnOther}));
        EXPECT_EQ(second.Controls(), (std::vector<TdxCustomStyleControl*>{f->btnOK}));
        EXPECT_EQ(f->btnOK->Theme(), OfficeXP);
        first.reset(); // its controls forget it
        EXPECT_EQ(f->btnOther->StyleManager(), nullptr);
    }
    EXPECT_TRUE(second.Controls().empty()); // a control leaves its manager when it goes
}

} // namespace
