// AviOutput: a recording's files as AVI through the platform's AVIFile services and the selected
// compressor, with the sound as 16-bit PCM and the recovery note beside each open file.
#pragma once

#include "engine/RecordOutput.h"

#include "base/Handles.h"

#include <windows.h>
#include <vfw.h>

#include <optional>
#include <vector>

namespace engine {

class TAviOutput : public TRecordOutput {
public:
    // header: every file's stream header; options: the compressor's, used when `compress` is set
    // (otherwise the frames are stored as they are); format: the frames' format (header and
    // colour table); sound: every file gets a second stream, the sound WriteSound is given, as
    // 48 kHz stereo 16-bit PCM in chunks of at most half a second among the frames.
    TAviOutput(const AVISTREAMINFOW& header, const AVICOMPRESSOPTIONS& options, bool compress,
               std::vector<BYTE> format, bool sound = false);
    // Closes the open file and releases the options and the AVIFile library.
    ~TAviOutput() override;

    HRESULT Open(const std::wstring& name) override;
    HRESULT Write(const BITMAPINFOHEADER& frame, std::int32_t position, bool& fileSystem) override;
    // Holds the samples and stores every half second of them as it fills; the close stores the
    // rest. Nothing without sound or an open file.
    HRESULT WriteSound(const std::int16_t* samples, std::size_t frames, bool& fileSystem) override;
    // Stores the sound still held, then completes the file.
    bool Close() override;
    const media::TFileSize& Size() const override { return size_; }
    std::uint64_t Prepare(const BITMAPINFOHEADER& frame, std::int32_t position) override;

private:
    PAVISTREAM Target() const { return compress_ ? compressed_.get() : stream_.get(); }
    std::uint32_t SoundFormatBytes() const { return sound_ ? sizeof(WAVEFORMATEX) : 0; }
    HRESULT CreateSoundStream();
    // Stores the first `frames` frames of the held sound as one chunk.
    HRESULT StoreSound(std::size_t frames, bool& fileSystem);
    void SetSoundLength();
    void WriteNote(const std::wstring& name);

    std::optional<base::TAviFileLibrary> library_;
    AVISTREAMINFOW header_;
    AVICOMPRESSOPTIONS options_;
    bool compress_;
    std::vector<BYTE> format_;
    bool sound_;

    base::TAviFileHandle file_;
    base::TAviStreamHandle stream_;
    base::TAviStreamHandle compressed_;
    HIC orphan_ = nullptr; // the compressing stream's own compressor instance (Wine)
    base::TAviStreamHandle soundStream_;
    std::vector<std::int16_t> heldSound_; // interleaved, less than a chunk's once a call returns
    std::uint64_t soundFrames_ = 0;       // stored in the open file
    std::wstring name_;
    base::TKernelHandle note_;
    std::wstring noteName_;
    media::TAviSizeTracker size_;
    std::int32_t writtenPosition_ = 0;
    // The largest sample stored so far: a bound for the next one, whose compressed size is known
    // only once written.
    std::uint64_t largest_ = 0;
};

} // namespace engine
