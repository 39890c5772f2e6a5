// WinUtil: small Win32 helpers used across the program: the work area and the monitors, centring
// a window, the text of an error code, and the conversions of core::Rect at the Win32 edge.
#pragma once

#include "core/Geometry.h"
#include "core/MonitorRules.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace base {

inline RECT ToRECT(const core::Rect& r) {
    return {r.left, r.top, r.Right(), r.Bottom()};
}
inline core::Rect FromRECT(const RECT& r) {
    return core::Rect::FromEdges(r.left, r.top, r.right, r.bottom);
}

// The whole primary screen, from the system metrics.
core::Rect ScreenRect();
// The desktop's work area (the screen less the task bar), or nothing when it cannot be read.
std::optional<core::Rect> WorkArea();
// The work area, or the whole screen when it cannot be read.
core::Rect WorkAreaOrScreen();
// The monitor a window is on (the one it overlaps most, else the nearest), or nothing when it
// cannot be read.
std::optional<core::MonitorArea> MonitorOf(HWND wnd);
// Every monitor of the desktop, the main one first.
std::vector<core::MonitorArea> Monitors();
// A window's outer rectangle on the screen, or nothing when the window is gone.
std::optional<core::Rect> WindowRect(HWND wnd);

// Moves a window (without sizing, activating it or changing its z-order) so that it is centred
// in the area; true when the window's rectangle could be read.
bool CenterWindow(HWND wnd, const core::Rect& area);

// The system's text for an error code (GetLastError() by default), without the line break.
std::wstring LastErrorText(DWORD error = GetLastError());

} // namespace base
