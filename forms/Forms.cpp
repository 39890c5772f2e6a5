#include "forms/Forms.h"

#include "base/Dpi.h"
#include "base/WinUtil.h"
#include "core/Exception.h"

#include <commctrl.h>

#include <algorithm>

namespace forms {

TApplication Application;

namespace {

// Posted by Release: the form frees itself once the messages before it are handled.
constexpr UINT kReleaseMessage = WM_APP + 0x3F00;
constexpr UINT kTaskMessage = WM_APP + 0x3F01;

void CollectFocusable(TWinControl* parent, std::vector<TWinControl*>& out) {
    std::vector<TWinControl*> kids = parent->Controls();
    std::stable_sort(kids.begin(), kids.end(),
                     [](auto* a, auto* b) { return a->TabOrder() < b->TabOrder(); });
    for (TWinControl* c : kids) {
        if (!c->Visible() || !c->Enabled()) continue;
        if (c->TabStop() && c->CanFocus()) out.push_back(c);
        CollectFocusable(c, out);
    }
}

struct TDisabledWindows {
    HWND self;
    std::vector<HWND> disabled;
};

BOOL CALLBACK DisableOtherWindow(HWND w, LPARAM lp) {
    auto* c = reinterpret_cast<TDisabledWindows*>(lp);
    if (w != c->self && IsWindowVisible(w) && IsWindowEnabled(w)) {
        c->disabled.push_back(w);
        EnableWindow(w, FALSE);
    }
    return TRUE;
}

} // namespace

// --- TForm --------------------------------------------------------------------------------

TForm::TForm(const TFormArgs& a)
    : TWinControl(nullptr, a.bounds), clientSize_(a.clientSize), borderStyle_(a.borderStyle),
      borderIcons_(a.borderIcons), formStyle_(a.formStyle), position_(a.position),
      iconName_(a.icon), keyPreview_(a.keyPreview) {
    visible_ = false;
    TWinControl::SetCaption(a.caption);
    SetColor(a.color);
    SetFont(a.font);
    OnCreate = a.onCreate;
    OnShow = a.onShow;
    OnResize = a.onResize;
    OnDestroy = a.onDestroy;
    OnCloseQuery = a.onCloseQuery;
    OnKeyDown = a.onKeyDown;
}

TForm::~TForm() {
    destroying_ = true;
    if (handle_) SetWindowLongPtrW(handle_, GWLP_USERDATA, 0);
    tooltip_.reset();
    while (!components_.empty())
        components_.pop_back(); // the last made goes first
    activeControl_ = nullptr;
    Application.FormFreed(this);
}

void TForm::CreateParams(TCreateParams& p) {
    p.className = FormWindowClass();
    p.style = WS_CLIPCHILDREN;
    switch (borderStyle_) {
    case bsNone:
        p.style |= WS_POPUP;
        break;
    case bsSingle:
        p.style |= WS_CAPTION | WS_BORDER;
        break;
    case bsSizeable:
        p.style |= WS_CAPTION | WS_THICKFRAME;
        break;
    case bsDialog:
        p.style |= WS_POPUP | WS_CAPTION;
        p.exStyle |= WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE;
        break;
    }
    if (borderStyle_ != bsNone && (borderIcons_ & biSystemMenu)) {
        p.style |= WS_SYSMENU;
        if (borderStyle_ != bsDialog) {
            if (borderIcons_ & biMinimize) p.style |= WS_MINIMIZEBOX;
            if (borderIcons_ & biMaximize) p.style |= WS_MAXIMIZEBOX;
        }
    }
    if (formStyle_ == fsStayOnTop) p.exStyle |= WS_EX_TOPMOST;
}

void TForm::HandleCreated() {
    // The form is declared at 96 dpi; on a scaled display its client area and font grow by the
    // window's dpi, while the frame takes the system's size for that dpi.
    std::optional<core::Size> client = clientSize_;
    if (const int dpi = base::WindowDpi(handle_); dpi != PixelsPerInch()) {
        if (!client)
            client = base::ClientSizeAtDpi(handle_, BoundsRect().Extent(), PixelsPerInch());
        client = core::Size{core::ScaleBetween(client->width, dpi, PixelsPerInch()),
                            core::ScaleBetween(client->height, dpi, PixelsPerInch())};
        ScaleTo(dpi);
        FontChanged();
    }
    if (client) {
        SetClientWidth(client->width);
        SetClientHeight(client->height);
    }
    if (iconName_) {
        icon_.reset(static_cast<HICON>(
            LoadImageW(GetModuleHandleW(nullptr), iconName_, IMAGE_ICON, 16, 16, 0)));
        if (icon_) {
            SendMessageW(handle_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_.get()));
            SendMessageW(handle_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_.get()));
        }
    }
}

