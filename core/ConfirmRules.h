// Rules of the confirmation dialog: icon and button-set choice, size, position, button row,
// answer keys and the result of closing it.
#pragma once

#include "core/Geometry.h"

#include <string>

namespace core {

// Results the dialog returns: the platform's modal results.
inline constexpr int kConfirmYes = 6;
inline constexpr int kConfirmNo = 7;
inline constexpr int kConfirmCancel = 2;

enum class ConfirmIcon { Keep, Information, Question, Warning, Error };
// By the first character of the icon argument, lower-cased: "!" warning, "?" question,
// "i" information, "x" error; anything else (and an empty argument) keeps the design picture.
ConfirmIcon ConfirmIconFor(const std::wstring& icon);

// By the whole buttons argument, lower-cased: "y" 1, "yn" 2, "yc" 3, "ync" 4, anything else 1.
int ConfirmButtonSet(const std::wstring& buttons);

struct ConfirmLayout {
    Rect dialog;              // outer bounds on the screen
    int buttonLeft[3] = {};   // left edges of buttons 1..3 inside the button panel
    bool buttonShown[3] = {}; // which of buttons 1..3 are shown
};

// Lays the dialog out around its message label (position and size inside the dialog, as the
// label sized itself to the text) and centres it on the parent's outer bounds; margins and
// button places are scaled to the dialog's dpi.
ConfirmLayout LayoutConfirm(const Rect& label, const Rect& parent, int buttonSet,
                            int dpi = kDesignDpi);

// The button that gets the focus: 1 and 2 name buttons 1 and 2, anything else button 3.
int ConfirmFocusButton(int defaultButton);

// The answer for a key pressed in the dialog (Esc 27, N 78, Y 89; modifiers are not looked
// at), given which buttons are shown; 0 when the key answers nothing and goes on to the
// focused control.
int ConfirmKeyResult(int key, const bool shown[3]);

// The result when the dialog closes with `result`: a Cancel (also the result of closing from
// the title bar) becomes Yes for set 1 and No for set 2, so a dialog without a Cancel button
// never answers Cancel.
int ConfirmCloseResult(int result, int buttonSet);

} // namespace core
