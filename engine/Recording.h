// Recording: the recording loop of one run: the first frame and the output it decides, the
// grabbing thread that paces the frames and hands them over, and the writing of each frame at its
// slot with the switch to a new file and the disk-full stop.
#pragma once

#include "engine/FrameGrabber.h"
#include "engine/RecordOutput.h"
#include "engine/RecordingSound.h"
#include "engine/scrcam.h"
#include "media/FrameHandOver.h"
#include "core/CaptureRules.h"
#include "core/Geometry.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

namespace engine {

// One run of RecordAVI. The run's own thread (the worker) does everything that talks to the
// compressor and the file: the probe, opening the files, compressing and writing every frame,
// switching files and closing them. A second thread grabs the frames and paces the passes, and
// hands each frame over with the slot of its own grab time, so a frame is grabbed while the one
// before it is compressed. At most kFramesInFlight frames are on their way at once.
class TRecording {
public:
    TRecording(TScreenCam& cam, const std::wstring& fileName, const TNameSource& nextFileName);
    ~TRecording();

    // Grabs the first frame, lets the selected compressor decide the recording rectangle and
    // makes the output. False when no first frame could be grabbed.
    bool Prepare(const core::Rect& rect);
    // Opens the first file; false (with the result kept) when that failed.
    bool Open();
    // Grabs and writes until the recording is stopped or a write fails.
    void Record();
    // Closes the output; then every file on disk is complete.
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

    // The same for the built-in H.264 encoder, which records MP4 files.
    bool PrepareMp4(const core::Rect& rect);
    // Lets the selected compressor pick the frame size: the given size rounded to multiples of 2,
    // 4 or 8 until one is accepted; the default compressor when none is.
    void ProbeCompressor(const core::Rect& rect, std::int32_t index);
    // One pass of the grabbing thread; false when the recording ends.
    bool GrabPass(TFrameGrabber& grabber);
    void Pace(std::uint32_t elapsed);
    bool Going() const;
    // Stores one frame at its slot, switching files first when it would take the file past the
    // size limit; false when the recording must end.
    bool Write(const TGrabbed& grabbed);
    // No frame came for a second: lets the output put what waits in memory on disk; false when
    // the recording must end.
    bool Idle();
    // Closes the open file; a file that could not be completed fails the recording.
    bool CloseFile();
    bool SwitchFiles();
    bool RoomFor(std::uint64_t bound, std::uint32_t empty, bool newFile);
    // Hands the output the sound up to the recording's time `ms`: while recording as far as it
    // has come in, or up to exactly there (before a new file, and at the end, which stops the
    // capture). False when the recording must end.
    enum class TSoundTake { AsItComes, Exactly, Final };
    bool WriteSound(std::int64_t ms, TSoundTake take);
    // Gives the engine's meter fields each source's state and level.
    void ShowSound();
    // The end of the last frame written, in the recording's milliseconds.
    std::int64_t WrittenEndMs() const;

    TScreenCam& cam_;
    // The worker's own name source, which outlives the run.
    const TNameSource& nextFileName_;
    core::Rect rect_{};
    TFrame first_;
    bool compress_ = false;
    std::unique_ptr<TRecordOutput> out_;
    std::wstring currentFile_;
    // A first frame that could not be grabbed ends the run like a failed file call.
    HRESULT lastResult_;
    // A full disk or a write the file system refused: final, whatever the compressor.
    bool fileSystemFailure_ = false;

    media::THandOver<TGrabbed> handOver_;

    // The recording's sound, when it has sound; its capture interval is then fixed at the start.
    std::unique_ptr<TRecordingSound> sound_;
    std::int32_t soundInterval_ = 0;
    std::vector<std::int16_t> soundBuffer_;

    // Grabbing thread: the slots of the passes, the last slot handed over, the last progress
    // notification.
    core::SlotClock clock_;
    std::int32_t lastSlot_ = 0;
    bool handedOver_ = false;
    bool started_ = false;
    std::uint32_t lastProgress_ = 0;

    // Worker: the slot stored at the current file's position 0, the last slot written.
    std::int32_t baseSlot_ = 0;
    std::int32_t writtenSlot_ = 0;
    // The free space last read from the volume and what was written since.
    std::uint64_t freeAtQuery_ = 0;
    std::uint64_t writtenSinceQuery_ = 0;
    DWORD queriedAt_ = 0;
    bool queried_ = false;
};

} // namespace engine
