#include "ui/xpButtonEx.h"

#include "ControlTesting.h"

#include <gtest/gtest.h>

using namespace forms;
using ui::TxpButtonEx;

namespace {

class TfrmButtons : public TForm {
public:
    TxpButtonEx *btn = nullptr, *btnDef = nullptr, *btnCancel = nullptr, *btnAcc = nullptr;
    TListBox* lst = nullptr;
    int clicks = 0, defClicks = 0, cancelClicks = 0, accClicks = 0;

    TfrmButtons() : TForm({.bounds = {100, 100, 400, 200}, .font = JapaneseFont()}) {
        btn = Add<TxpButtonEx>(this, {.bounds = {10, 10, 75, 25},
                                      .caption = L"OK",
                                      .onClick = [this](TObject*) { ++clicks; }});
        btnDef = Add<TxpButtonEx>(this, {.bounds = {100, 10, 75, 25},
                                         .caption = L"Def",
                                         .isDefault = true,
                                         .onClick = [this](TObject*) { ++defClicks; }});
        btnCancel = Add<TxpButtonEx>(this, {.bounds = {190, 10, 75, 25},
                                            .caption = L"Cancel",
                                            .cancel = true,
                                            .onClick = [this](TObject*) { ++cancelClicks; }});
        btnAcc = Add<TxpButtonEx>(this, {.bounds = {280, 10, 75, 25},
                                         .caption = L"&Save",
                                         .onClick = [this](TObject*) { ++accClicks; }});
        lst = Add<TListBox>(this, {.bounds = {10, 60, 100, 60}});
        Loaded();
    }
};

class XpButtonTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Application.Initialize(); }
};

TEST_F(XpButtonTest, CreationDefaults) {
    TFormPtr<TForm> f(new TForm);
    TxpButtonEx* b = f->Add<TxpButtonEx>(f.get(), {});
    EXPECT_EQ(b->Width(), 75);
    EXPECT_EQ(b->Height(), 25);
    EXPECT_EQ(b->Caption(), L"XP Button");
    EXPECT_TRUE(b->TabStop());
    EXPECT_TRUE(b->Enabled());
    EXPECT_FALSE(b->Hot() || b->Pressed() || b->HasFocus());
    EXPECT_EQ(b->ModalResult(), 0);
}

TEST_F(XpButtonTest, EnabledLookHasTheBorderFaceAndEdgeColours) {
    TFormPtr<TfrmButtons> f(new TfrmButtons);
    TRendering r(f->btn);
    EXPECT_EQ(r.At(1, 12), RGB(0, 60, 116));     // border
    EXPECT_EQ(r.At(10, 5), RGB(253, 253, 253));  // face, first band
    EXPECT_EQ(r.At(10, 7), RGB(246, 246, 249));  // second band
    EXPECT_EQ(r.At(10, 20), RGB(205, 204, 223)); // 1-pixel rest at the bottom
    EXPECT_EQ(r.At(10, 2), RGB(206, 231, 255));  // top edge
    EXPECT_EQ(r.At(10, 22), RGB(105, 130, 238)); // bottom edge
    EXPECT_EQ(r.At(2, 10), RGB(188, 212, 246));  // inner frame
    EXPECT_EQ(r.At(3, 10), RGB(255, 255, 255));  // white lines
    EXPECT_EQ(r.At(71, 10), RGB(255, 255, 255));
    EXPECT_EQ(r.At(10, 24), RGB(255, 255, 255));
    EXPECT_EQ(r.At(74, 10), RGB(255, 255, 255));
}

