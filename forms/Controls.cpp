#include "forms/Controls.h"

#include "forms/Forms.h"

#include "base/WinUtil.h"
#include "core/Exception.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <map>

namespace forms {

LRESULT CALLBACK ControlWindowProc(HWND, UINT, WPARAM, LPARAM) noexcept;
LRESULT CALLBACK ControlSubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR) noexcept;

namespace {

const wchar_t kControlClass[] = L"QuarnelbyControl";
const wchar_t kObjectProperty[] = L"QuarnelbyObject";

ATOM controlAtom = 0;
ATOM formAtom = 0;

const wchar_t kFormClass[] = L"QuarnelbyForm";

void RegisterClasses() {
    if (controlAtom) return;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = ControlWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.style = CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
    wc.lpszClassName = kControlClass;
    controlAtom = RegisterClassExW(&wc);
    wc.style = CS_DBLCLKS;
    wc.lpszClassName = kFormClass;
    formAtom = RegisterClassExW(&wc);
}

UINT TextAlignFlags(TAlignment a) {
    return a == taCenter ? DT_CENTER : a == taRightJustify ? DT_RIGHT : DT_LEFT;
}

bool InClient(HWND wnd, int x, int y) {
    RECT rc;
    GetClientRect(wnd, &rc);
    return x >= rc.left && x < rc.right && y >= rc.top && y < rc.bottom;
}

} // namespace

const wchar_t* FormWindowClass() {
    RegisterClasses();
    return kFormClass;
}

namespace {
TImeActivator imeActivator = nullptr;
} // namespace

void SetImeActivator(TImeActivator fn) {
    imeActivator = fn;
}

TShiftState KeyboardShiftState() {
    TShiftState s = 0;
    if (GetKeyState(VK_SHIFT) < 0) s |= ssShift;
    if (GetKeyState(VK_MENU) < 0) s |= ssAlt;
    if (GetKeyState(VK_CONTROL) < 0) s |= ssCtrl;
    return s;
}

// The one window procedure of the framework's own windows: the object comes with WM_NCCREATE
// and lives in GWLP_USERDATA until WM_NCDESTROY. Errors end here and are shown by the
// application; a handler may free its object (Release), so nothing touches it afterwards.
LRESULT CALLBACK ControlWindowProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
    TWinControl* self = nullptr;
    if (msg == WM_NCCREATE) {
        self = static_cast<TWinControl*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        if (self) self->handle_ = wnd;
    } else {
        self = reinterpret_cast<TWinControl*>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
    }
    if (!self) return DefWindowProcW(wnd, msg, wp, lp);
    LRESULT result = 0;
    try {
        result = self->Dispatch(msg, wp, lp);
    } catch (...) {
        Application.HandleException(std::current_exception());
    }
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(wnd, GWLP_USERDATA, 0);
        self->handle_ = nullptr;
    }
    return result;
}

// The same for the system's controls, which are subclassed after creation.
LRESULT CALLBACK ControlSubclassProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                     DWORD_PTR ref) noexcept {
    auto* self = reinterpret_cast<TWinControl*>(ref);
    LRESULT result = 0;
    try {
        result = self->Dispatch(msg, wp, lp);
    } catch (...) {
        Application.HandleException(std::current_exception());
    }
    if (msg == WM_NCDESTROY) {
        RemoveWindowSubclass(wnd, ControlSubclassProc, 1);
        RemovePropW(wnd, kObjectProperty);
        self->handle_ = nullptr;
    }
    return result;
}

// --- TWinControl --------------------------------------------------------------------------

TWinControl::TWinControl(TWinControl* parent, const core::Rect& bounds)
    : TComponent(parent ? parent->ParentForm() : nullptr), bounds_(bounds) {
    if (parent) {
        parent_ = parent;
        tabOrder_ = static_cast<int>(parent->children_.size());
        parent->children_.push_back(this);
    }
}

TWinControl::~TWinControl() {
    if (TForm* form = Owner()) form->ControlDestroyed(this);
    if (parent_) std::erase(parent_->children_, this);
    for (TWinControl* c : children_)
        c->parent_ = nullptr;
    if (handle_) {
        // No message reaches the half-destroyed object.
        if (systemClass_) {
            RemoveWindowSubclass(handle_, ControlSubclassProc, 1);
            RemovePropW(handle_, kObjectProperty);
        } else
            SetWindowLongPtrW(handle_, GWLP_USERDATA, 0);
        HWND h = handle_;
        handle_ = nullptr;
        DestroyWindow(h);
    }
}

