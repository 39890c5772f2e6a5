// Our own Microsoft Video 1 ("MSVC") compressor as an in-process VCM driver.
#pragma once

#include <windows.h>

#include <mmsystem.h>

namespace engine {

// The driver procedure that ICInstall(..., ICINSTALL_FUNCTION) registers. It compresses 16, 24
// and 32-bit RGB frames whose width and height are multiples of 4 and decompresses nothing, so
// reading a file goes to the system's decoder.
LRESULT CALLBACK Msvc1DriverProc(DWORD_PTR driverId, HDRVR driver, UINT message, LPARAM lParam1,
                                 LPARAM lParam2);

// Makes sure a "MSVC" compressor accepts uncompressed frames of the screen's depth: when the
// system's does not (none on a 32-bit desktop), ours is installed for this process. Returns
// whether ours is installed. Safe to call any number of times, from any thread.
bool InstallOwnMsvc1IfNeeded(unsigned screenBitsPerPixel);

// Whether ours is installed in this process.
bool OwnMsvc1Installed();

// Removes ours again (so that ICOpen reaches the system's "MSVC"); returns whether it was
// installed. Open instances keep working until they are closed.
bool RemoveOwnMsvc1();

} // namespace engine
