#include "options/optdlg.h"

namespace options {

TOptionDlg* OptionDlg = nullptr;

TOptionDlg::TOptionDlg() {
    forms::TFormDesc desc;
    desc.name = L"OptionDlg";
    desc.caption = L"Options";
    desc.borderStyle = forms::bsDialog;
    Layout(desc, {});
}

void TOptionDlg::EditOptions() {}

} // namespace options
