// RecordOutput: one file of a recording as the recording loop writes it, whatever its kind.
#pragma once

#include "base/Handles.h"
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
    // Completes and closes the open file; then it is whole on disk and its note is gone.
    // Nothing when no file is open.
    virtual void Close() = 0;
    // The open file's size as written so far.
    virtual const media::TFileSize& Size() const = 0;
    // Readies the next frame, to be stored at `position` of the open file, and gives at least the
    // bytes it will take there; the loop then decides whether it goes to a new file instead.
    virtual std::uint64_t Prepare(const BITMAPINFOHEADER& frame, std::int32_t position) = 0;
};

// Writes the recovery note `text` beside a recording's file under `noteName` and keeps it open
// without sharing, so that a second instance of the program knows the file is being written. An
// empty handle, and no note on disk, when it cannot be written: that costs only the recovery.
base::TKernelHandle WriteRecoveryNote(const std::wstring& noteName, const std::string& text);

} // namespace engine
