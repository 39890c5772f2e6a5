// ControlTesting: what the tests of controls share: a control painted through WM_PRINTCLIENT
// into a 32-bit bitmap to read its pixels, a message pump, posted keys and an answered message box.
#pragma once

#include "forms/Forms.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

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

// Runs run and returns the text of the message box captioned caption that comes up meanwhile,
// answering it; empty when none comes within two seconds.
inline std::wstring AnswerMessageBoxWhile(const wchar_t* caption,
                                          const std::function<void()>& run) {
    std::atomic<bool> done{false};
    std::wstring text;
    std::thread reader([&] {
        HWND box = nullptr;
        while (!done && !(box = FindWindowW(L"#32770", caption)))
            Sleep(10);
        if (!box) return;
        EnumChildWindows(
            box,
            [](HWND child, LPARAM lp) -> BOOL {
                auto& longest = *reinterpret_cast<std::wstring*>(lp);
                std::wstring own(GetWindowTextLengthW(child) + 1, L'\0');
                own.resize(GetWindowTextW(child, own.data(), int(own.size())));
                if (own.size() > longest.size()) longest = own;
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&text));
        done = true;
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
    run();
    for (const DWORD start = GetTickCount(); !done && GetTickCount() - start < 2000;) {
        forms::Application.ProcessMessages();
        Sleep(10);
    }
    done = true;
    reader.join();
    return text;
}
