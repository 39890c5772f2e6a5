#include "forms/SysControls.h"

#include "base/WinUtil.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

namespace forms {

namespace {

// The common part of the system controls' window: the class, subclassed after creation.
void SystemClass(TCreateParams& p, const wchar_t* className) {
    p.className = className;
    p.system = true;
    p.style &= ~WS_CLIPCHILDREN;
}

} // namespace

// --- TListBox -----------------------------------------------------------------------------

TListBox::TListBox(TWinControl* parent, const TListBoxArgs& a)
    : TWinControl(parent, a.bounds), border_(a.border) {
    SetTabStop(true);
    SetColor(a.color);
    SetTabOrder(a.tabOrder);
    OnKeyDown = a.onKeyDown;
    OnEnter = a.onEnter;
    OnExit = a.onExit;
}

void TListBox::CreateParams(TCreateParams& p) {
    TWinControl::CreateParams(p);
    SystemClass(p, L"LISTBOX");
    p.style |= WS_VSCROLL | LBS_NOTIFY | LBS_HASSTRINGS | LBS_NOINTEGRALHEIGHT;
    if (border_ == cbSingle) p.exStyle |= WS_EX_CLIENTEDGE;
}

HBRUSH TListBox::CtlColor(HDC dc) {
    if (brushColor_ != Color() || !brush_) {
        brush_.reset(CreateSolidBrush(ColorToRGB(Color())));
        brushColor_ = Color();
    }
    SetBkColor(dc, ColorToRGB(Color()));
    SetTextColor(dc, ColorToRGB(Font().Color()));
    return brush_.get();
}

// --- TComboBox ----------------------------------------------------------------------------

TComboBox::TComboBox(TWinControl* parent, const TComboBoxArgs& a)
    : TWinControl(parent, a.bounds), dropDownCount_(a.dropDownCount) {
    SetTabStop(true);
    SetCursor(a.cursor);
    SetTabOrder(a.tabOrder);
}

void TComboBox::CreateParams(TCreateParams& p) {
    TWinControl::CreateParams(p);
    SystemClass(p, L"COMBOBOX");
    p.style |= CBS_DROPDOWNLIST | CBS_HASSTRINGS | WS_VSCROLL;
    // The window's height is the closed box and the open list together (about 16 pixels an
    // item); the system sizes the closed box itself.
    p.bounds.height += dropDownCount_ * 16;
}

void TComboBox::Clear() {
    SendMessageW(Handle(), CB_RESETCONTENT, 0, 0);
}

void TComboBox::AddItem(const std::wstring& text) {
    SendMessageW(Handle(), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

int TComboBox::Count() {
    return static_cast<int>(SendMessageW(Handle(), CB_GETCOUNT, 0, 0));
}

std::wstring TComboBox::Item(int index) {
    const LRESULT n = SendMessageW(Handle(), CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (n == CB_ERR) return std::wstring();
    std::vector<wchar_t> text(static_cast<std::size_t>(n) + 1);
    SendMessageW(Handle(), CB_GETLBTEXT, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(text.data()));
    return text.data();
}

int TComboBox::ItemIndex() {
    return static_cast<int>(SendMessageW(Handle(), CB_GETCURSEL, 0, 0));
}

void TComboBox::SetItemIndex(int index) {
    // CB_SETCURSEL with an index outside the list clears the selection.
    SendMessageW(Handle(), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

// --- TEdit --------------------------------------------------------------------------------

TEdit::TEdit(TWinControl* parent, const TEditArgs& a) : TWinControl(parent, a.bounds) {
    SetTabStop(true);
    SetCaption(a.text);
    SetImeMode(a.imeMode);
    SetTabOrder(a.tabOrder);
}

void TEdit::CreateParams(TCreateParams& p) {
    TWinControl::CreateParams(p);
    SystemClass(p, L"EDIT");
    p.style |= ES_AUTOHSCROLL;
    p.exStyle |= WS_EX_CLIENTEDGE;
}

std::wstring TEdit::Text() {
    std::vector<wchar_t> text(static_cast<std::size_t>(GetWindowTextLengthW(Handle())) + 1);
    GetWindowTextW(Handle(), text.data(), static_cast<int>(text.size()));
    return text.data();
}

void TEdit::SetText(std::wstring v) {
    // The window's text may have been typed over since the caption was last set.
    SetWindowTextW(Handle(), v.c_str());
    SetCaption(std::move(v));
}

// --- TCheckBox ---------------------------------------------------------------------------

TCheckBox::TCheckBox(TWinControl* parent, const TCheckBoxArgs& a)
    : TWinControl(parent, a.bounds), checked_(a.checked) {
    SetTabStop(true);
    SetCaption(a.caption);
    SetTabOrder(a.tabOrder);
}

void TCheckBox::CreateParams(TCreateParams& p) {
    TWinControl::CreateParams(p);
    SystemClass(p, L"BUTTON");
    p.style |= BS_AUTOCHECKBOX;
}

void TCheckBox::HandleCreated() {
    SendMessageW(handle_, BM_SETCHECK, checked_ ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool TCheckBox::Checked() {
    if (HandleAllocated()) checked_ = SendMessageW(handle_, BM_GETCHECK, 0, 0) == BST_CHECKED;
    return checked_;
}

void TCheckBox::SetChecked(bool v) {
    checked_ = v;
    if (HandleAllocated()) SendMessageW(handle_, BM_SETCHECK, v ? BST_CHECKED : BST_UNCHECKED, 0);
}

// --- TTrackBar ----------------------------------------------------------------------------

TTrackBar::TTrackBar(TWinControl* parent, const TTrackBarArgs& a)
    : TWinControl(parent, a.bounds), min_(a.min), max_(std::max(a.min, a.max)),
      position_(std::clamp(a.position, min_, max_)) {
    SetTabStop(true);
    SetCursor(a.cursor);
    SetTabOrder(a.tabOrder);
    OnChange = a.onChange;
}

void TTrackBar::CreateParams(TCreateParams& p) {
    TWinControl::CreateParams(p);
    SystemClass(p, TRACKBAR_CLASSW);
    p.style |= TBS_HORZ | TBS_NOTICKS;
}

void TTrackBar::HandleCreated() {
    SendMessageW(handle_, TBM_SETRANGEMIN, FALSE, min_);
    SendMessageW(handle_, TBM_SETRANGEMAX, FALSE, max_);
    SendMessageW(handle_, TBM_SETPOS, TRUE, position_);
}

void TTrackBar::SetPosition(int v) {
    v = std::clamp(v, min_, max_);
    if (HandleAllocated()) SendMessageW(handle_, TBM_SETPOS, TRUE, v);
    PositionChanged(v);
}

void TTrackBar::Scrolled(WORD) {
    PositionChanged(static_cast<int>(SendMessageW(handle_, TBM_GETPOS, 0, 0)));
}

void TTrackBar::PositionChanged(int v) {
    if (v == position_) return;
    position_ = v;
    if (OnChange) OnChange(this);
}

// --- TTreeView ----------------------------------------------------------------------------

TTreeView::TTreeView(TWinControl* parent, const TTreeViewArgs& a)
    : TWinControl(parent, a.bounds), OnChange(a.onChange), OnDblClick(a.onDblClick),
      OnCustomDrawItem(a.onCustomDrawItem), indent_(a.indent), hideSelection_(a.hideSelection) {
    SetAlign(a.align);
    SetTabStop(true);
    SetCursor(a.cursor);
    SetTabOrder(a.tabOrder);
    OnKeyDown = a.onKeyDown;
}

void TTreeView::CreateParams(TCreateParams& p) {
    TWinControl::CreateParams(p);
    SystemClass(p, WC_TREEVIEWW);
    p.style |= TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT;
    if (!hideSelection_) p.style |= TVS_SHOWSELALWAYS;
    p.exStyle |= WS_EX_CLIENTEDGE;
}

void TTreeView::HandleCreated() {
    SendMessageW(handle_, TVM_SETINDENT, static_cast<WPARAM>(indent_), 0);
}

void TTreeView::Clear() {
    SendMessageW(Handle(), TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
}

TTreeNode TTreeView::Insert(TTreeNode parent, const std::wstring& text) {
    TVINSERTSTRUCTW insert{};
    insert.hParent = parent ? parent : TVI_ROOT;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT;
    insert.item.pszText = const_cast<wchar_t*>(text.c_str());
    return reinterpret_cast<TTreeNode>(
        SendMessageW(Handle(), TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
}

TTreeNode TTreeView::Add(const std::wstring& text) {
    return Insert(nullptr, text);
}

TTreeNode TTreeView::AddChild(TTreeNode parent, const std::wstring& text) {
    return Insert(parent, text);
}

void TTreeView::BeginUpdate() {
    if (updating_++ == 0) SendMessageW(Handle(), WM_SETREDRAW, FALSE, 0);
}

void TTreeView::EndUpdate() {
    if (updating_ == 0 || --updating_ > 0) return;
    SendMessageW(Handle(), WM_SETREDRAW, TRUE, 0);
    InvalidateRect(handle_, nullptr, TRUE);
}

TTreeNode TTreeView::Selected() {
    return TreeView_GetSelection(Handle());
}

void TTreeView::Select(TTreeNode node) {
    TreeView_SelectItem(Handle(), node);
}

TTreeNode TTreeView::FirstNode() {
    return TreeView_GetRoot(Handle());
}

TTreeNode TTreeView::Parent(TTreeNode node) {
    return node ? TreeView_GetParent(Handle(), node) : nullptr;
}

int TTreeView::Index(TTreeNode node) {
    int index = 0;
    for (TTreeNode n = TreeView_GetPrevSibling(Handle(), node); n;
         n = TreeView_GetPrevSibling(handle_, n))
        ++index;
    return index;
}

std::wstring TTreeView::Text(TTreeNode node) {
    std::vector<wchar_t> text(1024, L'\0');
    TVITEMW item{};
    item.mask = TVIF_TEXT;
    item.hItem = node;
    item.pszText = text.data();
    item.cchTextMax = static_cast<int>(text.size());
    if (!SendMessageW(Handle(), TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return {};
    return item.pszText ? std::wstring(item.pszText) : std::wstring();
}

std::vector<TTreeNode> TTreeView::Children(TTreeNode node) {
    std::vector<TTreeNode> nodes;
    for (TTreeNode n = node ? TreeView_GetChild(Handle(), node) : FirstNode(); n;
         n = TreeView_GetNextSibling(handle_, n))
        nodes.push_back(n);
    return nodes;
}

LRESULT TTreeView::Notify(NMHDR* hdr) {
    switch (hdr->code) {
    case TVN_SELCHANGEDW:
        if (OnChange) OnChange(this);
        return 0;
    case NM_DBLCLK:
        if (OnDblClick) OnDblClick(this);
        return 0;
    case NM_CUSTOMDRAW:
        return CustomDraw(*reinterpret_cast<NMTVCUSTOMDRAW*>(hdr));
    }
    return 0;
}

LRESULT TTreeView::CustomDraw(NMTVCUSTOMDRAW& draw) {
    if (!OnCustomDrawItem) return CDRF_DODEFAULT;
    if (draw.nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
    if (draw.nmcd.dwDrawStage != CDDS_ITEMPREPAINT) return CDRF_DODEFAULT;

    const auto node = reinterpret_cast<TTreeNode>(draw.nmcd.dwItemSpec);
    RECT text{};
    if (!TreeView_GetItemRect(handle_, node, &text, TRUE)) text = draw.nmcd.rc;
    // The handler starts from the colours the tree would use.
    COLORREF textColor = draw.clrText, background = draw.clrTextBk;
    {
        TCanvas canvas(draw.nmcd.hdc);
        canvas.SetFont(TFont(Font().Name(), Font().Height(), Font().Charset(), draw.clrText));
        canvas.SetBrushColor(draw.clrTextBk);
        const bool selected =
            (TreeView_GetItemState(handle_, node, TVIS_SELECTED) & TVIS_SELECTED) != 0;
        TTreeItemDraw item{canvas, node, selected, base::FromRECT(text)};
        OnCustomDrawItem(this, item);
        drawFont_ = canvas.Font();
        textColor = ColorToRGB(canvas.Font().Color());
        background = ColorToRGB(canvas.BrushColor());
    }
    // The tree goes on drawing the item in the handler's font and colours.
    SelectObject(draw.nmcd.hdc, drawFont_.Handle());
    draw.clrText = textColor;
    draw.clrTextBk = background;
    return CDRF_NEWFONT;
}

} // namespace forms
