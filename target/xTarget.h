// xTarget: the frame that marks a candidate window in the picker (a placeholder until the
// picker is built).
#pragma once

#include "forms/Forms.h"

namespace target {

// Created at start-up and kept hidden for the whole run.
class TfrmTarget : public forms::TForm {
public:
    TfrmTarget();
    std::wstring ClassName() const override { return L"TfrmTarget"; }
};

extern TfrmTarget* frmTarget;

} // namespace target
