// optdlg: the options dialog (a placeholder until the dialog itself is built).
#pragma once

#include "forms/Forms.h"

namespace options {

// Created at start-up and kept for the whole run; EditOptions opens the dialog.
class TOptionDlg : public forms::TForm {
public:
    TOptionDlg();
    std::wstring ClassName() const override { return L"TOptionDlg"; }
    // Shows the recording options for editing; the placeholder leaves them as they are.
    void EditOptions();
};

extern TOptionDlg* OptionDlg;

} // namespace options
