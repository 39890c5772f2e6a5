#include "ui/IMECtrl.h"

#include "core/ImeRules.h"

namespace ui {

namespace {

template <class F> void Lookup(HMODULE m, const char* name, F& fn) {
    fn = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(m, name)));
}

// Keyboard layouts whose input method has this name are switched to when a control that asks
// for it gets the focus.
void ActivateImeByName(const std::wstring& name) {
    const TImeLibrary& lib = ImeLibrary();
    if (!lib.IsIme || !lib.GetDescription || name.empty()) return;
    int n = GetKeyboardLayoutList(0, nullptr);
    std::vector<HKL> layouts(n > 0 ? n : 0);
    if (n > 0) GetKeyboardLayoutList(n, layouts.data());
    for (HKL hkl : layouts) {
        wchar_t buf[256] = {};
        if (lib.IsIme(hkl) && lib.GetDescription(hkl, buf, 256) && name == buf) {
            ActivateKeyboardLayout(hkl, 0);
            return;
        }
    }
}

// A control that gets the focus asks for its input method and its state.
void ActivateIme(HWND wnd, const std::wstring& name, TImeMode mode) {
    ActivateImeByName(name);
    ApplyImeMode(wnd, mode);
}

const bool kActivatorInstalled = (forms::SetImeActivator(ActivateIme), true);

} // namespace

TImeLibrary::TImeLibrary(const wchar_t* dll) {
    // No "file not found" box when the library is missing.
    UINT previous = SetErrorMode(SEM_NOOPENFILEERRORBOX);
    module_.reset(LoadLibraryW(dll));
    SetErrorMode(previous);
    const HMODULE m = module_.get();
    if (!m) return;
    Lookup(m, "ImmGetContext", GetContext);
    Lookup(m, "ImmGetConversionStatus", GetConversionStatus);
    Lookup(m, "ImmReleaseContext", ReleaseContext);
    Lookup(m, "ImmSetOpenStatus", SetOpenStatus);
    Lookup(m, "ImmSetConversionStatus", SetConversionStatus);
    Lookup(m, "ImmIsIME", IsIme);
    Lookup(m, "ImmGetDescriptionW", GetDescription);
    Lookup(GetModuleHandleW(L"USER32"), "WINNLSEnableIME", EnableIme);
}

bool TImeLibrary::Available() const {
    return module_ && GetContext && GetConversionStatus && ReleaseContext && SetOpenStatus &&
           SetConversionStatus && EnableIme;
}

namespace {
// Loaded as the program starts, like the rest of the unit's initialisation.
const TImeLibrary& kProgramImeLibrary = ImeLibrary();
} // namespace

const TImeLibrary& ImeLibrary() {
    static TImeLibrary library;
    return library;
}

void ApplyImeMode(HWND wnd, TImeMode mode) {
    const TImeLibrary& lib = ImeLibrary();
    if (!lib.Available() || mode == imDontCare) return;
    if (mode == imDisable) {
        lib.EnableIme(wnd, FALSE);
        return;
    }
    lib.EnableIme(wnd, TRUE);
    HIMC imc = lib.GetContext(wnd);
    if (!imc) return;
    DWORD conversion = 0, sentence = 0;
    lib.GetConversionStatus(imc, &conversion, &sentence);
    if (mode == imClose) {
        lib.SetOpenStatus(imc, FALSE);
    } else if (mode == imOpen) {
        lib.SetOpenStatus(imc, TRUE);
    } else {
        lib.SetOpenStatus(imc, TRUE);
        lib.GetConversionStatus(imc, &conversion, &sentence);
        conversion = core::ImeConversionFor(static_cast<core::ImeMode>(mode), conversion);
    }
    lib.SetConversionStatus(imc, conversion, sentence);
    lib.ReleaseContext(wnd, imc);
}

void SetImeSentenceMode(forms::TForm& form) {
    const TImeLibrary& lib = ImeLibrary();
    if (!lib.GetContext || !lib.GetConversionStatus || !lib.SetConversionStatus ||
        !lib.ReleaseContext)
        return;
    HWND wnd = form.Handle();
    HIMC imc = lib.GetContext(wnd);
    if (!imc) return;
    DWORD conversion = 0, sentence = 0;
    lib.GetConversionStatus(imc, &conversion, &sentence);
    lib.SetConversionStatus(imc, conversion, IME_SMODE_AUTOMATIC);
    lib.ReleaseContext(wnd, imc);
}

std::vector<std::wstring> InstalledImeNames() {
    std::vector<std::wstring> names;
    const TImeLibrary& lib = ImeLibrary();
    if (!lib.IsIme || !lib.GetDescription) return names;
    int n = GetKeyboardLayoutList(0, nullptr);
    if (n <= 0) return names;
    std::vector<HKL> layouts(n);
    n = GetKeyboardLayoutList(n, layouts.data());
    for (int i = 0; i < n; ++i) {
        wchar_t buf[256] = {};
        if (lib.IsIme(layouts[i]) && lib.GetDescription(layouts[i], buf, 256) > 0)
            names.emplace_back(buf);
    }
    return names;
}

void AssignImeName(forms::TForm& form) {
    const std::vector<std::wstring> names = InstalledImeNames();
    const int preferred = core::PreferredImeIndex(names);
    if (preferred < 0) return; // no input method: every control keeps its name
    for (const auto& c : form.Components()) {
        auto* control = dynamic_cast<forms::TWinControl*>(c.get());
        if (control && core::IsEditLikeClass(control->ClassName()))
            control->SetImeName(names[preferred]);
    }
}

void ReplaceCursor(forms::TForm& form, forms::TCursor oldCursor, forms::TCursor newCursor) {
    for (const auto& c : form.Components()) {
        auto* control = dynamic_cast<forms::TWinControl*>(c.get());
        if (control && control->Cursor() == oldCursor) control->SetCursor(newCursor);
    }
}

} // namespace ui
