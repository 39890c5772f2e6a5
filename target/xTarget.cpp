#include "target/xTarget.h"

namespace target {

TfrmTarget* frmTarget = nullptr;

TfrmTarget::TfrmTarget() : TForm({.borderStyle = forms::bsNone, .color = forms::clFuchsia}) {
    Loaded();
}

} // namespace target
