// quarnelby: program start-up.
#include "base/Handles.h"
#include "engine/msvc1drv.h"
#include "forms/Forms.h"
#include "main/Main.h"
#include "options/optdlg.h"
#include "resources/Resources.h"
#include "picker/xTarget.h"

#include <windows.h>

namespace {

unsigned ScreenBitsPerPixel() {
    const base::TWindowDC screen(nullptr);
    return GetDeviceCaps(screen.get(), BITSPIXEL) * GetDeviceCaps(screen.get(), PLANES);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // The hand cursor is the application's cursor 1 before any form exists.
    forms::Application.Cursors.Set(1, LoadCursorW(instance, resources::kHandCursor));
    forms::Application.Initialize();
    // Recordings fall back to the "MSVC" compressor; where the system has none that takes the
    // screen's frames, our own encoder answers for it inside this process.
    engine::InstallOwnMsvc1IfNeeded(ScreenBitsPerPixel());
    forms::Application.CreateForm(mainwin::frmMain);
    forms::Application.CreateForm(options::OptionDlg);
    forms::Application.CreateForm(picker::frmTarget);
    forms::Application.Run();
    return 0;
}
