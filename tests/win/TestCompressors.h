// Test compressors: in-process video compressors with chosen behaviour, installed with ICInstall.
#pragma once

#include <windows.h>
#include <vfw.h>

#include <array>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace enginetest {

// How one test compressor behaves. Its output is the input frame unchanged (an uncompressed
// RGB format), so players decode the files it writes.
struct TCompressorBehaviour {
    bool cannotOpen = false;  // DRV_OPEN fails
    bool refuseAll = false;   // ICM_COMPRESS_QUERY never accepts
    int multiple = 1;         // accepts only widths and heights that are multiples of this
    int failFrame = 0;        // ICM_COMPRESS fails on this (1-based) frame; 0 never
    bool about = false;       // answers the about query with ICERR_OK
    bool configure = false;   // answers the configure query with ICERR_OK
};

// What a test compressor saw.
struct TCompressorLog {
    std::atomic<int> opens{0}, framesCompressed{0}, aboutShown{0}, configureShown{0};
    std::mutex m;
    std::map<DWORD_PTR, DWORD> openInstances; // instance id -> ICMODE_ it was opened with
    std::vector<std::pair<LONG, LONG>> queriedSizes;
    HWND lastOwner = nullptr;

    // Instances opened with the mode and not closed yet.
    int StillOpen(DWORD mode) {
        std::lock_guard<std::mutex> lock(m);
        int n = 0;
        for (const auto& [id, m] : openInstances) n += m == mode;
        return n;
    }
};

// Installs the compressors for the lifetime of the object and removes them afterwards.
class TTestCompressors {
public:
    TTestCompressors() = default;
    ~TTestCompressors();
    TTestCompressors(const TTestCompressors&) = delete;
    TTestCompressors& operator=(const TTestCompressors&) = delete;

    // Installs a compressor of handler fcc; returns its log, or nullptr when no slot is free or
    // ICInstall refused.
    TCompressorLog* Install(DWORD fcc, const TCompressorBehaviour& behaviour);

    static constexpr int kSlots = 48;

private:
    std::vector<int> slots_;
};

} // namespace enginetest
