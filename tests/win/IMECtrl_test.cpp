#include "ui/IMECtrl.h"

#include "core/ImeRules.h"

#include <gtest/gtest.h>
#include <imm.h>

using namespace forms;
using namespace ui;

namespace {

class TfrmEdit : public TForm {
public:
    TListBox* lstFocus = nullptr;
    TPanel* pnlCam = nullptr;
    TSpeedButton *btnA = nullptr, *btnB = nullptr;

    TfrmEdit() : TForm({.bounds = {50, 50, 300, 200}}) {
        pnlCam = Add<TPanel>(this, {.bounds = {0, 0, 200, 100}});
        pnlCam->SetCursor(crHandPoint);
        lstFocus = Add<TListBox>(pnlCam, {.bounds = {2, 3, 20, 4}});
        btnA = Add<TSpeedButton>(this, {.bounds = {0, 120, 20, 20}, .cursor = crHandPoint});
        btnB = Add<TSpeedButton>(this, {.bounds = {30, 120, 20, 20}, .cursor = crCross});
        Loaded();
    }
};

class ImeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Application.Initialize(); }
};

TEST_F(ImeTest, MissingLibraryIsQuietAndRestoresTheErrorMode) {
    UINT before = SetErrorMode(SEM_FAILCRITICALERRORS);
    {
        TImeLibrary missing(L"no-such-imm.dll");
        EXPECT_FALSE(missing.Loaded());
        EXPECT_FALSE(missing.Available());
        EXPECT_EQ(SetErrorMode(SEM_FAILCRITICALERRORS), static_cast<UINT>(SEM_FAILCRITICALERRORS));
    }
    SetErrorMode(before);
    TImeLibrary present;
    EXPECT_TRUE(present.Loaded());
}

TEST_F(ImeTest, ModesSetOpenStatusAndConversionBits) {
    if (!ImeLibrary().Available()) GTEST_SKIP() << "no input-method entry points";
    TFormPtr<TfrmEdit> f(new TfrmEdit);
    HWND wnd = f->Handle();
    auto status = [&](DWORD& conversion, DWORD& sentence) {
        HIMC imc = ImmGetContext(wnd);
        EXPECT_NE(imc, nullptr);
        ImmGetConversionStatus(imc, &conversion, &sentence);
        BOOL open = ImmGetOpenStatus(imc);
        ImmReleaseContext(wnd, imc);
        return open;
    };
    DWORD conversion = 0, sentence = 0;
    ApplyImeMode(wnd, imOpen);
    EXPECT_TRUE(status(conversion, sentence));
    ApplyImeMode(wnd, imHira);
    EXPECT_TRUE(status(conversion, sentence));
    EXPECT_EQ(conversion & 0xB, 0x9u);
    ApplyImeMode(wnd, imKata);
    status(conversion, sentence);
    EXPECT_EQ(conversion & 0xB, 0xBu);
    ApplyImeMode(wnd, imSAlpha);
    status(conversion, sentence);
    EXPECT_EQ(conversion & 0xB, 0x0u);
    ApplyImeMode(wnd, imClose);
    EXPECT_FALSE(status(conversion, sentence));
    // Don't-care changes nothing.
    ApplyImeMode(wnd, imDontCare);
    EXPECT_FALSE(status(conversion, sentence));

    SetImeSentenceMode(*f);
    DWORD keptConversion = conversion;
    status(conversion, sentence);
    EXPECT_EQ(sentence, static_cast<DWORD>(IME_SMODE_AUTOMATIC));
    EXPECT_EQ(conversion, keptConversion);
}

TEST_F(ImeTest, AssignImeNameLeavesControlsAloneWithoutInputMethods) {
    TFormPtr<TfrmEdit> f(new TfrmEdit);
    f->lstFocus->SetImeName(L"kept");
    AssignImeName(*f); // no exception whatever is installed
    const std::vector<std::wstring> names = InstalledImeNames();
    if (names.empty())
        EXPECT_EQ(f->lstFocus->ImeName(), L"kept");
    else
        EXPECT_EQ(f->lstFocus->ImeName(), names[core::PreferredImeIndex(names)]);
    EXPECT_EQ(f->pnlCam->ImeName(), L""); // panels take none
}

TEST_F(ImeTest, ReplaceCursorSwapsOnlyTheGivenCursor) {
    TFormPtr<TfrmEdit> f(new TfrmEdit);
    ReplaceCursor(*f, crHandPoint, 1);
    EXPECT_EQ(f->pnlCam->Cursor(), 1);
    EXPECT_EQ(f->btnA->Cursor(), 1);
    EXPECT_EQ(f->btnB->Cursor(), crCross);
    EXPECT_EQ(f->lstFocus->Cursor(), crDefault);
    // Nothing with the old cursor left: nothing changes.
    ReplaceCursor(*f, crHandPoint, 5);
    EXPECT_EQ(f->btnA->Cursor(), 1);
}

} // namespace
