#include "engine/scrcam.h"

#include "core/CaptureRules.h"
#include "engine/Handles.h"

#include <mmsystem.h>

#include <cstdint>
#include <limits>
#include <optional>

namespace engine {

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

} // namespace

TEngineServices TEngineServices::Platform() {
    TEngineServices s;
    s.Clock = [] { return timeGetTime(); };
    s.Sleep = [](DWORD ms) { ::Sleep(ms); };
    s.VideoForWindowsVersion = [] { return ::VideoForWindowsVersion(); };
    s.ShowMessage = [](const std::wstring& text, const std::wstring& caption, UINT flags) {
        return MessageBoxW(nullptr, text.c_str(), caption.c_str(), flags);
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
    while (engine_.RecordAVI(rect_, fileName_) == -1) {
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
        forms::TThread::ServeUntil([this] { return RecordThread == nullptr; });
    }
}

int TScreenCam::Message(const wchar_t* text, const wchar_t* caption, UINT flags) {
    if (Services.ShowMessage) return Services.ShowMessage(text, caption, flags);
    return MessageBoxW(nullptr, text, caption, flags);
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
                if (info.hbmMask) DeleteObject(info.hbmMask);
                if (info.hbmColor) DeleteObject(info.hbmColor);
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

    TGlobalHandle block(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT,
                                    static_cast<SIZE_T>(layout.blockSize)));
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
    const HGLOBAL block = GlobalHandle(frame);
    if (block) {
        GlobalUnlock(block);
        GlobalFree(block);
    }
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
    Paused = false;
    // A new recording uses the selected compressor; with none selected it writes full frames
    // and "MSVC" stays the default the failure messages refer to.
    const std::int32_t index = CompressorIndex;
    CompressorHandler = core::IndexInCatalogue(index, CompressorCount)
                            ? Compressors[static_cast<std::size_t>(index)].fccHandler
                            : kMSVC;
    Recording = true;
    RecordThread = thread;
    thread->OnTerminate = [this](forms::TThread& sender) { ThreadTerminated(sender); };
    thread->Start();
}

void TScreenCam::StopRecording() {
    Recording = false;
}

void TScreenCam::ThreadTerminated(forms::TThread&) {
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

    TFrame frame(GrabFrame(rr.Left, rr.Top, rr.Width, rr.Height));

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
                adjusted.Width = core::ProbeAdjustedSize(rect.Width, f, ScreenWidth);
                adjusted.Height = core::ProbeAdjustedSize(rect.Height, f, ScreenHeight);
                frame.reset();
                frame.reset(GrabFrame(adjusted.Left, adjusted.Top, adjusted.Width,
                                      adjusted.Height));
                ok = accepted();
            }
            if (ok) {
                rr = adjusted;
            } else {
                CompressorHandler = kMSVC;
                frame.reset();
                frame.reset(GrabFrame(rect.Left, rect.Top, rect.Width, rect.Height));
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
    std::optional<TAviFileLibrary> library;
    TAviFileHandle file;
    TAviStreamHandle stream;
    TAviStreamHandle compressed;

    if (frame) {
        library.emplace();
        lastResult = AVIFileOpenW(file.put(), fileName.c_str(), OF_WRITE | OF_CREATE, nullptr);
        if (lastResult == 0) {
            AVISTREAMINFOW info{};
            info.fccType = streamtypeVIDEO;
            info.fccHandler = 0;
            info.dwScale = 1;
            info.dwRate = static_cast<DWORD>(PlaybackRate.load());
            info.dwSuggestedBufferSize = frame.get()->biSizeImage;
            SetRect(&info.rcFrame, 0, 0, frame.get()->biWidth, frame.get()->biHeight);
            lastResult = AVIFileCreateStreamW(file.get(), stream.put(), &info);
        }
        // With no compressor selected the frames go to the file stream as they are.
        if (lastResult == 0 && compress)
            lastResult = AVIMakeCompressedStream(compressed.put(), stream.get(), &options, nullptr);
        const PAVISTREAM target = compress ? compressed.get() : stream.get();
        if (lastResult == 0)
            lastResult = AVIStreamSetFormat(target, 0, frame.get(), FormatSize(frame.get()));
        // The first frame only gives the format; it is not written as a sample.
        frame.reset();

        if (lastResult == 0) {
            // Every full frame stands alone, so uncompressed samples are key frames; a
            // compressing stream marks key frames itself.
            const DWORD writeFlags = compress ? 0 : AVIIF_KEYFRAME;
            std::int32_t lastSlot = 0;
            std::uint32_t lastProgress = 0;
            FramesWritten = 0;
            StartTime = Services.Clock();
            ElapsedTime = 0;

            while (Recording) {
                if (Paused) {
                    const DWORD pauseStart = Services.Clock();
                    while (Paused && Recording) Services.Sleep(50);
                    StartTime += Services.Clock() - pauseStart;
                }
                const std::uint32_t elapsed = Services.Clock() - StartTime;
                ElapsedTime = elapsed;

                frame.reset(GrabFrame(rr.Left, rr.Top, rr.Width, rr.Height));
                // A pass whose grab failed writes nothing; its message has been shown.
                if (frame) {
                    const std::int32_t slot = core::FrameSlot(elapsed, CaptureInterval);
                    if (core::SlotIsWritten(slot, lastSlot)) {
                        const HRESULT hr = AVIStreamWrite(
                            target, slot, 1, PixelRows(frame.get()),
                            static_cast<LONG>(frame.get()->biSizeImage), writeFlags, nullptr,
                            nullptr);
                        if (hr != 0) {
                            lastResult = hr;
                            frame.reset();
                            break;
                        }
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

                const std::uint32_t spent = Services.Clock() - StartTime - elapsed;
                const core::PacingPlan pace = core::PlanPacing(CaptureInterval, spent);
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
    file.reset();
    stream.reset();
    compressed.reset();
    library.reset();

    if (lastResult == 0) return 1;
    if (CompressorHandler == kMSVC) {
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
            CompressorCount = ++count;
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