HWND TWinControl::Handle() {
    if (!handle_) CreateHandle();
    return handle_;
}

TWinControl* TWinControl::FromHandle(HWND wnd) {
    if (!wnd || !controlAtom) return nullptr;
    ATOM atom = static_cast<ATOM>(GetClassWord(wnd, GCW_ATOM));
    if (atom == controlAtom || atom == formAtom)
        return reinterpret_cast<TWinControl*>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
    // Subclassed system controls carry their object in a window property (MinGW's comctl32
    // import library lacks GetWindowSubclass).
    return static_cast<TWinControl*>(GetPropW(wnd, kObjectProperty));
}

void TWinControl::CreateParams(TCreateParams& p) {
    p.style = WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    if (visible_) p.style |= WS_VISIBLE;
    if (!enabled_) p.style |= WS_DISABLED;
}

void TWinControl::CreateHandle() {
    RegisterClasses();
    HWND parentWnd = nullptr;
    if (parent_) {
        parentWnd = parent_->Handle();
        // A control declared at 96 dpi is made at its form's.
        ScaleTo(parent_->dpi_);
    } else if (TForm* main = Application.MainForm();
               main && main != this && main->HandleAllocated()) {
        parentWnd = main->Handle(); // forms are owned by the main form
    }
    TCreateParams p;
    p.bounds = bounds_;
    CreateParams(p);
    systemClass_ = p.system;
    const wchar_t* cls = p.className ? p.className : kControlClass;
    HWND wnd = CreateWindowExW(p.exStyle, cls, caption_.c_str(), p.style, p.bounds.left,
                               p.bounds.top, p.bounds.width, p.bounds.height, parentWnd, nullptr,
                               GetModuleHandleW(nullptr), p.system ? nullptr : this);
    if (!wnd) throw core::Exception(L"Error creating window: " + base::LastErrorText());
    handle_ = wnd;
    if (p.system) {
        SetWindowSubclass(wnd, ControlSubclassProc, 1, reinterpret_cast<DWORD_PTR>(this));
        SetPropW(wnd, kObjectProperty, this);
        sysFont_ = Font();
        SendMessageW(wnd, WM_SETFONT, reinterpret_cast<WPARAM>(sysFont_.Handle()), FALSE);
    }
    UpdateBoundsFromWindow();
    if (TForm* form = Owner(); form && !hint_.empty()) form->AddHint(this);
    HandleCreated();
}

TForm* TWinControl::ParentForm() {
    if (auto* f = dynamic_cast<TForm*>(this)) return f;
    return Owner();
}

