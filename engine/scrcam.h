// scrcam: the capture engine: its settings and state, screen frames, recordings on a worker
// thread and the compressor catalogue (their parts live in the engine's other files).
#pragma once

#include "base/Thread.h"
#include "media/CursorMarks.h"
#include "media/FileSplit.h"
#include "core/Geometry.h"
#include "core/SpscQueue.h"

#include <windows.h>
#include <vfw.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace engine {

// What a test cannot control on the real platform: the millisecond clock, sleeping, the Video
// for Windows version and message boxes (ShowMessage: text, caption, MB_ flags -> IDOK/IDYES/IDNO).
// Platform() gives the real functions; a test replaces single members before recording.
struct TEngineServices {
    std::function<DWORD()> Clock;
    std::function<void(DWORD)> Sleep;
    std::function<DWORD()> VideoForWindowsVersion;
    std::function<int(const std::wstring& text, const std::wstring& caption, UINT flags)>
        ShowMessage;
    // Bytes free for this program on the volume of a folder; UINT64_MAX when unknown.
    std::function<std::uint64_t(const std::wstring& folder)> FreeDiskBytes;
    // The names of the capture devices a microphone can be recorded from, in the system's order.
    std::function<std::vector<std::wstring>()> CaptureDevices;

    static TEngineServices Platform();
};

class TScreenCam;
class TFrameGrabber;
class TRecording;

// A mouse press as the user-interface thread saw it: screen pixels and the engine's clock.
struct TPress {
    core::Point at;
    media::MouseButton button = media::MouseButton::Left;
    DWORD clock = 0;
};

// Names the next file of a recording when it switches files (see TScreenCam::NextFileName).
using TNameSource = std::function<std::wstring()>;

// The worker of one recording: runs RecordAVI, again as long as it returns -1 (the user chose
// the default compressor), and frees itself when it has ended and its termination handler ran.
// Created suspended; StartRecording starts it once the engine is set up for it. It keeps its own
// copy of the name source, so the owner may set another one while it runs.
class TRecordAVIThread : public base::TThread {
public:
    TRecordAVIThread(TScreenCam& engine, std::wstring fileName, const core::Rect& rect,
                     TNameSource nextFileName);

protected:
    void Execute() override;

private:
    TScreenCam& engine_;
    std::wstring fileName_;
    core::Rect rect_;
    TNameSource nextFileName_;
};

// The capture and recording engine. One instance, owned by the main window. Fields shared with
// the worker thread are atomics: one side writes, the other reads the latest value.
class TScreenCam {
public:
    static constexpr int kMaxCompressors = 32;

    // owner: the window that owns the engine; the engine's own message boxes have no owner.
    explicit TScreenCam(HWND owner = nullptr);
    // Clears Recording and waits for a running worker, serving its termination handler.
    ~TScreenCam();
    TScreenCam(const TScreenCam&) = delete;
    TScreenCam& operator=(const TScreenCam&) = delete;

    // A new frame of the screen rectangle with the arrow cursor drawn in: the locked address of
    // a packed DIB in one movable global block, or nullptr after "Error capturing a frame!".
    // Release it with FreeFrame. The thread that created the engine and a recording's grabbing
    // thread each keep their screen context, bitmap and blocks from one grab to the next.
    BITMAPINFOHEADER* GrabFrame(std::int32_t Left, std::int32_t Top, std::int32_t Width,
                                std::int32_t Height);
    // A new unlocked movable block holding the bitmap as a packed DIB of `bits` bits per pixel,
    // or nullptr when it cannot be allocated or (after "Error retrieving bitmap bits") its bits
    // cannot be read. The bitmap must not be selected into a DC.
    HGLOBAL PackBitmap(HBITMAP bitmap, std::uint32_t bits);
    // Unlocks and frees a frame's block and sets the reference to nullptr; nothing for nullptr.
    // The last few blocks are kept for the next grabs of the same size instead of being freed.
    static void FreeFrame(BITMAPINFOHEADER*& frame);

    // Starts a recording of the rectangle (screen pixels) into the file on a new worker, unless
    // one is running or still finishing. Returns at once, telling whether it started (false also
    // when no thread could be made).
    bool StartRecording(const core::Rect& rect, const std::wstring& fileName);
    // Clears Recording; the worker finishes the file and ends on its own.
    void StopRecording();
    // One recording run (on the worker): 1 when stopped, 0 when it failed, -1 when the user
    // chose to repeat it with the default compressor. Before a frame would take the file past
    // MaxFileBytes, the file is closed and the recording goes on in a new one (see NextFileName)
    // with the same rectangle, compressor and settings; that frame is the new file's first, at
    // position 0, and later positions count from its slot. FramesWritten and ElapsedTime count
    // the whole recording. A full disk (too little room left to close the file, or a write the
    // file system refused) ends the run with "Error Creating AVI file" and result 0 whatever the
    // compressor: every frame written so far stays in closed, readable files. The frames are
    // grabbed and paced on a second thread and handed to the calling one, which alone talks to
    // the compressor and the file; at most three frames are on their way at once.
    int RecordAVI(const core::Rect& rect, const std::wstring& fileName,
                  const TNameSource& nextFileName);
    // The worker's termination handler, run on the user-interface thread; raises OnStopped.
    void ThreadTerminated(base::TThread& sender);

