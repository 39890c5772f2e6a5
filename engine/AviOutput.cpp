#include "engine/AviOutput.h"

#include "engine/Catalogue.h"
#include "engine/FrameGrabber.h"
#include "media/AviRecovery.h"

#include <algorithm>
#include <mutex>

namespace engine {

using namespace base;

namespace {

// Whether a failure is the file system's: a full disk or a refused write. Repeating the recording
// with another compressor cannot help, and would replace the frames written so far.
bool IsDiskFull(DWORD error) {
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

// The recording's sound: 48 kHz stereo 16-bit PCM, stored in chunks of half a second at most.
constexpr WORD kSoundChannels = 2;
constexpr DWORD kSoundRate = 48000;
constexpr std::size_t kSoundChunkFrames = kSoundRate / 2;
static_assert(sizeof(WAVEFORMATEX) == 18, "the format as AVI files store it");

WAVEFORMATEX SoundFormat() {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = kSoundChannels;
    f.nSamplesPerSec = kSoundRate;
    f.wBitsPerSample = 16;
    f.nBlockAlign = kSoundChannels * sizeof(std::int16_t);
    f.nAvgBytesPerSec = kSoundRate * f.nBlockAlign;
    return f;
}

// Writes to a stream of the open file: 0, or the failure, with `fileSystem` set when it was the
// file system's.
HRESULT StreamWrite(PAVISTREAM stream, LONG start, LONG samples, const void* data, LONG bytes,
                    DWORD flags, LONG& samplesWritten, LONG& bytesWritten, bool& fileSystem) {
    HRESULT hr;
    bool diskFull;
    {
        std::lock_guard<std::mutex> manager(CompressorManagerLock());
        SetLastError(0);
        hr = AVIStreamWrite(stream, start, samples, const_cast<void*>(data), bytes, flags,
                            &samplesWritten, &bytesWritten);
        // Wine's writer reports success when the disk is full and drops the data; only the
        // thread's last error tells.
        diskFull = IsDiskFull(GetLastError());
    }
    if (hr == 0 && !diskFull) return 0;
    fileSystem = diskFull || hr == AVIERR_FILEWRITE;
    return hr != 0 ? hr : AVIERR_FILEWRITE;
}

bool RunningOnWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Wine's compressing stream ends compression on the compressor instance it opens but never
// closes it: every file written through one would leave an instance behind. Wine numbers its
// instances upwards and never reuses a number, so the stream's instance lies between two query
// instances of our own, opened and closed just before and just after the stream is made. When
// exactly one number lies between them, it is the stream's, and it is closed after the stream.
class TCompressorWatch {
public:
    explicit TCompressorWatch(DWORD handler) : handler_(handler) {
        if (RunningOnWine()) before_ = Probe();
    }
    // The stream's instance, or nullptr when it cannot be told for certain.
    HIC Opened() const {
        if (!before_) return nullptr;
        const HIC after = Probe();
        const auto b = reinterpret_cast<UINT_PTR>(before_);
        if (!after || reinterpret_cast<UINT_PTR>(after) != b + 2) return nullptr;
        return reinterpret_cast<HIC>(b + 1);
    }

private:
    HIC Probe() const {
        const HIC h = ICOpen(ICTYPE_VIDEO, handler_, ICMODE_QUERY);
        if (h) ICClose(h);
        return h;
    }
    DWORD handler_;
    HIC before_ = nullptr;
};

} // namespace

TAviOutput::TAviOutput(const AVISTREAMINFOW& header, const AVICOMPRESSOPTIONS& options,
                       bool compress, std::vector<BYTE> format, bool sound)
    : header_(header), options_(options), compress_(compress), format_(std::move(format)),
      sound_(sound), size_(static_cast<std::uint32_t>(format_.size()), SoundFormatBytes()) {
    std::lock_guard<std::mutex> manager(CompressorManagerLock());
    library_.emplace();
}

TAviOutput::~TAviOutput() {
    Close();
    LPAVICOMPRESSOPTIONS optionList[1] = {&options_};
    std::lock_guard<std::mutex> manager(CompressorManagerLock());
    AVISaveOptionsFree(1, optionList);
    library_.reset();
}

HRESULT TAviOutput::Open(const std::wstring& name) {
    Close();
    size_ = media::TAviSizeTracker(static_cast<std::uint32_t>(format_.size()), SoundFormatBytes());
    name_ = name;
    soundFrames_ = 0;
    std::lock_guard<std::mutex> manager(CompressorManagerLock());
    HRESULT hr = AVIFileOpenW(file_.put(), name.c_str(), OF_WRITE | OF_CREATE, nullptr);
    if (hr == 0) {
        AVISTREAMINFOW info = header_;
        hr = AVIFileCreateStreamW(file_.get(), stream_.put(), &info);
    }
    // With no compressor selected the frames go to the file stream as they are.
    if (hr == 0 && compress_) {
        const TCompressorWatch watch(options_.fccHandler);
        hr = AVIMakeCompressedStream(compressed_.put(), stream_.get(), &options_, nullptr);
        if (hr == 0) orphan_ = watch.Opened();
    }
    if (hr == 0)
        hr = AVIStreamSetFormat(Target(), 0, format_.data(), static_cast<LONG>(format_.size()));
    // The sound's stream follows the video's; both are made before anything is written.
    if (hr == 0 && sound_) hr = CreateSoundStream();
    if (hr == 0) WriteNote(name);
    return hr;
}

HRESULT TAviOutput::Write(const BITMAPINFOHEADER& frame, std::int32_t position, bool& fileSystem) {
    // Every full frame stands alone, so uncompressed samples are key frames; a compressing
    // stream marks key frames itself.
    const DWORD writeFlags = compress_ ? 0 : AVIIF_KEYFRAME;
    const std::uint32_t empty = size_.Frames() > 0 && position > writtenPosition_ + 1
                                    ? static_cast<std::uint32_t>(position - writtenPosition_ - 1)
                                    : 0;
    LONG samples = 0, bytes = 0;
    if (const HRESULT hr = StreamWrite(Target(), position, 1, PixelRows(&frame),
                                       static_cast<LONG>(frame.biSizeImage), writeFlags, samples,
                                       bytes, fileSystem);
        hr != 0)
        return hr;
    // Wine's compressing stream hands the two counts over swapped; the stored size is the larger
    // one either way.
    std::uint64_t stored = static_cast<std::uint64_t>(std::max(samples, bytes));
    if (stored <= 1) stored = frame.biSizeImage;
    size_.Add(stored, empty);
    largest_ = std::max(largest_, stored);
    writtenPosition_ = position;
    return 0;
}

std::uint64_t TAviOutput::Prepare(const BITMAPINFOHEADER& frame, std::int32_t) {
    // The compressed size is known only once written: the raw size or the largest so far.
    return std::max<std::uint64_t>(frame.biSizeImage, largest_);
}

HRESULT TAviOutput::WriteSound(const std::int16_t* samples, std::size_t frames, bool& fileSystem) {
    if (!soundStream_) return 0;
    heldSound_.insert(heldSound_.end(), samples, samples + frames * kSoundChannels);
    size_.HoldSound(heldSound_.size() * sizeof(std::int16_t));
    while (heldSound_.size() >= kSoundChunkFrames * kSoundChannels)
        if (const HRESULT hr = StoreSound(kSoundChunkFrames, fileSystem); hr != 0) return hr;
    return 0;
}

HRESULT TAviOutput::StoreSound(std::size_t frames, bool& fileSystem) {
    const auto bytes = static_cast<LONG>(frames * kSoundChannels * sizeof(std::int16_t));
    // Wine 8 counts a stream of fixed-size samples in chunks, not in samples, and takes a write
    // only at that count. The stream's own length is where the next chunk goes on both systems
    // (on Windows it counts samples, as documented); the length Wine then puts in the file's
    // header is set right once the file is closed.
    const LONG end = AVIStreamLength(soundStream_.get());
    LONG samplesWritten = 0, bytesWritten = 0;
    const HRESULT hr =
        StreamWrite(soundStream_.get(), end, static_cast<LONG>(frames), heldSound_.data(), bytes,
                    AVIIF_KEYFRAME, samplesWritten, bytesWritten, fileSystem);
    if (hr != 0) return hr;
    heldSound_.erase(heldSound_.begin(),
                     heldSound_.begin() + static_cast<std::ptrdiff_t>(frames * kSoundChannels));
    size_.AddSound(static_cast<std::uint64_t>(bytes));
    size_.HoldSound(heldSound_.size() * sizeof(std::int16_t));
    soundFrames_ += frames;
    return 0;
}

bool TAviOutput::Close() {
    // The sound still held goes into the file before it closes; should that fail, the file keeps
    // the sound stored before.
    const bool sound = static_cast<bool>(soundStream_);
    if (sound && !heldSound_.empty()) {
        bool fileSystem = false;
        (void)StoreSound(heldSound_.size() / kSoundChannels, fileSystem);
    }
    heldSound_.clear();
    {
        std::lock_guard<std::mutex> manager(CompressorManagerLock());
        // Release the file and the streams in this order; then the file on disk is complete and
        // its recovery note goes.
        file_.reset();
        stream_.reset();
        compressed_.reset();
        soundStream_.reset();
        if (orphan_) ICClose(orphan_);
        orphan_ = nullptr;
    }
    if (sound) SetSoundLength();
    if (note_) {
        note_.reset();
        DeleteFileW(noteName_.c_str());
    }
    // AVIFile reports nothing of the headers it writes at the release.
    return true;
}

HRESULT TAviOutput::CreateSoundStream() {
    WAVEFORMATEX format = SoundFormat();
    AVISTREAMINFOW info{};
    info.fccType = streamtypeAUDIO;
    // Counted in blocks (a sample of each channel) at the sample rate.
    info.dwScale = 1;
    info.dwRate = format.nSamplesPerSec;
    info.dwQuality = static_cast<DWORD>(-1);
    info.dwSampleSize = format.nBlockAlign;
    info.dwSuggestedBufferSize = static_cast<DWORD>(kSoundChunkFrames * format.nBlockAlign);
    HRESULT hr = AVIFileCreateStreamW(file_.get(), soundStream_.put(), &info);
    if (hr == 0) hr = AVIStreamSetFormat(soundStream_.get(), 0, &format, sizeof format);
    return hr;
}

// Wine 8 leaves its count of chunks in the sound stream's header as the stream's length; it
// becomes the count of blocks stored, which Windows writes there itself (nothing changes then). A
// file that cannot be changed keeps Wine's length: the sound is all there, its duration shown
// short.
void TAviOutput::SetSoundLength() {
    const TKernelHandle handle =
        FileHandle(CreateFileW(name_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) return;
    TWin32RecoveryFile file(handle.get());
    (void)media::SetAviStreamLength(file, 1, static_cast<std::uint32_t>(soundFrames_));
}

// The recovery note beside the file: what its headers need, should the program end before it
// writes them at the close. Held open without sharing while the file is open, so a second
// instance of the program knows the file is being written. A note that cannot be written costs
// only the recovery, not the recording.
void TAviOutput::WriteNote(const std::wstring& name) {
    // The file stream's own format: a compressing stream gives it the compressor's.
    LONG size = 0;
    if (AVIStreamReadFormat(stream_.get(), 0, nullptr, &size) != 0 ||
        size < static_cast<LONG>(sizeof(BITMAPINFOHEADER)))
        return;
    media::RecoveryNote n;
    n.format.resize(static_cast<std::size_t>(size));
    if (AVIStreamReadFormat(stream_.get(), 0, n.format.data(), &size) != 0) return;
    AVISTREAMINFOW info{};
    AVIStreamInfoW(stream_.get(), &info, sizeof info);
    const auto* f = reinterpret_cast<const BITMAPINFOHEADER*>(n.format.data());
    n.width = static_cast<std::uint32_t>(f->biWidth);
    n.height = static_cast<std::uint32_t>(f->biHeight < 0 ? -f->biHeight : f->biHeight);
    n.bitCount = f->biBitCount;
    n.compression = f->biCompression;
    n.handler = info.fccHandler;
    n.rate = header_.dwRate;
    n.scale = header_.dwScale;
    n.start = header_.dwStart;
    if (sound_) {
        const WAVEFORMATEX sound = SoundFormat();
        const auto* bytes = reinterpret_cast<const BYTE*>(&sound);
        n.sound.assign(bytes, bytes + sizeof sound);
    }
    noteName_ = name + media::kRecoveryNoteSuffix;
    note_ = WriteRecoveryNote(noteName_, media::FormatRecoveryNote(n));
}

} // namespace engine
