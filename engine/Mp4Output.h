// Mp4Output: a recording's files as H.264 in fragmented MP4, through the built-in encoder and our
// own writer, with the recovery note beside each open file.
#pragma once

#include "engine/RecordOutput.h"

#include "base/Handles.h"
#include "media/AacTrack.h"
#include "media/ColourConvert.h"
#include "media/H264Encoder.h"
#include "media/Mp4Writer.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <vector>

namespace engine {

class TMp4Output : public TRecordOutput {
public:
    // The file's time scale (ticks per second) and the ticks a position lasts: the playback rate
    // and 1, or with sound 1000 and the capture interval in milliseconds.
    struct TTiming {
        std::uint32_t timescale = 10;
        std::uint32_t ticksPerPosition = 1;
    };

    // Frames of width x height (both even) and bitsPerPixel, played at `timing`, coded at
    // `quality` (0..10000). `clock` gives milliseconds: a fragment goes to disk at least every
    // second. With `sound` each file also has the recording's sound, as AAC.
    TMp4Output(int width, int height, int bitsPerPixel, TTiming timing, int quality,
               std::function<DWORD()> clock, bool sound = false);
    ~TMp4Output() override;

    HRESULT Open(const std::wstring& name) override;
    HRESULT Write(const BITMAPINFOHEADER& frame, std::int32_t position, bool& fileSystem) override;
    bool Close() override;
    // Puts what waits in memory on disk once it has waited a second.
    HRESULT Idle(bool& fileSystem) override;
    // Encodes the sound into the file's AAC track; it goes to disk with the next fragment.
    HRESULT WriteSound(const std::int16_t* samples, std::size_t frames, bool& fileSystem) override;
    const media::TFileSize& Size() const override { return size_; }
    // Codes the frame, so that the size checks before it know its exact size.
    std::uint64_t Prepare(const BITMAPINFOHEADER& frame, std::int32_t position) override;

private:
    // The open file as the writer writes it.
    class TFileSink : public media::Mp4Sink {
    public:
        bool Write(const void* data, std::size_t size) override;
        bool WriteAt(std::uint64_t offset, const void* data, std::size_t size) override;
        base::TKernelHandle file;
        std::uint64_t end = 0; // where Write appends
        bool diskFull = false;
    };
    // The open file's size as the writer foresees it.
    class TSize : public media::TFileSize {
    public:
        explicit TSize(const TMp4Output& out) : out_(out) {}
        std::uint64_t ClosedSize() const override;
        std::uint64_t ClosedSizeWith(std::uint64_t bytes, std::uint32_t emptySlots) const override;
        std::uint64_t ClosingBytes() const override;
        std::uint64_t Frames() const override;
        std::uint64_t NewFileSizeWith(std::uint64_t bytes) const override;

    private:
        const TMp4Output& out_;
    };

    HRESULT Failure(bool& fileSystem);
    // The picture's three planes in planes_.
    media::TI420Planes Planes();
    HRESULT Encode(std::int32_t position, bool forceIdr);

    const int width_, height_, bitsPerPixel_;
    const TTiming timing_;
    const bool sound_;
    const int quality_;
    std::function<DWORD()> clock_;
    media::TH264Encoder encoder_;
    std::vector<std::uint8_t> planes_; // the picture in I420, reused
    // The frame Prepare coded: its access unit, whether it is an IDR, and the result.
    std::vector<std::uint8_t> coded_;
    bool codedIdr_ = false;
    HRESULT prepared_ = AVIERR_ERROR;
    TFileSink sink_;
    std::unique_ptr<media::TMp4Writer> writer_;
    std::unique_ptr<media::TAacTrack> aac_; // with sound
    std::wstring name_;
    base::TKernelHandle note_;
    std::wstring noteName_;
    TSize size_{*this};
    std::uint64_t headerBytes_ = 0; // the last file's ftyp and moov
    std::int32_t idrPosition_ = 0;
    std::uint64_t idrBytes_ = 0; // the last IDR picture's
    DWORD fragmentStart_ = 0;
};

} // namespace engine
