#include "base/WinUtil.h"

namespace base {

namespace {

std::optional<core::MonitorArea> AreaOf(HMONITOR monitor, bool* primary = nullptr) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!monitor || !GetMonitorInfoW(monitor, &info)) return std::nullopt;
    if (primary) *primary = info.dwFlags & MONITORINFOF_PRIMARY;
    return core::MonitorArea{FromRECT(info.rcMonitor), FromRECT(info.rcWork)};
}

BOOL CALLBACK CollectMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM param) {
    auto& monitors = *reinterpret_cast<std::vector<core::MonitorArea>*>(param);
    bool primary = false;
    if (const std::optional<core::MonitorArea> area = AreaOf(monitor, &primary))
        monitors.insert(primary ? monitors.begin() : monitors.end(), *area);
    return TRUE;
}

} // namespace

core::Rect ScreenRect() {
    return {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

std::optional<core::Rect> WorkArea() {
    RECT rc{};
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &rc, 0)) return std::nullopt;
    return FromRECT(rc);
}

core::Rect WorkAreaOrScreen() {
    return WorkArea().value_or(ScreenRect());
}

std::optional<core::MonitorArea> MonitorOf(HWND wnd) {
    return AreaOf(MonitorFromWindow(wnd, MONITOR_DEFAULTTONEAREST));
}

std::vector<core::MonitorArea> Monitors() {
    std::vector<core::MonitorArea> monitors;
    (void)EnumDisplayMonitors(nullptr, nullptr, CollectMonitor,
                              reinterpret_cast<LPARAM>(&monitors));
    return monitors;
}

std::optional<core::Rect> WindowRect(HWND wnd) {
    RECT rc{};
    if (!wnd || !GetWindowRect(wnd, &rc)) return std::nullopt;
    return FromRECT(rc);
}

bool CenterWindow(HWND wnd, const core::Rect& area) {
    const std::optional<core::Rect> r = WindowRect(wnd);
    if (!r) return false;
    const core::Point p = core::CenteredIn(r->Extent(), area);
    SetWindowPos(wnd, nullptr, p.x, p.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return true;
}

std::wstring LastErrorText(DWORD error) {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = n && buffer ? std::wstring(buffer, n) : L"error " + std::to_wstring(error);
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    return text;
}

} // namespace base
