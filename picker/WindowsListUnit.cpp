#include "picker/WindowsListUnit.h"

namespace picker {

TWindowsList::TWindowsList(forms::TForm* owner, const TWindowsListArgs& a)
    : forms::TComponent(owner), acceptEmptyNames_(a.acceptEmptyNames) {}

void TWindowsList::Refresh() {
    list_.clear();
    for (HWND wnd = FindWindowW(nullptr, nullptr); wnd; wnd = GetWindow(wnd, GW_HWNDNEXT))
        AddWindow(wnd);
}

void TWindowsList::AddWindow(HWND wnd) {
    wchar_t title[255] = L"";
    const int n = GetWindowTextW(wnd, title, 255);
    const bool titled = n > 0;
    if ((acceptEmptyNames_ || titled) && IsWindowVisible(wnd))
        list_.push_back({std::wstring(title, n > 0 ? static_cast<std::size_t>(n) : 0), {wnd}});
}

HWND TWindowsList::GetHandle(int index) const {
    return list_.at(static_cast<std::size_t>(index)).info.Handle;
}

} // namespace picker
