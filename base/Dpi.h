// Dpi: the dots per inch a window is drawn at, and its frame at a given dpi, on every Windows the
// program runs on (the per-monitor functions are looked up at run time).
#pragma once

#include "core/Geometry.h"

#include <windows.h>

namespace base {

// The window's dpi (its monitor's under per-monitor awareness); the system's where the
// platform has no per-window dpi.
int WindowDpi(HWND wnd);

// The client size a window of this style would have with the given outer size at `dpi`.
core::Size ClientSizeAtDpi(HWND wnd, core::Size outer, int dpi);

} // namespace base
