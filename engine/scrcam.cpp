#include "engine/scrcam.h"

#include "core/CaptureRules.h"
#include "core/FileSplit.h"
#include "core/RecordNaming.h"
#include "base/Handles.h"

#include <mmsystem.h>

#include <algorithm>
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
        return hr;
    }

    // Releases the file and the streams in this order; then the file on disk is complete.
    void Close() {
        file.reset();
        stream.reset();
        compressed.reset();
        if (orphan) ICClose(orphan);
        orphan = nullptr;
    }
};

std::wstring FolderForSpace(const std::wstring& file) {
    const std::wstring folder = core::FolderOf(file);
    return folder.empty() ? std::wstring(L".\\") : folder + L"\\";
}

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
                                   const TRecordRect& rect)
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
    : CompressorHandler(kMSVC), Services(TEngineServices::Platform()), owner_(owner) {
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
    if (const TGlobalHandle block{GlobalHandle(frame)}) GlobalUnlock(block.get());
    frame = nullptr;
}

void TScreenCam::StartRecording(const TRecordRect& rect, const std::wstring& fileName) {
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

int TScreenCam::RecordAVI(const TRecordRect& rect, const std::wstring& fileName) {
    TRecordRect rr = rect;

    if (!core::VideoForWindowsVersionSupported(Services.VideoForWindowsVersion())) {
        Message(kVersionError, kErrorCaption, MB_OK | MB_ICONSTOP);
        return 0;
    }

    // The settings of this run.
    const std::int32_t index = CompressorIndex;
    const bool compress = core::IndexInCatalogue(index, CompressorCount);

    TFrame frame(GrabFrame(rr.left, rr.top, rr.width, rr.height));

    if (compress) {
        const ICINFO entry = Compressors[static_cast<std::size_t>(index)];
        TCompressorHandle ic(ICOpen(entry.fccType, entry.fccHandler, ICMODE_QUERY));
        if (!ic) {
            CompressorHandler = kMSVC;
        } else {
            // Let the compressor pick the frame size: the given size rounded to multiples of
            // 2, 4 or 8 until one is accepted.
            auto accepted = [&] {
                return frame && ICCompressQuery(ic.get(), frame.get(), nullptr) == ICERR_OK;
            };
            int f = 1;
            bool ok = accepted();
            TRecordRect adjusted = rect;
            while (!ok) {
                f *= 2;
                if (f > 8) break;
                adjusted.width = core::ProbeAdjustedSize(rect.width, f, ScreenWidth);
                adjusted.height = core::ProbeAdjustedSize(rect.height, f, ScreenHeight);
                frame.reset();
                frame.reset(
                    GrabFrame(adjusted.left, adjusted.top, adjusted.width, adjusted.height));
                ok = accepted();
            }
            if (ok) {
                rr = adjusted;
            } else {
                CompressorHandler = kMSVC;
                frame.reset();
                frame.reset(GrabFrame(rect.left, rect.top, rect.width, rect.height));
            }
        }
    }

    if (CompressorHandler == kIV50) CompressorHandler = kMSVC;

    AVICOMPRESSOPTIONS options{};
    options.fccType = streamtypeVIDEO;
    options.fccHandler = CompressorHandler;
    options.dwKeyFrameEvery = static_cast<DWORD>(KeyFrameRate.load());
    options.dwQuality = static_cast<DWORD>(Quality.load());
    options.dwBytesPerSecond = 0;
    options.dwFlags = AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_VALID;
    LPAVICOMPRESSOPTIONS optionList[1] = {&options};

    // A first frame that could not be grabbed ends the run like a failed file call.
    HRESULT lastResult = AVIERR_ERROR;
    // A full disk or a write the file system refused: final, whatever the compressor.
    bool fileSystemFailure = false;
    std::optional<TAviFileLibrary> library;
    TAviOutput out;

    if (frame) {
        library.emplace();
        AVISTREAMINFOW header{};
        header.fccType = streamtypeVIDEO;
        header.fccHandler = 0;
        header.dwScale = 1;
        header.dwRate = static_cast<DWORD>(PlaybackRate.load());
        header.dwSuggestedBufferSize = frame.get()->biSizeImage;
        SetRect(&header.rcFrame, 0, 0, frame.get()->biWidth, frame.get()->biHeight);
        // The first frame only gives the format, kept for every file of the recording; it is
        // not written as a sample.
        const auto* formatStart = reinterpret_cast<const BYTE*>(frame.get());
        const std::vector<BYTE> format(formatStart, formatStart + FormatSize(frame.get()));
        const auto formatBytes = static_cast<std::uint32_t>(format.size());
        frame.reset();

        std::wstring currentFile = fileName;
        AddRecordingFile(currentFile, false);
        lastResult = out.Open(currentFile, header, options, compress, format);

        if (lastResult == 0) {
            // Every full frame stands alone, so uncompressed samples are key frames; a
            // compressing stream marks key frames itself.
            const DWORD writeFlags = compress ? 0 : AVIIF_KEYFRAME;
            std::int32_t lastSlot = 0;
            std::uint32_t lastProgress = 0;
            FramesWritten = 0;
            StartTime = Services.Clock();
            ElapsedTime = 0;

            // The current file: its size as written, the slot stored at its position 0, the
            // largest sample stored so far (a bound for the next one, whose compressed size is
            // known only once written).
            core::TAviSizeTracker size(formatBytes);
            std::int32_t baseSlot = 0;
            std::uint64_t largest = 0;
            // The free space last read from the volume and what was written since.
            std::uint64_t freeAtQuery = 0;
            std::uint64_t writtenSinceQuery = 0;
            DWORD queriedAt = 0;
            bool queried = false;
            auto roomFor = [&](std::uint64_t bound, std::uint32_t empty, bool newFile) {
                if (!Services.FreeDiskBytes) return true;
                auto query = [&] {
                    freeAtQuery = Services.FreeDiskBytes(FolderForSpace(currentFile));
                    writtenSinceQuery = 0;
                    queriedAt = Services.Clock();
                    queried = true;
                };
                // Asking the volume costs a system call: ask every quarter second, and at every
                // frame once the disk is nearly full.
                constexpr std::uint64_t kNearlyFull = std::uint64_t{64} << 20;
                auto estimate = [&] {
                    return freeAtQuery > writtenSinceQuery ? freeAtQuery - writtenSinceQuery : 0;
                };
                if (!queried || Services.Clock() - queriedAt >= 250 || estimate() < kNearlyFull)
                    query();
                return core::DiskHasRoom(size, bound, empty, newFile, formatBytes, estimate());
            };

            while (Recording) {
                if (Paused) {
                    const DWORD pauseStart = Services.Clock();
                    while (Paused && Recording)
                        Services.Sleep(50);
                    StartTime += Services.Clock() - pauseStart;
                }
                const std::uint32_t elapsed = Services.Clock() - StartTime;
                ElapsedTime = elapsed;

                frame.reset(GrabFrame(rr.left, rr.top, rr.width, rr.height));
                // A pass whose grab failed writes nothing; its message has been shown.
                if (frame) {
                    const std::int32_t slot = core::FrameSlot(elapsed, CaptureInterval);
                    if (core::SlotIsWritten(slot, lastSlot)) {
                        // Positions the writer fills with empty samples before this frame.
                        std::uint32_t empty = size.Frames() > 0 && slot > lastSlot + 1
                                                  ? static_cast<std::uint32_t>(slot - lastSlot - 1)
                                                  : 0;
                        const std::uint64_t bound =
                            std::max<std::uint64_t>(frame.get()->biSizeImage, largest);
                        const bool switchFile =
                            core::NeedsNewFile(size, bound, empty, MaxFileBytes);
                        if (!roomFor(bound, empty, switchFile)) {
                            lastResult = AVIERR_FILEWRITE;
                            fileSystemFailure = true;
                            frame.reset();
                            break;
                        }
                        if (switchFile) {
                            const std::wstring next = NewFileName(currentFile);
                            // A recording being stopped opens no new file; its frame is dropped.
                            if (!AddRecordingFile(next, true)) {
                                frame.reset();
                                break;
                            }
                            out.Close();
                            currentFile = next;
                            size = core::TAviSizeTracker(formatBytes);
                            baseSlot = slot;
                            empty = 0;
                            lastResult = out.Open(currentFile, header, options, compress, format);
                            if (lastResult != 0) {
                                fileSystemFailure = true;
                                frame.reset();
                                break;
                            }
                        }
                        LONG samples = 0, bytes = 0;
                        SetLastError(0);
                        const HRESULT hr = AVIStreamWrite(
                            out.Target(compress), slot - baseSlot, 1, PixelRows(frame.get()),
                            static_cast<LONG>(frame.get()->biSizeImage), writeFlags, &samples,
                            &bytes);
                        // Wine's writer reports success when the disk is full and drops the
                        // data; only the thread's last error tells.
                        const bool diskFull = IsDiskFull(GetLastError());
                        if (hr != 0 || diskFull) {
                            lastResult = hr != 0 ? hr : AVIERR_FILEWRITE;
                            fileSystemFailure = diskFull || hr == AVIERR_FILEWRITE;
                            frame.reset();
                            break;
                        }
                        // Wine's compressing stream hands the two counts over swapped; the
                        // stored size is the larger one either way.
                        std::uint64_t stored = static_cast<std::uint64_t>(std::max(samples, bytes));
                        if (stored <= 1) stored = frame.get()->biSizeImage;
                        const std::uint64_t before = size.ClosedSize();
                        size.Add(stored, empty);
                        writtenSinceQuery += size.ClosedSize() - before;
                        largest = std::max(largest, stored);
                        ++FramesWritten;
                        lastSlot = slot;
                    }
                    frame.reset();
                }

                if (core::ProgressDue(lastProgress, elapsed)) {
                    lastProgress = elapsed;
                    if (OnProgress) {
                        try {
                            OnProgress(*this);
                        } catch (...) {
                            // A failing status update must not end the recording.
                        }
                    }
                }

                const std::uint32_t now = Services.Clock() - StartTime;
                const core::PacingPlan pace = core::PlanPacing(
                    CaptureInterval, core::SpentInSlot(elapsed, now, CaptureInterval));
                if (pace.sleep) {
                    for (std::uint32_t i = 0; i < pace.slices; ++i) {
                        Services.Sleep(pace.slice);
                        if (!Recording) break;
                    }
                    if (Recording && pace.remainder) Services.Sleep(pace.remainder);
                }
            }
        }
    }

    // Release in this order; only then is the file complete and closed.
    AVISaveOptionsFree(1, optionList);
    out.Close();
    library.reset();

    if (lastResult == 0) return 1;
    if (CompressorHandler == kMSVC || fileSystemFailure) {
        Message(kCreateError, kErrorCaption, MB_OK | MB_ICONEXCLAMATION);
        return 0;
    }
    if (Message(kRetryQuestion, kNoticeCaption, MB_YESNO | MB_ICONEXCLAMATION) == IDYES) {
        CompressorHandler = kMSVC;
        return -1;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Compressor catalogue

void TScreenCam::EnumCompressors() {
    TFrame probe(GrabFrame(0, 0, 320, 200));
    CompressorCount = 0;
    if (!probe) return;
    std::int32_t count = 0;
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
                    core::SameHandler(Compressors[static_cast<std::size_t>(k)].fccHandler, handler);
            if (!listed) CompressorCount = ++count;
        }
    }
}

void TScreenCam::CompressorCaps(std::int32_t index, bool& hasAbout, bool& hasConfig) {
    hasAbout = false;
    hasConfig = false;
    if (!core::IndexInCatalogue(index, CompressorCount)) return;
    const ICINFO& entry = Compressors[static_cast<std::size_t>(index)];
    TCompressorHandle ic(ICOpen(entry.fccType, entry.fccHandler, ICMODE_QUERY));
    if (!ic) return;
    hasAbout = ICQueryAbout(ic.get());
    hasConfig = ICQueryConfigure(ic.get());
}

void TScreenCam::CompressorAbout(std::int32_t index, HWND owner) {
    if (!core::IndexInCatalogue(index, CompressorCount)) return;
    const ICINFO& entry = Compressors[static_cast<std::size_t>(index)];
    TCompressorHandle ic(ICOpen(entry.fccType, entry.fccHandler, ICMODE_QUERY));
    if (ic) ICAbout(ic.get(), owner);
}

void TScreenCam::CompressorConfigure(std::int32_t index, HWND owner) {
    if (!core::IndexInCatalogue(index, CompressorCount)) return;
    const ICINFO& entry = Compressors[static_cast<std::size_t>(index)];
    TCompressorHandle ic(ICOpen(entry.fccType, entry.fccHandler, ICMODE_QUERY));
    if (ic) ICConfigure(ic.get(), owner);
}

} // namespace engine
