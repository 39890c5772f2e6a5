// Hotkeys: the global hotkeys of Record, Pause and Stop, read from the settings file and
// registered on the main window.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace mainwin {

// The commands that have a hotkey; the value is its id in WM_HOTKEY.
enum THotkeyCommand : int { hkRecord = 1, hkPause = 2, hkStop = 3 };

class THotkeys {
public:
    // Reads the section "HOTKEY" of the settings file (a missing key gives the default) and
    // registers on the window every hotkey that can be read and is free.
    THotkeys(HWND window, const std::wstring& iniBase);
    ~THotkeys();
    THotkeys(const THotkeys&) = delete;
    THotkeys& operator=(const THotkeys&) = delete;

    // Which command lacks its hotkey and why, for the user; handed out once, empty when every
    // hotkey is set up.
    std::wstring TakeReport() { return std::exchange(report_, {}); }

private:
    HWND window_;
    std::vector<int> registered_;
    std::wstring report_;
};

} // namespace mainwin
