// HotkeyRules: the text of a global hotkey as the settings file holds it ("Ctrl+Shift+F9") and
// the hotkey it stands for.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace core {

// Modifier bits and key codes are Win32's MOD_* and VK_* values, so the Win32 side passes them
// on unchanged.
inline constexpr std::uint32_t kModAlt = 0x0001;
inline constexpr std::uint32_t kModControl = 0x0002;
inline constexpr std::uint32_t kModShift = 0x0004;
inline constexpr std::uint32_t kModWin = 0x0008;

struct Hotkey {
    std::uint32_t modifiers = 0;
    std::uint32_t key = 0; // virtual-key code; 0 is no hotkey
    bool operator==(const Hotkey&) const = default;
};

struct HotkeyParse {
    Hotkey hotkey;      // key 0 when the text is empty or cannot be read
    std::wstring error; // why the text cannot be read; empty when it can or is empty
};

// Modifiers Ctrl, Shift, Alt and Win in any order and one key (F1-F24, A-Z, 0-9, Space, Pause,
// Insert, Delete, Home, End, PageUp, PageDown), joined by '+', in any case, with blanks around
// the names. An empty text is no hotkey and no error.
HotkeyParse ParseHotkey(std::wstring_view text);

// The text that reads back as the hotkey: the modifiers in the order Ctrl, Shift, Alt, Win, then
// the key.
std::wstring HotkeyText(const Hotkey& hotkey);

} // namespace core
