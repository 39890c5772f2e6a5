#include "engine/scrcam.h"

#include "core/AviRecovery.h"
#include "core/CaptureRules.h"
#include "core/FileSplit.h"
#include "core/FrameHandOver.h"
#include "core/RecordNaming.h"
#include "core/Text.h"
#include "base/Handles.h"
#include "base/ScopeGuard.h"

#include <mmsystem.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace engine {

using namespace base;

namespace {

constexpr DWORD kMSVC = core::FourCC('M', 'S', 'V', 'C');
constexpr DWORD kIV50 = core::FourCC('I', 'V', '5', '0');

const wchar_t kErrorCaption[] = L"Error";
const wchar_t kNoticeCaption[] = L"Notice";
const wchar_t kCaptureError[] = L"Error capturing a frame!";
const wchar_t kBitsError[] = L"Error retrieving bitmap bits";
const wchar_t kVersionError[] = L"Failure: Video for Windows version too old!";
const wchar_t kCreateError[] = L"Error Creating AVI file";
const wchar_t kRetryQuestion[] =
    L"Error recording AVI file using current compressor. Use default compressor? ";

// The one frame a run holds at a time, released when replaced or at scope end.
class TFrame {
public:
    TFrame() = default;
    explicit TFrame(BITMAPINFOHEADER* f) : f_(f) {}
    ~TFrame() { TScreenCam::FreeFrame(f_); }
    TFrame(const TFrame&) = delete;
    TFrame& operator=(const TFrame&) = delete;
    BITMAPINFOHEADER* get() const { return f_; }
    explicit operator bool() const { return f_ != nullptr; }
    void reset(BITMAPINFOHEADER* f = nullptr) {
        TScreenCam::FreeFrame(f_);
        f_ = f;
    }

private:
    BITMAPINFOHEADER* f_ = nullptr;
};

// Header and colour table: what AVIStreamSetFormat and the compressors take as the format.
LONG FormatSize(const BITMAPINFOHEADER* f) {
    return static_cast<LONG>(f->biSize + 4 * f->biClrUsed);
}
BYTE* PixelRows(BITMAPINFOHEADER* f) {
    return reinterpret_cast<BYTE*>(f) + FormatSize(f);
}

// Whether a failure is the file system's: a full disk or a refused write. Repeating the recording
// with another compressor cannot help, and would replace the frames written so far.
bool IsDiskFull(DWORD error) {
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

bool RunningOnWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Wine's compressing stream ends compression on the compressor instance it opens but never
// closes it: every file written through one would leave an instance behind. Wine numbers its
// instances upwards and never reuses a number, so the stream's instance lies between two query
// instances of our own, opened and closed just before and just after the stream is made. When
// exactly one number lies between them, it is the stream's, and it is closed after the stream.
class TCompressorWatch {
public:
    explicit TCompressorWatch(DWORD handler) : handler_(handler) {
        if (RunningOnWine()) before_ = Probe();
    }
    // The stream's instance, or nullptr when it cannot be told for certain.
    HIC Opened() const {
        if (!before_) return nullptr;
        const HIC after = Probe();
        const auto b = reinterpret_cast<UINT_PTR>(before_);
        if (!after || reinterpret_cast<UINT_PTR>(after) != b + 2) return nullptr;
        return reinterpret_cast<HIC>(b + 1);
    }

private:
    HIC Probe() const {
        const HIC h = ICOpen(ICTYPE_VIDEO, handler_, ICMODE_QUERY);
        if (h) ICClose(h);
        return h;
    }
    DWORD handler_;
    HIC before_ = nullptr;
};

// One file of a recording: the AVI file, its video stream and the compressing stream over it.
struct TAviOutput {
    TAviFileHandle file;
    TAviStreamHandle stream;
    TAviStreamHandle compressed;
    HIC orphan = nullptr; // the compressing stream's own compressor instance (Wine)

    PAVISTREAM Target(bool compress) const { return compress ? compressed.get() : stream.get(); }

    HRESULT Open(const std::wstring& name, const AVISTREAMINFOW& header,
                 AVICOMPRESSOPTIONS& options, bool compress, const std::vector<BYTE>& format) {
        HRESULT hr = AVIFileOpenW(file.put(), name.c_str(), OF_WRITE | OF_CREATE, nullptr);
        if (hr == 0) {
            AVISTREAMINFOW info = header;
            hr = AVIFileCreateStreamW(file.get(), stream.put(), &info);
        }
        // With no compressor selected the frames go to the file stream as they are.
        if (hr == 0 && compress) {
            const TCompressorWatch watch(options.fccHandler);
            hr = AVIMakeCompressedStream(compressed.put(), stream.get(), &options, nullptr);
            if (hr == 0) orphan = watch.Opened();
        }
        if (hr == 0)
            hr = AVIStreamSetFormat(Target(compress), 0, const_cast<BYTE*>(format.data()),
                                    static_cast<LONG>(format.size()));
        if (hr == 0) WriteNote(name, header);
        return hr;
    }

    // Releases the file and the streams in this order; then the file on disk is complete and
    // its recovery note goes.
    void Close() {
        file.reset();
        stream.reset();
        compressed.reset();
        if (orphan) ICClose(orphan);
        orphan = nullptr;
        if (note) {
            note.reset();
            DeleteFileW(noteName.c_str());
        }
    }

    // The recovery note beside the file: what its headers need, should the program end before
    // it writes them at the close. Held open without sharing while the file is open, so a
    // second instance of the program knows the file is being written. A note that cannot be
    // written costs only the recovery, not the recording.
    void WriteNote(const std::wstring& name, const AVISTREAMINFOW& header) {
        // The file stream's own format: a compressing stream gives it the compressor's.
        LONG size = 0;
        if (AVIStreamReadFormat(stream.get(), 0, nullptr, &size) != 0 ||
            size < static_cast<LONG>(sizeof(BITMAPINFOHEADER)))
            return;
        core::RecoveryNote n;
        n.format.resize(static_cast<std::size_t>(size));
        if (AVIStreamReadFormat(stream.get(), 0, n.format.data(), &size) != 0) return;
        AVISTREAMINFOW info{};
        AVIStreamInfoW(stream.get(), &info, sizeof info);
        const auto* f = reinterpret_cast<const BITMAPINFOHEADER*>(n.format.data());
        n.width = static_cast<std::uint32_t>(f->biWidth);
        n.height = static_cast<std::uint32_t>(f->biHeight < 0 ? -f->biHeight : f->biHeight);
        n.bitCount = f->biBitCount;
        n.compression = f->biCompression;
        n.handler = info.fccHandler;
        n.rate = header.dwRate;
        n.scale = header.dwScale;
        n.start = header.dwStart;
        noteName = name + core::kRecoveryNoteSuffix;
        note = FileHandle(CreateFileW(noteName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!note) return;
        const std::string text = core::FormatRecoveryNote(n);
        DWORD written = 0;
        if (!WriteFile(note.get(), text.data(), static_cast<DWORD>(text.size()), &written,
                       nullptr) ||
            written != text.size()) {
            note.reset();
            DeleteFileW(noteName.c_str());
        }
    }

    TKernelHandle note;
    std::wstring noteName;
};

std::wstring FolderForSpace(const std::wstring& file) {
    const std::wstring folder = core::FolderOf(file);
    return folder.empty() ? std::wstring(L".\\") : folder + L"\\";
}

// Wine's compression manager keeps its open instances and installed drivers in lists that it
// changes without a lock: an ICOpen on one thread while another compresses can lose an instance
// or hand out one number twice. Every call into it from the engine runs under this lock.
std::mutex gCompressorManager;

// An instance for queries, opened and closed under the lock; what is done with it between (a
// query, or a compressor's own dialog, which must not hold up a recording) takes it as needed.
HIC OpenForQuery(const ICINFO& entry) {
    std::lock_guard<std::mutex> manager(gCompressorManager);
    return ICOpen(entry.fccType, entry.fccHandler, ICMODE_QUERY);
}

void CloseQuery(TCompressorHandle& ic) {
    std::lock_guard<std::mutex> manager(gCompressorManager);
    ic.reset();
}

// Frames grabbed and not yet written: the one being written, the ones queued, the one being
// grabbed.
constexpr std::size_t kFramesInFlight = 3;

// Blocks of frames released by FreeFrame, kept for the next grabs of the same size, so that a
// recording allocates (and the system zero-fills) no block per frame.
constexpr std::size_t kSpareBlocks = kFramesInFlight + 1;
std::mutex gSpareLock;
std::vector<HGLOBAL> gSpareBlocks;

HGLOBAL TakeBlock(SIZE_T size) {
    {
        std::lock_guard<std::mutex> lock(gSpareLock);
        for (auto it = gSpareBlocks.begin(); it != gSpareBlocks.end(); ++it) {
            const SIZE_T have = GlobalSize(*it);
            // The system may round a block up a little; a block of another frame size is not
            // taken, so its pixels never show through.
            if (have >= size && have < size + 64) {
                const HGLOBAL block = *it;
                gSpareBlocks.erase(it);
                return block;
            }
        }
    }
    return GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
}

void KeepOrFreeBlock(HGLOBAL block) {
    {
        std::lock_guard<std::mutex> lock(gSpareLock);
        if (gSpareBlocks.size() < kSpareBlocks) {
            gSpareBlocks.push_back(block);
            return;
        }
    }
    GlobalFree(block);
}

// Frees the kept blocks; a recording's end should not leave megabytes held.
void FreeSpareBlocks() {
    std::vector<HGLOBAL> blocks;
    {
        std::lock_guard<std::mutex> lock(gSpareLock);
        blocks.swap(gSpareBlocks);
    }
    for (HGLOBAL b : blocks)
        GlobalFree(b);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Frame grabbing

// What one thread keeps from one grab to the next: the screen context, a memory context with a
// DIB section of the last frame size selected, and the hot spot of the last cursor shown.
// BitBlt writes the screen's pixels straight into the section in the frame's own layout, so a
// grab costs the screen read and one copy into the frame's block. Used by one thread only
// (ReleaseDC must be called by the thread that called GetDC).
class TFrameGrabber {
public:
    BITMAPINFOHEADER* Grab(TScreenCam& cam, std::int32_t left, std::int32_t top, std::int32_t width,
                           std::int32_t height) {
        const std::uint32_t bits = cam.BitsPerPixel;
        // Palette depths take the platform's colour table through the classic path.
        if (bits != 16 && bits != 24 && bits != 32) return nullptr;
        if (!Prepare(width, height, bits)) return nullptr;
        BitBlt(memory_.get(), 0, 0, width, height, screen_->get(), left, top, SRCCOPY);
        if (cam.DrawCursor) DrawCursor(cam.ArrowCursor, left, top);
        // GDI may batch the drawing; the pixels must be in the section before they are copied.
        GdiFlush();

        const core::FrameLayout layout = core::ComputeFrameLayout(width, height, bits);
        TGlobalHandle block(TakeBlock(static_cast<SIZE_T>(layout.blockSize)));
        TGlobalLock lock(block.get());
        auto* header = static_cast<BITMAPINFOHEADER*>(lock.get());
        if (!header) return nullptr;
        *header = BITMAPINFOHEADER{};
        header->biSize = sizeof(BITMAPINFOHEADER);
        header->biWidth = width;
        header->biHeight = height;
        header->biPlanes = 1;
        header->biBitCount = static_cast<WORD>(bits);
        header->biCompression = BI_RGB;
        header->biSizeImage = static_cast<DWORD>(layout.imageSize);
        std::memcpy(reinterpret_cast<BYTE*>(header) + layout.formatSize, pixels_,
                    static_cast<std::size_t>(layout.imageSize));
        block.release();
        return static_cast<BITMAPINFOHEADER*>(lock.release());
    }

private:
    bool Prepare(std::int32_t width, std::int32_t height, std::uint32_t bits) {
        if (!screen_) {
            screen_.emplace(nullptr);
            memory_.reset(CreateCompatibleDC(screen_->get()));
        }
        if (!memory_) return false;
        if (section_ && width == width_ && height == height_ && bits == bits_) return true;
        selection_.restore();
        section_.reset();
        const core::FrameLayout layout = core::ComputeFrameLayout(width, height, bits);
        if (width <= 0 || height <= 0 || layout.imageSize > std::numeric_limits<DWORD>::max())
            return false;
        BITMAPINFOHEADER info{};
        info.biSize = sizeof(info);
        info.biWidth = width;
        info.biHeight = height; // bottom-up, as the frame
        info.biPlanes = 1;
        info.biBitCount = static_cast<WORD>(bits);
        info.biCompression = BI_RGB;
        void* pixels = nullptr;
        section_.reset(CreateDIBSection(screen_->get(), reinterpret_cast<BITMAPINFO*>(&info),
                                        DIB_RGB_COLORS, &pixels, nullptr, 0));
        if (!section_ || !pixels) return false;
        selection_ = TSelectObject(memory_.get(), section_.get());
        pixels_ = pixels;
        width_ = width;
        height_ = height;
        bits_ = bits;
        return true;
    }

    void DrawCursor(HCURSOR arrow, std::int32_t left, std::int32_t top) {
        POINT pos{};
        GetCursorPos(&pos);
        const HCURSOR shown = GetCursor();
        // The arrow image stands in for whatever cursor is shown; only its position follows the
        // shown cursor's hot spot. GetIconInfo makes two bitmaps per call, so the hot spot is
        // asked once per cursor.
        if (shown != hotSpotOf_) {
            hotSpotOf_ = shown;
            hotSpot_ = {0, 0};
            ICONINFO info{};
            if (shown && GetIconInfo(shown, &info)) {
                hotSpot_ = {static_cast<LONG>(info.xHotspot), static_cast<LONG>(info.yHotspot)};
                const TBitmapHandle mask(info.hbmMask), color(info.hbmColor);
            }
        }
        const int x = pos.x - left - hotSpot_.x, y = pos.y - top - hotSpot_.y;
        // Only the part of the arrow inside the frame is drawn; an arrow wholly outside costs
        // DrawIcon's memory context and two blits for nothing.
        const int cx = std::max(GetSystemMetrics(SM_CXCURSOR), GetSystemMetrics(SM_CXICON));
        const int cy = std::max(GetSystemMetrics(SM_CYCURSOR), GetSystemMetrics(SM_CYICON));
        if (x >= width_ || y >= height_ || x + cx <= 0 || y + cy <= 0) return;
        DrawIcon(memory_.get(), x, y, arrow);
    }

    std::optional<TWindowDC> screen_;
    TMemoryDC memory_;
    TBitmapHandle section_;
    TSelectObject selection_{nullptr, nullptr};
    void* pixels_ = nullptr;
    std::int32_t width_ = 0, height_ = 0;
    std::uint32_t bits_ = 0;
    HCURSOR hotSpotOf_ = nullptr;
    POINT hotSpot_{0, 0};
};

namespace {
// The grabber of a recording's grabbing thread, while it runs.
thread_local TFrameGrabber* tGrabber = nullptr;
} // namespace

TScreenCam* ScreenCam = nullptr;

TEngineServices TEngineServices::Platform() {
    TEngineServices s;
    s.Clock = [] { return timeGetTime(); };
    s.Sleep = [](DWORD ms) { ::Sleep(ms); };
    s.VideoForWindowsVersion = [] { return ::VideoForWindowsVersion(); };
    s.ShowMessage = [](const std::wstring& text, const std::wstring& caption, UINT flags) {
        // The boxes have no owner while the camera frame stays on top of every window: keep
        // them above it, or a failure could wait unseen behind the frame.
        return MessageBoxW(nullptr, text.c_str(), caption.c_str(), flags | MB_TOPMOST);
    };
    s.FreeDiskBytes = [](const std::wstring& folder) -> std::uint64_t {
        ULARGE_INTEGER available{};
        if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr))
            return std::numeric_limits<std::uint64_t>::max();
        return available.QuadPart;
    };
    return s;
}

// ---------------------------------------------------------------------------------------------
// Worker thread

TRecordAVIThread::TRecordAVIThread(TScreenCam& engine, std::wstring fileName,
                                   const core::Rect& rect)
    : engine_(engine), fileName_(std::move(fileName)), rect_(rect) {
    SetFreeOnTerminate(true);
}

void TRecordAVIThread::Execute() {
    // A repeat with the default compressor records over the file that failed, which after a
    // switch of files is the last one, not the first.
    std::wstring name = fileName_;
    while (engine_.RecordAVI(rect_, name) == -1) {
        const std::vector<std::wstring> files = engine_.RecordingFiles();
        if (!files.empty()) name = files.back();
    }
}

// ---------------------------------------------------------------------------------------------
// Engine

TScreenCam::TScreenCam(HWND owner)
    : CompressorHandler(kMSVC), Services(TEngineServices::Platform()), owner_(owner),
      ownerThread_(GetCurrentThreadId()), grabber_(std::make_unique<TFrameGrabber>()) {
    {
        TWindowDC screen(nullptr);
        BitsPerPixel = static_cast<std::uint32_t>(GetDeviceCaps(screen.get(), BITSPIXEL));
        ScreenWidth = GetDeviceCaps(screen.get(), HORZRES);
        ScreenHeight = GetDeviceCaps(screen.get(), VERTRES);
    }
    ArrowCursor = LoadCursorW(nullptr, IDC_ARROW);
}

TScreenCam::~TScreenCam() {
    if (RecordThread) {
        Recording = false;
        // The worker may be writing the file or waiting for the user to answer a message box;
        // its end is delivered to this thread, so keep serving that while waiting.
        base::TThread::ServeUntil([this] { return RecordThread == nullptr; });
    }
}

int TScreenCam::Message(const wchar_t* text, const wchar_t* caption, UINT flags) {
    if (Services.ShowMessage) return Services.ShowMessage(text, caption, flags);
    return MessageBoxW(nullptr, text, caption, flags | MB_TOPMOST);
}

BITMAPINFOHEADER* TScreenCam::GrabFrame(std::int32_t Left, std::int32_t Top, std::int32_t Width,
                                        std::int32_t Height) {
    TFrameGrabber* grabber = tGrabber;
    std::optional<TFrameGrabber> once;
    if (!grabber) grabber = GetCurrentThreadId() == ownerThread_ ? grabber_.get() : &once.emplace();
    if (BITMAPINFOHEADER* frame = grabber->Grab(*this, Left, Top, Width, Height)) return frame;
    return GrabByPacking(Left, Top, Width, Height);
}

// The grab through a device-dependent bitmap and PackBitmap: for palette depths (GetDIBits then
// fills the colour table) and when no DIB section can be had.
BITMAPINFOHEADER* TScreenCam::GrabByPacking(std::int32_t Left, std::int32_t Top, std::int32_t Width,
                                            std::int32_t Height) {
    TWindowDC screen(nullptr);
    TMemoryDC memDC(CreateCompatibleDC(screen.get()));
    TBitmapHandle bitmap(CreateCompatibleBitmap(screen.get(), Width, Height));
    {
        TSelectObject select(memDC.get(), bitmap.get());
        BitBlt(memDC.get(), 0, 0, Width, Height, screen.get(), Left, Top, SRCCOPY);

        POINT pos{};
        GetCursorPos(&pos);
        const HCURSOR shown = GetCursor();
        int x = pos.x - Left;
        int y = pos.y - Top;
        if (DrawCursor) {
            // The arrow image stands in for whatever cursor is shown; only its position follows
            // the shown cursor's hot spot.
            ICONINFO info{};
            if (GetIconInfo(shown, &info)) {
                x -= static_cast<int>(info.xHotspot);
                y -= static_cast<int>(info.yHotspot);
                const TBitmapHandle mask(info.hbmMask), color(info.hbmColor);
            }
            DrawIcon(memDC.get(), x, y, ArrowCursor);
        }
    }

    TGlobalHandle block(bitmap ? PackBitmap(bitmap.get(), BitsPerPixel) : nullptr);
    TGlobalLock lock(block.get());
    if (!lock.get()) {
        Message(kCaptureError, kErrorCaption, MB_OK | MB_ICONEXCLAMATION);
        return nullptr;
    }
    block.release();
    return static_cast<BITMAPINFOHEADER*>(lock.release());
}

HGLOBAL TScreenCam::PackBitmap(HBITMAP bitmap, std::uint32_t bits) {
    BITMAP bm{};
    if (!GetObjectW(bitmap, sizeof(bm), &bm)) return nullptr;
    const core::FrameLayout layout = core::ComputeFrameLayout(bm.bmWidth, bm.bmHeight, bits);
    // A frame the address space (or the header's 32-bit image size) cannot hold is refused like
    // a failed allocation.
    if (layout.blockSize > std::numeric_limits<SIZE_T>::max() ||
        layout.imageSize > std::numeric_limits<DWORD>::max())
        return nullptr;

    TGlobalHandle block(
        GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, static_cast<SIZE_T>(layout.blockSize)));
    if (!block) return nullptr;
    {
        TGlobalLock lock(block.get());
        auto* header = static_cast<BITMAPINFOHEADER*>(lock.get());
        if (!header) return nullptr;
        header->biSize = sizeof(BITMAPINFOHEADER);
        header->biWidth = bm.bmWidth;
        header->biHeight = bm.bmHeight;
        header->biPlanes = 1;
        header->biBitCount = static_cast<WORD>(bits);
        header->biCompression = BI_RGB;
        header->biSizeImage = static_cast<DWORD>(layout.imageSize);
        header->biXPelsPerMeter = 0;
        header->biYPelsPerMeter = 0;
        header->biClrUsed = layout.clrUsed;
        header->biClrImportant = 0;

        TMemoryDC dc(CreateCompatibleDC(nullptr));
        const int lines = GetDIBits(dc.get(), bitmap, 0, static_cast<UINT>(bm.bmHeight),
                                    reinterpret_cast<BYTE*>(header) + layout.formatSize,
                                    reinterpret_cast<BITMAPINFO*>(header), DIB_RGB_COLORS);
        if (lines == 0) Message(kBitsError, kErrorCaption, MB_OK);
        header->biClrUsed = layout.clrUsed;
    }
    return block.release();
}

void TScreenCam::FreeFrame(BITMAPINFOHEADER*& frame) {
    if (!frame) return;
    if (const HGLOBAL block = GlobalHandle(frame)) {
        GlobalUnlock(block);
        KeepOrFreeBlock(block);
    }
    frame = nullptr;
}

void TScreenCam::StartRecording(const core::Rect& rect, const std::wstring& fileName) {
    if (Recording || RecordThread) return;
    auto* thread = new TRecordAVIThread(*this, fileName, rect);
    if (!thread->Handle()) {
        delete thread;
        return;
    }
    FileName = fileName;
    {
        std::lock_guard<std::mutex> lock(filesLock_);
        files_.assign(1, fileName);
    }
    Paused = false;
    // A new recording uses the selected compressor; with none selected it writes full frames
    // and "MSVC" stays the default the failure messages refer to.
    const std::int32_t index = CompressorIndex;
    CompressorHandler = core::IndexInCatalogue(index, CompressorCount)
                            ? Compressors[static_cast<std::size_t>(index)].fccHandler
                            : kMSVC;
    Recording = true;
    RecordThread = thread;
    thread->OnTerminate = [this](base::TThread& sender) { ThreadTerminated(sender); };
    thread->Start();
}

void TScreenCam::StopRecording() {
    Recording = false;
}

std::vector<std::wstring> TScreenCam::RecordingFiles() const {
    std::lock_guard<std::mutex> lock(filesLock_);
    return files_;
}

bool TScreenCam::AddRecordingFile(const std::wstring& name, bool unlessStopping) {
    // Under the lock, so that once StopRecording has cleared Recording, a reader of the list
    // sees every file the recording will ever have.
    std::lock_guard<std::mutex> lock(filesLock_);
    if (unlessStopping && !Recording) return false;
    if (std::find(files_.begin(), files_.end(), name) == files_.end()) files_.push_back(name);
    return true;
}

std::wstring TScreenCam::NewFileName(const std::wstring& previous) {
    if (NextFileName) {
        try {
            std::wstring name = NextFileName();
            // A name already used by this recording would replace one of its files.
            const std::vector<std::wstring> used = RecordingFiles();
            const bool taken = std::any_of(used.begin(), used.end(), [&](const std::wstring& f) {
                return CompareStringOrdinal(f.c_str(), -1, name.c_str(), -1, TRUE) == CSTR_EQUAL;
            });
            if (!name.empty() && !taken) return name;
        } catch (...) {
            // The owner could not name it; the default below still can.
        }
    }
    SYSTEMTIME t{};
    GetLocalTime(&t);
    const core::DateTime now{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
    return core::NextRecordFileName(
        previous, core::DateStampOf(now) + core::TimeStampOf(now), [](const std::wstring& n) {
            return GetFileAttributesW(n.c_str()) != INVALID_FILE_ATTRIBUTES;
        });
}

void TScreenCam::ThreadTerminated(base::TThread&) {
    Recording = false;
    RecordThread = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Recording

// One run of RecordAVI. The run's own thread (the worker) does everything that talks to the
// compression manager and the AVI file: the probe, opening the files and streams, compressing
// and writing every frame, switching files and closing them. A second thread grabs the frames
// and paces the passes, and hands each frame over with the slot of its own grab time, so a frame
// is grabbed while the one before it is compressed. At most kFramesInFlight frames are on their
// way at once.
class TRecording {
public:
    TRecording(TScreenCam& cam, const std::wstring& fileName)
        : cam_(cam), currentFile_(fileName), handOver_(kFramesInFlight) {}

    // Grabs the first frame and lets the selected compressor decide the recording rectangle.
    // False when no first frame could be grabbed.
    bool Prepare(const core::Rect& rect);
    // Opens the first file and its streams; false (with the result kept) when that failed.
    bool Open();
    // Grabs and writes until the recording is stopped or a write fails.
    void Record();
    // Releases the options, the streams and the file; then the file on disk is complete.
    void Close();
    // RecordAVI's result, after the messages for a failure.
    int Outcome();

    // The grabbing thread's body: passes until stopped or the writer gave up.
    void GrabPasses();

private:
    struct TGrabbed {
        BITMAPINFOHEADER* frame;
        std::int32_t slot;
    };

    // One pass of the grabbing thread; false when the recording ends.
    bool GrabPass();
    void Pace(std::uint32_t elapsed);
    bool Going() const { return cam_.Recording && !handOver_.Abandoned(); }
    // Compresses and writes one frame at its slot, switching files first when it would take the
    // file past the size limit; false when the recording must end.
    bool Write(const TGrabbed& grabbed);
    bool SwitchFiles();
    bool RoomFor(std::uint64_t bound, std::uint32_t empty, bool newFile);

    TScreenCam& cam_;
    core::Rect rect_{};
    TFrame first_;
    bool compress_ = false;
    AVICOMPRESSOPTIONS options_{};
    AVISTREAMINFOW header_{};
    std::vector<BYTE> format_;
    std::optional<TAviFileLibrary> library_;
    TAviOutput out_;
    std::wstring currentFile_;
    // A first frame that could not be grabbed ends the run like a failed file call.
    HRESULT lastResult_ = AVIERR_ERROR;
    // A full disk or a write the file system refused: final, whatever the compressor.
    bool fileSystemFailure_ = false;

    core::THandOver<TGrabbed> handOver_;

    // Grabbing thread: the last slot handed over, the last progress notification.
    std::int32_t lastSlot_ = 0;
    bool handedOver_ = false;
    bool started_ = false;
    std::uint32_t lastProgress_ = 0;

    // Worker: the current file's size as written, the slot stored at its position 0, the
    // largest sample stored so far (a bound for the next one, whose compressed size is known
    // only once written), the last slot written.
    std::optional<core::TAviSizeTracker> size_;
    std::int32_t baseSlot_ = 0;
    std::int32_t writtenSlot_ = 0;
    std::uint64_t largest_ = 0;
    // The free space last read from the volume and what was written since.
    std::uint64_t freeAtQuery_ = 0;
    std::uint64_t writtenSinceQuery_ = 0;
    DWORD queriedAt_ = 0;
    bool queried_ = false;
};

namespace {

class TGrabThread : public base::TThread {
public:
    explicit TGrabThread(TRecording& run) : run_(run) {}
    ~TGrabThread() override { WaitFor(); }

protected:
    void Execute() override { run_.GrabPasses(); }

private:
    TRecording& run_;
};

} // namespace

bool TRecording::Prepare(const core::Rect& rect) {
    rect_ = rect;
    const std::int32_t index = cam_.CompressorIndex;
    compress_ = core::IndexInCatalogue(index, cam_.CompressorCount);
    first_.reset(cam_.GrabFrame(rect.left, rect.top, rect.width, rect.height));

    if (compress_) {
        // The lock is not held across the grabs: a grab may show a message and wait.
        TCompressorHandle ic(OpenForQuery(cam_.Compressors[static_cast<std::size_t>(index)]));
        if (!ic) {
            cam_.CompressorHandler = kMSVC;
        } else {
            // Let the compressor pick the frame size: the given size rounded to multiples of
            // 2, 4 or 8 until one is accepted.
            auto accepted = [&] {
                if (!first_) return false;
                std::lock_guard<std::mutex> manager(gCompressorManager);
                return ICCompressQuery(ic.get(), first_.get(), nullptr) == ICERR_OK;
            };
            int f = 1;
            bool ok = accepted();
            core::Rect adjusted = rect;
            while (!ok) {
                f *= 2;
                if (f > 8) break;
                adjusted.width = core::ProbeAdjustedSize(rect.width, f, cam_.ScreenWidth);
                adjusted.height = core::ProbeAdjustedSize(rect.height, f, cam_.ScreenHeight);
                first_.reset();
                first_.reset(
                    cam_.GrabFrame(adjusted.left, adjusted.top, adjusted.width, adjusted.height));
                ok = accepted();
            }
            if (ok) {
                rect_ = adjusted;
            } else {
                cam_.CompressorHandler = kMSVC;
                first_.reset();
                first_.reset(cam_.GrabFrame(rect.left, rect.top, rect.width, rect.height));
            }
            CloseQuery(ic);
        }
    }
    if (cam_.CompressorHandler == kIV50) cam_.CompressorHandler = kMSVC;

    options_.fccType = streamtypeVIDEO;
    options_.fccHandler = cam_.CompressorHandler;
    options_.dwKeyFrameEvery = static_cast<DWORD>(cam_.KeyFrameRate.load());
    options_.dwQuality = static_cast<DWORD>(cam_.Quality.load());
    options_.dwBytesPerSecond = 0;
    options_.dwFlags = AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_VALID;
    if (!first_) return false;

    header_.fccType = streamtypeVIDEO;
    header_.fccHandler = 0;
    header_.dwScale = 1;
    header_.dwRate = static_cast<DWORD>(cam_.PlaybackRate.load());
    header_.dwSuggestedBufferSize = first_.get()->biSizeImage;
    SetRect(&header_.rcFrame, 0, 0, first_.get()->biWidth, first_.get()->biHeight);
    // The first frame only gives the format, kept for every file of the recording; it is not
    // written as a sample.
    const auto* formatStart = reinterpret_cast<const BYTE*>(first_.get());
    format_.assign(formatStart, formatStart + FormatSize(first_.get()));
    first_.reset();
    return true;
}

bool TRecording::Open() {
    library_.emplace();
    cam_.AddRecordingFile(currentFile_, false);
    std::lock_guard<std::mutex> manager(gCompressorManager);
    lastResult_ = out_.Open(currentFile_, header_, options_, compress_, format_);
    size_.emplace(static_cast<std::uint32_t>(format_.size()));
    return lastResult_ == 0;
}

void TRecording::Record() {
    TGrabThread grabber(*this);
    grabber.Start();
    while (const std::optional<TGrabbed> grabbed = handOver_.Take()) {
        const bool written = Write(*grabbed);
        BITMAPINFOHEADER* frame = grabbed->frame;
        TScreenCam::FreeFrame(frame);
        handOver_.Done();
        if (!written) {
            for (TGrabbed& left : handOver_.Abandon())
                TScreenCam::FreeFrame(left.frame);
            break;
        }
    }
    // ~TGrabThread waits for the grabbing thread to end.
}

void TRecording::GrabPasses() {
    TFrameGrabber grabber;
    tGrabber = &grabber;
    const auto unset = base::ScopeExit([] { tGrabber = nullptr; });
    cam_.FramesWritten = 0;
    cam_.StartTime = cam_.Services.Clock();
    cam_.ElapsedTime = 0;
    while (GrabPass()) {
    }
    handOver_.Close();
}

bool TRecording::GrabPass() {
    if (!Going()) return false;
    if (cam_.Paused) {
        const DWORD pauseStart = cam_.Services.Clock();
        while (cam_.Paused && cam_.Recording)
            cam_.Services.Sleep(50);
        cam_.StartTime += cam_.Services.Clock() - pauseStart;
        if (!Going()) return false;
    }
    // A place for the frame before it is grabbed: a writer that fell behind delays the grab
    // rather than piling up frames, and the frame's slot is that of its own grab time.
    for (;;) {
        const auto place =
            handOver_.Reserve(std::chrono::milliseconds(core::PacingSlice(cam_.CaptureInterval)));
        if (place == core::THandOver<TGrabbed>::TPlace::Granted) break;
        if (place == core::THandOver<TGrabbed>::TPlace::Abandoned || !cam_.Recording) return false;
    }
    // The recording's time starts with the first grab, not with the thread: a clock tick in
    // between would put the first frame past position 0, and Wine's reader cannot read a stream
    // that starts later ("start <= This->lLastFrame" fails).
    const DWORD now = cam_.Services.Clock();
    if (!started_) cam_.StartTime = now;
    started_ = true;
    const std::uint32_t elapsed = now - cam_.StartTime;
    cam_.ElapsedTime = elapsed;

    BITMAPINFOHEADER* frame = cam_.GrabFrame(rect_.left, rect_.top, rect_.width, rect_.height);
    // A pass whose grab failed writes nothing; its message has been shown.
    const std::int32_t slot = core::FrameSlot(elapsed, cam_.CaptureInterval);
    if (frame && core::SlotIsWritten(slot, lastSlot_, !handedOver_)) {
        if (handOver_.Push({frame, slot})) {
            lastSlot_ = slot;
            handedOver_ = true;
        } else {
            TScreenCam::FreeFrame(frame);
        }
    } else {
        TScreenCam::FreeFrame(frame);
        handOver_.Cancel();
    }

    if (core::ProgressDue(lastProgress_, elapsed)) {
        lastProgress_ = elapsed;
        if (cam_.OnProgress) {
            try {
                cam_.OnProgress(cam_);
            } catch (...) {
                // A failing status update must not end the recording.
            }
        }
    }
    Pace(elapsed);
    return true;
}

void TRecording::Pace(std::uint32_t elapsed) {
    const std::int32_t interval = cam_.CaptureInterval;
    const std::uint32_t now = cam_.Services.Clock() - cam_.StartTime;
    const core::PacingPlan plan =
        core::PlanPacing(interval, core::SpentInSlot(elapsed, now, interval));
    if (!plan.sleep) return;
    // Aim at the next slot's own time: oversleeping a slice is made up by the next slices.
    const std::uint32_t due = now + plan.rest;
    while (Going()) {
        const std::uint32_t step =
            core::PacingStep(cam_.Services.Clock() - cam_.StartTime, due, interval);
        if (step == 0) break;
        // Sleep(1) may return after up to 2 ms; where slots are paced in 1 ms slices that
        // loses slots, so the last millisecond is waited out yielding.
        cam_.Services.Sleep(step == 1 && core::PacingSlice(interval) == 1 ? 0 : step);
    }
}

bool TRecording::RoomFor(std::uint64_t bound, std::uint32_t empty, bool newFile) {
    if (!cam_.Services.FreeDiskBytes) return true;
    auto query = [&] {
        freeAtQuery_ = cam_.Services.FreeDiskBytes(FolderForSpace(currentFile_));
        writtenSinceQuery_ = 0;
        queriedAt_ = cam_.Services.Clock();
        queried_ = true;
    };
    // Asking the volume costs a system call: ask every quarter second, and at every frame once
    // the disk is nearly full.
    constexpr std::uint64_t kNearlyFull = std::uint64_t{64} << 20;
    auto estimate = [&] {
        return freeAtQuery_ > writtenSinceQuery_ ? freeAtQuery_ - writtenSinceQuery_ : 0;
    };
    if (!queried_ || cam_.Services.Clock() - queriedAt_ >= 250 || estimate() < kNearlyFull) query();
    return core::DiskHasRoom(*size_, bound, empty, newFile,
                             static_cast<std::uint32_t>(format_.size()), estimate());
}

bool TRecording::SwitchFiles() {
    const std::wstring next = cam_.NewFileName(currentFile_);
    // A recording being stopped opens no new file; its frame is dropped.
    if (!cam_.AddRecordingFile(next, true)) return false;
    std::lock_guard<std::mutex> manager(gCompressorManager);
    out_.Close();
    currentFile_ = next;
    size_.emplace(static_cast<std::uint32_t>(format_.size()));
    lastResult_ = out_.Open(currentFile_, header_, options_, compress_, format_);
    if (lastResult_ != 0) fileSystemFailure_ = true;
    return lastResult_ == 0;
}

bool TRecording::Write(const TGrabbed& grabbed) {
    const BITMAPINFOHEADER* frame = grabbed.frame;
    const std::int32_t slot = grabbed.slot;
    // Positions the writer fills with empty samples before this frame.
    std::uint32_t empty = size_->Frames() > 0 && slot > writtenSlot_ + 1
                              ? static_cast<std::uint32_t>(slot - writtenSlot_ - 1)
                              : 0;
    const std::uint64_t bound = std::max<std::uint64_t>(frame->biSizeImage, largest_);
    const bool switchFile = core::NeedsNewFile(*size_, bound, empty, cam_.MaxFileBytes);
    if (!RoomFor(bound, empty, switchFile)) {
        lastResult_ = AVIERR_FILEWRITE;
        fileSystemFailure_ = true;
        return false;
    }
    if (switchFile) {
        if (!SwitchFiles()) return false;
        baseSlot_ = slot;
        empty = 0;
    }
    // Every full frame stands alone, so uncompressed samples are key frames; a compressing
    // stream marks key frames itself.
    const DWORD writeFlags = compress_ ? 0 : AVIIF_KEYFRAME;
    LONG samples = 0, bytes = 0;
    HRESULT hr;
    bool diskFull;
    {
        std::lock_guard<std::mutex> manager(gCompressorManager);
        SetLastError(0);
        hr = AVIStreamWrite(out_.Target(compress_), slot - baseSlot_, 1,
                            PixelRows(const_cast<BITMAPINFOHEADER*>(frame)),
                            static_cast<LONG>(frame->biSizeImage), writeFlags, &samples, &bytes);
        // Wine's writer reports success when the disk is full and drops the data; only the
        // thread's last error tells.
        diskFull = IsDiskFull(GetLastError());
    }
    if (hr != 0 || diskFull) {
        lastResult_ = hr != 0 ? hr : AVIERR_FILEWRITE;
        fileSystemFailure_ = diskFull || hr == AVIERR_FILEWRITE;
        return false;
    }
    // Wine's compressing stream hands the two counts over swapped; the stored size is the larger
    // one either way.
    std::uint64_t stored = static_cast<std::uint64_t>(std::max(samples, bytes));
    if (stored <= 1) stored = frame->biSizeImage;
    const std::uint64_t before = size_->ClosedSize();
    size_->Add(stored, empty);
    writtenSinceQuery_ += size_->ClosedSize() - before;
    largest_ = std::max(largest_, stored);
    ++cam_.FramesWritten;
    writtenSlot_ = slot;
    return true;
}

void TRecording::Close() {
    LPAVICOMPRESSOPTIONS optionList[1] = {&options_};
    std::lock_guard<std::mutex> manager(gCompressorManager);
    // Release in this order; only then is the file complete and closed.
    AVISaveOptionsFree(1, optionList);
    out_.Close();
    library_.reset();
}

int TRecording::Outcome() {
    if (lastResult_ == 0) return 1;
    if (cam_.CompressorHandler == kMSVC || fileSystemFailure_) {
        cam_.Message(kCreateError, kErrorCaption, MB_OK | MB_ICONEXCLAMATION);
        return 0;
    }
    if (cam_.Message(kRetryQuestion, kNoticeCaption, MB_YESNO | MB_ICONEXCLAMATION) == IDYES) {
        cam_.CompressorHandler = kMSVC;
        return -1;
    }
    return 0;
}

int TScreenCam::RecordAVI(const core::Rect& rect, const std::wstring& fileName) {
    if (!core::VideoForWindowsVersionSupported(Services.VideoForWindowsVersion())) {
        Message(kVersionError, kErrorCaption, MB_OK | MB_ICONSTOP);
        return 0;
    }
    // The system timer at 1 ms while recording: on Windows, Sleep otherwise rounds up to the
    // 15.6 ms tick, and slices of 10 ms would take 15.6 ms each.
    const bool timerRaised = timeBeginPeriod(1) == TIMERR_NOERROR;
    const auto timer = base::ScopeExit([timerRaised] {
        if (timerRaised) timeEndPeriod(1);
    });
    const auto spares = base::ScopeExit([] { FreeSpareBlocks(); });
    TRecording run(*this, fileName);
    if (run.Prepare(rect) && run.Open()) run.Record();
    run.Close();
    return run.Outcome();
}

// ---------------------------------------------------------------------------------------------
// Compressor catalogue

void TScreenCam::EnumCompressors() {
    // The worker reads the catalogue and compresses; a rebuild now would change what it reads.
    if (Recording || RecordThread) return;
    TFrame probe(GrabFrame(0, 0, 320, 200));
    CompressorCount = 0;
    if (!probe) return;
    std::int32_t count = 0;
    std::lock_guard<std::mutex> manager(gCompressorManager);
    for (DWORD i = 0; i < kMaxCompressors; ++i) {
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
                listed =
                    listed ||
                    core::SameFourCC(Compressors[static_cast<std::size_t>(k)].fccHandler, handler);
            if (!listed) CompressorCount = ++count;
        }
    }
}

void TScreenCam::CompressorCaps(std::int32_t index, bool& hasAbout, bool& hasConfig) {
    hasAbout = false;
    hasConfig = false;
    if (!core::IndexInCatalogue(index, CompressorCount)) return;
    const ICINFO& entry = Compressors[static_cast<std::size_t>(index)];
    std::lock_guard<std::mutex> manager(gCompressorManager);
    TCompressorHandle ic(ICOpen(entry.fccType, entry.fccHandler, ICMODE_QUERY));
    if (!ic) return;
    hasAbout = ICQueryAbout(ic.get());
    hasConfig = ICQueryConfigure(ic.get());
}

void TScreenCam::CompressorAbout(std::int32_t index, HWND owner) {
    if (!core::IndexInCatalogue(index, CompressorCount)) return;
    const ICINFO& entry = Compressors[static_cast<std::size_t>(index)];
    TCompressorHandle ic(OpenForQuery(entry));
    if (ic) ICAbout(ic.get(), owner);
    CloseQuery(ic);
}

void TScreenCam::CompressorConfigure(std::int32_t index, HWND owner) {
    if (!core::IndexInCatalogue(index, CompressorCount)) return;
    const ICINFO& entry = Compressors[static_cast<std::size_t>(index)];
    TCompressorHandle ic(OpenForQuery(entry));
    if (ic) ICConfigure(ic.get(), owner);
    CloseQuery(ic);
}

} // namespace engine
