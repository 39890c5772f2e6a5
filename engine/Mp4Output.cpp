#include "engine/Mp4Output.h"

#include "engine/FrameGrabber.h"
#include "engine/RecordingSound.h"
#include "media/AviRecovery.h"
#include "media/ColourConvert.h"
#include "media/Mp4Recovery.h"

#include <vfw.h>

#include <algorithm>

namespace engine {

namespace {

// Upper bounds of what a file holds beyond its samples, for the size checks before the header
// and a fragment are written: the header (ftyp and moov with the parameter sets) and one
// fragment's boxes around a sample.
constexpr std::uint64_t kHeaderBound = 4096;
constexpr std::uint64_t kFragmentBound = 256;
// An IDR picture at least this often, so that a player can start or seek within a file.
constexpr std::int32_t kIdrSeconds = 10;

// The note beside an MP4 file says only that the file is being written: the fragments that
// reached the disk play as they are, and the start-up recovery cuts off a torn last one.
constexpr char kNoteText[] = "quarnelby recovery note 1\r\nformat=fragmented MP4\r\n";

} // namespace

bool TMp4Output::TFileSink::Write(const void* data, std::size_t size) {
    if (!WriteAt(end, data, size)) return false;
    end += size;
    return true;
}

bool TMp4Output::TFileSink::WriteAt(std::uint64_t offset, const void* data, std::size_t size) {
    // Every refused write is the file system's: a full disk, a volume gone.
    if (TWin32RecoveryFile(file.get()).Write(offset, data, size)) return true;
    diskFull = true;
    return false;
}

std::uint64_t TMp4Output::TSize::ClosedSize() const {
    return out_.writer_ ? out_.writer_->ClosedSize() : 0;
}

std::uint64_t TMp4Output::TSize::ClosedSizeWith(std::uint64_t bytes, std::uint32_t empty) const {
    // A position without a frame costs nothing: the sample before it lasts longer. The sound up to
    // the frame comes before it: that of the positions up to it, and the half second the
    // recording holds back.
    std::uint64_t soundUnits = 0;
    if (out_.aac_) {
        const std::uint64_t ms =
            (std::uint64_t{empty} + 1) * out_.timing_.ticksPerPosition * 1000 / out_.timing_.timescale;
        soundUnits = out_.aac_->UnitsToCome(
            static_cast<std::uint64_t>(TRecordingSound::FrameAt(static_cast<std::int64_t>(ms)) +
                                       TRecordingSound::kHoldBackFrames));
    }
    if (out_.writer_ && out_.writer_->Samples() > 0)
        return out_.writer_->ClosedSizeWith(bytes, soundUnits);
    return NewFileSizeWith(bytes);
}

std::uint64_t TMp4Output::TSize::ClosingBytes() const {
    return out_.writer_ ? out_.writer_->ClosedSize() - out_.writer_->BytesWritten() : 0;
}

std::uint64_t TMp4Output::TSize::Frames() const {
    return out_.writer_ ? out_.writer_->Samples() : 0;
}

std::uint64_t TMp4Output::TSize::NewFileSizeWith(std::uint64_t bytes) const {
    // A new file begins with an IDR picture, about as large as the last one, and ends in a moov
    // that repeats the header with the tables.
    return 2 * (out_.headerBytes_ ? out_.headerBytes_ : kHeaderBound) + 2 * kFragmentBound +
           std::max(bytes, out_.idrBytes_);
}

TMp4Output::TMp4Output(int width, int height, int bitsPerPixel, TTiming timing, int quality,
                       std::function<DWORD()> clock, bool sound)
    : width_(width), height_(height), bitsPerPixel_(bitsPerPixel),
      timing_{std::max(1u, timing.timescale), std::max(1u, timing.ticksPerPosition)},
      sound_(sound), quality_(quality), clock_(std::move(clock)),
      planes_(static_cast<std::size_t>(width) * height * 3 / 2) {}

TMp4Output::~TMp4Output() {
    Close();
}

HRESULT TMp4Output::Open(const std::wstring& name) {
    Close();
    if (!encoder_.IsOpen()) {
        media::H264Settings settings;
        settings.width = width_;
        settings.height = height_;
        settings.quality = quality_;
        settings.frameRate =
            static_cast<float>(timing_.timescale) / static_cast<float>(timing_.ticksPerPosition);
        std::string why;
        if (!encoder_.Open(settings, why)) return AVIERR_BADFORMAT;
    }
    // Players may read the file while it is written; the finishing reads it back.
    sink_.file =
        base::FileHandle(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                     nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!sink_.file) return AVIERR_FILEOPEN;
    sink_.end = 0;
    sink_.diskFull = false;
    writer_ = std::make_unique<media::TMp4Writer>(sink_);
    if (sound_) {
        aac_ = std::make_unique<media::TAacTrack>(*writer_);
        std::string why;
        if (!aac_->Open(why)) return AVIERR_BADFORMAT;
    }
    name_ = name;
    noteName_ = name + media::kRecoveryNoteSuffix;
    note_ = WriteRecoveryNote(noteName_, kNoteText);
    return 0;
}

HRESULT TMp4Output::Failure(bool& fileSystem) {
    fileSystem = sink_.diskFull;
    return sink_.diskFull ? AVIERR_FILEWRITE : AVIERR_ERROR;
}

media::TI420Planes TMp4Output::Planes() {
    const int chromaWidth = width_ / 2;
    std::uint8_t* y = planes_.data();
    std::uint8_t* u = y + static_cast<std::size_t>(width_) * height_;
    return {y,      u,           u + static_cast<std::size_t>(chromaWidth) * (height_ / 2),
            width_, chromaWidth, chromaWidth};
}

HRESULT TMp4Output::Encode(std::int32_t position, bool forceIdr) {
    const media::TI420Planes p = Planes();
    const std::int64_t ms =
        std::int64_t{position} * timing_.ticksPerPosition * 1000 / timing_.timescale;
    return encoder_.Encode(p.y, p.u, p.v, width_, width_ / 2, ms, forceIdr, coded_, codedIdr_)
               ? 0
               : AVIERR_COMPRESSOR;
}

std::uint64_t TMp4Output::Prepare(const BITMAPINFOHEADER& frame, std::int32_t position) {
    prepared_ = AVIERR_BADFORMAT;
    if (frame.biWidth != width_ || frame.biHeight != height_ || frame.biBitCount != bitsPerPixel_ ||
        !media::DibToI420(PixelRows(&frame), width_, height_, bitsPerPixel_, Planes()))
        return frame.biSizeImage;
    const bool first = !writer_ || writer_->Samples() == 0;
    const auto idrPositions =
        static_cast<std::int32_t>(kIdrSeconds * timing_.timescale / timing_.ticksPerPosition);
    prepared_ = Encode(position, first || position - idrPosition_ >= std::max(1, idrPositions));
    // Before the first picture of a file the header is to come too.
    return prepared_ == 0 ? (writer_ ? writer_->StoredSampleBytes(coded_) : coded_.size())
                          : frame.biSizeImage;
}

HRESULT TMp4Output::Write(const BITMAPINFOHEADER&, std::int32_t position, bool& fileSystem) {
    if (!writer_) return AVIERR_ERROR;
    if (prepared_ != 0) return prepared_;
    prepared_ = AVIERR_ERROR; // each prepared picture is written once
    const bool first = writer_->Samples() == 0;
    // A file begins with an IDR: a picture coded for the file before a switch is coded again.
    if (first && !codedIdr_) {
        if (const HRESULT hr = Encode(position, true)) return hr;
    }
    if (codedIdr_) {
        idrPosition_ = position;
        idrBytes_ = coded_.size();
    }
    if (first) {
        // The header carries the parameter sets that come with the file's first picture.
        media::TBytesView sps, pps;
        for (const media::TBytesView nal : media::SplitAnnexB(coded_)) {
            if (media::NalType(nal) == 7) sps = nal;
            if (media::NalType(nal) == 8) pps = nal;
        }
        if (sps.empty() || pps.empty()) return AVIERR_COMPRESSOR;
        if (!writer_->Begin(static_cast<std::uint32_t>(width_), static_cast<std::uint32_t>(height_),
                            timing_.timescale, sps, pps))
            return Failure(fileSystem);
        headerBytes_ = writer_->BytesWritten();
        fragmentStart_ = clock_();
    }
    if (!writer_->AddSample(coded_, std::uint64_t(position) * timing_.ticksPerPosition, codedIdr_))
        return Failure(fileSystem);
    // A killed recording loses at most the fragment not yet on disk: about a second of it.
    if (clock_() - fragmentStart_ >= 1000) {
        if (!writer_->Flush()) return Failure(fileSystem);
        fragmentStart_ = clock_();
    }
    return 0;
}

HRESULT TMp4Output::WriteSound(const std::int16_t* samples, std::size_t frames, bool& fileSystem) {
    if (!aac_) return AVIERR_ERROR;
    return aac_->Add(samples, frames) ? 0 : Failure(fileSystem);
}

HRESULT TMp4Output::Idle(bool& fileSystem) {
    // A crash loses at most a second, whatever the pace: during a pause or between frames a
    // minute apart the newest frame goes to disk too. The header comes with the first frame.
    if (!writer_ || writer_->Samples() == 0 ||
        writer_->PendingSamples() + writer_->PendingAudioSamples() == 0 ||
        clock_() - fragmentStart_ < 1000)
        return 0;
    if (!writer_->FlushAll()) return Failure(fileSystem);
    fragmentStart_ = clock_();
    return 0;
}

bool TMp4Output::Close() {
    if (!writer_) return true;
    const bool empty = writer_->Samples() == 0;
    bool finished = true;
    if (!empty) {
        // The writer's last fragment, the last frame lasting its position; then the file becomes
        // a regular MP4. When the writer could not write it, the fragments on disk still make a
        // whole file.
        if (aac_) (void)aac_->Finish();
        (void)writer_->Finish(timing_.ticksPerPosition);
        TWin32RecoveryFile file(sink_.file.get());
        finished = media::FinishMp4(file).outcome != media::RecoveryOutcome::LeftAlone;
    }
    aac_.reset();
    writer_.reset();
    sink_.file.reset();
    // A file that never got a frame has no header either: it would play nowhere.
    if (empty) DeleteFileW(name_.c_str());
    if (note_) {
        note_.reset();
        // A file left unfinished keeps its note: the next start finishes it.
        if (finished) DeleteFileW(noteName_.c_str());
    }
    return finished;
}

} // namespace engine