void TWinControl::SetBounds(const core::Rect& r) {
    if (r == bounds_) return;
    bounds_ = r;
    if (handle_) {
        SetWindowPos(handle_, nullptr, r.left, r.top, r.width, r.height,
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
        UpdateBoundsFromWindow(); // the window may have refused or adjusted the change
    }
    if (align_ != alNone && parent_ && !parent_->aligning_) parent_->AlignControls();
}

void TWinControl::UpdateBoundsFromWindow() {
    if (!handle_) return;
    RECT rc;
    GetWindowRect(handle_, &rc);
    if (GetWindowLongPtrW(handle_, GWL_STYLE) & WS_CHILD) {
        HWND parentWnd = GetParent(handle_);
        MapWindowPoints(HWND_DESKTOP, parentWnd, reinterpret_cast<POINT*>(&rc), 2);
    }
    bounds_ = base::FromRECT(rc);
}

int TWinControl::ClientWidth() {
    if (!handle_) return bounds_.width;
    RECT rc;
    GetClientRect(handle_, &rc);
    return rc.right;
}

int TWinControl::ClientHeight() {
    if (!handle_) return bounds_.height;
    RECT rc;
    GetClientRect(handle_, &rc);
    return rc.bottom;
}

core::Point TWinControl::ClientOrigin() {
    POINT pt{0, 0};
    ClientToScreen(Handle(), &pt);
    return {pt.x, pt.y};
}

void TWinControl::SetVisible(bool v) {
    if (v == visible_) return;
    visible_ = v;
    if (handle_) ShowWindow(handle_, v ? SW_SHOWNA : SW_HIDE);
    if (align_ != alNone && parent_) parent_->AlignControls();
}

void TWinControl::SetEnabled(bool v) {
    if (v == enabled_) return;
    enabled_ = v;
    if (handle_) EnableWindow(handle_, v);
    EnabledChanged();
}

void TWinControl::Added() {
    Handle();
    // The system puts a new child window below its siblings; here the later one lies on top.
    if (parent_)
        SetWindowPos(handle_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    RememberAnchors();
}

void TWinControl::RememberAnchors() {
    if (!parent_) return;
    anchorRight_ = parent_->ClientWidth() - bounds_.Right();
    anchorBottom_ = parent_->ClientHeight() - bounds_.Bottom();
}

void TWinControl::AlignControls() {
    if (!handle_ || aligning_) return;
    if (TForm* f = ParentForm(); f && f->loading_) return;
    aligning_ = true;
    const int cw = ClientWidth(), ch = ClientHeight();
    core::Rect free{0, 0, cw, ch};
    auto ofKind = [&](TAlign a) {
        std::vector<TWinControl*> v;
        for (TWinControl* c : children_)
            if (c->align_ == a && c->visible_) v.push_back(c);
        return v;
    };
    // Top rows in their order from the top, bottom rows from the bottom, by design position.
    auto tops = ofKind(alTop);
    std::stable_sort(tops.begin(), tops.end(),
                     [](auto* a, auto* b) { return a->Top() < b->Top(); });
    for (TWinControl* c : tops) {
        c->SetBounds({free.left, free.top, free.width, c->Height()});
        free.top += c->Height();
        free.height -= c->Height();
    }
    auto bottoms = ofKind(alBottom);
    std::stable_sort(bottoms.begin(), bottoms.end(),
                     [](auto* a, auto* b) { return a->bounds_.Bottom() > b->bounds_.Bottom(); });
    for (TWinControl* c : bottoms) {
        free.height -= c->Height();
        c->SetBounds({free.left, free.Bottom(), free.width, c->Height()});
    }
    for (TWinControl* c : ofKind(alClient))
        c->SetBounds({free.left, free.top, std::max(0, free.width), std::max(0, free.height)});
    for (TWinControl* c : children_) {
        if (c->align_ != alNone) continue;
        core::Rect r = c->bounds_;
        if (c->anchors_ & akRight) {
            if (c->anchors_ & akLeft)
                r.width = cw - c->anchorRight_ - r.left;
            else
                r.left = cw - c->anchorRight_ - r.width;
        }
        if (c->anchors_ & akBottom) {
            if (c->anchors_ & akTop)
                r.height = ch - c->anchorBottom_ - r.top;
            else
                r.top = ch - c->anchorBottom_ - r.height;
        }
        c->SetBounds(r);
    }
    aligning_ = false;
}

void TWinControl::SetHint(std::wstring v) {
    if (v == hint_) return;
    hint_ = std::move(v);
    if (TForm* form = Owner(); form && handle_) {
        form->RemoveHint(this);
        form->AddHint(this);
    }
}

void TWinControl::SetColor(TColor v) {
    if (v == color_) return;
    color_ = v;
    Invalidate();
    for (TWinControl* c : children_)
        c->Invalidate();
}

const TFont& TWinControl::Font() const {
    if (parentFont_ && parent_) return parent_->Font();
    return font_;
}

void TWinControl::SetFont(const TFont& f) {
    font_ = f;
    parentFont_ = false;
    FontChanged();
    for (TWinControl* c : children_)
        c->ParentFontChanged();
}

void TWinControl::SetFont(const std::optional<TFont>& f) {
    if (f) SetFont(*f);
}

void TWinControl::ParentFontChanged() {
    if (!parentFont_) return;
    FontChanged();
    for (TWinControl* c : children_)
        c->ParentFontChanged();
}

void TWinControl::SetCaption(std::wstring v) {
    if (v == caption_) return;
    caption_ = std::move(v);
    if (handle_) SetWindowTextW(handle_, caption_.c_str());
    Invalidate();
}

void TWinControl::SetTabOrder(std::optional<int> v) {
    if (v) tabOrder_ = *v;
}

bool TWinControl::Focused() const {
    return handle_ && GetFocus() == handle_;
}

bool TWinControl::CanFocus() const {
    return handle_ && IsWindowVisible(handle_) && IsWindowEnabled(handle_);
}

void TWinControl::SetFocus() {
    TForm* form = ParentForm();
    if (form && form != this) {
        form->SetActiveControl(this);
    } else if (CanFocus()) {
        ::SetFocus(handle_);
    }
}

void TWinControl::Invalidate() {
    if (handle_) InvalidateRect(handle_, nullptr, TRUE);
}

void TWinControl::Repaint() {
    if (handle_) {
        InvalidateRect(handle_, nullptr, TRUE);
        UpdateWindow(handle_);
    }
}

void TWinControl::SendToBack() {
    SetWindowPos(Handle(), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

bool TWinControl::DialogKey(WORD, TShiftState) {
    return false;
}
bool TWinControl::DialogChar(wchar_t) {
    return false;
}
void TWinControl::FocusChanged(TWinControl*) {}

void TWinControl::Click() {
    if (OnClick) OnClick(this);
}

void TWinControl::MouseEnter() {
    if (OnMouseEnter) OnMouseEnter(this);
}

void TWinControl::MouseLeave() {
    if (OnMouseLeave) OnMouseLeave(this);
}

void TWinControl::DoKeyDown(WORD& key, TShiftState shift) {
    if (OnKeyDown) OnKeyDown(this, key, shift);
}

void TWinControl::DoEnter() {
    if (OnEnter) OnEnter(this);
}

void TWinControl::DoExit() {
    if (OnExit) OnExit(this);
}

HBRUSH TWinControl::CtlColor(HDC) {
    return nullptr;
}

TColor TWinControl::BackgroundColor() const {
    return parent_ ? parent_->color_ : color_;
}

// A key press reaches the form first when it previews keys, then the control's OnKeyDown;
// Tab moves the focus and Enter and Escape are offered to every control of the form, unless
// the control asks for those keys itself. True when the key was consumed.
bool TWinControl::HandleKeyDown(WORD& key) {
    const TShiftState shift = KeyboardShiftState();
    TForm* form = ParentForm();
    if (form && form != this && form->KeyPreview()) {
        form->DoKeyDown(key, shift);
        if (key == 0) return true;
    }
    DoKeyDown(key, shift);
    if (key == 0) return true;
    if (!form) return false;
    UINT want = 0;
    if (key == VK_TAB) want = DLGC_WANTTAB;
    if (key == VK_RETURN || key == VK_ESCAPE) want = DLGC_WANTALLKEYS;
    if (want == 0) return false;
    MSG m{handle_, WM_KEYDOWN, key, 0, 0, {}};
    if (SendMessageW(handle_, WM_GETDLGCODE, key, reinterpret_cast<LPARAM>(&m)) & want)
        return false;
    if (key == VK_TAB) {
        if (shift & (ssCtrl | ssAlt)) return false;
        form->SelectNext(!(shift & ssShift));
        return true;
    }
    return form->DispatchDialogKey(key, shift);
}

LRESULT TWinControl::Dispatch(UINT msg, WPARAM wp, LPARAM lp) {
    return WndProc(msg, wp, lp);
}

LRESULT TWinControl::DefaultHandler(UINT msg, WPARAM wp, LPARAM lp) {
    if (systemClass_) return DefSubclassProc(handle_, msg, wp, lp);
    return DefWindowProcW(handle_, msg, wp, lp);
}

LRESULT TWinControl::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_WINDOWPOSCHANGED:
        UpdateBoundsFromWindow();
        break;
    case WM_SIZE: {
        LRESULT r = DefaultHandler(msg, wp, lp);
        AlignControls();
        Resized();
        return r;
    }
    case WM_SETCURSOR:
        if (reinterpret_cast<HWND>(wp) == handle_ && LOWORD(lp) == HTCLIENT &&
            cursor_ != crDefault) {
            ::SetCursor(Application.Cursors[cursor_]);
            return TRUE;
        }
        break;
    case WM_MOUSEMOVE: {
        if (!mouseInside_) {
            mouseInside_ = true;
            TRACKMOUSEEVENT tme{sizeof tme, TME_LEAVE, handle_, 0};
            TrackMouseEvent(&tme);
            MouseEnter();
        }
        MouseMove(KeyboardShiftState(), GET_X_LPARAM(lp), GET_Y_LPARAM(lp));
        break;
    }
    case WM_MOUSELEAVE:
        if (mouseInside_) {
            mouseInside_ = false;
            MouseLeave();
        }
        break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN: {
        TMouseButton b = msg == WM_LBUTTONDOWN   ? mbLeft
                         : msg == WM_RBUTTONDOWN ? mbRight
                                                 : mbMiddle;
        MouseDown(b, KeyboardShiftState(), GET_X_LPARAM(lp), GET_Y_LPARAM(lp));
        break;
    }
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP: {
        TMouseButton b = msg == WM_LBUTTONUP ? mbLeft : msg == WM_RBUTTONUP ? mbRight : mbMiddle;
        MouseUp(b, KeyboardShiftState(), GET_X_LPARAM(lp), GET_Y_LPARAM(lp));
        break;
    }
    case WM_LBUTTONDBLCLK:
        DblClick();
        break;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: {
        WORD key = static_cast<WORD>(wp);
        if (keyPreprocessed_) {
            keyPreprocessed_ = false;
        } else if (HandleKeyDown(key)) {
            return 0;
        }
        KeyDown(key, KeyboardShiftState());
        if (key == 0) return 0;
        return DefaultHandler(msg, key, lp);
    }
    case WM_KEYUP:
    case WM_SYSKEYUP: {
        WORD key = static_cast<WORD>(wp);
        KeyUp(key, KeyboardShiftState());
        if (key == 0) return 0;
        return DefaultHandler(msg, key, lp);
    }
    case WM_CHAR:
    case WM_SYSCHAR: {
        TForm* form = ParentForm();
        bool offer =
            msg == WM_SYSCHAR || !(SendMessageW(handle_, WM_GETDLGCODE, wp, 0) & DLGC_WANTCHARS);
        if (form && offer && form->DispatchDialogChar(static_cast<wchar_t>(wp))) return 0;
        break;
    }
    case WM_SETFOCUS: {
        LRESULT r = DefaultHandler(msg, wp, lp);
        if ((!imeName_.empty() || imeMode_ != imDontCare) && imeActivator)
            imeActivator(handle_, imeName_, imeMode_);
        FocusReceived();
        if (TForm* form = ParentForm(); form && form != this) form->ControlFocused(this);
        return r;
    }
    case WM_KILLFOCUS: {
        LRESULT r = DefaultHandler(msg, wp, lp);
        FocusLost();
        return r;
    }
    case WM_COMMAND:
        if (lp) {
            TWinControl* c = FromHandle(reinterpret_cast<HWND>(lp));
            if (c && c != this) {
                c->Command(HIWORD(wp));
                return 0;
            }
        }
        break;
    case WM_HSCROLL:
    case WM_VSCROLL:
        if (TWinControl* c = FromHandle(reinterpret_cast<HWND>(lp)); c && c != this) {
            c->Scrolled(LOWORD(wp));
            return 0;
        }
        break;
    case WM_NOTIFY: {
        auto* hdr = reinterpret_cast<NMHDR*>(lp);
        TWinControl* c = FromHandle(hdr->hwndFrom);
        if (c && c != this) return c->Notify(hdr);
        break;
    }
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC: {
        TWinControl* c = FromHandle(reinterpret_cast<HWND>(lp));
        if (c && c != this)
            if (HBRUSH b = c->CtlColor(reinterpret_cast<HDC>(wp)))
                return reinterpret_cast<LRESULT>(b);
        break;
    }
    }
    return DefaultHandler(msg, wp, lp);
}

void TWinControl::ChangeScale(int to, int from) {
    if (!dynamic_cast<TForm*>(this)) bounds_ = core::ScaleBetween(bounds_, to, from);
    anchorRight_ = core::ScaleBetween(anchorRight_, to, from);
    anchorBottom_ = core::ScaleBetween(anchorBottom_, to, from);
    if (!parentFont_) font_ = font_.Scaled(to, from);
}

void TWinControl::ScaleTo(int dpi) {
    if (dpi == dpi_) return;
    ChangeScale(dpi, dpi_);
    dpi_ = dpi;
}

void TWinControl::FontChanged() {
    if (systemClass_ && handle_) {
        sysFont_ = Font();
        SendMessageW(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(sysFont_.Handle()), TRUE);
    }
    Invalidate();
}

// --- TCustomControl ---------------------------------------------------------------------

void TCustomControl::PaintTo(HDC dc) {
    TCanvas canvas(dc);
    Paint(canvas);
}

LRESULT TCustomControl::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        const base::TPaintDC paint(handle_);
        const HDC dc = paint.get();
        RECT rc;
        GetClientRect(handle_, &rc);
        if (dc && rc.right > 0 && rc.bottom > 0) {
            TMemoryDC mem(CreateCompatibleDC(dc));
            TBitmapHandle bmp(CreateCompatibleBitmap(dc, rc.right, rc.bottom));
            TSelectObject sel(mem.get(), bmp.get());
            PaintTo(mem.get());
            BitBlt(dc, 0, 0, rc.right, rc.bottom, mem.get(), 0, 0, SRCCOPY);
        }
        return 0;
    }
    case WM_PRINTCLIENT:
        PaintTo(reinterpret_cast<HDC>(wp));
        return 0;
    }
    return TWinControl::WndProc(msg, wp, lp);
}

