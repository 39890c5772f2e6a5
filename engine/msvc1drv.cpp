#include "engine/msvc1drv.h"

#include "base/Handles.h"

#include "media/Msvc1Encoder.h"
#include "core/Text.h"

#include <vfw.h>

#include <cwchar>
#include <map>
#include <memory>
#include <mutex>

namespace engine {

namespace {

constexpr DWORD kFccMsvc = mmioFOURCC('M', 'S', 'V', 'C');
// The stream's frames are marked "CRAM", the format's original name; Wine's msvidc32 and
// ffmpeg's msvideo1 decoder both accept it as they accept "MSVC".
constexpr DWORD kFccCram = mmioFOURCC('C', 'R', 'A', 'M');
constexpr DWORD kDefaultKeyFrameRate = 15;

// One open compressor. The encoder keeps the picture the decoder shows, so each compressing
// stream needs its own instance.
struct TInstance {
    media::TMsvc1Encoder encoder;
    DWORD quality = media::kMsvc1DefaultQuality;
};

// Instances are named by small numbers rather than pointers: the driver id travels through
// msvfw32, and a number cannot be cut short on the way.
std::mutex gInstancesLock;
std::map<DWORD_PTR, std::unique_ptr<TInstance>> gInstances;
DWORD_PTR gNextId = 1;

std::mutex gInstallLock;
bool gInstalled = false;

TInstance* FindInstance(DWORD_PTR id) {
    std::lock_guard<std::mutex> lock(gInstancesLock);
    const auto it = gInstances.find(id);
    return it == gInstances.end() ? nullptr : it->second.get();
}

bool InputAccepted(const BITMAPINFOHEADER* in) {
    return in != nullptr && in->biSize >= sizeof(BITMAPINFOHEADER) && in->biPlanes == 1 &&
           in->biCompression == BI_RGB && in->biHeight > 0 && // bottom-up rows only
           media::Msvc1AcceptsFrame(in->biWidth, in->biHeight, in->biBitCount);
}

bool OutputMatches(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    return out->biSize >= sizeof(BITMAPINFOHEADER) &&
           (core::SameFourCC(out->biCompression, kFccCram) ||
            core::SameFourCC(out->biCompression, kFccMsvc)) &&
           out->biBitCount == 16 && out->biWidth == in->biWidth && out->biHeight == in->biHeight;
}

LRESULT CompressQuery(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    if (!InputAccepted(in)) return ICERR_BADFORMAT;
    if (out != nullptr && !OutputMatches(in, out)) return ICERR_BADFORMAT;
    return ICERR_OK;
}

LRESULT CompressGetFormat(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) {
    if (out == nullptr) return sizeof(BITMAPINFOHEADER);
    if (!InputAccepted(in)) return ICERR_BADFORMAT;
    *out = BITMAPINFOHEADER{};
    out->biSize = sizeof(BITMAPINFOHEADER);
    out->biWidth = in->biWidth;
    out->biHeight = in->biHeight;
    out->biPlanes = 1;
    out->biBitCount = 16;
    out->biCompression = kFccCram;
    out->biSizeImage = static_cast<DWORD>(media::Msvc1MaxFrameBytes(in->biWidth, in->biHeight));
    out->biXPelsPerMeter = in->biXPelsPerMeter;
    out->biYPelsPerMeter = in->biYPelsPerMeter;
    return ICERR_OK;
}

LRESULT Compress(TInstance& inst, ICCOMPRESS* ic) {
    if (ic == nullptr || ic->lpbiInput == nullptr || ic->lpbiOutput == nullptr ||
        ic->lpInput == nullptr || ic->lpOutput == nullptr)
        return ICERR_BADPARAM;
    const BITMAPINFOHEADER* in = ic->lpbiInput;
    if (!InputAccepted(in)) return ICERR_BADFORMAT;
    // A caller that skipped ICM_COMPRESS_BEGIN, or changed the frame size, starts a new sequence.
    media::TMsvc1Encoder& enc = inst.encoder;
    if (!enc.Begun() || enc.Width() != in->biWidth || enc.Height() != in->biHeight ||
        enc.BitsPerPixel() != in->biBitCount)
        enc.Begin(in->biWidth, in->biHeight, in->biBitCount);

    const DWORD quality = ic->dwQuality <= media::kMsvc1MaxQuality ? ic->dwQuality : inst.quality;
    const bool askKey = (ic->dwFlags & ICCOMPRESS_KEYFRAME) != 0;
    bool key = false;
    // The output buffer holds what ICM_COMPRESS_GET_SIZE asked for.
    const std::size_t capacity = media::Msvc1MaxFrameBytes(in->biWidth, in->biHeight);
    const std::size_t size =
        enc.Encode(static_cast<const std::uint8_t*>(ic->lpInput), static_cast<int>(quality), askKey,
                   static_cast<std::uint8_t*>(ic->lpOutput), capacity, &key);
    if (size == 0) return ICERR_ERROR;

    BITMAPINFOHEADER* out = ic->lpbiOutput;
    out->biSize = sizeof(BITMAPINFOHEADER);
    out->biWidth = in->biWidth;
    out->biHeight = in->biHeight;
    out->biPlanes = 1;
    out->biBitCount = 16;
    out->biCompression = kFccCram;
    out->biSizeImage = static_cast<DWORD>(size);
    if (ic->lpckid) *ic->lpckid = MAKEAVICKID(cktypeDIBcompressed, 0);
    if (ic->lpdwFlags) *ic->lpdwFlags = key ? AVIIF_KEYFRAME : 0;
    return ICERR_OK;
}

LRESULT GetInfo(ICINFO* info, DWORD size) {
    if (info == nullptr) return sizeof(ICINFO);
    if (size < sizeof(ICINFO)) return 0;
    info->dwSize = sizeof(ICINFO);
    info->fccType = ICTYPE_VIDEO;
    info->fccHandler = kFccMsvc;
    // Temporal: delta frames between key frames; fast temporal: the encoder keeps the previous
    // picture itself, so AVIFile need not decompress (which this driver cannot) to supply it.
    info->dwFlags = VIDCF_QUALITY | VIDCF_TEMPORAL | VIDCF_FASTTEMPORALC;
    info->dwVersion = 0x00010000;
    info->dwVersionICM = ICVERSION;
    std::wcsncpy(info->szName, L"MSVC", 16);
    std::wcsncpy(info->szDescription, L"Microsoft Video 1 (Zo/quarnelby's own encoder)", 128);
    info->szDriver[0] = 0;
    return sizeof(ICINFO);
}

LRESULT Open(ICOPEN* open) {
    if (open != nullptr && !core::SameFourCC(open->fccType, ICTYPE_VIDEO)) return 0;
    auto inst = std::make_unique<TInstance>();
    std::lock_guard<std::mutex> lock(gInstancesLock);
    const DWORD_PTR id = gNextId++;
    gInstances.emplace(id, std::move(inst));
    if (open != nullptr) open->dwError = ICERR_OK;
    return static_cast<LRESULT>(id);
}

LRESULT Close(DWORD_PTR id) {
    std::lock_guard<std::mutex> lock(gInstancesLock);
    return gInstances.erase(id) ? DRV_OK : 0;
}

LRESULT HandleMessage(DWORD_PTR id, HDRVR driver, UINT message, LPARAM lParam1, LPARAM lParam2) {
    switch (message) {
    case DRV_LOAD:
    case DRV_FREE:
    case DRV_ENABLE:
    case DRV_DISABLE:
    case DRV_INSTALL:
    case DRV_REMOVE:
        return DRV_OK;
    case DRV_OPEN:
        return Open(reinterpret_cast<ICOPEN*>(lParam2));
    case DRV_CLOSE:
        return Close(id);
    case DRV_QUERYCONFIGURE:
        return 0; // no configuration dialog
    case DRV_CONFIGURE:
        return DRVCNF_CANCEL;
    default:
        break;
    }

    TInstance* inst = FindInstance(id);
    switch (message) {
    case ICM_GETINFO:
        return GetInfo(reinterpret_cast<ICINFO*>(lParam1), static_cast<DWORD>(lParam2));
    case ICM_ABOUT:
    case ICM_CONFIGURE:
        return ICERR_UNSUPPORTED; // neither box is offered (queries included)
    case ICM_GETSTATE:
    case ICM_SETSTATE:
        return 0; // no state to keep
    case ICM_GETDEFAULTQUALITY:
        if (lParam1 == 0) return ICERR_BADPARAM;
        *reinterpret_cast<DWORD*>(lParam1) = media::kMsvc1DefaultQuality;
        return ICERR_OK;
    case ICM_GETQUALITY:
        if (lParam1 == 0 || inst == nullptr) return ICERR_BADPARAM;
        *reinterpret_cast<DWORD*>(lParam1) = inst->quality;
        return ICERR_OK;
    case ICM_SETQUALITY:
        if (inst == nullptr) return ICERR_BADPARAM;
        if (static_cast<DWORD>(lParam1) <= media::kMsvc1MaxQuality)
            inst->quality = static_cast<DWORD>(lParam1);
        return ICERR_OK;
    case ICM_GETDEFAULTKEYFRAMERATE:
        if (lParam1 == 0) return ICERR_BADPARAM;
        *reinterpret_cast<DWORD*>(lParam1) = kDefaultKeyFrameRate;
        return ICERR_OK;
    case ICM_COMPRESS_FRAMES_INFO: {
        // Only the quality matters here; the formats may not be known yet.
        const auto* frames = reinterpret_cast<const ICCOMPRESSFRAMES*>(lParam1);
        if (frames == nullptr || inst == nullptr) return ICERR_BADPARAM;
        if (frames->lQuality >= 0 && frames->lQuality <= media::kMsvc1MaxQuality)
            inst->quality = static_cast<DWORD>(frames->lQuality);
        return ICERR_OK;
    }
    case ICM_COMPRESS_QUERY:
        return CompressQuery(reinterpret_cast<const BITMAPINFOHEADER*>(lParam1),
                             reinterpret_cast<const BITMAPINFOHEADER*>(lParam2));
    case ICM_COMPRESS_GET_FORMAT:
        return CompressGetFormat(reinterpret_cast<const BITMAPINFOHEADER*>(lParam1),
                                 reinterpret_cast<BITMAPINFOHEADER*>(lParam2));
    case ICM_COMPRESS_GET_SIZE: {
        const auto* in = reinterpret_cast<const BITMAPINFOHEADER*>(lParam1);
        if (!InputAccepted(in)) return 0;
        return static_cast<LRESULT>(media::Msvc1MaxFrameBytes(in->biWidth, in->biHeight));
    }
    case ICM_COMPRESS_BEGIN: {
        const auto* in = reinterpret_cast<const BITMAPINFOHEADER*>(lParam1);
        if (inst == nullptr) return ICERR_BADHANDLE;
        if (CompressQuery(in, reinterpret_cast<const BITMAPINFOHEADER*>(lParam2)) != ICERR_OK)
            return ICERR_BADFORMAT;
        return inst->encoder.Begin(in->biWidth, in->biHeight, in->biBitCount) ? ICERR_OK
                                                                              : ICERR_BADFORMAT;
    }
    case ICM_COMPRESS:
        if (inst == nullptr) return ICERR_BADHANDLE;
        return Compress(*inst, reinterpret_cast<ICCOMPRESS*>(lParam1));
    case ICM_COMPRESS_END:
        if (inst == nullptr) return ICERR_BADHANDLE;
        inst->encoder.End();
        return ICERR_OK;
    case ICM_DECOMPRESS_QUERY:
    case ICM_DECOMPRESS_GET_FORMAT:
    case ICM_DECOMPRESS_BEGIN:
    case ICM_DECOMPRESS:
    case ICM_DECOMPRESSEX_QUERY:
    case ICM_DECOMPRESSEX_BEGIN:
    case ICM_DECOMPRESSEX:
        return ICERR_BADFORMAT; // reading is the system decoder's job
    default:
        if (message < DRV_USER) return DefDriverProc(id, driver, message, lParam1, lParam2);
        return ICERR_UNSUPPORTED;
    }
}

// Whether the system's own "MSVC" compressor (ours not installed) takes uncompressed frames of
// this depth.
bool SystemMsvcAccepts(unsigned bitsPerPixel) {
    const base::TCompressorHandle hic(ICOpen(ICTYPE_VIDEO, kFccMsvc, ICMODE_QUERY));
    if (!hic) return false;
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colours[256];
    } format{};
    format.header.biSize = sizeof(BITMAPINFOHEADER);
    format.header.biWidth = 320;
    format.header.biHeight = 200;
    format.header.biPlanes = 1;
    format.header.biBitCount = static_cast<WORD>(bitsPerPixel);
    format.header.biCompression = BI_RGB;
    format.header.biSizeImage =
        static_cast<DWORD>(media::DibRowBytes(320, static_cast<int>(bitsPerPixel)) * 200);
    if (bitsPerPixel <= 8) {
        format.header.biClrUsed = 1u << bitsPerPixel;
        for (unsigned i = 0; i < format.header.biClrUsed; ++i)
            format.colours[i] =
                RGBQUAD{static_cast<BYTE>(i), static_cast<BYTE>(i), static_cast<BYTE>(i), 0};
    }
    return ICCompressQuery(hic.get(), &format, nullptr) == ICERR_OK;
}

} // namespace

