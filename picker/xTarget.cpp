#include "picker/xTarget.h"

namespace picker {

using namespace forms;

TfrmTarget* frmTarget = nullptr;
bool FlashPhase = false;

TfrmTarget::TfrmTarget()
    : TForm({.bounds = {282, 445, 317, 240},
             .borderStyle = bsNone,
             .color = clFuchsia,
             .onShow = [this](TObject* s) { FormShow(s); },
             .onCloseQuery = [this](TObject* s, bool& canClose) { FormCloseQuery(s, canClose); }}) {
    Shape1 = Add<TShape>(
        this, {.align = alClient, .brushColor = clFuchsia, .penColor = clLime, .penWidth = 3});
    Blend1 = Add<ui::TBlend>(
        this,
        {.alpha = 255, .active = true, .blendMode = ui::bmBoth, .transparentColor = clFuchsia});
    Timer1 = Add<TTimer>(this, {.interval = 500,
                                .enabled = false,
                                .onTimer = [this](TObject* s) { Timer1Timer(s); }});
    Loaded();
}

void TfrmTarget::CreateParams(TCreateParams& p) {
    TForm::CreateParams(p);
    // A marker only: no task-bar button, and the mouse reaches the windows under it.
    p.exStyle |= WS_EX_TOOLWINDOW | WS_EX_TRANSPARENT;
}

void TfrmTarget::FormShow(TObject*) {
    Timer1->SetEnabled(true);
}

void TfrmTarget::FormCloseQuery(TObject*, bool& canClose) {
    Timer1->SetEnabled(false);
    canClose = true;
}

void TfrmTarget::Timer1Timer(TObject*) {
    FlashPhase = !FlashPhase;
    Shape1->SetPenColor(FlashPhase ? clRed : clLime);
}

} // namespace picker
