#include "media/FileSplit.h"

#include "core/RecordNaming.h"

namespace media {

namespace {

// RIFF, LIST hdrl, avih, LIST strl, strh and strf headers with their contents, then the LIST movi
// header; the writer pads the start of the frames to a 2048-byte boundary. A second stream adds
// its own LIST strl, strh and strf.
constexpr std::uint64_t kStreamHeaderBytes = 7 * 4 + 56;
constexpr std::uint64_t kHeaderFixedBytes = 11 * 4 + 56 + kStreamHeaderBytes;
constexpr std::uint64_t kHeaderAlign = 2048;
constexpr std::uint64_t kIndexEntryBytes = 16;
// The index chunk's header and the empty chunk header written after the RIFF form.
constexpr std::uint64_t kClosingPadBytes = 8 + 20;
constexpr std::uint64_t kEmptyChunkBytes = 8;

} // namespace

TAviSizeTracker::TAviSizeTracker(std::uint32_t formatBytes, std::uint32_t soundFormatBytes)
    : formatBytes_(formatBytes), soundFormatBytes_(soundFormatBytes) {
    std::uint64_t raw = kHeaderFixedBytes + formatBytes + (formatBytes & 1) + 12;
    if (soundFormatBytes > 0) raw += kStreamHeaderBytes + soundFormatBytes + (soundFormatBytes & 1);
    header_ = (raw + kHeaderAlign) / kHeaderAlign * kHeaderAlign;
}

void TAviSizeTracker::Add(std::uint64_t bytes, std::uint32_t emptySlots) {
    movie_ += emptySlots * kEmptyChunkBytes + ChunkBytes(bytes);
    entries_ += std::uint64_t{emptySlots} + 1;
    ++frames_;
}

void TAviSizeTracker::AddSound(std::uint64_t bytes) {
    movie_ += ChunkBytes(bytes);
    ++entries_;
}

std::uint64_t TAviSizeTracker::ClosingBytes() const {
    const std::uint64_t held = heldSound_ > 0 ? ChunkBytes(heldSound_) + kIndexEntryBytes : 0;
    return held + entries_ * kIndexEntryBytes + kClosingPadBytes;
}

std::uint64_t TAviSizeTracker::ClosedSize() const {
    return header_ + movie_ + ClosingBytes();
}

std::uint64_t TAviSizeTracker::ClosedSizeWith(std::uint64_t bytes, std::uint32_t emptySlots) const {
    return ClosedSize() + std::uint64_t{emptySlots} * (kEmptyChunkBytes + kIndexEntryBytes) +
           ChunkBytes(bytes) + kIndexEntryBytes;
}

std::uint64_t TAviSizeTracker::NewFileSizeWith(std::uint64_t bytes) const {
    return TAviSizeTracker(formatBytes_, soundFormatBytes_).ClosedSizeWith(bytes, 0);
}

bool NeedsNewFile(const TFileSize& file, std::uint64_t boundBytes, std::uint32_t emptySlots,
                  std::uint64_t maxBytes) {
    if (file.Frames() == 0) return false;
    return file.ClosedSizeWith(boundBytes, emptySlots) > maxBytes;
}

bool DiskHasRoom(const TFileSize& file, std::uint64_t boundBytes, std::uint32_t emptySlots,
                 bool newFile, std::uint64_t freeBytes) {
    // What is still to come on disk: this file's next frame and everything its close writes; for
    // a new file also the old file's close and the new one's headers, index and pad.
    std::uint64_t needed = 0;
    if (newFile) {
        needed = file.ClosingBytes() + file.NewFileSizeWith(boundBytes);
    } else {
        needed =
            file.ClosedSizeWith(boundBytes, emptySlots) - file.ClosedSize() + file.ClosingBytes();
    }
    return freeBytes >= needed + kDiskSlackBytes;
}

std::uint64_t LoweredMaxFileBytes(std::wstring_view text) {
    if (text.empty()) return 0;
    std::uint64_t value = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9') return 0;
        value = value * 10 + static_cast<std::uint64_t>(c - L'0');
        // Past the default already: no later digit can bring it back, and the product stays far
        // from overflowing.
        if (value > kDefaultMaxFileBytes) return 0;
    }
    return value;
}

std::wstring FolderOf(std::wstring_view path) {
    const auto slash = path.find_last_of(L"\\/");
    return slash == std::wstring_view::npos ? std::wstring{} : std::wstring(path.substr(0, slash));
}

std::wstring ExtensionOf(std::wstring_view path) {
    const auto dot = path.find_last_of(L".\\/");
    return dot == std::wstring_view::npos || path[dot] != L'.' ? std::wstring{}
                                                               : std::wstring(path.substr(dot));
}

std::wstring StampOf(std::wstring_view path) {
    const auto slash = path.find_last_of(L"\\/");
    const std::wstring_view name = slash == std::wstring_view::npos ? path : path.substr(slash + 1);
    if (name.size() < 14) return {};
    for (std::size_t i = 0; i < 14; ++i)
        if (name[i] < L'0' || name[i] > L'9') return {};
    return std::wstring(name.substr(0, 14));
}

std::wstring NextRecordFileName(std::wstring_view previousFile, std::wstring_view nowStamp,
                                const std::function<bool(const std::wstring&)>& exists) {
    // Stamps have a fixed width, so comparing the text compares the times.
    const std::wstring previous = StampOf(previousFile);
    const std::wstring_view stamp =
        previous.size() == nowStamp.size() && previous > nowStamp ? previous : nowStamp;
    return core::RecordFileName(FolderOf(previousFile), stamp, exists, ExtensionOf(previousFile));
}

} // namespace media
