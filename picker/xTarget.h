// xTarget: TfrmTarget, the flashing outline that marks the window selected in the picker.
#pragma once

#include "forms/Forms.h"
#include "ui/Blend.h"

namespace picker {

// Flipped on every tick of the outline, for the whole run: a later showing goes on alternating
// where the previous one stopped.
extern bool FlashPhase;

// A borderless form, fuchsia and see-through except for its 3-pixel outline, which turns red
// and lime in turn every 500 ms while it is shown. Created hidden at start-up; the picker
// places, shows and closes it.
class TfrmTarget : public forms::TForm {
public:
    TfrmTarget();
    std::wstring ClassName() const override { return L"TfrmTarget"; }

    forms::TShape* Shape1 = nullptr;
    ui::TBlend* Blend1 = nullptr;
    forms::TTimer* Timer1 = nullptr;

    void FormShow(forms::TObject* sender);
    void FormCloseQuery(forms::TObject* sender, bool& canClose);
    void Timer1Timer(forms::TObject* sender);

protected:
    void CreateParams(forms::TCreateParams& params) override;
};

extern TfrmTarget* frmTarget;

} // namespace picker
