#include "forms/SysControls.h"

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

} // namespace forms
