#include "TestCompressors.h"

#include <cstring>
#include <string>
#include <utility>

namespace enginetest {

namespace {

struct Slot {
    bool used = false;
    DWORD fcc = 0;
    TCompressorBehaviour behaviour;
    std::unique_ptr<TCompressorLog> log;
};
Slot gSlots[TTestCompressors::kSlots];

LONG FormatBytes(const BITMAPINFOHEADER* bi) {
    return static_cast<LONG>(bi->biSize + 4 * bi->biClrUsed);
}

bool Accepts(Slot& s, const BITMAPINFOHEADER* in) {
    if (!in) return false;
    {
        std::lock_guard<std::mutex> lock(s.log->m);
        s.log->queriedSizes.emplace_back(in->biWidth, in->biHeight);
    }
    if (s.behaviour.refuseAll || in->biCompression != BI_RGB) return false;
    const int m = s.behaviour.multiple;
    return in->biWidth % m == 0 && in->biHeight % m == 0;
}

LRESULT Dispatch(int n, DWORD_PTR id, UINT msg, LPARAM l1, LPARAM l2) {
    Slot& s = gSlots[n];
    switch (msg) {
    case DRV_LOAD:
    case DRV_ENABLE:
    case DRV_DISABLE:
    case DRV_FREE:
        return DRV_OK;
    case DRV_OPEN: {
        if (s.behaviour.cannotOpen) return 0;
        static std::atomic<DWORD_PTR> serial{0};
        const DWORD_PTR instance = ++serial;
        const auto* open = reinterpret_cast<const ICOPEN*>(l2);
        std::lock_guard<std::mutex> lock(s.log->m);
        s.log->openInstances[instance] = open ? open->dwFlags : 0;
        ++s.log->opens;
        return static_cast<LRESULT>(instance);
    }
    case DRV_CLOSE: {
        std::lock_guard<std::mutex> lock(s.log->m);
        s.log->openInstances.erase(id);
        return DRV_OK;
    }
    case ICM_GETINFO: {
        auto* info = reinterpret_cast<ICINFO*>(l1);
        if (!info || static_cast<DWORD>(l2) < sizeof(ICINFO)) return 0;
        std::memset(info, 0, sizeof(ICINFO));
        info->dwSize = sizeof(ICINFO);
        info->fccType = ICTYPE_VIDEO;
        info->fccHandler = s.fcc;
        info->dwFlags = VIDCF_QUALITY;
        info->dwVersion = 1;
        info->dwVersionICM = ICVERSION;
        const std::wstring name = L"Test" + std::to_wstring(n);
        const std::wstring description = L"Test compressor " + std::to_wstring(n);
        wcsncpy(info->szName, name.c_str(), 15);
        wcsncpy(info->szDescription, description.c_str(), 127);
        return sizeof(ICINFO);
    }
    case ICM_COMPRESS_QUERY:
        return Accepts(s, reinterpret_cast<const BITMAPINFOHEADER*>(l1)) ? ICERR_OK
                                                                          : ICERR_BADFORMAT;
    case ICM_COMPRESS_GET_FORMAT: {
        const auto* in = reinterpret_cast<const BITMAPINFOHEADER*>(l1);
        if (!in) return ICERR_BADPARAM;
        if (!l2) return FormatBytes(in);
        std::memcpy(reinterpret_cast<void*>(l2), in, static_cast<std::size_t>(FormatBytes(in)));
        return ICERR_OK;
    }
    case ICM_COMPRESS_GET_SIZE: {
        const auto* in = reinterpret_cast<const BITMAPINFOHEADER*>(l1);
        return in ? static_cast<LRESULT>(in->biSizeImage) : 0;
    }
    case ICM_COMPRESS_BEGIN:
        return Accepts(s, reinterpret_cast<const BITMAPINFOHEADER*>(l1)) ? ICERR_OK
                                                                          : ICERR_BADFORMAT;
    case ICM_COMPRESS_END:
    case ICM_COMPRESS_FRAMES_INFO:
    case ICM_SETQUALITY:
        return ICERR_OK;
    case ICM_COMPRESS: {
        auto* c = reinterpret_cast<ICCOMPRESS*>(l1);
        const int frame = ++s.log->framesCompressed;
        if (s.behaviour.failFrame && frame == s.behaviour.failFrame) return ICERR_ERROR;
        const DWORD size = c->lpbiInput->biSizeImage;
        std::memcpy(c->lpOutput, c->lpInput, size);
        c->lpbiOutput->biSizeImage = size;
        if (c->lpdwFlags) *c->lpdwFlags = AVIIF_KEYFRAME;
        return ICERR_OK;
    }
    case ICM_GETDEFAULTQUALITY:
    case ICM_GETQUALITY:
        if (l1) *reinterpret_cast<DWORD*>(l1) = 7500;
        return ICERR_OK;
    case ICM_GETDEFAULTKEYFRAMERATE:
        if (l1) *reinterpret_cast<DWORD*>(l1) = 1;
        return ICERR_OK;
    case ICM_GETSTATE:
    case ICM_SETSTATE:
        return 0;
    case ICM_ABOUT:
        if (l1 == static_cast<LPARAM>(-1)) return s.behaviour.about ? ICERR_OK : ICERR_UNSUPPORTED;
        ++s.log->aboutShown;
        s.log->lastOwner = reinterpret_cast<HWND>(l1);
        return ICERR_OK;
    case ICM_CONFIGURE:
        if (l1 == static_cast<LPARAM>(-1))
            return s.behaviour.configure ? ICERR_OK : ICERR_UNSUPPORTED;
        ++s.log->configureShown;
        s.log->lastOwner = reinterpret_cast<HWND>(l1);
        return ICERR_OK;
    default:
        return ICERR_UNSUPPORTED;
    }
}

// ICInfo asks an installed function for its information with no instance open, so every
// compressor needs a procedure of its own to know which one it is.
template <int N>
LRESULT CALLBACK Proc(DWORD_PTR id, HDRVR, UINT msg, LPARAM l1, LPARAM l2) {
    return Dispatch(N, id, msg, l1, l2);
}

template <int... N> constexpr auto MakeProcs(std::integer_sequence<int, N...>) {
    return std::array<DRIVERPROC, sizeof...(N)>{&Proc<N>...};
}
const auto gProcs = MakeProcs(std::make_integer_sequence<int, TTestCompressors::kSlots>{});

} // namespace

TTestCompressors::~TTestCompressors() {
    for (int n : slots_) {
        ICRemove(ICTYPE_VIDEO, gSlots[n].fcc, 0);
        gSlots[n].used = false;
        gSlots[n].log.reset();
    }
}

TCompressorLog* TTestCompressors::Install(DWORD fcc, const TCompressorBehaviour& behaviour) {
    for (int n = 0; n < kSlots; ++n) {
        if (gSlots[n].used) continue;
        gSlots[n].fcc = fcc;
        gSlots[n].behaviour = behaviour;
        gSlots[n].log = std::make_unique<TCompressorLog>();
        if (!ICInstall(ICTYPE_VIDEO, fcc, reinterpret_cast<LPARAM>(gProcs[static_cast<std::size_t>(n)]),
                       nullptr, ICINSTALL_FUNCTION)) {
            gSlots[n].log.reset();
            return nullptr;
        }
        gSlots[n].used = true;
        slots_.push_back(n);
        return gSlots[n].log.get();
    }
    return nullptr;
}

} // namespace enginetest
