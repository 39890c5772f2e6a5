// xConfirm: TfrmConfirm, the program's own question dialog, and ShowConfirm, which asks it.
#pragma once

#include "forms/Forms.h"
#include "ui/xpButtonEx.h"

#include <string>

namespace ui {

// An icon, a message of one or more lines and one to three buttons "はい", "いいえ",
// "ｷｬﾝｾﾙ" (results 6, 7, 2). Sized to its message and centred on its parent; Y, N and Esc
// answer it from the keyboard.
class TfrmConfirm : public forms::TForm {
public:
    TfrmConfirm();

    // Fills and lays out the dialog. icon: "!", "?", "i" or "x" (first character, any case);
    // buttons: "Y", "YN", "YC" or "YNC" (any case); defaultButton: 1, 2, or another value for
    // button 3. A null parent centres the dialog on the work area.
    void Prepare(forms::TForm* parent, const std::wstring& caption, const std::wstring& message,
                 const std::wstring& icon, const std::wstring& buttons, int defaultButton);
    int ButtonSet() const { return buttonSet_; }
    int DefaultButton() const { return defaultButton_; }

    forms::TImage* Image1 = nullptr;
    forms::TLabel* lblMsg = nullptr;
    forms::TImage *img0 = nullptr, *img1 = nullptr, *img2 = nullptr, *img4 = nullptr;
    forms::TPanel* pnlButton = nullptr;
    TxpButtonEx *btnMode1 = nullptr, *btnMode2 = nullptr, *btnMode3 = nullptr;

private:
    void FormCreate(forms::TObject* sender);
    void FormShow(forms::TObject* sender);
    void FormCloseQuery(forms::TObject* sender, bool& canClose);
    void FormKeyDown(forms::TObject* sender, WORD& key, forms::TShiftState shift);

    int buttonSet_ = 1;
    int defaultButton_ = 1;
};

// Asks a question in a fresh TfrmConfirm over `parent` and returns 6 (Yes), 7 (No) or 2
// (Cancel); the dialog is released afterwards.
int ShowConfirm(forms::TForm* parent, const std::wstring& caption, const std::wstring& message,
                const std::wstring& icon, const std::wstring& buttons, int defaultButton);

} // namespace ui
