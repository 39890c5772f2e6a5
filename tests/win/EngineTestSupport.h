// Engine test support: pattern windows, scripted message boxes, AVI read-back, ffprobe, GDI counts.
#pragma once

#include "engine/scrcam.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace enginetest {

// A folder of its own under the temp directory, removed with its files at the end.
class TTempDir {
public:
    TTempDir();
    ~TTempDir();
    const std::wstring& Path() const { return path_; }
    std::wstring File(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

bool FileExists(const std::wstring& path);
std::uint64_t FileSize(const std::wstring& path);

// The Unix path of a Windows path (Wine), or empty.
std::string UnixPath(const std::wstring& path);

// Runs a Unix shell command line from inside Wine and returns its exit code (-1 when it could not
// be started); stdout and stderr go to `output`.
int RunUnixShell(const std::string& command, std::string& output);

// A top-level popup window without frame at a fixed screen rectangle, painted by `paint` (client
// coordinates), always on top.
class TPatternWindow {
public:
    using Painter = std::function<void(HDC, int width, int height)>;
    TPatternWindow(int left, int top, int width, int height, Painter paint);
    ~TPatternWindow();
    HWND Handle() const { return wnd_; }

private:
    static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
    HWND wnd_ = nullptr;
    Painter paint_;
};

// Eight colour bars that differ at every paint: frames differ, so delta frames carry data.
void PaintMoving(HDC dc, int width, int height);

// Dispatches every waiting message of this thread, for about `ms` milliseconds.
void PumpMessages(DWORD ms);

// A colour of the test patterns: components that survive a 5-bit channel exactly.
struct TColor {
    std::uint8_t r, g, b;
};
// The pixel at (x, y) of a frame (top-down coordinates) as red, green, blue; 16 and 32 bpp.
TColor FramePixel(const BITMAPINFOHEADER* frame, int x, int y);

// One shown message box.
struct TShownMessage {
    std::wstring text, caption;
    UINT flags;
    DWORD threadId;
};

// Records the engine's message boxes and answers them with a script (IDOK when none is left).
class TMessageLog {
public:
    void Attach(engine::TScreenCam& cam);
    void Answer(int answer, std::function<void()> beforeAnswer = {});
    std::vector<TShownMessage> Shown();

private:
    std::mutex m_;
    std::vector<TShownMessage> shown_;
    std::vector<std::pair<int, std::function<void()>>> answers_;
};

// What the AVIFile API reads back from a recording.
struct TAviReadBack {
    bool opened = false;
    LONG streams = 0;
    DWORD fccType = 0, fccHandler = 0, rate = 0, scale = 0;
    RECT frame{};
    LONG start = 0, length = 0;
    BITMAPINFOHEADER format{};
    std::vector<LONG> positions; // positions that hold a sample with data
    std::vector<std::vector<std::uint8_t>> samples;
};
TAviReadBack ReadAvi(const std::wstring& path, bool keepSamples = false);

// What ffprobe and ffmpeg say about a file.
struct TProbe {
    bool ran = false;
    int streams = 0;
    std::string codecType, codecName;
    int width = 0, height = 0;
    std::string frameRate;
    int decodedFrames = -1;
    int ffmpegExit = -1;
    std::string ffmpegErrors;
    std::string raw;
};
TProbe ProbeWithFfmpeg(const std::wstring& path);

// GDI objects owned by this process: GetGuiResources, or Wine's shared handle table where that
// call is a stub. -1 when neither is available.
long GdiObjectCount();

// Private memory committed by this process, in bytes (0 when unknown).
std::uint64_t CommittedBytes();

// Serves the engine's termination deliveries until the worker is gone; false after timeoutMs.
bool WaitForWorker(engine::TScreenCam& cam, DWORD timeoutMs = 15000);

} // namespace enginetest