// --- TPanel -------------------------------------------------------------------------------

TPanel::TPanel(TWinControl* parent, const TPanelArgs& a)
    : TCustomControl(parent, a.bounds), bevelOuter_(a.bevelOuter), alignment_(a.alignment) {
    SetAlign(a.align);
    SetColor(a.color);
    SetFont(a.font);
    SetTabOrder(a.tabOrder);
}

void TPanel::Paint(TCanvas& canvas) {
    RECT rc{0, 0, Width(), Height()};
    canvas.SetBrushColor(Color());
    canvas.FillRect({0, 0, Width(), Height()});
    if (bevelOuter_ != bvNone) {
        DrawEdge(canvas.Handle(), &rc, bevelOuter_ == bvRaised ? BDR_RAISEDINNER : BDR_SUNKENOUTER,
                 BF_RECT | BF_ADJUST);
    }
    if (Caption().empty()) return;
    core::Rect r = base::FromRECT(rc);
    canvas.SetFont(Font());
    canvas.SetBrushStyle(bsClear);
    canvas.DrawText(Caption(), r,
                    DT_EXPANDTABS | DT_VCENTER | DT_SINGLELINE | TextAlignFlags(alignment_));
}

// --- TLabel -------------------------------------------------------------------------------

TLabel::TLabel(TWinControl* parent, const TLabelArgs& a)
    : TCustomControl(parent, a.bounds), autoSize_(a.autoSize), alignment_(a.alignment) {
    SetFont(a.font);
    SetCaption(a.caption);
    AdjustSize();
}

