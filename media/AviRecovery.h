// AviRecovery: the recovery note written beside a file while it is recorded, and the rebuilding
// of a file that a crash left without its headers and index.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace media {

// What the headers of a recording's file need. Kept as text beside the file while it is open.
struct RecoveryNote {
    std::uint32_t width = 0, height = 0, bitCount = 0; // of the frames as the file holds them
    std::uint32_t compression = 0;     // the stream format's biCompression (0: uncompressed RGB)
    std::uint32_t handler = 0;         // the stream header's fccHandler
    std::uint32_t rate = 0, scale = 1; // frames per second = rate / scale
    std::uint32_t start = 0;           // the stream's first position
    std::vector<std::uint8_t> format;  // the stream format: BITMAPINFOHEADER and colour table
    // The sound stream's format (a PCM WAVEFORMATEX), empty for a file without sound.
    std::vector<std::uint8_t> sound;
    bool operator==(const RecoveryNote&) const = default;
};

// The note's name is its recording's file name with this appended.
inline constexpr wchar_t kRecoveryNoteSuffix[] = L".recovering";

// The note as text: a first line naming it, then one "key=value" line per field, the formats in
// hexadecimal, so that a person can read it. The sound's line is there only for a file with sound.
std::string FormatRecoveryNote(const RecoveryNote& note);
// Reads a note; none, with the reason in `why`, when a field is missing, does not parse, or the
// fields do not agree with the format they describe.
std::optional<RecoveryNote> ParseRecoveryNote(const std::string& text, std::string& why);

// The file the rebuilding reads and writes in place.
class RecoveryFile {
public:
    virtual ~RecoveryFile() = default;
    virtual std::uint64_t Size() = 0;
    virtual bool Read(std::uint64_t offset, void* data, std::size_t size) = 0;
    virtual bool Write(std::uint64_t offset, const void* data, std::size_t size) = 0;
    // Cuts the file to size bytes (or extends it).
    virtual bool Resize(std::uint64_t size) = 0;
};

enum class RecoveryOutcome {
    Finished,  // headers and index are there: the file was closed, nothing is written
    Rebuilt,   // headers and index written around the frames that reached the disk whole
    LeftAlone, // not a file as the recording leaves it, or not readable: nothing is written
};

struct RecoveryResult {
    RecoveryOutcome outcome = RecoveryOutcome::LeftAlone;
    std::uint32_t frames = 0; // of a rebuilt file
    std::string why;          // of a file left alone
};

// Rebuilds in place a file that the recording's AVI writer left unfinished: a zero-filled area
// reserved for the headers, then the frame chunks (and, for a note with sound, the sound's chunks
// among them) back to back. The headers go into that area, the chunks that reached the disk whole
// stay (a torn last one is cut off) and a new index follows them.
RecoveryResult RecoverAvi(RecoveryFile& file, const RecoveryNote& note);

// Sets the length in the header of stream `stream` (0 the first) of a finished AVI file where it
// says otherwise. False when the file has no such stream header or cannot be read or written.
bool SetAviStreamLength(RecoveryFile& file, std::uint32_t stream, std::uint32_t length);

} // namespace media
