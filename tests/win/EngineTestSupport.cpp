#include "EngineTestSupport.h"

#include <psapi.h>
#include <vfw.h>
#include <winternl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace enginetest {

// --------------------------------------------------------------------------------------------
// Files

TTempDir::TTempDir() {
    static int counter = 0;
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    path_ = std::wstring(tmp) + L"quarnelby-engine-" + std::to_wstring(GetCurrentProcessId()) +
            L"-" + std::to_wstring(counter++);
    CreateDirectoryW(path_.c_str(), nullptr);
}

TTempDir::~TTempDir() {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((path_ + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileW((path_ + L"\\" + fd.cFileName).c_str());
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(path_.c_str());
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::uint64_t FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string UnixPath(const std::wstring& path) {
    using Fn = char*(CDECL*)(LPCWSTR);
    auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!fn) return {};
    char* unix = fn(path.c_str());
    if (!unix) return {};
    std::string result(unix);
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

namespace {
std::string ReadWholeFile(const std::wstring& path) {
    std::string s;
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (f == INVALID_HANDLE_VALUE) return s;
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(f, buf, sizeof(buf), &got, nullptr) && got)
        s.append(buf, got);
    CloseHandle(f);
    return s;
}
} // namespace

int RunUnixShell(const std::string& command, std::string& output) {
    // Wine starts a Unix executable given by its Unix path, but hands back no process handle to
    // wait on; the script leaves its exit code in a marker file when it is done.
    TTempDir dir;
    const std::wstring outFile = dir.File(L"out.txt");
    const std::wstring scriptFile = dir.File(L"run.sh");
    const std::wstring doneFile = dir.File(L"done");
    const std::string unixOut = UnixPath(outFile);
    const std::string unixScript = UnixPath(scriptFile);
    const std::string unixDone = UnixPath(doneFile);
    if (unixOut.empty() || unixScript.empty() || unixDone.empty()) return -1;
    {
        const std::string script = "#!/bin/sh\n(" + command + ") >'" + unixOut +
                                   "' 2>&1\necho $? >'" + unixDone + ".tmp'\nmv '" + unixDone +
                                   ".tmp' '" + unixDone + "'\n";
        HANDLE f =
            CreateFileW(scriptFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (f == INVALID_HANDLE_VALUE) return -1;
        DWORD written = 0;
        WriteFile(f, script.data(), static_cast<DWORD>(script.size()), &written, nullptr);
        CloseHandle(f);
    }
    std::wstring cmd = L"/bin/sh \"";
    for (char c : unixScript)
        cmd += static_cast<wchar_t>(static_cast<unsigned char>(c));
    cmd += L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    std::vector<wchar_t> line(cmd.begin(), cmd.end());
    line.push_back(0);
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return -1;
    if (pi.hThread) CloseHandle(pi.hThread);
    if (pi.hProcess) CloseHandle(pi.hProcess);
    const DWORD start = GetTickCount();
    while (!FileExists(doneFile)) {
        if (GetTickCount() - start > 120000) return -1;
        Sleep(20);
    }
    output = ReadWholeFile(outFile);
    return std::atoi(ReadWholeFile(doneFile).c_str());
}

// --------------------------------------------------------------------------------------------
// Windows and pixels

TPatternWindow::TPatternWindow(int left, int top, int width, int height, Painter paint)
    : paint_(std::move(paint)) {
    static bool registered = false;
    if (!registered) {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.lpszClassName = L"QuarnelbyEngineTestPattern";
        RegisterClassExW(&wc);
        registered = true;
    }
    wnd_ = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"QuarnelbyEngineTestPattern", L"",
                           WS_POPUP, left, top, width, height, nullptr, nullptr,
                           GetModuleHandleW(nullptr), this);
    ShowWindow(wnd_, SW_SHOWNOACTIVATE);
    UpdateWindow(wnd_);
    PumpMessages(300);
}

TPatternWindow::~TPatternWindow() {
    if (wnd_) DestroyWindow(wnd_);
    PumpMessages(50);
}

LRESULT CALLBACK TPatternWindow::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* self = reinterpret_cast<TPatternWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == WM_ERASEBKGND) return 1;
    if (msg == WM_PAINT && self) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        RECT rc;
        GetClientRect(hwnd, &rc);
        self->paint_(dc, rc.right, rc.bottom);
        EndPaint(hwnd, &ps);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

void PaintMoving(HDC dc, int w, int h) {
    static int tick = 0;
    ++tick;
    for (int i = 0; i < 8; ++i) {
        HBRUSH b = CreateSolidBrush(RGB((i * 40 + tick * 13) & 0xFF, (tick * 29) & 0xFF, i * 30));
        RECT r{i * w / 8, 0, (i + 1) * w / 8, h};
        FillRect(dc, &r, b);
        DeleteObject(b);
    }
}

void PumpMessages(DWORD ms) {
    const DWORD start = GetTickCount();
    do {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
        if (GetTickCount() - start >= ms) break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    } while (GetTickCount() - start < ms);
}

TColor FramePixel(const BITMAPINFOHEADER* frame, int x, int y) {
    const auto* base =
        reinterpret_cast<const std::uint8_t*>(frame) + frame->biSize + 4 * frame->biClrUsed;
    const int rowSize = ((frame->biWidth * frame->biBitCount + 31) / 32) * 4;
    const auto* row = base + static_cast<std::size_t>(frame->biHeight - 1 - y) * rowSize;
    if (frame->biBitCount == 32) {
        const auto* p = row + x * 4;
        return {p[2], p[1], p[0]};
    }
    if (frame->biBitCount == 24) {
        const auto* p = row + x * 3;
        return {p[2], p[1], p[0]};
    }
    if (frame->biBitCount == 16) {
        const std::uint16_t v = static_cast<std::uint16_t>(row[x * 2] | (row[x * 2 + 1] << 8));
        return {static_cast<std::uint8_t>(((v >> 10) & 31) << 3),
                static_cast<std::uint8_t>(((v >> 5) & 31) << 3),
                static_cast<std::uint8_t>((v & 31) << 3)};
    }
    return {0, 0, 0};
}

// --------------------------------------------------------------------------------------------
// Message boxes

void TMessageLog::Attach(engine::TScreenCam& cam) {
    cam.Services.ShowMessage = [this](const std::wstring& text, const std::wstring& caption,
                                      UINT flags) {
        std::function<void()> before;
        int answer = IDOK;
        {
            std::lock_guard<std::mutex> lock(m_);
            shown_.push_back({text, caption, flags, GetCurrentThreadId()});
            if (!answers_.empty()) {
                answer = answers_.front().first;
                before = std::move(answers_.front().second);
                answers_.erase(answers_.begin());
            }
        }
        if (before) before();
        return answer;
    };
}

void TMessageLog::Answer(int answer, std::function<void()> beforeAnswer) {
    std::lock_guard<std::mutex> lock(m_);
    answers_.emplace_back(answer, std::move(beforeAnswer));
}

std::vector<TShownMessage> TMessageLog::Shown() {
    std::lock_guard<std::mutex> lock(m_);
    return shown_;
}

// --------------------------------------------------------------------------------------------
// Reading recordings back

TAviReadBack ReadAvi(const std::wstring& path, bool keepSamples) {
    TAviReadBack r;
    AVIFileInit();
    PAVIFILE file = nullptr;
    if (AVIFileOpenW(&file, path.c_str(), OF_READ | OF_SHARE_DENY_WRITE, nullptr) == 0) {
        r.opened = true;
        AVIFILEINFOW fi{};
        AVIFileInfoW(file, &fi, sizeof(fi));
        r.streams = static_cast<LONG>(fi.dwStreams);
        PAVISTREAM stream = nullptr;
        if (AVIFileGetStream(file, &stream, 0, 0) == 0) {
            AVISTREAMINFOW si{};
            AVIStreamInfoW(stream, &si, sizeof(si));
            r.fccType = si.fccType;
            r.fccHandler = si.fccHandler;
            r.rate = si.dwRate;
            r.scale = si.dwScale;
            r.frame = si.rcFrame;
            r.start = AVIStreamStart(stream);
            r.length = AVIStreamLength(stream);
            LONG fmtSize = sizeof(r.format);
            AVIStreamReadFormat(stream, r.start, &r.format, &fmtSize);
            for (LONG pos = r.start; pos < r.start + r.length; ++pos) {
                LONG bytes = 0, samples = 0;
                if (AVIStreamRead(stream, pos, 1, nullptr, 0, &bytes, &samples) == 0 && bytes > 0) {
                    r.positions.push_back(pos);
                    if (keepSamples) {
                        std::vector<std::uint8_t> data(static_cast<std::size_t>(bytes));
                        AVIStreamRead(stream, pos, 1, data.data(), bytes, nullptr, nullptr);
                        r.samples.push_back(std::move(data));
                    }
                }
            }
            AVIStreamRelease(stream);
        }
        AVIFileRelease(file);
    }
    AVIFileExit();
    return r;
}

namespace {
std::string Field(const std::string& text, const std::string& key) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
    }
    return {};
}
} // namespace