void TLabel::SetCaption(std::wstring v) {
    TCustomControl::SetCaption(std::move(v));
    AdjustSize();
}

void TLabel::Added() {
    TCustomControl::Added();
    AdjustSize(); // in the font at the form's dpi
    // Text lies under the controls beside it: where a long caption reaches a box, the box shows.
    SendToBack();
}

void TLabel::FontChanged() {
    TCustomControl::FontChanged();
    AdjustSize();
}

void TLabel::AdjustSize() {
    if (!autoSize_) return;
    // An empty text keeps the height of a line.
    std::wstring text = Caption().empty() ? L" " : Caption();
    TWindowDC screen(nullptr);
    core::Rect r;
    {
        TCanvas canvas(screen.get());
        canvas.SetFont(Font());
        canvas.DrawText(text, r, DT_CALCRECT | DT_EXPANDTABS | DT_LEFT);
    }
    SetBounds({Left(), Top(), r.width, r.height});
}

void TLabel::Paint(TCanvas& canvas) {
    canvas.SetBrushColor(BackgroundColor());
    canvas.FillRect({0, 0, Width(), Height()});
    canvas.SetFont(Font());
    canvas.SetBrushStyle(bsClear);
    core::Rect r{0, 0, Width(), Height()};
    canvas.DrawText(Caption(), r, DT_EXPANDTABS | TextAlignFlags(alignment_));
}

