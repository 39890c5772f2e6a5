#include "ui/xConfirm.h"

#include "base/WinUtil.h"
#include "core/ConfirmRules.h"
#include "resources/Resources.h"
#include "ui/IMECtrl.h"

namespace ui {

using namespace forms;

TfrmConfirm::TfrmConfirm()
    : TForm({.bounds = {0, 0, 330, 140},
             .caption = L"Confirm",
             .clientSize = core::Size{322, 106},
             .borderStyle = bsDialog,
             .font = TFont(L"MS Sans Serif", -11),
             .keyPreview = true,
             .onCreate = [this](TObject* s) { FormCreate(s); },
             .onShow = [this](TObject* s) { FormShow(s); },
             .onCloseQuery = [this](TObject* s, bool& canClose) { FormCloseQuery(s, canClose); },
             .onKeyDown = [this](TObject* s, WORD& key,
                                 TShiftState sh) { FormKeyDown(s, key, sh); }}) {
    using namespace resources;
    Image1 = Add<TImage>(
        this, {.bounds = {14, 14, 32, 32}, .picture = kDefaultInformationIcon, .autoSize = true});
    lblMsg = Add<TLabel>(this, {.bounds = {63, 18, 0, 0}, .font = JapaneseFont(-12, clBlack)});
    img0 = Add<TImage>(this,
                       {.bounds = {14, 60, 32, 32}, .picture = kInformationIcon, .visible = false});
    img1 =
        Add<TImage>(this, {.bounds = {50, 60, 32, 32}, .picture = kQuestionIcon, .visible = false});
    img2 =
        Add<TImage>(this, {.bounds = {86, 60, 32, 32}, .picture = kWarningIcon, .visible = false});
    img4 =
        Add<TImage>(this, {.bounds = {122, 60, 32, 32}, .picture = kErrorIcon, .visible = false});
    pnlButton =
        Add<TPanel>(this, {.bounds = {0, 65, 322, 41}, .align = alBottom, .bevelOuter = bvNone});
    const TFont buttonFont = JapaneseFont(-12, clBlack);
    btnMode1 = Add<TxpButtonEx>(
        pnlButton, {.bounds = {43, 4, 76, 25},
                    .caption = L"はい",
                    .font = buttonFont,
                    .cursor = crHandPoint,
                    .onClick = [this](TObject*) { SetModalResult(core::kConfirmYes); }});
    btnMode2 = Add<TxpButtonEx>(
        pnlButton, {.bounds = {123, 4, 76, 25},
                    .caption = L"いいえ",
                    .font = buttonFont,
                    .cursor = crHandPoint,
                    .onClick = [this](TObject*) { SetModalResult(core::kConfirmNo); }});
    btnMode3 = Add<TxpButtonEx>(
        pnlButton, {.bounds = {203, 4, 76, 25},
                    .caption = L"ｷｬﾝｾﾙ",
                    .font = buttonFont,
                    .cursor = crHandPoint,
                    .onClick = [this](TObject*) { SetModalResult(core::kConfirmCancel); }});
    Loaded();
}

void TfrmConfirm::Prepare(TForm* parent, const std::wstring& caption, const std::wstring& message,
                          const std::wstring& icon, const std::wstring& buttons,
                          int defaultButton) {
    defaultButton_ = defaultButton;
    SetCaption(caption);
    lblMsg->SetCaption(message);
    switch (core::ConfirmIconFor(icon)) {
    case core::ConfirmIcon::Warning:
        Image1->SetPicture(img2->Picture());
        break;
    case core::ConfirmIcon::Question:
        Image1->SetPicture(img1->Picture());
        break;
    case core::ConfirmIcon::Information:
        Image1->SetPicture(img0->Picture());
        break;
    case core::ConfirmIcon::Error:
        Image1->SetPicture(img4->Picture());
        break;
    case core::ConfirmIcon::Keep:
        break;
    }
    const core::Rect around = parent ? parent->BoundsRect() : base::WorkAreaOrScreen();
    buttonSet_ = core::ConfirmButtonSet(buttons);
    const core::ConfirmLayout l =
        core::LayoutConfirm(lblMsg->BoundsRect(), around, buttonSet_, PixelsPerInch());
    SetBounds(l.dialog);
    TxpButtonEx* row[3] = {btnMode1, btnMode2, btnMode3};
    for (int i = 0; i < 3; ++i) {
        row[i]->SetLeft(l.buttonLeft[i]);
        row[i]->SetVisible(l.buttonShown[i]);
    }
}

void TfrmConfirm::FormCreate(TObject*) {
    ReplaceCursor(*this, crHandPoint, 1);
}

void TfrmConfirm::FormShow(TObject*) {
    // No input method while the question is up.
    SetImeSentenceMode(*this);
    ApplyImeMode(Handle(), imClose);
    switch (core::ConfirmFocusButton(defaultButton_)) {
    case 1:
        btnMode1->SetFocus();
        break;
    case 2:
        btnMode2->SetFocus();
        break;
    default:
        btnMode3->SetFocus();
        break;
    }
}

void TfrmConfirm::FormCloseQuery(TObject*, bool&) {
    SetModalResult(core::ConfirmCloseResult(ModalResult(), buttonSet_));
}

void TfrmConfirm::FormKeyDown(TObject*, WORD& key, TShiftState) {
    const bool shown[3] = {btnMode1->Visible(), btnMode2->Visible(), btnMode3->Visible()};
    if (int result = core::ConfirmKeyResult(key, shown)) {
        SetModalResult(result);
        key = 0;
    }
}

int ShowConfirm(TForm* parent, const std::wstring& caption, const std::wstring& message,
                const std::wstring& icon, const std::wstring& buttons, int defaultButton) {
    auto* dialog = new TfrmConfirm();
    int result = 0;
    try {
        dialog->Prepare(parent, caption, message, icon, buttons, defaultButton);
        result = dialog->ShowModal();
    } catch (...) {
        dialog->Release();
        throw;
    }
    dialog->Release();
    return result;
}

} // namespace ui
