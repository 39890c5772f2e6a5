// xWindow: TfrmWindow, the target-window picker, and the descendant windows it lists.
#pragma once

#include "core/TargetRules.h"
#include "forms/Forms.h"
#include "picker/WindowsListUnit.h"
#include "ui/dxButtons.h"

#include <windows.h>

#include <array>
#include <string>
#include <vector>

namespace picker {

// The descendants of one top-level window in the order the system hands them out. The
// collection stops at the capacity, so the listing and the lookup below always see the same
// first 500.
struct TChildWindows {
    static constexpr int kCapacity = 500;
    int count = 0;
    std::array<HWND, kCapacity> handles{};
};

// Fills children with the descendants of wnd; returns their number.
int CollectChildWindows(HWND wnd, TChildWindows& children);
// One line per visible descendant of wnd: "[ CLASS ]  :  ", a tab and the title, upper-cased.
void ListChildWindows(HWND wnd, std::vector<std::wstring>& lines);
// The visible descendant of wnd at 0-based position n, counted as ListChildWindows counts its
// lines; nullptr when there are fewer.
HWND ChildWindowAt(HWND wnd, int n);

// What the picker reads of the main window and does to it, so that it needs nothing else of it.
class TCameraWindow {
public:
    virtual ~TCameraWindow() = default;
    // The main window's outer top-left corner, and the camera panel's top-left on the screen.
    virtual core::Point WindowCorner() = 0;
    virtual core::Point CameraOrigin() = 0;
    // The tool bar's and the status line's heights together.
    virtual int BarsHeight() = 0;
    // The program's own top-level windows, which cannot be chosen.
    virtual std::vector<HWND> OwnWindows() = 0;
    // Moves the main window and sizes its client area: top, left, client width, client height,
    // in that order.
    virtual void PlaceCamera(const core::CameraFit& fit) = 0;
};

// The modal picker: the desktop's windows as a tree (titles, and their visible descendants
// below them), the highlight frame around the selected one, and choosing one lays the camera
// panel exactly over it. Made afresh for every opening.
class TfrmWindow : public forms::TForm {
public:
    explicit TfrmWindow(TCameraWindow& camera);
    std::wstring ClassName() const override { return L"TfrmWindow"; }

    forms::TPanel* pnlWindow = nullptr;
    forms::TTreeView* trrWindow = nullptr;
    ui::TdxButton* btnOK = nullptr;
    ui::TdxButton* btnCan = nullptr;
    TWindowsList* WindowsList1 = nullptr;

    void FormCreate(forms::TObject* sender);
    void FormShow(forms::TObject* sender);
    void FormCloseQuery(forms::TObject* sender, bool& canClose);
    void trrWindowChange(forms::TObject* sender);
    void trrWindowCustomDrawItem(forms::TObject* sender, forms::TTreeItemDraw& item);
    void trrWindowDblClick(forms::TObject* sender);
    void trrWindowKeyDown(forms::TObject* sender, WORD& key, forms::TShiftState shift);
    void btnOKClick(forms::TObject* sender);
    void btnCanClick(forms::TObject* sender);

    // Lists the windows: each title, and below it its visible descendants' lines.
    void FillTree();
    // The top-level window of a node and the window it names (the same for a top-level node).
    struct TNodeWindows {
        HWND top = nullptr;
        HWND chosen = nullptr;
    };
    TNodeWindows ResolveNodeWindow(forms::TTreeNode node);
    // Lays the camera panel over wnd; false, and nothing moved, when wnd's rectangle cannot be
    // read.
    bool FitCameraToWindow(HWND wnd);

private:
    void ChooseSelected();

    TCameraWindow& camera_;
};

// The refusal shown when one of the program's own windows is chosen.
inline constexpr wchar_t kOwnWindowMessage[] = L"Zo/quarnelby　関係のウインドウは指定出来ません！！";

} // namespace picker
