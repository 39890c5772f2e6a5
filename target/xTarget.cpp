#include "target/xTarget.h"

namespace target {

TfrmTarget* frmTarget = nullptr;

TfrmTarget::TfrmTarget() {
    forms::TFormDesc desc;
    desc.name = L"frmTarget";
    desc.borderStyle = forms::bsNone;
    desc.color = forms::clFuchsia;
    Layout(desc, {});
}

} // namespace target