// --- TGroupBox ----------------------------------------------------------------------------

TGroupBox::TGroupBox(TWinControl* parent, const TGroupBoxArgs& a)
    : TCustomControl(parent, a.bounds) {
    SetCaption(a.caption);
    SetTabOrder(a.tabOrder);
}

void TGroupBox::Paint(TCanvas& canvas) {
    canvas.SetBrushColor(Color());
    canvas.FillRect({0, 0, Width(), Height()});
    canvas.SetFont(Font());
    const SIZE text = canvas.TextExtent(Caption().empty() ? L"0" : Caption());
    RECT frame{0, text.cy / 2, Width(), Height()};
    DrawEdge(canvas.Handle(), &frame, EDGE_ETCHED, BF_RECT);
    if (Caption().empty()) return;
    // The caption interrupts the frame's top edge on the group's own colour.
    canvas.TextRect({8, 0, text.cx + 2, text.cy}, 9, 0, Caption());
}

// --- TImage -------------------------------------------------------------------------------

TImage::TImage(TWinControl* parent, const TImageArgs& a)
    : TCustomControl(parent, a.bounds), autoSize_(a.autoSize) {
    SetVisible(a.visible);
    if (a.picture && (picture_.LoadIcon(a.picture) || picture_.LoadBitmap(a.picture)) && autoSize_)
        SetBounds({Left(), Top(), picture_.Width(), picture_.Height()});
}