LRESULT CALLBACK Msvc1DriverProc(DWORD_PTR driverId, HDRVR driver, UINT message, LPARAM lParam1,
                                 LPARAM lParam2) {
    try {
        return HandleMessage(driverId, driver, message, lParam1, lParam2);
    } catch (...) {
        // Nothing may unwind into msvfw32; the only thing that can throw is allocation.
        return message == DRV_OPEN ? 0 : ICERR_MEMORY;
    }
}

bool InstallOwnMsvc1IfNeeded(unsigned screenBitsPerPixel) {
    std::lock_guard<std::mutex> lock(gInstallLock);
    if (gInstalled) return true;
    // Ours helps only at depths it encodes.
    if (!media::Msvc1AcceptsFrame(4, 4, static_cast<int>(screenBitsPerPixel))) return false;
    if (SystemMsvcAccepts(screenBitsPerPixel)) return false;
    gInstalled = ICInstall(ICTYPE_VIDEO, kFccMsvc, reinterpret_cast<LPARAM>(&Msvc1DriverProc),
                           nullptr, ICINSTALL_FUNCTION) != FALSE;
    return gInstalled;
}

bool OwnMsvc1Installed() {
    std::lock_guard<std::mutex> lock(gInstallLock);
    return gInstalled;
}

bool RemoveOwnMsvc1() {
    std::lock_guard<std::mutex> lock(gInstallLock);
    if (!gInstalled) return false;
    ICRemove(ICTYPE_VIDEO, kFccMsvc, 0);
    gInstalled = false;
    return true;
}

} // namespace engine
