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
                       bool compress, std::vector<BYTE> format)
    : header_(header), options_(options), compress_(compress), format_(std::move(format)),
      size_(static_cast<std::uint32_t>(format_.size())) {
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
    size_ = media::TAviSizeTracker(static_cast<std::uint32_t>(format_.size()));
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
    HRESULT hr;
    bool diskFull;
    {
        std::lock_guard<std::mutex> manager(CompressorManagerLock());
        SetLastError(0);
        hr = AVIStreamWrite(Target(), position, 1, const_cast<BYTE*>(PixelRows(&frame)),
                            static_cast<LONG>(frame.biSizeImage), writeFlags, &samples, &bytes);
        // Wine's writer reports success when the disk is full and drops the data; only the
        // thread's last error tells.
        diskFull = IsDiskFull(GetLastError());
    }
    if (hr != 0 || diskFull) {
        fileSystem = diskFull || hr == AVIERR_FILEWRITE;
        return hr != 0 ? hr : AVIERR_FILEWRITE;
    }
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

bool TAviOutput::Close() {
    std::lock_guard<std::mutex> manager(CompressorManagerLock());
    // Release the file and the streams in this order; then the file on disk is complete and its
    // recovery note goes.
    file_.reset();
    stream_.reset();
    compressed_.reset();
    if (orphan_) ICClose(orphan_);
    orphan_ = nullptr;
    if (note_) {
        note_.reset();
        DeleteFileW(noteName_.c_str());
    }
    // AVIFile reports nothing of the headers it writes at the release.
    return true;
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
    noteName_ = name + media::kRecoveryNoteSuffix;
    note_ = WriteRecoveryNote(noteName_, media::FormatRecoveryNote(n));
}

} // namespace engine