TEST_F(XpButtonTest, HotAndPressedLooks) {
    TFormPtr<TfrmButtons> f(new TfrmButtons);
    SendMessageW(f->btn->Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    ASSERT_TRUE(f->btn->Hot());
    {
        TRendering r(f->btn);
        EXPECT_EQ(r.At(3, 10), RGB(248, 179, 48)); // orange frame over the white line
        EXPECT_EQ(r.At(10, 5), RGB(253, 253, 253));
    }
    SendMessageW(f->btn->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    ASSERT_TRUE(f->btn->Pressed());
    {
        TRendering r(f->btn);
        EXPECT_EQ(r.At(10, 4), RGB(205, 204, 223)); // the gradient turned over
        EXPECT_EQ(r.At(10, 5), RGB(209, 208, 226)); // 12 one-pixel bands
        EXPECT_EQ(r.At(10, 6), RGB(214, 213, 228));
        EXPECT_EQ(r.At(10, 18), RGB(253, 253, 253)); // 5-pixel rest in the end colour
    }
    // Leaving while pressed: the normal face again.
    SendMessageW(f->btn->Handle(), WM_MOUSELEAVE, 0, 0);
    EXPECT_FALSE(f->btn->Hot());
    {
        TRendering r(f->btn);
        EXPECT_EQ(r.At(10, 5), RGB(253, 253, 253));
    }
    SendMessageW(f->btn->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(f->clicks, 1);
    EXPECT_FALSE(f->btn->Pressed());
}

TEST_F(XpButtonTest, DisabledLook) {
    TFormPtr<TfrmButtons> f(new TfrmButtons);
    f->btn->SetEnabled(false);
    TRendering r(f->btn);
    EXPECT_EQ(r.At(1, 12), RGB(196, 195, 191));
    EXPECT_EQ(r.At(10, 10), RGB(241, 241, 237));
    EXPECT_EQ(r.At(0, 0), GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(r.At(74, 24), GetSysColor(COLOR_BTNFACE));
}

TEST_F(XpButtonTest, KeysAndDoubleClicksClick) {
    TFormPtr<TfrmButtons> f(new TfrmButtons);
    f->Show();
    f->btn->SetFocus();
    Pump();
    ASSERT_TRUE(f->btn->HasFocus());

    PostKey(f->btn->Handle(), VK_SPACE);
    Pump();
    EXPECT_EQ(f->clicks, 1);
    // Enter presses the focused button and, as a dialog key, clicks the default one.
    PostKey(f->btn->Handle(), VK_RETURN);
    Pump();
    EXPECT_EQ(f->clicks, 2);
    EXPECT_EQ(f->defClicks, 1);

    // A double click is two clicks: the first release, then the double click itself.
    HWND b = f->btn->Handle();
    PostMessageW(b, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    PostMessageW(b, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    PostMessageW(b, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 5));
    PostMessageW(b, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    Pump();
    EXPECT_EQ(f->clicks, 4);

    // Holding Space and releasing another key clicks; releasing Space then does nothing.
    PostMessageW(b, WM_KEYDOWN, VK_SPACE, 1);
    PostMessageW(b, WM_KEYUP, 'A', 0xC0000001);
    PostMessageW(b, WM_KEYUP, VK_SPACE, 0xC0000001);
    Pump();
    EXPECT_EQ(f->clicks, 5);

    // Escape clicks the Cancel button, the accelerator its button.
    PostKey(b, VK_ESCAPE);
    PostMessageW(b, WM_CHAR, L's', 1);
    Pump();
    EXPECT_EQ(f->cancelClicks, 1);
    EXPECT_EQ(f->accClicks, 1);
}

TEST_F(XpButtonTest, DisabledButtonsIgnoreDialogKeysAndAccelerators) {
    TFormPtr<TfrmButtons> f(new TfrmButtons);
    f->Show();
    f->lst->SetFocus();
    Pump();
    f->btnDef->SetEnabled(false);
    f->btnAcc->SetEnabled(false);
    PostKey(f->lst->Handle(), VK_RETURN);
    PostMessageW(f->lst->Handle(), WM_SYSCHAR, L's', 1 | (1 << 29));
    Pump();
    EXPECT_EQ(f->defClicks, 0);
    EXPECT_EQ(f->accClicks, 0);
    f->btnDef->SetEnabled(true);
    f->btnAcc->SetEnabled(true);
    PostKey(f->lst->Handle(), VK_RETURN);
    PostMessageW(f->lst->Handle(), WM_SYSCHAR, L'S', 1 | (1 << 29));
    Pump();
    EXPECT_EQ(f->defClicks, 1);
    EXPECT_EQ(f->accClicks, 1);
}

TEST_F(XpButtonTest, ModalResultEndsTheDialog) {
    TFormPtr<TfrmButtons> f(new TfrmButtons);
    // A result of 0 leaves the form's result alone.
    SendMessageW(f->btn->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    SendMessageW(f->btn->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(f->ModalResult(), mrNone);

    f->btnCancel->SetModalResult(mrNo);
    PostMessageW(f->btnCancel->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    PostMessageW(f->btnCancel->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(f->ShowModal(), mrNo);
    EXPECT_EQ(f->cancelClicks, 1);
}

} // namespace
