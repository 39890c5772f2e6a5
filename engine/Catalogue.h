// Catalogue: the compressor catalogue's handlers and the one lock every call into the platform's
// compression manager takes.
#pragma once

#include "base/Handles.h"
#include "core/Text.h"

#include <windows.h>
#include <vfw.h>

#include <cwchar>
#include <iterator>
#include <mutex>
#include <string>

namespace engine {

inline constexpr DWORD kMSVC = core::FourCC("MSVC");
inline constexpr DWORD kIV50 = core::FourCC("IV50");
// The built-in H.264 encoder's entry, always last in the catalogue. Its type is no compression
// manager's, so no installed compressor can be taken for it (nor it for one named "H264").
inline constexpr DWORD kH264 = core::FourCC("H264");
inline constexpr DWORD kMp4Type = core::FourCC("mp4 ");

// Whether the catalogue entry is the built-in H.264 encoder's.
inline bool IsBuiltInH264(const ICINFO& entry) {
    return entry.fccType == kMp4Type && entry.fccHandler == kH264;
}

// The entry's description as the compressor gives it, which need not end in a NUL.
inline std::wstring EntryDescription(const ICINFO& entry) {
    return std::wstring(entry.szDescription,
                        wcsnlen(entry.szDescription, std::size(entry.szDescription)));
}

// Wine's compression manager keeps its open instances and installed drivers in lists that it
// changes without a lock: an ICOpen on one thread while another compresses can lose an instance
// or hand out one number twice. Every call into it from the engine runs under this lock.
std::mutex& CompressorManagerLock();

// An instance for queries, opened and closed under the lock; what is done with it between (a
// query, or a compressor's own dialog, which must not hold up a recording) takes it as needed.
HIC OpenForQuery(const ICINFO& entry);
void CloseQuery(base::TCompressorHandle& ic);

} // namespace engine
