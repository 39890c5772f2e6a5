// FileSplit: how large a recording's file grows as it is written (an AVI file counted here, other
// kinds by their writers), when the next frame must go to a new file, how much free disk space
// closing the file still needs, and the new file's name.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace media {

// The size a recording file may reach before the recording goes on in a new file: 1 GiB, well
// below the 2 GiB at which a RIFF file's 32-bit sizes break and the size some readers stop at.
constexpr std::uint64_t kDefaultMaxFileBytes = std::uint64_t{1} << 30;

// The limit a decimal text of bytes (the QUARNELBY_MAX_FILE_BYTES test hook) asks for: 1 up to
// kDefaultMaxFileBytes; 0 (keep the default) for anything else. The text may only lower the
// limit: above it, an AVI file's 32-bit sizes could wrap.
std::uint64_t LoweredMaxFileBytes(std::wstring_view text);

// Room kept free on the volume beyond what closing the file needs: the writer's buffered bytes,
// the headers written at close, block rounding of the file system.
constexpr std::uint64_t kDiskSlackBytes = 256 * 1024;

// The size of one file of a recording as it is written.
class TFileSize {
public:
    virtual ~TFileSize() = default;
    // The size of the file once closed, as written so far.
    virtual std::uint64_t ClosedSize() const = 0;
    // The size once closed if a frame of `bytes` were stored next after `emptySlots` positions
    // that got none.
    virtual std::uint64_t ClosedSizeWith(std::uint64_t bytes, std::uint32_t emptySlots) const = 0;
    // What closing still writes beyond the frames.
    virtual std::uint64_t ClosingBytes() const = 0;
    // Frames stored so far.
    virtual std::uint64_t Frames() const = 0;
    // The closed size of a new file of the same kind holding one frame of `bytes`.
    virtual std::uint64_t NewFileSizeWith(std::uint64_t bytes) const = 0;
};

// Bytes an AVI file written with one video stream (and a sound stream after it) takes, counted as
// the platform's writer lays it out: the headers up to the first frame, one chunk (8-byte header,
// data padded to an even length) per frame and per stored piece of sound, an empty 8-byte chunk
// for every position left without a frame, and at close the sound still held as one more chunk,
// a 16-byte index entry for each of them (the index) and a closing pad.
class TAviSizeTracker : public TFileSize {
public:
    // formatBytes: the stream format (header and colour table) stored in the file's headers;
    // soundFormatBytes: the sound stream's format, 0 for a file without sound.
    explicit TAviSizeTracker(std::uint32_t formatBytes, std::uint32_t soundFormatBytes = 0);

    // Adds a stored frame of `bytes` after `emptySlots` positions that got none.
    void Add(std::uint64_t bytes, std::uint32_t emptySlots);
    // Adds a stored chunk of `bytes` of sound.
    void AddSound(std::uint64_t bytes);
    // The sound held in memory, `bytes` (0: none), that the close stores as one chunk at the
    // latest.
    void HoldSound(std::uint64_t bytes) { heldSound_ = bytes; }

    std::uint64_t ClosedSize() const override;
    std::uint64_t ClosedSizeWith(std::uint64_t bytes, std::uint32_t emptySlots) const override;
    std::uint64_t ClosingBytes() const override;
    std::uint64_t Frames() const override { return frames_; }
    std::uint64_t NewFileSizeWith(std::uint64_t bytes) const override;

    // Bytes of the stored chunk of a frame of `bytes`.
    static std::uint64_t ChunkBytes(std::uint64_t bytes) { return 8 + bytes + (bytes & 1); }

private:
    std::uint32_t formatBytes_, soundFormatBytes_;
    std::uint64_t header_;
    std::uint64_t movie_ = 0;   // frame, empty and sound chunks
    std::uint64_t entries_ = 0; // index entries: frames, empty positions and sound chunks
    std::uint64_t frames_ = 0;
    std::uint64_t heldSound_ = 0;
};

// Whether the next frame (at most `boundBytes` stored, after `emptySlots` empty positions) must go
// to a new file so that this one stays within `maxBytes`. A file without frames always takes its
// first frame, so a frame larger than the limit still gets a file of its own.
bool NeedsNewFile(const TFileSize& file, std::uint64_t boundBytes, std::uint32_t emptySlots,
                  std::uint64_t maxBytes);

// Whether `freeBytes` on the volume still hold the next frame, everything closing the file writes
// (after the new index entries) and the slack; `newFile`: the frame goes to a new file of the same
// kind instead, after this one is closed.
bool DiskHasRoom(const TFileSize& file, std::uint64_t boundBytes, std::uint32_t emptySlots,
                 bool newFile, std::uint64_t freeBytes);

// The folder part of a path ("" when it has none).
std::wstring FolderOf(std::wstring_view path);

// The "YYYYMMDDHHMMSS" stamp at the start of a recording's file name, or "" when the name does
// not begin with fourteen digits.
std::wstring StampOf(std::wstring_view path);

// The extension of a path's file name, its dot included ("" when it has none).
std::wstring ExtensionOf(std::wstring_view path);

// The name of the file a recording goes on in: folder + stamp of now + the previous file's
// extension with the "_2",
// "_3", ... rule, but never earlier than the previous file's stamp (a clock set back keeps the
// names in recording order).
std::wstring NextRecordFileName(std::wstring_view previousFile, std::wstring_view nowStamp,
                                const std::function<bool(const std::wstring&)>& exists);

} // namespace media