void TForm::Adopt(TComponent& c) {
    if (c.Owner() != this) throw core::Exception(L"A control must be added by the form it is on");
    c.Added();
    if (auto* w = dynamic_cast<TWinControl*>(&c); w && !loading_ && w->Parent())
        w->Parent()->AlignControls();
}

void TForm::Loaded() {
    Handle();
    loading_ = false;
    AlignAll();
    if (OnCreate) OnCreate(this);
}

void TForm::AlignAll() {
    // Containers before their contents, once all sizes are known.
    std::vector<TWinControl*> pending{this};
    while (!pending.empty()) {
        TWinControl* c = pending.back();
        pending.pop_back();
        c->AlignControls();
        for (TWinControl* k : c->Controls())
            pending.push_back(k);
    }
}

void TForm::DpiChanged(int dpi, const RECT& suggested) {
    const int from = PixelsPerInch();
    if (dpi <= 0 || dpi == from) return;
    ScaleTo(dpi);
    FontChanged();
    // Every control the form owns is visited, so each takes its own font or its parent's anew.
    for (const auto& comp : components_) {
        auto* w = dynamic_cast<TWinControl*>(comp.get());
        if (!w || w->dpi_ != from) continue; // not made yet: it scales when it is
        w->ScaleTo(dpi);
        if (w->handle_) {
            SetWindowPos(w->handle_, nullptr, w->bounds_.left, w->bounds_.top, w->bounds_.width,
                         w->bounds_.height, SWP_NOZORDER | SWP_NOACTIVATE);
            w->UpdateBoundsFromWindow();
        }
        w->FontChanged();
    }
    // The system's suggestion keeps the window where it is relative to the mouse or the monitor.
    SetWindowPos(handle_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    UpdateBoundsFromWindow();
    AlignAll();
}

void TForm::SetVisible(bool v) {
    if (v) {
        Handle();
        if (visible_ && IsWindowVisible(handle_)) return;
        visible_ = true;
        if (position_ == poScreenCenter) base::CenterWindow(handle_, base::ScreenRect());
        if (OnShow) OnShow(this);
        ShowWindow(handle_, SW_SHOW);
    } else {
        visible_ = false;
        if (handle_) ShowWindow(handle_, SW_HIDE);
    }
}

void TForm::SetClientWidth(int v) {
    SetWidth(Width() - ClientWidth() + v);
}

void TForm::SetClientHeight(int v) {
    SetHeight(Height() - ClientHeight() + v);
}

void TForm::SetActiveControl(TWinControl* c) {
    activeControl_ = c;
    if (c && handle_ && IsWindowVisible(handle_) && GetActiveWindow() == handle_ && c->CanFocus())
        ::SetFocus(c->Handle());
}

void TForm::FocusActiveControl() {
    if (activeControl_ && activeControl_->CanFocus()) {
        ::SetFocus(activeControl_->Handle());
        return;
    }
    std::vector<TWinControl*> list;
    CollectFocusable(this, list);
    if (!list.empty())
        list.front()->SetFocus();
    else if (GetFocus() != handle_)
        ::SetFocus(handle_);
}

void TForm::ControlFocused(TWinControl* c) {
    if (destroying_ || focused_ == c) return;
    TWinControl* previous = focused_;
    focused_ = c;
    activeControl_ = c;
    if (previous) previous->DoExit();
    c->DoEnter();
    for (const auto& comp : components_)
        if (auto* w = dynamic_cast<TWinControl*>(comp.get())) w->FocusChanged(c);
}

void TForm::ControlDestroyed(TWinControl* c) {
    if (activeControl_ == c) activeControl_ = nullptr;
    if (focused_ == c) focused_ = nullptr;
    if (!destroying_) RemoveHint(c);
}

void TForm::SelectNext(bool forward) {
    std::vector<TWinControl*> list;
    CollectFocusable(this, list);
    if (list.empty()) return;
    auto it = std::find(list.begin(), list.end(), focused_);
    std::size_t i = 0;
    if (it != list.end()) {
        std::size_t at = static_cast<std::size_t>(it - list.begin());
        i = forward ? (at + 1) % list.size() : (at + list.size() - 1) % list.size();
    } else if (!forward) {
        i = list.size() - 1;
    }
    list[i]->SetFocus();
}

bool TForm::DispatchDialogKey(WORD key, TShiftState shift) {
    for (const auto& comp : components_)
        if (auto* w = dynamic_cast<TWinControl*>(comp.get()))
            if (w->DialogKey(key, shift)) return true;
    return false;
}

bool TForm::DispatchDialogChar(wchar_t ch) {
    for (const auto& comp : components_)
        if (auto* w = dynamic_cast<TWinControl*>(comp.get()))
            if (w->DialogChar(ch)) return true;
    return false;
}

void TForm::AddHint(TWinControl* c) {
    if (c->Hint().empty() || !c->HandleAllocated()) return;
    if (!tooltip_) {
        tooltip_.reset(CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                       WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                                       CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, Handle(),
                                       nullptr, GetModuleHandleW(nullptr), nullptr));
        if (!tooltip_) return;
    }
    TTTOOLINFOW ti{};
    ti.cbSize = TTTOOLINFOW_V2_SIZE;
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    ti.hwnd = handle_;
    ti.uId = reinterpret_cast<UINT_PTR>(c->Handle());
    ti.lpszText = const_cast<wchar_t*>(c->Hint().c_str());
    SendMessageW(tooltip_.get(), TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
}

void TForm::RemoveHint(TWinControl* c) {
    if (!tooltip_ || !c->HandleAllocated()) return;
    TTTOOLINFOW ti{};
    ti.cbSize = TTTOOLINFOW_V2_SIZE;
    ti.hwnd = handle_;
    ti.uId = reinterpret_cast<UINT_PTR>(c->handle_);
    SendMessageW(tooltip_.get(), TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
}

HWND TForm::HintWindow() const {
    return tooltip_.get();
}

int TForm::ShowModal() {
    if (modal_ || (handle_ && IsWindowVisible(handle_)))
        throw core::Exception(L"Cannot make a visible window modal");
    HWND previous = GetActiveWindow();
    Handle();
    if (previous && previous != handle_ && !GetWindow(handle_, GW_OWNER))
        SetWindowLongPtrW(handle_, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(previous));

    // Every other window of the program waits while the dialog is up.
    TDisabledWindows collect{handle_, {}};
    EnumThreadWindows(GetCurrentThreadId(), DisableOtherWindow, reinterpret_cast<LPARAM>(&collect));
    auto restore = [&] {
        for (HWND w : collect.disabled)
            if (IsWindow(w)) EnableWindow(w, TRUE);
        modal_ = false;
    };

    modal_ = true;
    modalResult_ = mrNone;
    try {
        Show();
        for (;;) {
            Application.HandleMessage();
            if (Application.Terminated()) {
                modalResult_ = mrCancel;
                CloseQuery();
                break;
            }
            if (modalResult_ != mrNone) {
                if (CloseQuery()) break;
                modalResult_ = mrNone;
            }
        }
    } catch (...) {
        restore();
        Hide();
        throw;
    }
    restore();
    // The window that was active before takes the activation back before the dialog hides:
    // hidden first, the system may hand it to another program's window instead.
    if (previous && IsWindow(previous)) SetActiveWindow(previous);
    Hide();
    return modalResult_;
}

void TForm::Close() {
    if (modal_) {
        modalResult_ = mrCancel;
        return;
    }
    if (!CloseQuery()) return;
    Hide();
    if (Application.MainForm() == this) Application.Terminate();
}

bool TForm::CloseQuery() {
    bool canClose = true;
    if (OnCloseQuery) OnCloseQuery(this, canClose);
    return canClose;
}

void TForm::Release() {
    PostMessageW(Handle(), kReleaseMessage, 0, 0);
}

void TForm::Free() {
    if (freed_) return;
    freed_ = true;
    Application.FormFreed(this);
    try {
        if (OnDestroy) OnDestroy(this);
    } catch (...) {
        Application.HandleException(std::current_exception());
    }
    delete this;
}

void TForm::Resized() {
    if (!loading_ && OnResize) OnResize(this);
}

LRESULT TForm::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_CLOSE:
        Close();
        return 0;
    case WM_DPICHANGED:
        DpiChanged(LOWORD(wp), *reinterpret_cast<const RECT*>(lp));
        return 0;
    case kReleaseMessage:
        Free(); // nothing of this object may be touched after this
        return 0;
    case WM_ERASEBKGND: {
        RECT rc;
        GetClientRect(handle_, &rc);
        TBrushHandle brush(CreateSolidBrush(ColorToRGB(Color())));
        FillRect(reinterpret_cast<HDC>(wp), &rc, brush.get());
        return 1;
    }
    case WM_ACTIVATE:
        if (LOWORD(wp) != WA_INACTIVE && !IsIconic(handle_)) {
            FocusActiveControl();
            return 0;
        }
        break;
    case WM_SETFOCUS:
        // The focus belongs to the active control; the form keeps it only when it has none.
        if (activeControl_ && activeControl_->CanFocus()) {
            ::SetFocus(activeControl_->Handle());
            return 0;
        }
        break;
    }
    return TWinControl::WndProc(msg, wp, lp);
}

