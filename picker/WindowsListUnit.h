// WindowsListUnit: TWindowsList, the visible top-level windows with their titles, top first.
#pragma once

#include "forms/Forms.h"

#include <windows.h>

#include <string>
#include <vector>

namespace picker {

// One listed window.
struct TWindowInfo {
    HWND Handle = nullptr;
};

struct TWindowsListEntry {
    std::wstring title; // as the system returns it, at most 254 characters
    TWindowInfo info;
};

struct TWindowsListArgs {
    bool acceptEmptyNames = false;
};

// The top-level windows in stacking order, from the top down, that are visible and (unless
// AcceptEmptyNames) have a title. Nothing else is left out: minimised windows, tool windows and
// the program's own windows are listed like any other.
class TWindowsList : public forms::TComponent {
public:
    using Args = TWindowsListArgs;
    explicit TWindowsList(forms::TForm* owner, const TWindowsListArgs& a = {});
    std::wstring ClassName() const override { return L"TWindowsList"; }

    const std::vector<TWindowsListEntry>& TheWindowsList() const { return list_; }
    bool AcceptEmptyNames() const { return acceptEmptyNames_; }
    void SetAcceptEmptyNames(bool v) { acceptEmptyNames_ = v; }

    // Lists the top-level windows afresh.
    void Refresh();
    // Appends wnd when it qualifies.
    void AddWindow(HWND wnd);
    // The window of the entry at index (0-based, within the list).
    HWND GetHandle(int index) const;

private:
    std::vector<TWindowsListEntry> list_;
    bool acceptEmptyNames_;
};

} // namespace picker
