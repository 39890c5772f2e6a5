#include "ui/BrowseDr.h"

#include "base/Handles.h"
#include "base/ScopeGuard.h"
#include "base/WinUtil.h"
#include "core/BrowseRules.h"

#include <vector>

namespace ui {

namespace {

// Control identifier of the status line in the shell's folder picker.
constexpr int kStatusLineId = 14147;

bool IsNtFamily() {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    return GetVersionExW(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

std::wstring PathOf(LPCITEMIDLIST list) {
    wchar_t buffer[MAX_PATH] = L"";
    if (!list || !SHGetPathFromIDListW(list, buffer)) return std::wstring();
    return buffer;
}

BOOL CALLBACK FindStatusLine(HWND child, LPARAM found) {
    if (GetDlgCtrlID(child) != kStatusLineId) return TRUE;
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
}

} // namespace

UINT TBrowseFlags::ShellFlags() const {
    UINT flags = 0;
    for (int i = bfDirectoriesOnly; i <= bfIncludeFiles; ++i)
        if (Contains(static_cast<TBrowseFlag>(i))) flags |= core::BrowseFlagValue(i);
    return flags;
}

TBrowseDirectoryDlg::TBrowseDirectoryDlg(HWND parent) : parent_(parent) {
    if (FAILED(SHGetMalloc(shellMalloc_.put()))) shellMalloc_.release();
}

TBrowseDirectoryDlg::~TBrowseDirectoryDlg() = default;

void TBrowseDirectoryDlg::SetSelectionPIDL(LPITEMIDLIST list) {
    if (list != selectionPIDL_.get()) selectionPIDL_.reset(list);
}

void TBrowseDirectoryDlg::SetSelection(const std::wstring& value) {
    if (value == selection_) return;
    selection_ = value;
    // A folder is kept with its trailing backslash; the picker gets it without (ShowSelection).
    if (!selection_.empty() && selection_.back() != L'\\' && IsDirectory(selection_))
        selection_ += L'\\';
    if (dialogHandle_) ShowSelection();
}

void TBrowseDirectoryDlg::SetStatusText(const std::wstring& value) {
    if (value == statusText_) return;
    statusText_ = value;
    if (dialogHandle_) {
        const std::wstring text = FittedStatusText();
        SendMessageW(dialogHandle_, BFFM_SETSTATUSTEXTW, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
}

void TBrowseDirectoryDlg::SetFitStatusText(bool value) {
    if (value == fitStatusText_) return;
    fitStatusText_ = value;
    if (dialogHandle_) {
        const std::wstring text = FittedStatusText();
        SendMessageW(dialogHandle_, BFFM_SETSTATUSTEXTW, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
}

void TBrowseDirectoryDlg::SetEnableOKButton(bool value) {
    if (value == enableOKButton_) return;
    enableOKButton_ = value;
    if (dialogHandle_) SendMessageW(dialogHandle_, BFFM_ENABLEOK, 0, value ? 1 : 0);
}

std::wstring TBrowseDirectoryDlg::Caption() const {
    if (!dialogHandle_) return caption_;
    std::vector<wchar_t> buffer(static_cast<std::size_t>(GetWindowTextLengthW(dialogHandle_)) + 1);
    const int n = GetWindowTextW(dialogHandle_, buffer.data(), static_cast<int>(buffer.size()));
    return std::wstring(buffer.data(), static_cast<std::size_t>(n > 0 ? n : 0));
}

void TBrowseDirectoryDlg::SetCaption(const std::wstring& value) {
    caption_ = value;
    if (dialogHandle_) SetWindowTextW(dialogHandle_, caption_.c_str());
}

bool TBrowseDirectoryDlg::Execute() {
    // COM stays initialised on this thread while the picker is up. SHBrowseForFolder needs a
    // single-threaded apartment; a thread that already has one gets S_FALSE and is balanced the
    // same way. A thread already in the multithreaded apartment (RPC_E_CHANGED_MODE) keeps it:
    // the classic picker used here (no BIF_NEWDIALOGSTYLE) still works there.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const auto uninitialize = base::ScopeExit([com] {
        if (SUCCEEDED(com)) CoUninitialize();
    });
    callbackError_ = nullptr;
    const bool wantStatus = !statusText_.empty() || showSelectionInStatus_;
    bool result = false;
    std::wstring path;
    // The shell's allocator is the COM task allocator: its blocks go back through CoTaskMemFree.
    base::TTaskMemory<ITEMIDLIST> item;

    if (shellMalloc_) {
        base::TTaskMemory<wchar_t> buffer(
            static_cast<wchar_t*>(shellMalloc_.get()->Alloc(MAX_PATH * sizeof(wchar_t))));
        if (buffer) {
            buffer.get()[0] = L'\0';
            // A root the shell cannot resolve leaves the list empty: the tree then starts at the
            // desktop.
            LPITEMIDLIST rootList = nullptr;
            if (FAILED(SHGetSpecialFolderLocation(
                    parent_, core::BrowseRootFolderNumber(root_, IsNtFamily()), &rootList)))
                rootList = nullptr;
            base::TTaskMemory<ITEMIDLIST> root(rootList);

            BROWSEINFOW info{};
            info.hwndOwner = parent_;
            info.pidlRoot = root.get();
            info.pszDisplayName = buffer.get();
            info.lpszTitle = title_.c_str();
            info.ulFlags = options_.ShellFlags() | (wantStatus ? BIF_STATUSTEXT : 0);
            info.lpfn = &TBrowseDirectoryDlg::BrowseCallback;
            info.lParam = reinterpret_cast<LPARAM>(this);
            item.reset(SHBrowseForFolderW(&info));

            if (item) {
                if (options_.Contains(bfComputers)) {
                    path = L"\\\\" + std::wstring(buffer.get());
                    if (SHGetPathFromIDListW(item.get(), buffer.get())) path = buffer.get();
                } else {
                    // An item without a file-system path (a printer, the control panel) gives an
                    // empty Selection, which callers take as nothing chosen.
                    path = SHGetPathFromIDListW(item.get(), buffer.get())
                               ? std::wstring(buffer.get())
                               : std::wstring();
                }
                imageIndex_ = info.iImage;
                result = true;
            }
        }
    }

    dialogHandle_ = nullptr;
    if (result) {
        selection_ = path;
        SetSelectionPIDL(item.release());
    } else {
        selection_.clear();
        SetSelectionPIDL(nullptr);
    }
    if (callbackError_) {
        std::exception_ptr error = callbackError_;
        callbackError_ = nullptr;
        std::rethrow_exception(error);
    }
    return result;
}

int CALLBACK TBrowseDirectoryDlg::BrowseCallback(HWND wnd, UINT msg, LPARAM param, LPARAM data) {
    auto* self = reinterpret_cast<TBrowseDirectoryDlg*>(data);
    try {
        if (msg == BFFM_INITIALIZED)
            self->DoInitialized(wnd);
        else if (msg == BFFM_SELCHANGED)
            self->DoSelChanged(wnd, reinterpret_cast<LPCITEMIDLIST>(param));
    } catch (...) {
        // The shell's frames must not be unwound: keep the error, close the picker as cancelled
        // and let Execute raise it once the shell has returned.
        if (!self->callbackError_) {
            self->callbackError_ = std::current_exception();
            PostMessageW(wnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        }
    }
    return 0;
}

void TBrowseDirectoryDlg::DoInitialized(HWND dialog) {
    dialogHandle_ = dialog;
    if (center_) base::CenterWindow(dialog, base::ScreenRect());
    SendMessageW(dialog, BFFM_ENABLEOK, 0, enableOKButton_ ? 1 : 0);
    if (!statusText_.empty()) {
        const std::wstring text = FittedStatusText();
        SendMessageW(dialog, BFFM_SETSTATUSTEXTW, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    if (!selection_.empty() || selectionPIDL_) ShowSelection();
    if (!caption_.empty()) SetWindowTextW(dialog, caption_.c_str());
    if (OnCreate) OnCreate(*this);
}

void TBrowseDirectoryDlg::DoSelChanged(HWND, LPCITEMIDLIST list) {
    if (!showSelectionInStatus_ && !OnSelChanged) return;
    const std::wstring path = PathOf(list);
    if (showSelectionInStatus_) SetStatusText(path);
    if (OnSelChanged) OnSelChanged(*this, path, list);
}

bool TBrowseDirectoryDlg::ParseSelection(LPITEMIDLIST& list) const {
    list = nullptr;
    base::TComRef<IShellFolder> desktop;
    if (FAILED(SHGetDesktopFolder(desktop.put())) || !desktop) return false;
    std::vector<wchar_t> name(selection_.begin(), selection_.end());
    name.push_back(L'\0');
    if (FAILED(desktop.get()->ParseDisplayName(dialogHandle_, nullptr, name.data(), nullptr, &list,
                                               nullptr)))
        list = nullptr;
    return true;
}

void TBrowseDirectoryDlg::ShowSelection() {
    if (!dialogHandle_) return;
    if (selection_.empty()) {
        if (!selectionPIDL_) return;
        selection_ = PathOf(selectionPIDL_.get());
        // A folder with a path goes as its text, the way a set selection goes (Wine's picker at
        // times leaves a held list unselected); a list without a path can only go as itself.
        if (!selection_.empty() && !selection_.starts_with(L"\\\\"))
            SendMessageW(dialogHandle_, BFFM_SETSELECTIONW, TRUE,
                         reinterpret_cast<LPARAM>(selection_.c_str()));
        else
            SendMessageW(dialogHandle_, BFFM_SETSELECTIONW, FALSE,
                         reinterpret_cast<LPARAM>(selectionPIDL_.get()));
        return;
    }
    if (selection_.starts_with(L"\\\\")) {
        // A network path reaches the picker only as a parsed list: as text it would be taken for
        // a path on the current drive.
        LPITEMIDLIST list = nullptr;
        if (ParseSelection(list) && list) {
            SetSelectionPIDL(list);
            SendMessageW(dialogHandle_, BFFM_SETSELECTIONW, FALSE, reinterpret_cast<LPARAM>(list));
        }
        return;
    }
    // A local path goes as text too, so the picker selects it even when it does not parse.
    LPITEMIDLIST list = nullptr;
    if (!ParseSelection(list)) return;
    if (list) SetSelectionPIDL(list);
    const std::wstring text = core::NormalizeSelection(selection_);
    SendMessageW(dialogHandle_, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(text.c_str()));
}

HWND TBrowseDirectoryDlg::StatusLine() const {
    HWND found = nullptr;
    if (dialogHandle_)
        EnumChildWindows(dialogHandle_, FindStatusLine, reinterpret_cast<LPARAM>(&found));
    return found;
}

std::wstring TBrowseDirectoryDlg::FittedStatusText() const {
    if (!fitStatusText_ || !dialogHandle_ || statusText_.empty()) return statusText_;
    HWND line = StatusLine();
    if (!line) return statusText_;
    const base::TWindowDC dc(line);
    if (!dc) return statusText_;
    const base::TSelectObject font(dc.get(),
                                   reinterpret_cast<HFONT>(SendMessageW(line, WM_GETFONT, 0, 0)));
    RECT r{};
    GetWindowRect(line, &r);
    const int available = r.right - r.left;
    auto width = [&dc](std::wstring_view text) {
        SIZE size{};
        if (!GetTextExtentPoint32W(dc.get(), text.data(), static_cast<int>(text.size()), &size))
            return 0;
        return static_cast<int>(size.cx);
    };
    return IsDirectory(statusText_) ? core::FitPath(width, available, statusText_)
                                    : core::FitText(width, available, statusText_);
}

bool TBrowseDirectoryDlg::IsDirectory(const std::wstring& s) {
    if (auto drive = core::DriveRootNumber(s)) return (GetLogicalDrives() >> *drive) & 1u;
    std::wstring name = s;
    if (!name.empty() && name.back() == L'\\') name.pop_back();
    // A wildcard would make the search match some other entry.
    if (name.empty() || name.find_first_of(L"*?") != std::wstring::npos) return false;
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileW(name.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    FindClose(find);
    return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

} // namespace ui