// --- TCursorTable -------------------------------------------------------------------------

HCURSOR TCursorTable::operator[](TCursor n) const {
    if (auto it = own_.find(n); it != own_.end() && it->second) return it->second;
    const wchar_t* id = IDC_ARROW;
    switch (n) {
    case crCross:
        id = IDC_CROSS;
        break;
    case crIBeam:
        id = IDC_IBEAM;
        break;
    case crHourGlass:
        id = IDC_WAIT;
        break;
    case crHandPoint:
        id = IDC_HAND;
        break;
    }
    return LoadCursorW(nullptr, id);
}

// --- TApplication -------------------------------------------------------------------------

TApplication::TApplication() = default;

TApplication::~TApplication() = default;

void TApplication::Initialize() {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_BAR_CLASSES |
                                             ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&icc);
    if (title_.empty()) {
        wchar_t path[MAX_PATH];
        DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring name(path, n);
        name = name.substr(name.find_last_of(L"\\/") + 1);
        if (auto dot = name.rfind(L'.'); dot != std::wstring::npos) name.resize(dot);
        title_ = name;
    }
    if (!taskWindow_) {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = TaskWindowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"QuarnelbyTasks";
        RegisterClassExW(&wc);
        taskWindow_.reset(CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                          nullptr, wc.hInstance, nullptr));
    }
}