TProbe ProbeWithFfmpeg(const std::wstring& path) {
    TProbe p;
    const std::string file = UnixPath(path);
    if (file.empty()) return p;
    std::string out;
    const int rc = RunUnixShell(
        "ffprobe -v error -count_frames -show_entries "
        "stream=codec_type,codec_name,width,height,r_frame_rate,nb_read_frames -of default=nw=1 '" +
            file + "'; echo streams=$(ffprobe -v error -show_entries stream=index -of csv=p=0 '" +
            file + "' | wc -l)",
        out);
    if (rc < 0) return p;
    p.ran = !out.empty();
    p.raw = out;
    p.codecType = Field(out, "codec_type");
    p.codecName = Field(out, "codec_name");
    p.width = std::atoi(Field(out, "width").c_str());
    p.height = std::atoi(Field(out, "height").c_str());
    p.frameRate = Field(out, "r_frame_rate");
    const std::string n = Field(out, "nb_read_frames");
    p.decodedFrames = n.empty() ? -1 : std::atoi(n.c_str());
    p.streams = std::atoi(Field(out, "streams").c_str());

    std::string errors;
    RunUnixShell("ffmpeg -nostdin -v error -xerror -i '" + file +
                     "' -f null - ; echo ffmpeg_exit=$?",
                 errors);
    const std::string code = Field(errors, "ffmpeg_exit");
    p.ffmpegExit = code.empty() ? -1 : std::atoi(code.c_str());
    const auto at = errors.find("ffmpeg_exit=");
    p.ffmpegErrors = errors.substr(0, at);
    return p;
}

