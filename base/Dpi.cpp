#include "base/Dpi.h"

#include "base/Handles.h"

namespace base {

namespace {

template <class F> F User32Function(const char* name) {
    return reinterpret_cast<F>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

int SystemDpi() {
    const TWindowDC screen(nullptr);
    return screen ? GetDeviceCaps(screen.get(), LOGPIXELSY) : core::kDesignDpi;
}

} // namespace

int WindowDpi(HWND wnd) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
    if (getDpiForWindow && wnd)
        if (const UINT dpi = getDpiForWindow(wnd)) return static_cast<int>(dpi);
    return SystemDpi();
}

core::Size ClientSizeAtDpi(HWND wnd, core::Size outer, int dpi) {
    using AdjustForDpiFn = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    static const auto adjustForDpi = User32Function<AdjustForDpiFn>("AdjustWindowRectExForDpi");
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(wnd, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(wnd, GWL_EXSTYLE));
    RECT frame{0, 0, 0, 0};
    // Without the per-dpi function the system metrics are those of the one dpi there is.
    if (!adjustForDpi || !adjustForDpi(&frame, style, FALSE, exStyle, static_cast<UINT>(dpi)))
        AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    return {outer.width - (frame.right - frame.left), outer.height - (frame.bottom - frame.top)};
}

} // namespace base
