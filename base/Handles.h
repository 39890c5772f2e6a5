// Handles: the one move-only owner template for Win32 handles and an alias for every kind the
// program holds (GDI, device contexts, selections, global memory, kernel, compressors, AVI, COM).
#pragma once

#include <windows.h>
#include <objbase.h>
#include <vfw.h>

#include <type_traits>
#include <utility>

namespace base {

// Owns one value of H and gives it to Close once, on destruction or reset; H{} is "nothing".
// H is a handle, or a small struct of what the close call needs (a window and its DC).
template <class H, auto Close> class TUniqueHandle {
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
    explicit operator bool() const { return !(h_ == H{}); }
    H release() { return std::exchange(h_, H{}); }
    void reset(H h = H{}) {
        if (!(h_ == H{})) Close(h_);
        h_ = h;
    }
    // Closes the current value and returns its address for an API that fills in a new one.
    H* put() {
        reset();
        return &h_;
    }

private:
    H h_{};
};

namespace detail {
inline void DeleteGdiObject(HGDIOBJ h) {
    DeleteObject(h);
}
inline void DeleteMemoryDC(HDC h) {
    DeleteDC(h);
}
inline void DestroyIconHandle(HICON h) {
    DestroyIcon(h);
}
inline void DestroyWindowHandle(HWND h) {
    DestroyWindow(h);
}
inline void CloseKernelHandle(HANDLE h) {
    CloseHandle(h);
}
inline void FreeGlobal(HGLOBAL h) {
    GlobalFree(h);
}
inline void CloseCompressor(HIC h) {
    ICClose(h);
}
inline void ReleaseAviFile(PAVIFILE h) {
    AVIFileRelease(h);
}
inline void ReleaseAviStream(PAVISTREAM h) {
    AVIStreamRelease(h);
}
inline void UnloadLibrary(HMODULE h) {
    FreeLibrary(h);
}
inline void FreeTaskMemory(void* p) {
    CoTaskMemFree(p);
}
template <class T> void ReleaseCom(T* p) {
    p->Release();
}

struct TWindowDCValue {
    HWND wnd = nullptr;
    HDC dc = nullptr;
    bool operator==(const TWindowDCValue&) const = default;
};
inline void ReleaseWindowDC(TWindowDCValue v) {
    ReleaseDC(v.wnd, v.dc);
}

struct TPaintValue {
    HWND wnd = nullptr;
    PAINTSTRUCT ps{};
    bool operator==(const TPaintValue& o) const { return wnd == o.wnd && ps.hdc == o.ps.hdc; }
};
inline void EndPaintValue(TPaintValue v) {
    EndPaint(v.wnd, &v.ps);
}

struct TSelectionValue {
    HDC dc = nullptr;
    HGDIOBJ previous = nullptr;
    bool operator==(const TSelectionValue&) const = default;
};
inline void SelectBack(TSelectionValue v) {
    SelectObject(v.dc, v.previous);
}

struct TLockValue {
    HGLOBAL block = nullptr;
    void* data = nullptr;
    bool operator==(const TLockValue&) const = default;
};
inline void UnlockGlobal(TLockValue v) {
    GlobalUnlock(v.block);
}
} // namespace detail

using TFontHandle = TUniqueHandle<HFONT, &detail::DeleteGdiObject>;
using TBrushHandle = TUniqueHandle<HBRUSH, &detail::DeleteGdiObject>;
using TPenHandle = TUniqueHandle<HPEN, &detail::DeleteGdiObject>;
using TBitmapHandle = TUniqueHandle<HBITMAP, &detail::DeleteGdiObject>;
using TMemoryDC = TUniqueHandle<HDC, &detail::DeleteMemoryDC>;
using TIconHandle = TUniqueHandle<HICON, &detail::DestroyIconHandle>;
using TWindowHandle = TUniqueHandle<HWND, &detail::DestroyWindowHandle>;
using TModuleHandle = TUniqueHandle<HMODULE, &detail::UnloadLibrary>;
// CreateFile reports failure as INVALID_HANDLE_VALUE: pass its result through FileHandle.
using TKernelHandle = TUniqueHandle<HANDLE, &detail::CloseKernelHandle>;
using TGlobalHandle = TUniqueHandle<HGLOBAL, &detail::FreeGlobal>;
using TCompressorHandle = TUniqueHandle<HIC, &detail::CloseCompressor>;
using TAviFileHandle = TUniqueHandle<PAVIFILE, &detail::ReleaseAviFile>;
using TAviStreamHandle = TUniqueHandle<PAVISTREAM, &detail::ReleaseAviStream>;
template <class T> using TComRef = TUniqueHandle<T*, &detail::ReleaseCom<T>>;
// Memory of the COM task allocator, which is the shell's (identifier lists, SHGetMalloc blocks).
template <class T> using TTaskMemory = TUniqueHandle<T*, &detail::FreeTaskMemory>;

inline TKernelHandle FileHandle(HANDLE h) {
    return TKernelHandle(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

// A window's device context from GetDC (the whole screen's for no window), released with the
// window it came from.
class TWindowDC : public TUniqueHandle<detail::TWindowDCValue, &detail::ReleaseWindowDC> {
public:
    explicit TWindowDC(HWND wnd) {
        if (HDC dc = GetDC(wnd)) reset({wnd, dc});
    }
    HDC get() const { return TUniqueHandle::get().dc; }
};

// BeginPaint .. EndPaint of one WM_PAINT.
class TPaintDC : public TUniqueHandle<detail::TPaintValue, &detail::EndPaintValue> {
public:
    explicit TPaintDC(HWND wnd) {
        detail::TPaintValue v{wnd, {}};
        if (BeginPaint(wnd, &v.ps)) reset(v);
    }
    HDC get() const { return TUniqueHandle::get().ps.hdc; }
};

// Selects an object into a device context and selects the previous one back at the end.
class TSelectObject : public TUniqueHandle<detail::TSelectionValue, &detail::SelectBack> {
public:
    TSelectObject(HDC dc, HGDIOBJ obj) {
        HGDIOBJ previous = dc && obj ? SelectObject(dc, obj) : nullptr;
        if (previous && previous != HGDI_ERROR) reset({dc, previous});
    }
    // Selects the previous object back now.
    void restore() { reset(); }
};

// A lock on a movable global block, unlocked at the end unless released.
class TGlobalLock : public TUniqueHandle<detail::TLockValue, &detail::UnlockGlobal> {
public:
    explicit TGlobalLock(HGLOBAL block) {
        if (void* p = block ? GlobalLock(block) : nullptr) reset({block, p});
    }
    void* get() const { return TUniqueHandle::get().data; }
    // Keeps the block locked and gives its address to the caller.
    void* release() { return TUniqueHandle::release().data; }
};

// AVIFileInit .. AVIFileExit for one scope.
class TAviFileLibrary {
public:
    TAviFileLibrary() { AVIFileInit(); }
    ~TAviFileLibrary() { AVIFileExit(); }
    TAviFileLibrary(const TAviFileLibrary&) = delete;
    TAviFileLibrary& operator=(const TAviFileLibrary&) = delete;
};

static_assert(!std::is_copy_constructible_v<TFontHandle>);
static_assert(!std::is_copy_constructible_v<TWindowDC>);
static_assert(std::is_nothrow_move_constructible_v<TCompressorHandle>);
static_assert(std::is_nothrow_move_constructible_v<TSelectObject>);

} // namespace base
