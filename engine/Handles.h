// Handles: move-only owners for kernel, GDI, global-memory and Video for Windows handles.
#pragma once

#include <windows.h>
#include <vfw.h>

#include <type_traits>
#include <utility>

namespace engine {

// Owns one handle of type T; Traits gives the invalid value and how to close it.
template <typename T, typename Traits> class TUniqueHandle {
public:
    TUniqueHandle() = default;
    explicit TUniqueHandle(T h) : h_(h) {}
    ~TUniqueHandle() { reset(); }
    TUniqueHandle(TUniqueHandle&& o) noexcept : h_(o.release()) {}
    TUniqueHandle& operator=(TUniqueHandle&& o) noexcept {
        if (this != &o) reset(o.release());
        return *this;
    }
    TUniqueHandle(const TUniqueHandle&) = delete;
    TUniqueHandle& operator=(const TUniqueHandle&) = delete;

    T get() const { return h_; }
    explicit operator bool() const { return h_ != Traits::Invalid(); }
    // Gives up ownership without closing.
    T release() {
        T h = h_;
        h_ = Traits::Invalid();
        return h;
    }
    void reset(T h = Traits::Invalid()) {
        if (h_ != Traits::Invalid()) Traits::Close(h_);
        h_ = h;
    }
    // Closes the current handle and returns the address for an API that fills in a new one.
    T* put() {
        reset();
        return &h_;
    }

private:
    T h_ = Traits::Invalid();
};

namespace traits {
struct KernelHandle {
    static HANDLE Invalid() { return nullptr; }
    static void Close(HANDLE h) { CloseHandle(h); }
};
struct MemoryDC {
    static HDC Invalid() { return nullptr; }
    static void Close(HDC h) { DeleteDC(h); }
};
template <typename T> struct GdiObject {
    static T Invalid() { return nullptr; }
    static void Close(T h) { DeleteObject(h); }
};
struct Global {
    static HGLOBAL Invalid() { return nullptr; }
    static void Close(HGLOBAL h) { GlobalFree(h); }
};
struct Compressor {
    static HIC Invalid() { return nullptr; }
    static void Close(HIC h) { ICClose(h); }
};
struct AviFile {
    static PAVIFILE Invalid() { return nullptr; }
    static void Close(PAVIFILE h) { AVIFileRelease(h); }
};
struct AviStream {
    static PAVISTREAM Invalid() { return nullptr; }
    static void Close(PAVISTREAM h) { AVIStreamRelease(h); }
};
} // namespace traits

using TKernelHandle = TUniqueHandle<HANDLE, traits::KernelHandle>;
using TMemoryDC = TUniqueHandle<HDC, traits::MemoryDC>;
template <typename T> using TGdiObject = TUniqueHandle<T, traits::GdiObject<T>>;
using TBitmapHandle = TGdiObject<HBITMAP>;
using TGlobalHandle = TUniqueHandle<HGLOBAL, traits::Global>;
using TCompressorHandle = TUniqueHandle<HIC, traits::Compressor>;
using TAviFileHandle = TUniqueHandle<PAVIFILE, traits::AviFile>;
using TAviStreamHandle = TUniqueHandle<PAVISTREAM, traits::AviStream>;

// The device context of a window (or of the whole screen for no window), released with the
// window it was taken from.
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

// Selects an object into a device context and selects the previous one back at scope end.
class TSelectObject {
public:
    TSelectObject(HDC dc, HGDIOBJ obj) : dc_(dc), old_(dc && obj ? SelectObject(dc, obj) : nullptr) {}
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

// A lock on a movable global block, unlocked at scope end unless released.
class TGlobalLock {
public:
    explicit TGlobalLock(HGLOBAL h) : h_(h), p_(h ? GlobalLock(h) : nullptr) {}
    ~TGlobalLock() {
        if (p_) GlobalUnlock(h_);
    }
    TGlobalLock(const TGlobalLock&) = delete;
    TGlobalLock& operator=(const TGlobalLock&) = delete;
    void* get() const { return p_; }
    // Keeps the block locked and gives its address to the caller.
    void* release() {
        void* p = p_;
        p_ = nullptr;
        return p;
    }

private:
    HGLOBAL h_;
    void* p_;
};

// AVIFileInit .. AVIFileExit for one scope.
class TAviFileLibrary {
public:
    TAviFileLibrary() { AVIFileInit(); }
    ~TAviFileLibrary() { AVIFileExit(); }
    TAviFileLibrary(const TAviFileLibrary&) = delete;
    TAviFileLibrary& operator=(const TAviFileLibrary&) = delete;
};

static_assert(!std::is_copy_constructible_v<TBitmapHandle>);
static_assert(!std::is_copy_constructible_v<TAviStreamHandle>);
static_assert(std::is_nothrow_move_constructible_v<TCompressorHandle>);

} // namespace engine
