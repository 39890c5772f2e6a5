// Handles: move-only owners for the kernel, global-memory and Video for Windows handles of the
// engine, beside the GDI ones of forms/WinHandle.h.
#pragma once

#include "forms/WinHandle.h"

#include <windows.h>
#include <vfw.h>

#include <type_traits>
#include <utility>

namespace engine {

using forms::TBitmapHandle;
using forms::TMemoryDC;
using forms::TSelectObject;
using forms::TUniqueHandle;
using forms::TWindowDC;

struct TCloseHandle {
    void operator()(HANDLE h) const { CloseHandle(h); }
};
struct TGlobalFree {
    void operator()(HGLOBAL h) const { GlobalFree(h); }
};
struct TCompressorClose {
    void operator()(HIC h) const { ICClose(h); }
};
struct TAviFileRelease {
    void operator()(PAVIFILE h) const { AVIFileRelease(h); }
};
struct TAviStreamRelease {
    void operator()(PAVISTREAM h) const { AVIStreamRelease(h); }
};

using TKernelHandle = TUniqueHandle<HANDLE, TCloseHandle>;
using TGlobalHandle = TUniqueHandle<HGLOBAL, TGlobalFree>;
using TCompressorHandle = TUniqueHandle<HIC, TCompressorClose>;
using TAviFileHandle = TUniqueHandle<PAVIFILE, TAviFileRelease>;
using TAviStreamHandle = TUniqueHandle<PAVISTREAM, TAviStreamRelease>;

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