void TImage::SetPicture(const TPicture& p) {
    picture_.Assign(p);
    if (autoSize_ && !picture_.Empty())
        SetBounds({Left(), Top(), picture_.Width(), picture_.Height()});
    Invalidate();
}

void TImage::Paint(TCanvas& canvas) {
    canvas.SetBrushColor(BackgroundColor());
    canvas.FillRect({0, 0, Width(), Height()});
    canvas.Draw(0, 0, picture_);
}

// --- TSpeedButton -------------------------------------------------------------------------

TSpeedButton::TSpeedButton(TWinControl* parent, const TSpeedButtonArgs& a)
    : TCustomControl(parent, a.bounds), groupIndex_(a.groupIndex), allowAllUp_(a.allowAllUp),
      transparent_(a.transparent) {
    SetAnchors(a.anchors);
    SetCursor(a.cursor);
    SetHint(a.hint);
    if (a.glyph) glyph_.LoadBitmap(a.glyph);
    OnClick = a.onClick;
}

void TSpeedButton::SetDown(bool v) {
    if (groupIndex_ == 0) v = false;
    if (v == down_) return;
    if (down_ && !allowAllUp_) return; // one button of the group stays down
    down_ = v;
    Invalidate();
    if (!v || !Parent()) return;
    for (TWinControl* c : Parent()->Controls()) {
        auto* b = dynamic_cast<TSpeedButton*>(c);
        if (b && b != this && b->groupIndex_ == groupIndex_ && b->down_) {
            b->down_ = false;
            b->Invalidate();
        }
    }
}

LRESULT TSpeedButton::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_LBUTTONDBLCLK: // a quick second click is a click
        MouseDown(mbLeft, KeyboardShiftState(), GET_X_LPARAM(lp), GET_Y_LPARAM(lp));
        return 0;
    case WM_CAPTURECHANGED:
        if (pressing_ && reinterpret_cast<HWND>(lp) != handle_) {
            pressing_ = false;
            Invalidate();
        }
        break;
    }
    return TCustomControl::WndProc(msg, wp, lp);
}

void TSpeedButton::MouseDown(TMouseButton button, TShiftState, int, int) {
    if (button != mbLeft || !Enabled()) return;
    pressing_ = true;
    SetCapture(handle_);
    Invalidate();
}

void TSpeedButton::MouseMove(TShiftState, int, int) {
    if (pressing_) Invalidate();
}

void TSpeedButton::MouseUp(TMouseButton button, TShiftState, int x, int y) {
    if (button != mbLeft || !pressing_) return;
    pressing_ = false;
    if (GetCapture() == handle_) ReleaseCapture();
    Invalidate();
    if (!InClient(handle_, x, y)) return;
    Click();
}

void TSpeedButton::Click() {
    if (groupIndex_ != 0) SetDown(!down_);
    TCustomControl::Click();
}

void TSpeedButton::MouseEnter() {
    Invalidate();
    TCustomControl::MouseEnter();
}

