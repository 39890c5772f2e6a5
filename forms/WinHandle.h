// WinHandle: move-only owners for handles: the template every kind of handle uses, and the GDI
// and window-system kinds the framework creates.
#pragma once

#include <windows.h>

#include <type_traits>
#include <utility>

namespace forms {

// Owns one handle and frees it with Close on destruction; copies are forbidden.
template <class H, class Close> class TUniqueHandle {
public:
    TUniqueHandle() = default;
    explicit TUniqueHandle(H h) : h_(h) {}
    ~TUniqueHandle() { reset(); }
    TUniqueHandle(const TUniqueHandle&) = delete;
    TUniqueHandle& operator=(const TUniqueHandle&) = delete;
    TUniqueHandle(TUniqueHandle&& o) noexcept : h_(std::exchange(o.h_, H{})) {}
    TUniqueHandle& operator=(TUniqueHandle&& o) noexcept {
        if (this != &o) reset(std::exchange(o.h_, H{}));
        return *this;
    }
    H get() const { return h_; }
    explicit operator bool() const { return h_ != H{}; }
    H release() { return std::exchange(h_, H{}); }
    void reset(H h = H{}) {
        if (h_ != H{}) Close{}(h_);
        h_ = h;
    }
    // Closes the current handle and returns the address for an API that fills in a new one.
    H* put() {
        reset();
        return &h_;
    }

private:
    H h_{};
};

struct TDeleteObject {
    void operator()(HGDIOBJ h) const { DeleteObject(h); }
};
struct TDeleteDC {
    void operator()(HDC h) const { DeleteDC(h); }
};
struct TDestroyIcon {
    void operator()(HICON h) const { DestroyIcon(h); }
};
struct TDestroyWindow {
    void operator()(HWND h) const { DestroyWindow(h); }
};

using TFontHandle = TUniqueHandle<HFONT, TDeleteObject>;
using TBrushHandle = TUniqueHandle<HBRUSH, TDeleteObject>;
using TPenHandle = TUniqueHandle<HPEN, TDeleteObject>;
using TBitmapHandle = TUniqueHandle<HBITMAP, TDeleteObject>;
using TRegionHandle = TUniqueHandle<HRGN, TDeleteObject>;
using TMemoryDC = TUniqueHandle<HDC, TDeleteDC>;
using TIconHandle = TUniqueHandle<HICON, TDestroyIcon>;
using TWindowHandle = TUniqueHandle<HWND, TDestroyWindow>;

static_assert(!std::is_copy_constructible_v<TFontHandle>);
static_assert(std::is_nothrow_move_constructible_v<TFontHandle>);

// A window's device context from GetDC (the whole screen's for no window), released with the
// window it came from.
class TWindowDC {
public:
    explicit TWindowDC(HWND wnd) : wnd_(wnd), dc_(GetDC(wnd)) {}
    ~TWindowDC() {
        if (dc_) ReleaseDC(wnd_, dc_);
    }
    TWindowDC(const TWindowDC&) = delete;
    TWindowDC& operator=(const TWindowDC&) = delete;
    HDC get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

private:
    HWND wnd_;
    HDC dc_;
};

// Selects an object into a device context and selects the previous one back on destruction.
class TSelectObject {
public:
    TSelectObject(HDC dc, HGDIOBJ obj)
        : dc_(dc), old_(dc && obj ? SelectObject(dc, obj) : nullptr) {}
    ~TSelectObject() { restore(); }
    TSelectObject(const TSelectObject&) = delete;
    TSelectObject& operator=(const TSelectObject&) = delete;
    // Selects the previous object back now.
    void restore() {
        if (old_ && old_ != HGDI_ERROR) SelectObject(dc_, old_);
        old_ = nullptr;
    }

private:
    HDC dc_;
    HGDIOBJ old_;
};

} // namespace forms
