// ControlTesting: what the tests of controls share: a control painted through WM_PRINTCLIENT
// into a 32-bit bitmap to read its pixels, a message pump and posted keys.
#pragma once

#include "forms/Forms.h"

#include <windows.h>

#include <cstdint>

class TRendering {
public:
    explicit TRendering(forms::TWinControl* c) : w_(c->Width()), h_(c->Height()) {
        BITMAPINFO bi{};
        bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w_, -h_, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        const base::TWindowDC screen(nullptr);
        dc_.reset(CreateCompatibleDC(screen.get()));
        bmp_.reset(CreateDIBSection(dc_.get(), &bi, DIB_RGB_COLORS,
                                    reinterpret_cast<void**>(&bits_), nullptr, 0));
        base::TSelectObject sel(dc_.get(), bmp_.get());
        SendMessageW(c->Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc_.get()), PRF_CLIENT);
        GdiFlush();
    }
    int Width() const { return w_; }
    int Height() const { return h_; }
    COLORREF At(int x, int y) const {
        const std::uint32_t v = bits_[y * w_ + x];
        return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }

private:
    int w_, h_;
    base::TMemoryDC dc_;
    base::TBitmapHandle bmp_;
    std::uint32_t* bits_ = nullptr;
};

inline void Pump() {
    for (int i = 0; i < 5; ++i) {
        forms::Application.ProcessMessages();
        Sleep(5);
    }
}

inline void PostKey(HWND wnd, WORD key) {
    PostMessageW(wnd, WM_KEYDOWN, key, 1);
    PostMessageW(wnd, WM_KEYUP, key, 0xC0000001);
}
