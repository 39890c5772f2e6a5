// IMECtrl: input-method helpers for the forms and the helper that gives their hand-pointer
// controls the program's own hand cursor.
#pragma once

#include "base/Handles.h"
#include "forms/Forms.h"

#include <windows.h>
#include <imm.h>

#include <string>
#include <vector>

namespace ui {

using forms::TImeMode;
using enum forms::TImeMode;

// The input-method library, loaded at run time with the open-file error box suppressed (the
// previous error mode is restored), and the entry points the helpers use. Missing pieces make
// the helpers do nothing.
class TImeLibrary {
public:
    explicit TImeLibrary(const wchar_t* dll = L"imm32.dll");
    TImeLibrary(const TImeLibrary&) = delete;
    TImeLibrary& operator=(const TImeLibrary&) = delete;

    bool Loaded() const { return static_cast<bool>(module_); }
    // The library and every entry point ApplyImeMode needs are there.
    bool Available() const;

    HIMC(WINAPI* GetContext)(HWND) = nullptr;
    BOOL(WINAPI* GetConversionStatus)(HIMC, LPDWORD, LPDWORD) = nullptr;
    BOOL(WINAPI* ReleaseContext)(HWND, HIMC) = nullptr;
    BOOL(WINAPI* SetOpenStatus)(HIMC, BOOL) = nullptr;
    BOOL(WINAPI* SetConversionStatus)(HIMC, DWORD, DWORD) = nullptr;
    BOOL(WINAPI* EnableIme)(HWND, BOOL) = nullptr; // WINNLSEnableIME of user32
    BOOL(WINAPI* IsIme)(HKL) = nullptr;
    UINT(WINAPI* GetDescription)(HKL, LPWSTR, UINT) = nullptr;

private:
    base::TModuleHandle module_;
};

// The program's library, loaded when the program starts and freed when it ends.
const TImeLibrary& ImeLibrary();

// Sets the input-method state of one window.
void ApplyImeMode(HWND wnd, TImeMode mode);
// Sets the sentence mode of the form's window to automatic (4), keeping its conversion mode.
void SetImeSentenceMode(forms::TForm& form);
// The names of the installed input methods, in the platform's order.
std::vector<std::wstring> InstalledImeNames();
// Gives the form's edit-like controls the preferred input method.
void AssignImeName(forms::TForm& form);
// Replaces one cursor by another on the controls the form owns (callers pass crHandPoint, 1).
void ReplaceCursor(forms::TForm& form, forms::TCursor oldCursor, forms::TCursor newCursor);

} // namespace ui
