#include "engine/Catalogue.h"

#include "engine/FrameGrabber.h"
#include "engine/scrcam.h"
#include "core/CaptureRules.h"

#include <cwchar>

namespace engine {

using namespace base;

std::mutex& CompressorManagerLock() {
    static std::mutex lock;
    return lock;
}

HIC OpenForQuery(const ICINFO& entry) {
    std::lock_guard<std::mutex> manager(CompressorManagerLock());
    return ICOpen(entry.fccType, entry.fccHandler, ICMODE_QUERY);
}

void CloseQuery(TCompressorHandle& ic) {
    std::lock_guard<std::mutex> manager(CompressorManagerLock());
    ic.reset();
}

namespace {

ICINFO BuiltInH264Entry() {
    ICINFO entry{};
    entry.dwSize = sizeof entry;
    entry.fccType = kMp4Type;
    entry.fccHandler = kH264;
    std::wcsncpy(entry.szName, L"H.264", std::size(entry.szName) - 1);
    std::wcsncpy(entry.szDescription, L"H.264 (MP4)", std::size(entry.szDescription) - 1);
    return entry;
}

} // namespace

void TScreenCam::EnumCompressors() {
    // The worker reads the catalogue and compresses; a rebuild now would change what it reads.
    if (Recording || RecordThread) return;
    TFrame probe(GrabFrame(0, 0, 320, 200));
    CompressorCount = 0;
    if (!probe) return;
    std::int32_t count = 0;
    {
        std::lock_guard<std::mutex> manager(CompressorManagerLock());
        // The last place is kept for the built-in encoder.
        for (DWORD i = 0; i < kMaxCompressors && count < kMaxCompressors - 1; ++i) {
            // count <= i, so the slot is always inside the table.
            ICINFO& slot = Compressors[static_cast<std::size_t>(count)];
            slot.dwSize = sizeof(ICINFO);
            if (!ICInfo(ICTYPE_VIDEO, i, &slot)) continue;
            TCompressorHandle ic(ICOpen(slot.fccType, slot.fccHandler, ICMODE_QUERY));
            if (!ic) continue;
            if (ICCompressQuery(ic.get(), probe.get(), nullptr) == ICERR_OK) {
                const DWORD type = slot.fccType;
                const DWORD handler = slot.fccHandler;
                ICGetInfo(ic.get(), &slot, sizeof(ICINFO));
                // Some compressors leave their identity out of their own information; keep the
                // one they were opened by so the entry can be opened again.
                if (!slot.fccType) slot.fccType = type;
                if (!slot.fccHandler) slot.fccHandler = handler;
                // A handler the catalogue already lists opens that same compressor again (Wine's
                // "msvc" opens our own "MSVC"): listing it twice would offer one compressor twice.
                bool listed = false;
                for (std::int32_t k = 0; k < count; ++k)
                    listed = listed ||
                             core::SameFourCC(Compressors[static_cast<std::size_t>(k)].fccHandler,
                                              handler);
                if (!listed) CompressorCount = ++count;
            }
        }
    }
    // The built-in encoder takes every frame the screen gives.
    Compressors[static_cast<std::size_t>(count)] = BuiltInH264Entry();
    CompressorCount = count + 1;
}

bool TScreenCam::RecordsMp4() const {
    const std::int32_t index = CompressorIndex;
    return core::IndexInCatalogue(index, CompressorCount) &&
           IsBuiltInH264(Compressors[static_cast<std::size_t>(index)]);
}

const ICINFO* TScreenCam::InstalledEntry(std::int32_t index) const {
    if (!core::IndexInCatalogue(index, CompressorCount)) return nullptr;
    const ICINFO& entry = Compressors[static_cast<std::size_t>(index)];
    return IsBuiltInH264(entry) ? nullptr : &entry;
}

void TScreenCam::CompressorCaps(std::int32_t index, bool& hasAbout, bool& hasConfig) {
    hasAbout = false;
    hasConfig = false;
    const ICINFO* entry = InstalledEntry(index);
    if (!entry) return;
    std::lock_guard<std::mutex> manager(CompressorManagerLock());
    TCompressorHandle ic(ICOpen(entry->fccType, entry->fccHandler, ICMODE_QUERY));
    if (!ic) return;
    hasAbout = ICQueryAbout(ic.get());
    hasConfig = ICQueryConfigure(ic.get());
}

void TScreenCam::CompressorAbout(std::int32_t index, HWND owner) {
    const ICINFO* entry = InstalledEntry(index);
    if (!entry) return;
    TCompressorHandle ic(OpenForQuery(*entry));
    if (ic) ICAbout(ic.get(), owner);
    CloseQuery(ic);
}

void TScreenCam::CompressorConfigure(std::int32_t index, HWND owner) {
    const ICINFO* entry = InstalledEntry(index);
    if (!entry) return;
    TCompressorHandle ic(OpenForQuery(*entry));
    if (ic) ICConfigure(ic.get(), owner);
    CloseQuery(ic);
}

} // namespace engine
