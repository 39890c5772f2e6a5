// Soak benchmark (not a test): records a moving 640 x 480 region at a 1 ms capture interval with
// the "MSVC" compressor for a long time and samples the process's private bytes, GDI objects and
// handles every 10 seconds. Files switch at a lowered size limit so that a run passes through many
// files; closed files are deleted as it goes to keep the disk free.
//
// With --sound it records with sound instead: H.264 in MP4 at 33 ms and 30 frames a second (sound
// needs about real time), the microphone and the computer's sound on. At 20 s and 10 s before the
// end a black window covers the region for 2 s while a 440 Hz tone of 1 s plays through the
// default output (whose monitor the computer's sound captures); the files holding these marks
// and the last file stay in FOLDER for scripts/soak to measure sound against picture.
//
//   soak [--sound] [SECONDS [FILE_MB [FOLDER]]]   prints one line per sample, then a summary
#include "engine/Catalogue.h"
#include "engine/msvc1drv.h"
#include "engine/scrcam.h"

#include "../tests/win/EngineTestSupport.h"

#include <psapi.h>

#include <mmsystem.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <optional>
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

// The marks of a sound soak: a black window over the region and a tone through the default output,
// started together on a thread of its own (the window needs a message loop).
class TMarker {
public:
    explicit TMarker(std::atomic<bool>& stop) : thread_([this, &stop] { Run(stop); }) {}
    ~TMarker() { thread_.join(); }
    void Mark() { ++asked_; }
    // Whether the tone could be played at all.
    bool Sounds() const { return sounds_; }

private:
    void Run(std::atomic<bool>& stop) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
        wc.lpszClassName = L"SoakMark";
        RegisterClassW(&wc);
        HWND wnd = CreateWindowExW(WS_EX_TOPMOST | WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW, L"SoakMark",
                                   L"soak mark", WS_POPUP, kLeft, kTop, kWidth, kHeight, nullptr,
                                   nullptr, wc.hInstance, nullptr);
        // A second of 440 Hz at a fifth of full scale, 48 kHz stereo, as the tests' tones.
        std::vector<std::int16_t> tone(48000 * 2);
        for (std::size_t i = 0; i < tone.size(); ++i)
            tone[i] = static_cast<std::int16_t>(
                6554 * std::sin(2 * std::numbers::pi * 440.0 * static_cast<double>(i / 2) / 48000));
        WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, 48000, 48000 * 4, 4, 16, 0};
        HWAVEOUT out = nullptr;
        WAVEHDR header{};
        header.lpData = reinterpret_cast<LPSTR>(tone.data());
        header.dwBufferLength = static_cast<DWORD>(tone.size() * 2);
        sounds_ =
            waveOutOpen(&out, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) == MMSYSERR_NOERROR &&
            waveOutPrepareHeader(out, &header, sizeof(header)) == MMSYSERR_NOERROR;
        int done = 0;
        DWORD hideAt = 0;
        bool shown = false;
        MSG msg;
        while (!stop) {
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&msg);
            if (asked_ > done) {
                ++done;
                // The sound's way out is the longer one: it starts first.
                if (sounds_) {
                    waveOutReset(out);
                    header.dwFlags &= WHDR_PREPARED;
                    waveOutWrite(out, &header, sizeof(header));
                }
                ShowWindow(wnd, SW_SHOWNOACTIVATE);
                UpdateWindow(wnd);
                hideAt = GetTickCount() + 2000;
                shown = true;
            }
            if (shown && static_cast<int>(GetTickCount() - hideAt) >= 0) {
                ShowWindow(wnd, SW_HIDE);
                shown = false;
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 2, QS_ALLINPUT);
        }
        if (out) {
            waveOutReset(out);
            waveOutUnprepareHeader(out, &header, sizeof(header));
            waveOutClose(out);
        }
        DestroyWindow(wnd);
    }

    std::atomic<int> asked_{0};
    std::atomic<bool> sounds_{false};
    std::thread thread_;
};

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
    const bool withSound = argc > 1 && std::wstring(argv[1]) == L"--sound";
    if (withSound) {
        --argc;
        ++argv;
    }
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
        if (withSound ? engine::IsBuiltInH264(cam.Compressors[static_cast<std::size_t>(i)])
                      : cam.Compressors[static_cast<std::size_t>(i)].fccHandler ==
                            mmioFOURCC('M', 'S', 'V', 'C'))
            cam.CompressorIndex = i;
    cam.CaptureInterval = withSound ? 33 : 1;
    cam.PlaybackRate = withSound ? 30 : 10;
    cam.RecordMicrophone = withSound;
    cam.RecordSystemSound = withSound;
    cam.DrawCursor = true;
    cam.MaxFileBytes = fileMB << 20;
    cam.Services.ShowMessage = [](const std::wstring& text, const std::wstring&, UINT) {
        std::fwprintf(stderr, L"message: %ls\n", text.c_str());
        return IDOK;
    };

    const char* compressor = cam.CompressorIndex < 0 ? "none (uncompressed)"
                             : withSound             ? "H.264 (MP4)"
                                                     : "MSVC";
    std::printf("soak: %d s, %dx%d at %d ms%s, compressor %s, file limit %llu MB, scene %s\n",
                seconds, kWidth, kHeight, cam.CaptureInterval.load(),
                withSound ? " and 30 frames a second, microphone and computer's sound" : "",
                compressor, static_cast<unsigned long long>(fileMB),
                scene.hProcess ? "bench/scene.exe" : "own moving window");
    std::printf("%8s %14s %6s %8s %9s %6s\n", "seconds", "private_bytes", "gdi", "handles",
                "frames", "files");

    std::atomic<bool> stopMarks{false};
    std::optional<TMarker> marker;
    if (withSound) marker.emplace(stopMarks);
    // The marks' seconds, and the files that hold them (kept for the measurement).
    std::vector<int> marks;
    if (withSound && seconds >= 40) marks.push_back(20);
    if (withSound && seconds >= 15) marks.push_back(seconds - 10);
    std::vector<std::wstring> kept;
    cam.StartRecording({kLeft, kTop, kWidth, kHeight},
                       folder + (withSound ? L"\\soak.mp4" : L"\\soak.avi"));
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
    // Sound: both sources capturing at each sample, and their loudest.
    int bothRunning = 0;
    float peaks[2] = {0, 0};
    std::size_t nextMark = 0;
    for (int next = 10; next <= seconds; next += 10) {
        while (static_cast<int>(GetTickCount() - t0) < next * 1000) {
            base::TThread::ServeUntil([] { return false; }, 200);
            if (nextMark < marks.size() &&
                static_cast<int>(GetTickCount() - t0) >= marks[nextMark] * 1000) {
                marker->Mark();
                if (const auto files = cam.RecordingFiles(); !files.empty())
                    kept.push_back(files.back());
                ++nextMark;
            }
            for (int i = 0; i < 2; ++i)
                peaks[i] = std::max(peaks[i], cam.SoundLevels[static_cast<std::size_t>(i)].load());
        }
        sample();
        bothRunning += cam.SoundStates[0] == 1 && cam.SoundStates[1] == 1;
        // Closed files are done with: delete them so a long run does not fill the disk.
        const std::vector<std::wstring> files = cam.RecordingFiles();
        for (std::size_t i = 0; i + 1 < files.size(); ++i)
            if (std::find(kept.begin(), kept.end(), files[i]) == kept.end())
                DeleteFileW(files[i].c_str());
    }
    cam.StopRecording();
    base::TThread::ServeUntil([&] { return cam.RecordThread == nullptr; }, 15000);
    const std::vector<std::wstring> files = cam.RecordingFiles();
    if (withSound && !files.empty()) kept.push_back(files.back());
    for (const std::wstring& f : files)
        if (std::find(kept.begin(), kept.end(), f) == kept.end()) DeleteFileW(f.c_str());
    if (withSound)
        std::printf("sound: both sources capturing at %d of %zu samples, peaks microphone %.2f, "
                    "computer %.2f; %zu marks%s\n",
                    bothRunning, samples.size(), static_cast<double>(peaks[0]),
                    static_cast<double>(peaks[1]), marks.size(),
                    marker && marker->Sounds() ? "" : ", the tone could not be played");

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
    stopMarks = true;
    marker.reset();
    if (own.joinable()) own.join();
    if (scene.hProcess) {
        TerminateProcess(scene.hProcess, 0);
        CloseHandle(scene.hProcess);
        CloseHandle(scene.hThread);
    }
    RemoveDirectoryW(folder.c_str());
    return 0;
}
