#include "forms/Forms.h"

namespace forms {

namespace {
const wchar_t kFormClass[] = L"QuarnelbyForm";

void RegisterFormClass() {
    static bool registered = false;
    if (registered) return;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kFormClass;
    RegisterClassExW(&wc);
    registered = true;
}
} // namespace

TForm::TForm() = default;

TForm::~TForm() {
    if (handle_) DestroyWindow(handle_);
}

HWND TForm::Handle() {
    if (!handle_) {
        RegisterFormClass();
        handle_ = CreateWindowExW(0, kFormClass, L"", WS_OVERLAPPEDWINDOW, left_, top_, width_,
                                  height_, nullptr, nullptr, GetModuleHandleW(nullptr), this);
        if (handle_) {
            SetWindowLongPtrW(handle_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
            SetWindowLongPtrW(handle_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Trampoline));
        }
    }
    return handle_;
}

void TForm::SetBounds(int left, int top, int width, int height) {
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    if (handle_) SetWindowPos(handle_, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT TForm::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
    return DefWindowProcW(handle_, msg, wp, lp);
}

LRESULT CALLBACK TForm::Trampoline(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<TForm*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
    return self->WndProc(msg, wp, lp);
}

} // namespace forms