    // Rebuilds the catalogue from the installed compressors that accept a 320 x 200 screen frame,
    // and the built-in H.264 encoder ("H.264 (MP4)") after them. Does nothing while a recording
    // runs or finishes: the catalogue stays as it stands.
    void EnumCompressors();
    // Whether the selected entry is the built-in H.264 encoder: a recording then writes MP4 files.
    bool RecordsMp4() const;
    // Whether the catalogue entry offers an about box and a configuration dialog.
    void CompressorCaps(std::int32_t index, bool& hasAbout, bool& hasConfig);
    void CompressorAbout(std::int32_t index, HWND owner);
    void CompressorConfigure(std::int32_t index, HWND owner);

    HWND Owner() const { return owner_; }

    // A press of a mouse button at a screen point, from the user-interface thread's mouse hook:
    // kept for the recording's frames while a recording with ShowClicks runs and is not paused.
    void AddClick(core::Point screen, media::MouseButton button);
    // The oldest press not yet taken; only the recording's grabbing thread takes them.
    std::optional<TPress> TakeClick() { return presses_.Pop(); }

    // Every file of the current (or last) recording, in recording order: the file it was started
    // with and each it went on in. Safe to call from any thread.
    std::vector<std::wstring> RecordingFiles() const;

    // Engine fields.
    std::uint32_t BitsPerPixel = 0;
    std::atomic<DWORD> CompressorHandler;
    std::atomic<bool> Recording{false};
    std::int32_t ScreenWidth = 0;
    std::int32_t ScreenHeight = 0;
    std::atomic<std::uint32_t> StartTime{0};
    std::atomic<std::int32_t> FramesWritten{0};
    // Raised on the worker thread about every 500 ms of recording time; the receiver must hand
    // what it shows to the user-interface thread.
    std::function<void(TScreenCam&)> OnProgress;
    // Raised on the user-interface thread when a recording's worker has ended, after Recording
    // was cleared: after Stop, and for a recording that ended on its own (a full disk, a failing
    // compressor), which nothing else tells the owner of.
    std::function<void(TScreenCam&)> OnStopped;
    TRecordAVIThread* RecordThread = nullptr;
    std::atomic<std::int32_t> PlaybackRate{10};
    std::atomic<std::int32_t> CaptureInterval{100};
    std::atomic<std::int32_t> KeyFrameRate{5};
    std::atomic<std::int32_t> CompressorIndex{-1};
    std::atomic<std::int32_t> Quality{6550};
    std::atomic<std::int32_t> CompressorCount{0};
    std::array<ICINFO, kMaxCompressors> Compressors{};
    std::atomic<bool> DrawCursor{true};
    // Marks drawn into the recorded frames only, never on the screen: a soft yellow disc under the
    // cursor, and a ring where a mouse button was pressed. Off by default.
    std::atomic<bool> HighlightCursor{false};
    std::atomic<bool> ShowClicks{false};
    // Sound, for recordings that play in about real time (core::SoundRecordable): the microphone
    // and the computer's sound. Off by default.
    std::atomic<bool> RecordMicrophone{false};
    std::atomic<bool> RecordSystemSound{false};
    // The sound of the running recording, for a meter, per source (media::TSoundSource): its
    // state (0 not recorded, 1 capturing, 2 missing) and its peak level (0..1) of about the last
    // tenth of a second. All 0 while no recording with sound runs.
    std::array<std::atomic<int>, 2> SoundStates{};
    std::array<std::atomic<float>, 2> SoundLevels{};
    // The microphone's capture device by name; empty for the system's default. Read by a
    // recording at its start.
    std::wstring MicrophoneDevice() const;
    void SetMicrophoneDevice(std::wstring name);
    HCURSOR ArrowCursor = nullptr;
    std::wstring FileName;
    std::atomic<std::uint32_t> ElapsedTime{0};
    std::atomic<bool> Paused{false};

    // The size a recording file may reach (closed, with its index) before the recording goes on
    // in a new file. 1 GiB unless lowered, which tests and the QUARNELBY_MAX_FILE_BYTES start-up
    // hook do to see the switch without writing a gigabyte.
    std::atomic<std::uint64_t> MaxFileBytes{media::kDefaultMaxFileBytes};
    // Names the next file of a recording when it switches files; called on the worker thread.
    // When unset (or it gives an empty name) the next file goes beside the current one, named
    // by the local time of the switch with the "_2", "_3", ... rule, never sorting before it.
    // StartRecording hands the worker a copy: set during a recording, it names the files of the
    // next recording, never those of the running one.
    TNameSource NextFileName;

    // Clock, sleep, version and message boxes; the platform's unless a test replaces them.
    TEngineServices Services;

private:
    friend class TRecording;

    BITMAPINFOHEADER* GrabByPacking(std::int32_t Left, std::int32_t Top, std::int32_t Width,
                                    std::int32_t Height);
    int Message(const wchar_t* text, const wchar_t* caption, UINT flags);
    // The catalogue entry of an installed compressor, which the compression manager opens;
    // nullptr for an index outside the catalogue and for the built-in encoder.
    const ICINFO* InstalledEntry(std::int32_t index) const;
    // The name of the file the recording goes on in after `previous`, asked of `source` first.
    std::wstring NewFileName(const std::wstring& previous, const TNameSource& source);
    // Adds the file to RecordingFiles unless the recording is stopping and `unlessStopping` is
    // set; false when it was not added for that reason.
    bool AddRecordingFile(const std::wstring& name, bool unlessStopping);

    HWND owner_;
    DWORD ownerThread_;
    std::unique_ptr<TFrameGrabber> grabber_; // the owner thread's
    core::SpscQueue<TPress, 32> presses_;
    mutable std::mutex filesLock_;
    std::vector<std::wstring> files_;
    mutable std::mutex microphoneLock_;
    std::wstring microphoneDevice_;
};

// The program's one engine, made and freed by the main window; every other window reaches it here.
extern TScreenCam* ScreenCam;

} // namespace engine