void TApplication::Run() {
    if (mainForm_) mainForm_->Show();
    while (!terminated_)
        HandleMessage();
    while (!forms_.empty())
        forms_.back()->Free();
}

void TApplication::Terminate() {
    PostQuitMessage(0);
}

void TApplication::HandleMessage() {
    MSG msg;
    BOOL r = GetMessageW(&msg, nullptr, 0, 0);
    if (r == 0) {
        terminated_ = true;
        return;
    }
    if (r > 0) ProcessMessage(msg);
}

void TApplication::ProcessMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            terminated_ = true;
            return;
        }
        ProcessMessage(msg);
    }
}

// Key presses are offered to the form and the dialog keys before they are translated, so a key
// consumed there makes no character either.
bool TApplication::ProcessMessage(MSG& msg) {
    if (msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) {
        if (TWinControl* c = TWinControl::FromHandle(msg.hwnd)) {
            try {
                WORD key = static_cast<WORD>(msg.wParam);
                if (c->HandleKeyDown(key)) return true;
                msg.wParam = key;
                c->keyPreprocessed_ = true;
            } catch (...) {
                HandleException(std::current_exception());
                return true;
            }
        }
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
    if (msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN)
        if (TWinControl* c = TWinControl::FromHandle(msg.hwnd)) c->keyPreprocessed_ = false;
    return true;
}

void TApplication::Queue(std::function<void()> task) {
    {
        std::lock_guard lock(taskMutex_);
        tasks_.push_back(std::move(task));
    }
    PostMessageW(taskWindow_.get(), kTaskMessage, 0, 0);
}

void TApplication::RunTasks() {
    std::vector<std::function<void()>> tasks;
    {
        std::lock_guard lock(taskMutex_);
        tasks.swap(tasks_);
    }
    for (auto& t : tasks) {
        try {
            t();
        } catch (...) {
            HandleException(std::current_exception());
        }
    }
}

LRESULT CALLBACK TApplication::TaskWindowProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
    if (msg == kTaskMessage) {
        Application.RunTasks();
        return 0;
    }
    return DefWindowProcW(wnd, msg, wp, lp);
}

std::wstring TApplication::ExceptionMessage(std::exception_ptr e) {
    try {
        std::rethrow_exception(e);
    } catch (const core::Exception& x) {
        return x.Message();
    } catch (const std::exception& x) {
        std::string s = x.what();
        std::wstring w(s.size(), L'\0');
        int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), w.data(),
                                    static_cast<int>(w.size()));
        w.resize(n > 0 ? n : 0);
        return w;
    } catch (...) {
        return L"Unknown error";
    }
}

void TApplication::HandleException(std::exception_ptr e) {
    try {
        std::wstring message = ExceptionMessage(e);
        if (OnException) {
            OnException(message);
            return;
        }
        MessageBoxW(GetActiveWindow(), message.c_str(), title_.c_str(), MB_OK | MB_ICONSTOP);
    } catch (...) {
        // Nothing more can be shown.
    }
}

void TApplication::FormFreed(TForm* f) {
    std::erase(forms_, f);
    if (mainForm_ == f) mainForm_ = nullptr;
}

} // namespace forms
