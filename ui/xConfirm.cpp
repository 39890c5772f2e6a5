#include "ui/xConfirm.h"

#include "core/ConfirmRules.h"
#include "resources/Resources.h"
#include "ui/IMECtrl.h"

namespace ui {

using namespace forms;

TfrmConfirm::TfrmConfirm() {
    const TFont buttonFont = JapaneseFont(-12, clBlack);
    Layout(
        {.name = L"frmConfirm",
         .bounds = {0, 0, 330, 140},
         .caption = L"Confirm",
         .clientWidth = 322,
         .clientHeight = 106,
         .borderStyle = bsDialog,
         .color = clBtnFace,
         .font = TFont(L"MS Sans Serif", -11),
         .keyPreview = true,
         .onCreate = [this](TObject* s) { FormCreate(s); },
         .onShow = [this](TObject* s) { FormShow(s); },
         .onCloseQuery = [this](TObject* s, bool& canClose) { FormCloseQuery(s, canClose); },
         .onKeyDown = [this](TObject* s, WORD& key, TShiftState sh) { FormKeyDown(s, key, sh); }},
        {
            Item(Image1, L"Image1", {14, 14, 32, 32}, L"",
                 {.autoSize = true, .picture = resources::kDefaultInformationIcon}),
            Item(lblMsg, L"lblMsg", {63, 18, 0, 0}, L"", {.font = JapaneseFont(-12, clBlack)}),
            Item(img0, L"img0", {14, 60, 32, 32}, L"",
                 {.visible = false, .picture = resources::kInformationIcon}),
            Item(img1, L"img1", {50, 60, 32, 32}, L"",
                 {.visible = false, .picture = resources::kQuestionIcon}),
            Item(img2, L"img2", {86, 60, 32, 32}, L"",
                 {.visible = false, .picture = resources::kWarningIcon}),
            Item(img4, L"img4", {122, 60, 32, 32}, L"",
                 {.visible = false, .picture = resources::kErrorIcon}),
            Item(pnlButton, L"pnlButton", {0, 65, 322, 41}, L"",
                 {.align = alBottom, .bevelOuter = bvNone}),
            Item(btnMode1, L"btnMode1", {43, 4, 76, 25}, L"はい",
                 {.parent = L"pnlButton",
                  .font = buttonFont,
                  .cursor = crHandPoint,
                  .tag = 1,
                  .tabOrder = 0},
                 {.onClick = [this](TObject*) { SetModalResult(core::kConfirmYes); }}),
            Item(btnMode2, L"btnMode2", {123, 4, 76, 25}, L"いいえ",
                 {.parent = L"pnlButton",
                  .font = buttonFont,
                  .cursor = crHandPoint,
                  .tag = 2,
                  .tabOrder = 1},
                 {.onClick = [this](TObject*) { SetModalResult(core::kConfirmNo); }}),
            Item(btnMode3, L"btnMode3", {203, 4, 76, 25}, L"ｷｬﾝｾﾙ",
                 {.parent = L"pnlButton",
                  .font = buttonFont,
                  .cursor = crHandPoint,
                  .tag = 3,
                  .tabOrder = 2},
                 {.onClick = [this](TObject*) { SetModalResult(core::kConfirmCancel); }}),
        });
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
    core::ConfirmBox around;
    if (parent) {
        around = {parent->Left(), parent->Top(), parent->Width(), parent->Height()};
    } else {
        RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        around = {work.left, work.top, work.right - work.left, work.bottom - work.top};
    }
    buttonSet_ = core::ConfirmButtonSet(buttons);
    const core::ConfirmLayout l = core::LayoutConfirm(
        {lblMsg->Left(), lblMsg->Top(), lblMsg->Width(), lblMsg->Height()}, around, buttonSet_);
    SetBounds(l.dialog.left, l.dialog.top, l.dialog.width, l.dialog.height);
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
