#include "engine/scrcam.h"

#include "engine/Catalogue.h"
#include "engine/FrameGrabber.h"
#include "sound/SoundDevices.h"
#include "core/CaptureRules.h"
#include "core/RecordNaming.h"

#include <mmsystem.h>

#include <algorithm>
#include <limits>

namespace engine {

using namespace base;

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
    s.CaptureDevices = [] { return sound::CaptureDeviceNames(); };
    return s;
}

// ---------------------------------------------------------------------------------------------
// Worker thread

TRecordAVIThread::TRecordAVIThread(TScreenCam& engine, std::wstring fileName,
                                   const core::Rect& rect, TNameSource nextFileName)
    : engine_(engine), fileName_(std::move(fileName)), rect_(rect),
      nextFileName_(std::move(nextFileName)) {
    SetFreeOnTerminate(true);
}

void TRecordAVIThread::Execute() {
    // A repeat with the default compressor records over the file that failed, which after a
    // switch of files is the last one, not the first. After the built-in encoder failed, the
    // repeat writes AVI beside the MP4 file, which keeps what it got.
    std::wstring name = fileName_;
    while (engine_.RecordAVI(rect_, name, nextFileName_) == -1) {
        const std::vector<std::wstring> files = engine_.RecordingFiles();
        if (!files.empty()) name = files.back();
        if (core::SameTextAscii(media::ExtensionOf(name), L".mp4"))
            name = name.substr(0, name.size() - 4) + L".avi";
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

bool TScreenCam::StartRecording(const core::Rect& rect, const std::wstring& fileName) {
    if (Recording || RecordThread) return false;
    auto* thread = new TRecordAVIThread(*this, fileName, rect, NextFileName);
    if (!thread->Handle()) {
        delete thread;
        return false;
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
    return true;
}

void TScreenCam::StopRecording() {
    Recording = false;
}

void TScreenCam::AddClick(core::Point screen, media::MouseButton button) {
    // A full queue drops the press: the grabbing thread takes them every frame, so only a
    // stalled recording fills it, and then no ring is missed on screen.
    if (Recording && ShowClicks && !Paused) (void)presses_.Push({screen, button, Services.Clock()});
}

std::wstring TScreenCam::MicrophoneDevice() const {
    std::lock_guard<std::mutex> lock(microphoneLock_);
    return microphoneDevice_;
}

void TScreenCam::SetMicrophoneDevice(std::wstring name) {
    std::lock_guard<std::mutex> lock(microphoneLock_);
    microphoneDevice_ = std::move(name);
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

std::wstring TScreenCam::NewFileName(const std::wstring& previous, const TNameSource& source) {
    if (source) {
        try {
            std::wstring name = source();
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
    return media::NextRecordFileName(
        previous, core::DateStampOf(now) + core::TimeStampOf(now), [](const std::wstring& n) {
            return GetFileAttributesW(n.c_str()) != INVALID_FILE_ATTRIBUTES;
        });
}

void TScreenCam::ThreadTerminated(base::TThread&) {
    Recording = false;
    RecordThread = nullptr;
    if (OnStopped) OnStopped(*this);
}

} // namespace engine
