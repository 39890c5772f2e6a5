// FrameGrabber: screen frames as packed DIBs with the cursor drawn in, grabbed by one thread
// from one grab to the next, and the blocks they live in.
#pragma once

#include "base/Handles.h"
#include "media/CursorMarks.h"

#include <windows.h>

#include <cstdint>
#include <optional>

namespace engine {

class TScreenCam;

// Frames grabbed and not yet written: the one being written, the ones queued, the one being
// grabbed.
inline constexpr std::size_t kFramesInFlight = 3;

// Header and colour table: what AVIStreamSetFormat and the compressors take as the format.
inline LONG FormatSize(const BITMAPINFOHEADER* f) {
    return static_cast<LONG>(f->biSize + 4 * f->biClrUsed);
}
inline const BYTE* PixelRows(const BITMAPINFOHEADER* f) {
    return reinterpret_cast<const BYTE*>(f) + FormatSize(f);
}

// The one frame a run holds at a time, released when replaced or at scope end.
class TFrame {
public:
    TFrame() = default;
    explicit TFrame(BITMAPINFOHEADER* f) : f_(f) {}
    ~TFrame() { reset(); }
    TFrame(const TFrame&) = delete;
    TFrame& operator=(const TFrame&) = delete;
    BITMAPINFOHEADER* get() const { return f_; }
    explicit operator bool() const { return f_ != nullptr; }
    void reset(BITMAPINFOHEADER* f = nullptr);

private:
    BITMAPINFOHEADER* f_ = nullptr;
};

// What one thread keeps from one grab to the next: the screen context, a memory context with a
// DIB section of the last frame size selected, and the hot spot of the last cursor shown.
// BitBlt writes the screen's pixels straight into the section in the frame's own layout, so a
// grab costs the screen read and one copy into the frame's block. Used by one thread only
// (ReleaseDC must be called by the thread that called GetDC).
class TFrameGrabber {
public:
    // A recording's grabber also draws the cursor marks that are switched on; other grabs never.
    explicit TFrameGrabber(bool forRecording = false) : forRecording_(forRecording) {}

    // The frame, or nullptr when this path cannot grab it (palette depths, no DIB section).
    BITMAPINFOHEADER* Grab(TScreenCam& cam, std::int32_t left, std::int32_t top, std::int32_t width,
                           std::int32_t height);
    // The recording time of the slot the next frame goes to: the click rings are drawn as they
    // stand then.
    void SetFrameTime(std::int64_t recordingMs) { frameTime_ = recordingMs; }

private:
    bool Prepare(std::int32_t width, std::int32_t height, std::uint32_t bits);
    void DrawCursor(HCURSOR arrow, std::int32_t left, std::int32_t top);
    void DrawMarks(TScreenCam& cam, std::int32_t left, std::int32_t top);

    std::optional<base::TWindowDC> screen_;
    base::TMemoryDC memory_;
    base::TBitmapHandle section_;
    base::TSelectObject selection_{nullptr, nullptr};
    void* pixels_ = nullptr;
    std::int32_t width_ = 0, height_ = 0;
    std::uint32_t bits_ = 0;
    HCURSOR hotSpotOf_ = nullptr;
    POINT hotSpot_{0, 0};
    bool forRecording_;
    media::ClickRings rings_;
    std::int64_t frameTime_ = 0;
    int dpi_ = 0;
};

// Makes a grabber the one GrabFrame uses on this thread while it lives.
class TThreadGrabber {
public:
    explicit TThreadGrabber(TFrameGrabber& grabber);
    ~TThreadGrabber();
    TThreadGrabber(const TThreadGrabber&) = delete;
    TThreadGrabber& operator=(const TThreadGrabber&) = delete;
};

// Frees the blocks kept for the next grabs; a recording's end should not leave megabytes held.
void FreeSpareBlocks();

} // namespace engine
