#include "main/Hotkeys.h"

#include "base/WinUtil.h"
#include "core/HotkeyRules.h"
#include "core/Text.h"
#include "settings/libIniFile.h"

namespace mainwin {

namespace {

struct TCommand {
    THotkeyCommand id;
    const wchar_t* key; // in the settings file, and the command's name for the user
    const wchar_t* defaultText;
};
constexpr TCommand kCommands[] = {{hkRecord, L"Record", L"Ctrl+Shift+F9"},
                                  {hkPause, L"Pause", L"Ctrl+Shift+F10"},
                                  {hkStop, L"Stop", L"Ctrl+Shift+F11"}};

// MOD_NOREPEAT keeps a held key from repeating its command (Wine 8 knows it too). Systems before
// Windows 7 refuse the flag, so a refusal for any other reason than a taken key tries again
// without it.
bool Register(HWND window, int id, const core::Hotkey& k) {
    if (RegisterHotKey(window, id, k.modifiers | MOD_NOREPEAT, k.key)) return true;
    if (GetLastError() == ERROR_HOTKEY_ALREADY_REGISTERED) return false;
    return RegisterHotKey(window, id, k.modifiers, k.key);
}

} // namespace

THotkeys::THotkeys(HWND window, const std::wstring& iniBase) : window_(window) {
    std::wstring failures;
    for (const TCommand& c : kCommands) {
        const std::wstring text = settings::ReadIniString(iniBase, L"HOTKEY", c.key, c.defaultText);
        const core::HotkeyParse parsed = core::ParseHotkey(text);
        std::wstring why;
        if (!parsed.error.empty())
            why = core::Quoted(text) + L" cannot be read: " + parsed.error;
        else if (parsed.hotkey.key == 0)
            continue; // no hotkey wanted
        else if (Register(window, c.id, parsed.hotkey))
            registered_.push_back(c.id);
        else if (const DWORD error = GetLastError(); error == ERROR_HOTKEY_ALREADY_REGISTERED)
            why = core::HotkeyText(parsed.hotkey) + L" is already in use by another program";
        else
            why = core::HotkeyText(parsed.hotkey) + L" is refused: " + base::LastErrorText(error);
        if (!why.empty()) failures += L"\r\n" + std::wstring(c.key) + L": " + why;
    }
    if (!failures.empty())
        report_ = L"These commands have no hotkey; their buttons still work:" + failures +
                  L"\r\n\r\nThe hotkeys are set in the section [HOTKEY] of " + iniBase + L".ini.";
}

THotkeys::~THotkeys() {
    for (const int id : registered_)
        (void)UnregisterHotKey(window_, id); // fails only for a window already destroyed
}

} // namespace mainwin