// --------------------------------------------------------------------------------------------
// GDI objects

long GdiObjectCount() {
    const DWORD fromUser = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (fromUser) return static_cast<long>(fromUser);
        // Wine keeps its GDI handle table in memory shared with the process and publishes it in the
        // PEB like Windows; entries in use have a non-zero type. Layout: 64-bit Wine.
#ifdef _WIN64
    struct Entry {
        std::uint64_t object;
        std::uint32_t owner;
        std::uint16_t unique;
        std::uint8_t type;
        std::uint8_t flags;
        std::uint64_t userPointer;
    };
    static_assert(sizeof(Entry) == 24);
    using QueryFn = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION pbi{};
    if (!query || query(GetCurrentProcess(), 0 /* ProcessBasicInformation */, &pbi, sizeof(pbi),
                        nullptr) != 0)
        return -1;
    const auto* peb = reinterpret_cast<const std::uint8_t*>(pbi.PebBaseAddress);
    const auto* table = *reinterpret_cast<const Entry* const*>(peb + 0xF8);
    if (!table) return -1;
    long count = 0;
    for (int i = 0; i < 0x10000; ++i)
        if (table[i].type) ++count;
    return count;
#else
    return -1;
#endif
}

std::uint64_t CommittedBytes() {
    PROCESS_MEMORY_COUNTERS pmc{};
    pmc.cb = sizeof(pmc);
    if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc))) return 0;
    return pmc.PagefileUsage;
}

bool WaitForWorker(engine::TScreenCam& cam, DWORD timeoutMs) {
    return base::TThread::ServeUntil([&] { return cam.RecordThread == nullptr; }, timeoutMs);
}

} // namespace enginetest
