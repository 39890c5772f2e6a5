// Soak benchmark (not a test): records a moving 640 x 480 region at a 1 ms capture interval with
// the "MSVC" compressor for a long time and samples the process's private bytes, GDI objects and
// handles every 10 seconds. Files switch at a lowered size limit so that a run passes through many
// files; closed files are deleted as it goes to keep the disk free.
//
//   soak [SECONDS [FILE_MB [FOLDER]]]      prints one line per sample, then a summary
#include "engine/msvc1drv.h"
#include "engine/scrcam.h"

#include "../tests/win/EngineTestSupport.h"

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kLeft = 0, kTop = 0, kWidth = 640, kHeight = 480;
constexpr std::uint64_t kSoakFileMB = 64;

std::uint64_t PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX pmc{};
    pmc.cb = sizeof(pmc);
    if (!GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc),
                              sizeof(pmc)))
        return 0;
    // Wine leaves PrivateUsage at 0 and reports the private commit as the page-file usage,
    // which is the same figure on Windows.
    return pmc.PrivateUsage ? pmc.PrivateUsage : pmc.PagefileUsage;
}

// Kernel handles of this process: GetProcessHandleCount, or where that says nothing (Wine) the
// system's handle table filtered by our process id.
DWORD Handles() {
    DWORD n = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &n) && n) return n;
    struct Entry {
        ULONG ownerPid;
        BYTE objectType;
        BYTE flags;
        USHORT handle;
        void* object;
        ULONG access;
    };
    struct Table {
        ULONG count;
        Entry entries[1];
    };
    using QueryFn = LONG(WINAPI*)(int, void*, ULONG, ULONG*);
    auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return 0;
    std::vector<std::uint8_t> buffer(1 << 20);
    for (int tries = 0; tries < 6; ++tries) {
        ULONG needed = 0;
        const LONG status = query(16 /* SystemHandleInformation */, buffer.data(),
                                  static_cast<ULONG>(buffer.size()), &needed);
        if (status == 0) {
            const auto* table = reinterpret_cast<const Table*>(buffer.data());
            const DWORD pid = GetCurrentProcessId();
            DWORD count = 0;
            for (ULONG i = 0; i < table->count; ++i)
                count += table->entries[i].ownerPid == pid;
            return count;
        }
        buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed + 4096));
    }
    return 0;
}

// The moving scene: bench/scene.exe beside this program when it was built, otherwise a window of
// our own with a bar and a box moving across it.
LRESULT CALLBACK MovingProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    static int tick = 0;
    switch (msg) {
    case WM_TIMER:
        ++tick;
        InvalidateRect(wnd, nullptr, FALSE);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(wnd, &ps);
        RECT all{0, 0, kWidth, kHeight};
        FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        HBRUSH bar = CreateSolidBrush(RGB((tick * 7) & 0xFF, 90, 200));
        RECT r{(tick * 5) % kWidth, 0, (tick * 5) % kWidth + 40, kHeight};
        FillRect(dc, &r, bar);
        DeleteObject(bar);
        RECT box{(tick * 3) % (kWidth - 80), (tick * 2) % (kHeight - 60), 0, 0};
        box.right = box.left + 80;
        box.bottom = box.top + 60;
        FillRect(dc, &box, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        EndPaint(wnd, &ps);
        return 0;
    }
    }
    return DefWindowProcW(wnd, msg, wp, lp);
}

void RunOwnScene(std::atomic<bool>& stop) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = MovingProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"SoakScene";
    RegisterClassW(&wc);
    HWND wnd =
        CreateWindowExW(WS_EX_TOPMOST, L"SoakScene", L"soak scene", WS_POPUP | WS_VISIBLE, kLeft,
                        kTop, kWidth, kHeight, nullptr, nullptr, wc.hInstance, nullptr);
    SetTimer(wnd, 1, 40, nullptr);
    MSG msg;
    while (!stop) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    DestroyWindow(wnd);
}

PROCESS_INFORMATION StartScene() {
    PROCESS_INFORMATION pi{};
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring exe(self);
    exe = exe.substr(0, exe.find_last_of(L'\\') + 1) + L"scene.exe";
    if (GetFileAttributesW(exe.c_str()) == INVALID_FILE_ATTRIBUTES) return pi;
    std::wstring cmd = L"\"" + exe + L"\" 0 0 640 480";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    if (!CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        pi = PROCESS_INFORMATION{};
    return pi;
}

struct Sample {
    double seconds;
    std::uint64_t privateBytes;
    long gdi;
    DWORD handles;
    int frames;
    std::size_t files;
};

} // namespace

