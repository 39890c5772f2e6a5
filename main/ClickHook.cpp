#include "main/ClickHook.h"

#include "engine/scrcam.h"

namespace mainwin {

namespace {
// The hook procedure has no context argument; one hook is installed at a time.
engine::TScreenCam* gHooked = nullptr;
} // namespace

TClickHook::TClickHook(engine::TScreenCam& cam) : cam_(cam) {}

TClickHook::~TClickHook() {
    if (hook_) UnhookWindowsHookEx(hook_);
    if (gHooked == &cam_) gHooked = nullptr;
}

void TClickHook::Update() {
    const bool wanted = cam_.Recording && cam_.ShowClicks;
    if (wanted && !hook_) {
        gHooked = &cam_;
        // Without the hook the recording goes on without rings; nothing to tell the user.
        hook_ = SetWindowsHookExW(WH_MOUSE_LL, &Proc, GetModuleHandleW(nullptr), 0);
    } else if (!wanted && hook_) {
        UnhookWindowsHookEx(hook_);
        hook_ = nullptr;
    }
}

LRESULT CALLBACK TClickHook::Proc(int code, WPARAM wp, LPARAM lp) noexcept {
    if (code == HC_ACTION && gHooked && (wp == WM_LBUTTONDOWN || wp == WM_RBUTTONDOWN)) {
        const auto* info = reinterpret_cast<const MSLLHOOKSTRUCT*>(lp);
        gHooked->AddClick({info->pt.x, info->pt.y}, wp == WM_LBUTTONDOWN
                                                        ? media::MouseButton::Left
                                                        : media::MouseButton::Right);
    }
    return CallNextHookEx(nullptr, code, wp, lp);
}

} // namespace mainwin