void TSpeedButton::MouseLeave() {
    Invalidate();
    TCustomControl::MouseLeave();
}

void TSpeedButton::Paint(TCanvas& canvas) {
    const int w = Width(), h = Height();
    POINT cursor{};
    GetCursorPos(&cursor);
    ScreenToClient(handle_, &cursor);
    const bool over = mouseInside_ && InClient(handle_, cursor.x, cursor.y);
    const bool sunken = down_ || (pressing_ && over);
    COLORREF back = ColorToRGB(transparent_ ? BackgroundColor() : Color());
    if (down_ && !(pressing_ && over)) {
        // A button that stays down shows a lighter face, like the system's checked buttons.
        back = RGB((GetRValue(back) + 255) / 2, (GetGValue(back) + 255) / 2,
                   (GetBValue(back) + 255) / 2);
    }
    canvas.SetBrushColor(back);
    canvas.FillRect({0, 0, w, h});
    RECT rc{0, 0, w, h};
    if (sunken)
        DrawEdge(canvas.Handle(), &rc, BDR_SUNKENOUTER, BF_RECT);
    else if (over && Enabled())
        DrawEdge(canvas.Handle(), &rc, BDR_RAISEDINNER, BF_RECT);
    if (!glyph_.Empty()) {
        const int off = sunken ? 1 : 0;
        canvas.Draw((w - glyph_.Width()) / 2 + off, (h - glyph_.Height()) / 2 + off, glyph_, true);
    }
}

// --- TBevel -------------------------------------------------------------------------------

void TBevel::Paint(TCanvas& canvas) {
    canvas.SetBrushColor(BackgroundColor());
    canvas.FillRect({0, 0, Width(), Height()});
    canvas.SetPenColor(clBtnShadow);
    canvas.Line(0, 0, 0, Height());
    canvas.SetPenColor(clBtnHighlight);
    canvas.Line(1, 0, 1, Height());
}

// --- TShape -------------------------------------------------------------------------------

TShape::TShape(TWinControl* parent, const TShapeArgs& a)
    : TCustomControl(parent, a.bounds), brushColor_(a.brushColor), penColor_(a.penColor),
      penWidth_(std::max(0, a.penWidth)) {
    SetAlign(a.align);
}

void TShape::SetPenColor(TColor v) {
    if (v == penColor_) return;
    penColor_ = v;
    Invalidate();
}

void TShape::Paint(TCanvas& canvas) {
    const int w = Width(), h = Height(), pen = std::min({penWidth_, w / 2, h / 2});
    canvas.SetBrushColor(penColor_);
    canvas.FillRect({0, 0, w, h});
    canvas.SetBrushColor(brushColor_);
    canvas.FillRect({pen, pen, w - 2 * pen, h - 2 * pen});
}

// --- TTimer -------------------------------------------------------------------------------

namespace {

// The running timers by their thread timer's id.
std::map<UINT_PTR, TTimer*>& RunningTimers() {
    static std::map<UINT_PTR, TTimer*> timers;
    return timers;
}

} // namespace

TTimer::TTimer(TForm* owner, const TTimerArgs& a)
    : TComponent(owner), OnTimer(a.onTimer), interval_(a.interval) {
    SetEnabled(a.enabled);
}

TTimer::~TTimer() {
    Stop();
}

void TTimer::SetEnabled(bool v) {
    if (v == enabled_) return;
    enabled_ = v;
    if (v)
        Start();
    else
        Stop();
}

void TTimer::Start() {
    id_ = SetTimer(nullptr, 0, interval_, &TTimer::Tick);
    if (id_) RunningTimers()[id_] = this;
}

void TTimer::Stop() {
    if (!id_) return;
    KillTimer(nullptr, id_);
    RunningTimers().erase(id_);
    id_ = 0;
}

void CALLBACK TTimer::Tick(HWND, UINT, UINT_PTR id, DWORD) {
    // A tick already queued when the timer stopped finds no timer and is dropped.
    const auto found = RunningTimers().find(id);
    if (found == RunningTimers().end()) return;
    TTimer* timer = found->second;
    try {
        if (timer->OnTimer) timer->OnTimer(timer);
    } catch (...) {
        Application.HandleException(std::current_exception());
    }
}

} // namespace forms
