#include "options/optdlg.h"

namespace options {

TOptionDlg* OptionDlg = nullptr;

TOptionDlg::TOptionDlg() : TForm({.caption = L"Options", .borderStyle = forms::bsDialog}) {
    Loaded();
}

void TOptionDlg::EditOptions() {}

} // namespace options