int wmain(int argc, wchar_t** argv) {
    const int seconds = argc > 1 ? _wtoi(argv[1]) : 600;
    const std::uint64_t fileMB = argc > 2 && _wtoi(argv[2]) > 0 ? _wtoi(argv[2]) : kSoakFileMB;
    std::wstring folder;
    if (argc > 3) {
        folder = argv[3];
    } else {
        wchar_t tmp[MAX_PATH];
        GetTempPathW(MAX_PATH, tmp);
        folder = std::wstring(tmp) + L"quarnelby-soak";
    }
    CreateDirectoryW(folder.c_str(), nullptr);

    std::atomic<bool> stopScene{false};
    PROCESS_INFORMATION scene = StartScene();
    std::thread own;
    if (!scene.hProcess) own = std::thread([&] { RunOwnScene(stopScene); });
    Sleep(1500);

    engine::TScreenCam cam;
    engine::InstallOwnMsvc1IfNeeded(cam.BitsPerPixel);
    cam.EnumCompressors();
    for (int i = 0; i < cam.CompressorCount; ++i)
        if (cam.Compressors[static_cast<std::size_t>(i)].fccHandler ==
            mmioFOURCC('M', 'S', 'V', 'C'))
            cam.CompressorIndex = i;
    cam.CaptureInterval = 1;
    cam.DrawCursor = true;
    cam.MaxFileBytes = fileMB << 20;
    cam.Services.ShowMessage = [](const std::wstring& text, const std::wstring&, UINT) {
        std::fwprintf(stderr, L"message: %ls\n", text.c_str());
        return IDOK;
    };

    std::printf("soak: %d s, %dx%d at 1 ms, compressor %s, file limit %llu MB, scene %s\n", seconds,
                kWidth, kHeight, cam.CompressorIndex >= 0 ? "MSVC" : "none (uncompressed)",
                static_cast<unsigned long long>(fileMB),
                scene.hProcess ? "bench/scene.exe" : "own moving window");
    std::printf("%8s %14s %6s %8s %9s %6s\n", "seconds", "private_bytes", "gdi", "handles",
                "frames", "files");

    cam.StartRecording({kLeft, kTop, kWidth, kHeight}, folder + L"\\soak.avi");
    std::vector<Sample> samples;
    const DWORD t0 = GetTickCount();
    auto sample = [&] {
        Sample s{(GetTickCount() - t0) / 1000.0, PrivateBytes(),
                 enginetest::GdiObjectCount(),   Handles(),
                 cam.FramesWritten.load(),       cam.RecordingFiles().size()};
        samples.push_back(s);
        std::printf("%8.1f %14llu %6ld %8lu %9d %6zu\n", s.seconds,
                    static_cast<unsigned long long>(s.privateBytes), s.gdi, s.handles, s.frames,
                    s.files);
        std::fflush(stdout);
    };
    for (int next = 10; next <= seconds; next += 10) {
        while (static_cast<int>(GetTickCount() - t0) < next * 1000)
            base::TThread::ServeUntil([] { return false; }, 200);
        sample();
        // Closed files are done with: delete them so a long run does not fill the disk.
        const std::vector<std::wstring> files = cam.RecordingFiles();
        for (std::size_t i = 0; i + 1 < files.size(); ++i)
            DeleteFileW(files[i].c_str());
    }
    cam.StopRecording();
    base::TThread::ServeUntil([&] { return cam.RecordThread == nullptr; }, 15000);
    for (const std::wstring& f : cam.RecordingFiles())
        DeleteFileW(f.c_str());

    if (samples.size() >= 3) {
        // The first sample includes start-up (compressor, writer, first file): growth is
        // measured from the second one.
        const Sample& a = samples[1];
        const Sample& z = samples.back();
        std::uint64_t maxPrivate = 0;
        long maxGdi = 0;
        DWORD maxHandles = 0;
        for (std::size_t i = 1; i < samples.size(); ++i) {
            maxPrivate = std::max(maxPrivate, samples[i].privateBytes);
            maxGdi = std::max(maxGdi, samples[i].gdi);
            maxHandles = std::max(maxHandles, samples[i].handles);
        }
        std::printf("summary: from %.0f s to %.0f s: private bytes %llu -> %llu (%+lld, max %llu), "
                    "GDI objects %ld -> %ld (max %ld), handles %lu -> %lu (max %lu), "
                    "%d frames in %zu files\n",
                    a.seconds, z.seconds, static_cast<unsigned long long>(a.privateBytes),
                    static_cast<unsigned long long>(z.privateBytes),
                    static_cast<long long>(z.privateBytes) - static_cast<long long>(a.privateBytes),
                    static_cast<unsigned long long>(maxPrivate), a.gdi, z.gdi, maxGdi, a.handles,
                    z.handles, maxHandles, z.frames, z.files);
    }
    stopScene = true;
    if (own.joinable()) own.join();
    if (scene.hProcess) {
        TerminateProcess(scene.hProcess, 0);
        CloseHandle(scene.hProcess);
        CloseHandle(scene.hThread);
    }
    RemoveDirectoryW(folder.c_str());
    return 0;
}
