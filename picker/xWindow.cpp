#include "picker/xWindow.h"

#include "base/WinUtil.h"
#include "picker/xTarget.h"
#include "ui/IMECtrl.h"
#include "ui/xConfirm.h"

#include <algorithm>

namespace picker {

using namespace forms;

namespace {

BOOL CALLBACK CollectOne(HWND wnd, LPARAM param) {
    auto& children = *reinterpret_cast<TChildWindows*>(param);
    children.handles[static_cast<std::size_t>(children.count++)] = wnd;
    return children.count < TChildWindows::kCapacity;
}

std::wstring UpperCased(std::wstring text) {
    if (!text.empty()) CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

// The window's rectangle as the picker takes it; none when it cannot be read (the window is
// gone).
std::optional<core::Rect> TargetBoxOf(HWND wnd) {
    RECT r{};
    if (!wnd || !GetWindowRect(wnd, &r)) return std::nullopt;
    return core::TargetBox(r.left, r.top, r.right, r.bottom);
}

} // namespace

int CollectChildWindows(HWND wnd, TChildWindows& children) {
    children.count = 0;
    EnumChildWindows(wnd, CollectOne, reinterpret_cast<LPARAM>(&children));
    return children.count;
}

void ListChildWindows(HWND wnd, std::vector<std::wstring>& lines) {
    lines.clear();
    TChildWindows children;
    CollectChildWindows(wnd, children);
    for (int i = 0; i < children.count; ++i) {
        const HWND child = children.handles[static_cast<std::size_t>(i)];
        if (!IsWindowVisible(child)) continue;
        wchar_t className[100] = L"";
        const int classLength = std::max(0, GetClassNameW(child, className, 100));
        std::wstring title(static_cast<std::size_t>(GetWindowTextLengthW(child)) + 1, L'\0');
        title.resize(static_cast<std::size_t>(
            std::max(0, GetWindowTextW(child, title.data(), static_cast<int>(title.size())))));
        lines.push_back(core::ChildLine(
            UpperCased(std::wstring(className, static_cast<std::size_t>(classLength))),
            UpperCased(title)));
    }
}

HWND ChildWindowAt(HWND wnd, int n) {
    TChildWindows children;
    CollectChildWindows(wnd, children);
    int visible = 0;
    for (int i = 0; i < children.count; ++i) {
        const HWND child = children.handles[static_cast<std::size_t>(i)];
        if (IsWindowVisible(child) && visible++ == n) return child;
    }
    return nullptr;
}

TfrmWindow::TfrmWindow(TCameraWindow& camera)
    : TForm({.caption = L"Target Window",
             .clientSize = core::Size{432, 484},
             .borderStyle = bsSingle,
             .borderIcons = biSystemMenu,
             .position = poScreenCenter,
             .font = JapaneseFont(-12),
             .onCreate = [this](TObject* s) { FormCreate(s); },
             .onShow = [this](TObject* s) { FormShow(s); },
             .onCloseQuery = [this](TObject* s, bool& canClose) { FormCloseQuery(s, canClose); }}),
      camera_(camera) {
    auto handler = [this](void (TfrmWindow::*f)(TObject*)) {
        return [this, f](TObject* s) { (this->*f)(s); };
    };
    pnlWindow = Add<TPanel>(this, {.bounds = {0, 0, 432, 444}, .align = alTop});
    trrWindow = Add<TTreeView>(
        pnlWindow,
        {.align = alClient,
         .indent = 19,
         .hideSelection = false,
         .cursor = crHandPoint,
         .tabOrder = 0,
         .onChange = handler(&TfrmWindow::trrWindowChange),
         .onCustomDrawItem = [this](TObject* s,
                                    TTreeItemDraw& item) { trrWindowCustomDrawItem(s, item); },
         .onDblClick = handler(&TfrmWindow::trrWindowDblClick),
         .onKeyDown = [this](TObject* s, WORD& key,
                             TShiftState shift) { trrWindowKeyDown(s, key, shift); }});
    btnOK = Add<ui::TdxButton>(this, {.bounds = {264, 451, 75, 25},
                                      .caption = L"OK",
                                      .isDefault = true,
                                      .onClick = handler(&TfrmWindow::btnOKClick)});
    btnCan = Add<ui::TdxButton>(this, {.bounds = {350, 451, 75, 25},
                                       .caption = L"Cancel",
                                       .cancel = true,
                                       .onClick = handler(&TfrmWindow::btnCanClick)});
    WindowsList1 = Add<TWindowsList>(this, {.acceptEmptyNames = false});
    Loaded();
}

void TfrmWindow::FormCreate(TObject*) {
    ui::ReplaceCursor(*this, crHandPoint, 1);
}

void TfrmWindow::FormShow(TObject*) {
    FillTree();
    if (frmTarget) frmTarget->Show();
}

void TfrmWindow::FormCloseQuery(TObject*, bool& canClose) {
    if (frmTarget) frmTarget->Close();
    canClose = true;
}

void TfrmWindow::FillTree() {
    WindowsList1->Refresh();
    const std::vector<TWindowsListEntry> windows = WindowsList1->TheWindowsList();
    trrWindow->Clear();
    trrWindow->BeginUpdate();
    std::vector<std::wstring> lines;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        const TTreeNode node = trrWindow->Add(windows[i].title);
        ListChildWindows(WindowsList1->GetHandle(static_cast<int>(i)), lines);
        for (const std::wstring& line : lines)
            trrWindow->AddChild(node, line);
    }
    trrWindow->EndUpdate();
    if (const TTreeNode first = trrWindow->FirstNode()) trrWindow->Select(first);
}

TfrmWindow::TNodeWindows TfrmWindow::ResolveNodeWindow(TTreeNode node) {
    TTreeNode top = node;
    while (const TTreeNode above = trrWindow->Parent(top))
        top = above;
    TNodeWindows windows;
    windows.top = WindowsList1->GetHandle(trrWindow->Index(top));
    windows.chosen = top == node ? windows.top : ChildWindowAt(windows.top, trrWindow->Index(node));
    return windows;
}

void TfrmWindow::trrWindowChange(TObject*) {
    const TTreeNode node = trrWindow->Selected();
    if (!node || !frmTarget) return;
    // A window gone since the tree was filled moves nothing.
    const std::optional<core::Rect> box = TargetBoxOf(ResolveNodeWindow(node).chosen);
    if (!box) return;
    const core::Rect frame = core::HighlightBounds(*box);
    frmTarget->SetTop(frame.top);
    frmTarget->SetLeft(frame.left);
    frmTarget->SetWidth(frame.width);
    frmTarget->SetHeight(frame.height);
}

void TfrmWindow::trrWindowCustomDrawItem(TObject*, TTreeItemDraw& item) {
    TCanvas& canvas = item.canvas;
    canvas.SetFont(TFont(kJapaneseFontName, Scale(-12), SHIFTJIS_CHARSET, clBlack,
                         item.selected ? unsigned{fsBold} : 0u));
    if (item.selected) canvas.SetBrushColor(clLime);
    canvas.FillRect(item.textRect);
    canvas.TextRect(item.textRect, item.textRect.left, item.textRect.top + 1,
                    trrWindow->Text(item.node));
}

void TfrmWindow::trrWindowDblClick(TObject*) {
    ChooseSelected();
}

void TfrmWindow::trrWindowKeyDown(TObject*, WORD& key, TShiftState) {
    if (key != VK_RETURN) return;
    // Handled here, so the default button does not choose a second time.
    key = 0;
    ChooseSelected();
}

void TfrmWindow::btnOKClick(TObject*) {
    ChooseSelected();
}

void TfrmWindow::btnCanClick(TObject*) {
    Close();
}

void TfrmWindow::ChooseSelected() {
    const TTreeNode node = trrWindow->Selected();
    if (!node) return;
    const TNodeWindows windows = ResolveNodeWindow(node);
    const std::vector<HWND> own = camera_.OwnWindows();
    if (std::find(own.begin(), own.end(), windows.top) != own.end()) {
        ui::ShowConfirm(this, L"Zo/quarnelby", kOwnWindowMessage, L"i", L"Y", 1);
        return;
    }
    // A window gone since the tree was filled moves nothing, and the picker stays open.
    if (FitCameraToWindow(windows.chosen)) Close();
}

bool TfrmWindow::FitCameraToWindow(HWND wnd) {
    const std::optional<core::Rect> box = TargetBoxOf(wnd);
    if (!box) return false;
    const core::Point corner = camera_.WindowCorner(), camera = camera_.CameraOrigin();
    // The clamps are those of the work area of the target's monitor.
    const std::optional<core::MonitorArea> monitor = base::MonitorOf(wnd);
    camera_.PlaceCamera(core::FitCameraToWindow(
        *box, {camera.x - corner.x, camera.y - corner.y}, camera_.BarsHeight(),
        monitor ? std::optional(monitor->work) : std::nullopt,
        monitor ? monitor->bounds.Origin() : core::Point{}));
    return true;
}

} // namespace picker
