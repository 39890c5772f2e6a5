#include "engine/Recording.h"

#include "engine/AviOutput.h"
#include "engine/Catalogue.h"
#include "engine/Messages.h"
#include "engine/Mp4Output.h"
#include "engine/scrcam.h"
#include "base/ScopeGuard.h"
#include "core/CaptureRules.h"

#include <mmsystem.h>

#include <algorithm>
#include <chrono>
#include <limits>

namespace engine {

using namespace base;

namespace {

std::wstring FolderForSpace(const std::wstring& file) {
    const std::wstring folder = media::FolderOf(file);
    return folder.empty() ? std::wstring(L".\\") : folder + L"\\";
}

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

TRecording::TRecording(TScreenCam& cam, const std::wstring& fileName,
                       const TNameSource& nextFileName)
    : cam_(cam), nextFileName_(nextFileName), currentFile_(fileName), lastResult_(AVIERR_ERROR),
      handOver_(kFramesInFlight) {}

TRecording::~TRecording() = default;

bool TRecording::Going() const {
    return cam_.Recording && !handOver_.Abandoned();
}

bool TRecording::Prepare(const core::Rect& rect) {
    rect_ = rect;
    // Sound only where the file plays in about real time; its picture then runs at exactly
    // 1000 / interval frames a second, so that the picture's time is the sound's.
    const std::int32_t interval = cam_.CaptureInterval;
    if ((cam_.RecordMicrophone || cam_.RecordSystemSound) &&
        core::SoundRecordable(interval, cam_.PlaybackRate))
        soundInterval_ = interval;
    const std::int32_t index = cam_.CompressorIndex;
    compress_ = core::IndexInCatalogue(index, cam_.CompressorCount);
    // The built-in encoder, unless a repeat after its failure records with the default compressor.
    if (cam_.RecordsMp4() && cam_.CompressorHandler == kH264) return PrepareMp4(rect);
    first_.reset(cam_.GrabFrame(rect.left, rect.top, rect.width, rect.height));
    if (compress_) ProbeCompressor(rect, index);
    if (cam_.CompressorHandler == kIV50) cam_.CompressorHandler = kMSVC;
    if (!first_) return false;

    AVICOMPRESSOPTIONS options{};
    options.fccType = streamtypeVIDEO;
    options.fccHandler = cam_.CompressorHandler;
    options.dwKeyFrameEvery = static_cast<DWORD>(cam_.KeyFrameRate.load());
    options.dwQuality = static_cast<DWORD>(cam_.Quality.load());
    options.dwBytesPerSecond = 0;
    options.dwFlags = AVICOMPRESSF_KEYFRAMES | AVICOMPRESSF_VALID;

    AVISTREAMINFOW header{};
    header.fccType = streamtypeVIDEO;
    header.fccHandler = 0;
    header.dwScale = soundInterval_ ? static_cast<DWORD>(soundInterval_) : 1;
    header.dwRate = soundInterval_ ? 1000 : static_cast<DWORD>(cam_.PlaybackRate.load());
    header.dwSuggestedBufferSize = first_.get()->biSizeImage;
    SetRect(&header.rcFrame, 0, 0, first_.get()->biWidth, first_.get()->biHeight);
    // The first frame only gives the format, kept for every file of the recording; it is not
    // written as a sample.
    const auto* formatStart = reinterpret_cast<const BYTE*>(first_.get());
    out_ = std::make_unique<TAviOutput>(
        header, options, compress_,
        std::vector<BYTE>(formatStart, formatStart + FormatSize(first_.get())), soundInterval_ != 0);
    first_.reset();
    return true;
}

bool TRecording::PrepareMp4(const core::Rect& rect) {
    // 4:2:0 pictures have even sides: an odd one takes one more pixel of the screen, or one less
    // at the screen's edge, as a compressor asking for multiples of 2 would.
    rect_.width = core::ProbeAdjustedSize(rect.width, 2, cam_.ScreenWidth);
    rect_.height = core::ProbeAdjustedSize(rect.height, 2, cam_.ScreenHeight);
    first_.reset(cam_.GrabFrame(rect_.left, rect_.top, rect_.width, rect_.height));
    if (!first_) return false;
    // With sound, a position lasts the capture interval in milliseconds.
    const TMp4Output::TTiming timing =
        soundInterval_ ? TMp4Output::TTiming{1000, static_cast<std::uint32_t>(soundInterval_)}
                       : TMp4Output::TTiming{static_cast<std::uint32_t>(cam_.PlaybackRate.load()), 1};
    out_ = std::make_unique<TMp4Output>(first_.get()->biWidth, first_.get()->biHeight,
                                        first_.get()->biBitCount, timing, cam_.Quality.load(),
                                        cam_.Services.Clock, soundInterval_ != 0);
    first_.reset();
    return true;
}

void TRecording::ProbeCompressor(const core::Rect& rect, std::int32_t index) {
    // The lock is not held across the grabs: a grab may show a message and wait.
    TCompressorHandle ic(OpenForQuery(cam_.Compressors[static_cast<std::size_t>(index)]));
    if (!ic) {
        cam_.CompressorHandler = kMSVC;
        return;
    }
    auto accepted = [&] {
        if (!first_) return false;
        std::lock_guard<std::mutex> manager(CompressorManagerLock());
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
        first_.reset(cam_.GrabFrame(adjusted.left, adjusted.top, adjusted.width, adjusted.height));
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

bool TRecording::Open() {
    cam_.AddRecordingFile(currentFile_, false);
    lastResult_ = out_->Open(currentFile_);
    return lastResult_ == 0;
}

void TRecording::Record() {
    if (soundInterval_) {
        sound_ = std::make_unique<TRecordingSound>(
            sound::TCaptureOptions{.microphone = cam_.RecordMicrophone,
                                   .microphoneDevice = cam_.MicrophoneDevice(),
                                   .system = cam_.RecordSystemSound});
    }
    TGrabThread grabber(*this);
    grabber.Start();
    // With sound the worker comes by often, to hand the sound on as it comes in.
    const auto wait = sound_ ? std::chrono::milliseconds(100) : std::chrono::milliseconds(1000);
    bool written = true;
    for (bool closed = false; !closed;) {
        const std::optional<TGrabbed> grabbed = handOver_.Take(wait, closed);
        if (grabbed) {
            written = Write(*grabbed);
            BITMAPINFOHEADER* frame = grabbed->frame;
            TScreenCam::FreeFrame(frame);
            handOver_.Done();
        } else if (!closed) {
            written = Idle();
        }
        if (written && sound_) {
            written = WriteSound(WrittenEndMs(), TSoundTake::AsItComes);
            ShowSound();
        }
        if (!written) {
            for (TGrabbed& left : handOver_.Abandon())
                TScreenCam::FreeFrame(left.frame);
            break;
        }
    }
    // ~TGrabThread waits for the grabbing thread to end.
    // The sound up to the end of the last frame.
    if (written && sound_ && cam_.FramesWritten > 0) WriteSound(WrittenEndMs(), TSoundTake::Final);
}

void TRecording::ShowSound() {
    for (int i = 0; i < media::kSoundSources; ++i) {
        const auto source = static_cast<media::TSoundSource>(i);
        const sound::TSourceState state = sound_->State(source);
        cam_.SoundStates[static_cast<std::size_t>(i)] = state == sound::TSourceState::Running ? 1
                                                        : state == sound::TSourceState::Missing
                                                            ? 2
                                                            : 0;
        cam_.SoundLevels[static_cast<std::size_t>(i)] = sound_->Level(source);
    }
}

std::int64_t TRecording::WrittenEndMs() const {
    return (std::int64_t{writtenSlot_} + (cam_.FramesWritten > 0 ? 1 : 0)) * soundInterval_;
}

bool TRecording::WriteSound(std::int64_t ms, TSoundTake take) {
    soundBuffer_.clear();
    const std::int64_t until = TRecordingSound::FrameAt(ms);
    if (take == TSoundTake::Final)
        sound_->Finish(until, soundBuffer_);
    else
        sound_->Take(until, soundBuffer_, take == TSoundTake::Exactly);
    if (soundBuffer_.empty()) return true;
    bool fileSystem = false;
    const std::uint64_t before = out_->Size().ClosedSize();
    lastResult_ = out_->WriteSound(soundBuffer_.data(), soundBuffer_.size() / 2, fileSystem);
    if (lastResult_ != 0) fileSystemFailure_ = fileSystem;
    const std::uint64_t after = out_->Size().ClosedSize();
    if (after > before) writtenSinceQuery_ += after - before;
    return lastResult_ == 0;
}

bool TRecording::Idle() {
    bool fileSystem = false;
    lastResult_ = out_->Idle(fileSystem);
    if (lastResult_ != 0) fileSystemFailure_ = fileSystem;
    return lastResult_ == 0;
}

bool TRecording::CloseFile() {
    if (out_->Close()) return true;
    // The file stays with its recovery note, for the next start to finish; the recording ends
    // with the message of a write the file system refused.
    if (lastResult_ == 0) lastResult_ = AVIERR_FILEWRITE;
    fileSystemFailure_ = true;
    return false;
}

void TRecording::GrabPasses() {
    TFrameGrabber grabber(true);
    const TThreadGrabber onThisThread(grabber);
    // Presses left from an earlier recording's last moments are not this one's.
    while (cam_.TakeClick()) {
    }
    cam_.FramesWritten = 0;
    cam_.StartTime = cam_.Services.Clock();
    cam_.ElapsedTime = 0;
    clock_ = core::SlotClock{.interval = soundInterval_ ? soundInterval_ : cam_.CaptureInterval.load()};
    while (GrabPass(grabber)) {
    }
    handOver_.Close();
}

bool TRecording::GrabPass(TFrameGrabber& grabber) {
    if (!Going()) return false;
    if (cam_.Paused) {
        const DWORD pauseStart = cam_.Services.Clock();
        if (sound_ && started_) sound_->MarkPause();
        while (cam_.Paused && cam_.Recording)
            cam_.Services.Sleep(50);
        cam_.StartTime += cam_.Services.Clock() - pauseStart;
        if (sound_ && started_) sound_->MarkResume();
        if (!Going()) return false;
    }
    // A place for the frame before it is grabbed: a writer that fell behind delays the grab
    // rather than piling up frames, and the frame's slot is that of its own grab time.
    for (;;) {
        const auto place =
            handOver_.Reserve(std::chrono::milliseconds(core::PacingSlice(cam_.CaptureInterval)));
        if (place == media::THandOver<TGrabbed>::TPlace::Granted) break;
        if (place == media::THandOver<TGrabbed>::TPlace::Abandoned || !cam_.Recording) return false;
    }
    // The recording's time starts with the first grab, not with the thread: a clock tick in
    // between would put the first frame past position 0, and Wine's reader cannot read a stream
    // that starts later ("start <= This->lLastFrame" fails).
    const DWORD now = cam_.Services.Clock();
    if (!started_) {
        cam_.StartTime = now;
        if (sound_) sound_->MarkStart();
    }
    started_ = true;
    const std::uint32_t elapsed = now - cam_.StartTime;
    cam_.ElapsedTime = elapsed;

    // A changed capture interval takes effect from this pass on: it takes the slot after the last
    // one handed over, and the later ones follow at the new length from its time.
    // A recording with sound keeps the interval it started with.
    if (const std::int32_t interval = cam_.CaptureInterval; interval != clock_.interval && !sound_)
        clock_.Rebase(elapsed, handedOver_ ? lastSlot_ + 1 : 0, interval);
    const std::int32_t slot = clock_.Slot(elapsed);

    // The click rings in the frame are those of its slot's time.
    grabber.SetFrameTime(clock_.SlotTime(slot));
    BITMAPINFOHEADER* frame = cam_.GrabFrame(rect_.left, rect_.top, rect_.width, rect_.height);
    // A pass whose grab failed writes nothing; its message has been shown.
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
    // The pass's own interval and slot: a change meanwhile is taken up by the next pass.
    const std::int32_t interval = clock_.interval;
    const std::uint32_t now = cam_.Services.Clock() - cam_.StartTime;
    const core::PacingPlan plan =
        core::PlanPacing(interval, core::SpentInSlot(elapsed, now, clock_));
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
    return media::DiskHasRoom(out_->Size(), bound, empty, newFile, estimate());
}

bool TRecording::SwitchFiles() {
    const std::wstring next = cam_.NewFileName(currentFile_, nextFileName_);
    // A recording being stopped opens no new file; its frame is dropped.
    if (!cam_.AddRecordingFile(next, true) || !CloseFile()) return false;
    currentFile_ = next;
    lastResult_ = out_->Open(currentFile_);
    if (lastResult_ != 0) fileSystemFailure_ = true;
    return lastResult_ == 0;
}

bool TRecording::Write(const TGrabbed& grabbed) {
    const BITMAPINFOHEADER& frame = *grabbed.frame;
    const std::int32_t slot = grabbed.slot;
    // Positions the file is left without a frame before this one.
    std::uint32_t empty = out_->Size().Frames() > 0 && slot > writtenSlot_ + 1
                              ? static_cast<std::uint32_t>(slot - writtenSlot_ - 1)
                              : 0;
    const std::uint64_t bound = out_->Prepare(frame, slot - baseSlot_);
    const bool switchFile = media::NeedsNewFile(out_->Size(), bound, empty, cam_.MaxFileBytes);
    if (!RoomFor(bound, empty, switchFile)) {
        lastResult_ = AVIERR_FILEWRITE;
        fileSystemFailure_ = true;
        return false;
    }
    if (switchFile) {
        // The old file's sound ends where the new file's first frame begins.
        if (sound_ && !WriteSound(std::int64_t{slot} * soundInterval_, TSoundTake::Exactly)) return false;
        if (!SwitchFiles()) return false;
        baseSlot_ = slot;
    }
    const std::uint64_t before = out_->Size().ClosedSize();
    bool fileSystem = false;
    lastResult_ = out_->Write(frame, slot - baseSlot_, fileSystem);
    if (lastResult_ != 0) {
        fileSystemFailure_ = fileSystem;
        return false;
    }
    writtenSinceQuery_ += out_->Size().ClosedSize() - before;
    ++cam_.FramesWritten;
    writtenSlot_ = slot;
    return true;
}

void TRecording::Close() {
    // The output closes its file and releases what it holds; only then is the file complete.
    if (out_) CloseFile();
    out_.reset();
    if (sound_) {
        sound_->Stop();
        for (std::size_t i = 0; i < media::kSoundSources; ++i) {
            cam_.SoundStates[i] = 0;
            cam_.SoundLevels[i] = 0.0f;
        }
    }
}

int TRecording::Outcome() {
    if (lastResult_ == 0) {
        // A source that was missing did not stop the recording; now the user learns of it.
        if (sound_) {
            if (const std::wstring report = sound_->MissingReport(WrittenEndMs()); !report.empty())
                cam_.Message(report.c_str(), kNoticeCaption, MB_OK | MB_ICONINFORMATION);
        }
        return 1;
    }
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

int TScreenCam::RecordAVI(const core::Rect& rect, const std::wstring& fileName,
                          const TNameSource& nextFileName) {
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
    TRecording run(*this, fileName, nextFileName);
    if (run.Prepare(rect) && run.Open()) run.Record();
    run.Close();
    return run.Outcome();
}

} // namespace engine
