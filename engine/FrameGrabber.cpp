#include "engine/FrameGrabber.h"

#include "engine/Messages.h"
#include "engine/scrcam.h"
#include "base/Dpi.h"
#include "media/ColourConvert.h"
#include "core/CaptureRules.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <vector>

namespace engine {

using namespace base;

namespace {

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

} // namespace

void FreeSpareBlocks() {
    std::vector<HGLOBAL> blocks;
    {
        std::lock_guard<std::mutex> lock(gSpareLock);
        blocks.swap(gSpareBlocks);
    }
    for (HGLOBAL b : blocks)
        GlobalFree(b);
}

namespace {
// The grabber of a recording's grabbing thread, while it runs.
thread_local TFrameGrabber* tGrabber = nullptr;
} // namespace

TThreadGrabber::TThreadGrabber(TFrameGrabber& grabber) {
    tGrabber = &grabber;
}

TThreadGrabber::~TThreadGrabber() {
    tGrabber = nullptr;
}

void TFrame::reset(BITMAPINFOHEADER* f) {
    TScreenCam::FreeFrame(f_);
    f_ = f;
}

BITMAPINFOHEADER* TFrameGrabber::Grab(TScreenCam& cam, std::int32_t left, std::int32_t top,
                                      std::int32_t width, std::int32_t height) {
    const std::uint32_t bits = cam.BitsPerPixel;
    // Palette depths take the platform's colour table through the classic path.
    if (bits != 16 && bits != 24 && bits != 32) return nullptr;
    if (!Prepare(width, height, bits)) return nullptr;
    BitBlt(memory_.get(), 0, 0, width, height, screen_->get(), left, top, SRCCOPY);
    if (forRecording_ && (cam.HighlightCursor || cam.ShowClicks)) DrawMarks(cam, left, top);
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
    BYTE* const pixels = reinterpret_cast<BYTE*>(header) + layout.formatSize;
    std::memcpy(pixels, pixels_, static_cast<std::size_t>(layout.imageSize));
    // GDI leaves the fourth byte 0, which readers of the file would take for transparency.
    if (bits == 32) media::MakeOpaque32(pixels, static_cast<std::size_t>(width) * height);
    block.release();
    return static_cast<BITMAPINFOHEADER*>(lock.release());
}

bool TFrameGrabber::Prepare(std::int32_t width, std::int32_t height, std::uint32_t bits) {
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

void TFrameGrabber::DrawCursor(HCURSOR arrow, std::int32_t left, std::int32_t top) {
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

void TFrameGrabber::DrawMarks(TScreenCam& cam, std::int32_t left, std::int32_t top) {
    // The blit's pixels must be in the section before they are blended.
    GdiFlush();
    // The camera frame lies over the recorded area, so its monitor's dpi is the recording's.
    if (!dpi_) dpi_ = base::WindowDpi(cam.Owner());
    const media::DibPixels dib{static_cast<std::uint8_t*>(pixels_), width_, height_,
                               static_cast<int>(bits_)};
    const bool clicks = cam.ShowClicks;
    while (const std::optional<TPress> press = cam.TakeClick()) {
        const core::Point at{press->at.x - left, press->at.y - top};
        if (!clicks) continue;
        // The press's recording time; negative for one just before the recording's start.
        const auto time = static_cast<std::int32_t>(press->clock - cam.StartTime);
        rings_.Add({at, press->button, time}, {width_, height_});
    }
    // The highlight lies under the rings: a press where the cursor rests would otherwise be
    // tinted over by it and hard to see.
    if (cam.HighlightCursor) {
        POINT pos{};
        if (GetCursorPos(&pos)) media::BlendHighlight(dib, {pos.x - left, pos.y - top}, dpi_);
    }
    if (clicks && !rings_.Empty()) {
        std::array<media::Ring, media::ClickRings::kMaxRings> rings;
        const std::size_t count = rings_.Frame(frameTime_, dpi_, rings);
        for (std::size_t i = 0; i < count; ++i)
            media::BlendRing(dib, rings[i]);
    }
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
// fills the colour table) and when no DIB section can be had. The cursor marks are not drawn
// here: blending needs true colours, and palette displays are a rarity kept working as they were.
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
    auto* frame = static_cast<BITMAPINFOHEADER*>(lock.get());
    if (frame->biBitCount == 32)
        media::MakeOpaque32(reinterpret_cast<BYTE*>(frame) + FormatSize(frame),
                            static_cast<std::size_t>(frame->biWidth) * std::abs(frame->biHeight));
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
        // A frame whose bits could not be read would record a blank picture: none is given.
        if (lines == 0) {
            Message(kBitsError, kErrorCaption, MB_OK);
            return nullptr;
        }
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

} // namespace engine
