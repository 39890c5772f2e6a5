// ClickHook: the low-level mouse hook that hands button presses to the engine for click rings.
#pragma once

#include <windows.h>

namespace engine {
class TScreenCam;
}

namespace mainwin {

// Lives on the user-interface thread, whose message loop the hook's calls arrive through.
class TClickHook {
public:
    explicit TClickHook(engine::TScreenCam& cam);
    ~TClickHook();
    TClickHook(const TClickHook&) = delete;
    TClickHook& operator=(const TClickHook&) = delete;

    // Installs the hook while a recording with click rings runs and removes it otherwise: every
    // mouse event in the system passes through a low-level hook, so it is held no longer.
    void Update();
    bool Installed() const { return hook_ != nullptr; }

private:
    static LRESULT CALLBACK Proc(int code, WPARAM wp, LPARAM lp) noexcept;

    engine::TScreenCam& cam_;
    HHOOK hook_ = nullptr;
};

} // namespace mainwin
