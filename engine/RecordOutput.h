// RecordOutput: one file of a recording as the recording loop writes it, whatever its kind.
#pragma once

#include "base/Handles.h"
#include "media/AviRecovery.h"
#include "media/FileSplit.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace engine {

// The loop opens a file, stores frames at their positions and closes it, and again for every file
// it goes on in; an output keeps its settings from one file to the next. Every call comes from
// the recording's worker thread.
class TRecordOutput {
public:
    virtual ~TRecordOutput() = default;
    // Creates the file (replacing one of that name) with its recovery note beside it: 0, or the
    // failure.
    virtual HRESULT Open(const std::wstring& name) = 0;
    // Stores a frame at its position in the open file (0 is the file's first): 0, or the failure,
    // with `fileSystem` set when it was the file system's (a full disk, a refused write).
    virtual HRESULT Write(const BITMAPINFOHEADER& frame, std::int32_t position,
                          bool& fileSystem) = 0;
    // Completes and closes the open file; then it is whole on disk and its note is gone. False
    // when it could not be completed: then the note stays, for the next start to finish it.
    // True when no file is open.
    virtual bool Close() = 0;
    // No frame came for a while (a pause, a long capture interval): 0, or the failure of writing
    // what waits in memory, as for Write.
    virtual HRESULT Idle(bool& fileSystem) {
        (void)fileSystem;
        return 0;
    }
    // The recording's sound, for an output made with sound: `frames` frames of 48 kHz stereo
    // 16-bit samples (interleaved) that continue the open file's sound where the last call left
    // it; a file's first call starts at its position 0. 0, or the failure, as for Write.
    virtual HRESULT WriteSound(const std::int16_t* samples, std::size_t frames, bool& fileSystem) {
        (void)samples;
        (void)frames;
        (void)fileSystem;
        return 0;
    }
    // The open file's size as written so far.
    virtual const media::TFileSize& Size() const = 0;
    // Readies the next frame, to be stored at `position` of the open file, and gives at least the
    // bytes it will take there; the loop then decides whether it goes to a new file instead.
    virtual std::uint64_t Prepare(const BITMAPINFOHEADER& frame, std::int32_t position) = 0;
};

// A recording's file, open for reading and writing, as the recovery and the finishing read and
// write it. Does not own the handle.
class TWin32RecoveryFile : public media::RecoveryFile {
public:
    explicit TWin32RecoveryFile(HANDLE file) : file_(file) {}
    std::uint64_t Size() override;
    bool Read(std::uint64_t offset, void* data, std::size_t size) override;
    bool Write(std::uint64_t offset, const void* data, std::size_t size) override;
    bool Resize(std::uint64_t size) override;

private:
    bool Seek(std::uint64_t offset);
    HANDLE file_;
};

// Writes the recovery note `text` beside a recording's file under `noteName` and keeps it open
// without sharing, so that a second instance of the program knows the file is being written. An
// empty handle, and no note on disk, when it cannot be written: that costs only the recovery.
base::TKernelHandle WriteRecoveryNote(const std::wstring& noteName, const std::string& text);

} // namespace engine
