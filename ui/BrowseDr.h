// BrowseDr: TBrowseDirectoryDlg, the shell's folder picker with a starting selection, a fitted
// status line, centring, a caption and a notification on every selection change.
#pragma once

#include "base/Handles.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <string>

namespace ui {

// Folder at the top of the tree.
enum TRootID {
    idDesktop,
    idInternet,
    idPrograms,
    idControlPanel,
    idPrinters,
    idPersonal,
    idFavorites,
    idStartup,
    idRecent,
    idSendTo,
    idRecycleBin,
    idStartMenu,
    idDesktopDirectory,
    idDrives,
    idNetwork,
    idNetHood,
    idFonts,
    idTemplates,
    idCommonStartMenu,
    idCommonPrograms,
    idCommonStartup,
    idCommonDesktopDirectory,
    idAppData,
    idPrintHood,
    idDesktopExpanded,
};

// What may be chosen.
enum TBrowseFlag {
    bfDirectoriesOnly,
    bfDomainOnly,
    bfAncestors,
    bfComputers,
    bfPrinters,
    bfIncludeFiles,
};

// A set of TBrowseFlag.
class TBrowseFlags {
public:
    constexpr TBrowseFlags() = default;
    constexpr TBrowseFlags(std::initializer_list<TBrowseFlag> flags) {
        for (TBrowseFlag f : flags)
            bits_ |= 1u << f;
    }
    constexpr bool Contains(TBrowseFlag f) const { return (bits_ >> f) & 1u; }
    constexpr void Include(TBrowseFlag f) { bits_ |= 1u << f; }
    constexpr void Exclude(TBrowseFlag f) { bits_ &= ~(1u << f); }
    constexpr bool operator==(const TBrowseFlags&) const = default;
    // The shell browse flags (BIF_...) of the members.
    UINT ShellFlags() const;

private:
    unsigned bits_ = 0;
};

class TBrowseDirectoryDlg;

// Sender, the new selection's file-system path (empty when it has none) and its identifier list
// (borrowed: valid only during the call).
using TBDSelChangedEvent = std::function<void(
    TBrowseDirectoryDlg& sender, const std::wstring& newSel, LPCITEMIDLIST newSelPIDL)>;
using TNotifyEvent = std::function<void(TBrowseDirectoryDlg& sender)>;

class TBrowseDirectoryDlg {
public:
    // parent owns the dialog while it is open; none for an unowned dialog.
    explicit TBrowseDirectoryDlg(HWND parent = nullptr);
    virtual ~TBrowseDirectoryDlg();
    TBrowseDirectoryDlg(const TBrowseDirectoryDlg&) = delete;
    TBrowseDirectoryDlg& operator=(const TBrowseDirectoryDlg&) = delete;

    // Shows the picker modally: true when the user chose an item (Selection and SelectionPIDL then
    // hold it), false on cancel or when nothing could be shown (both are then cleared). COM is
    // initialised on the calling thread for the call when it is not yet. An exception raised by
    // OnCreate or OnSelChanged closes the picker as cancelled and is rethrown from here.
    virtual bool Execute();

    HWND ParentWindow() const { return parent_; }
    void SetParentWindow(HWND parent) { parent_ = parent; }

    // Folder selected when the dialog opens; after Execute the chosen folder's path. An existing
    // folder set without its trailing backslash gets one.
    const std::wstring& Selection() const { return selection_; }
    void SetSelection(const std::wstring& value);

    const std::wstring& Title() const { return title_; }
    void SetTitle(const std::wstring& value) { title_ = value; }

    TRootID Root() const { return root_; }
    void SetRoot(TRootID value) { root_ = value; }

    TBrowseFlags Options() const { return options_; }
    void SetOptions(TBrowseFlags value) { options_ = value; }

    bool Center() const { return center_; }
    void SetCenter(bool value) { center_ = value; }

    const std::wstring& StatusText() const { return statusText_; }
    void SetStatusText(const std::wstring& value);

    bool FitStatusText() const { return fitStatusText_; }
    void SetFitStatusText(bool value);

    bool EnableOKButton() const { return enableOKButton_; }
    void SetEnableOKButton(bool value);

    // Index in the system image list of the image of the item last chosen; -1 before any choice.
    int ImageIndex() const { return imageIndex_; }

    // The open dialog's window text; the stored text otherwise. Empty keeps the shell's caption.
    std::wstring Caption() const;
    void SetCaption(const std::wstring& value);

    bool ShowSelectionInStatus() const { return showSelectionInStatus_; }
    void SetShowSelectionInStatus(bool value) { showSelectionInStatus_ = value; }

    // The chosen item's identifier list, owned by the component.
    LPCITEMIDLIST SelectionPIDL() const { return selectionPIDL_.get(); }
    // The open dialog; none outside Execute.
    HWND DialogHandle() const { return dialogHandle_; }

    TBDSelChangedEvent OnSelChanged;
    TNotifyEvent OnCreate;

    // True when s names an existing folder; a drive root ("C:\") when the drive is present.
    static bool IsDirectory(const std::wstring& s);

protected:
    // The dialog window exists and is not shown yet.
    virtual void DoInitialized(HWND dialog);
    // The selection in the tree changed to list.
    virtual void DoSelChanged(HWND dialog, LPCITEMIDLIST list);

    // The status text as sent: shortened to the status line when asked to and possible.
    std::wstring FittedStatusText() const;

private:
    static int CALLBACK BrowseCallback(HWND wnd, UINT msg, LPARAM param, LPARAM data);
    void ShowSelection();
    void SetSelectionPIDL(LPITEMIDLIST list);
    // Parses Selection in the desktop folder; false when there is no desktop folder. list is
    // none when the text does not parse.
    bool ParseSelection(LPITEMIDLIST& list) const;
    HWND StatusLine() const;

    HWND parent_;
    std::wstring selection_;
    std::wstring title_;
    TRootID root_ = idDesktop;
    TBrowseFlags options_;
    bool center_ = true;
    std::wstring statusText_;
    bool fitStatusText_ = true;
    bool enableOKButton_ = true;
    int imageIndex_ = -1;
    std::wstring caption_;
    bool showSelectionInStatus_ = false;

    HWND dialogHandle_ = nullptr;
    base::TTaskMemory<ITEMIDLIST> selectionPIDL_;
    base::TComRef<IMalloc> shellMalloc_;
    std::exception_ptr callbackError_;
};

} // namespace ui
