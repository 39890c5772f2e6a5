#include "media/AviRecovery.h"

#include "core/Text.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <utility>

namespace media {

namespace {

constexpr std::string_view kNoteTitle = "quarnelby recovery note 1";

// The note's numbers in the order they are written; the format follows them.
struct TNoteNumber {
    const char* key;
    std::uint32_t RecoveryNote::*field;
};
constexpr std::array<TNoteNumber, 8> kNoteNumbers{{
    {"width", &RecoveryNote::width},
    {"height", &RecoveryNote::height},
    {"bitcount", &RecoveryNote::bitCount},
    {"compression", &RecoveryNote::compression},
    {"handler", &RecoveryNote::handler},
    {"rate", &RecoveryNote::rate},
    {"scale", &RecoveryNote::scale},
    {"start", &RecoveryNote::start},
}};
constexpr std::size_t kFormatKey = kNoteNumbers.size();
// Only a note of a file with sound has it.
constexpr std::string_view kSoundKey = "sound";

// A BITMAPINFOHEADER, the least a video stream's format holds.
constexpr std::size_t kBitmapHeaderBytes = 40;
// A PCMWAVEFORMAT, the least a sound stream's format holds.
constexpr std::size_t kWaveHeaderBytes = 16;
constexpr std::uint16_t kWaveFormatPcm = 1;

std::nullopt_t Refuse(std::string& why, std::string reason) {
    why = std::move(reason);
    return std::nullopt;
}

// Plain decimal digits only: a sign, a space or an empty value is a mistake, not a zero.
std::optional<std::uint32_t> ParseDecimal(std::string_view text) {
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > 0xFFFFFFFFu) return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

std::optional<std::vector<std::uint8_t>> ParseHex(std::string_view text) {
    if (text.size() % 2 != 0) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = core::HexDigitValue(text[i]), low = core::HexDigitValue(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return bytes;
}

std::uint16_t Le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t Le32(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

bool IsId(const std::uint8_t* p, const char (&id)[5]) {
    return Le32(p) == core::FourCC(id);
}

// The sound format's block (one sample of every channel) and rate; 0 for a note without sound.
std::uint32_t SoundBlockBytes(const RecoveryNote& note) {
    return note.sound.size() >= kWaveHeaderBytes ? Le16(&note.sound[12]) : 0;
}
std::uint32_t SoundRate(const RecoveryNote& note) {
    return note.sound.size() >= kWaveHeaderBytes ? Le32(&note.sound[4]) : 0;
}

// Whole samples of integer PCM: the only sound the recording writes, and one whose stream header
// follows from the format alone.
bool IsPcmFormat(const std::vector<std::uint8_t>& f) {
    if (f.size() < kWaveHeaderBytes || Le16(&f[0]) != kWaveFormatPcm) return false;
    const std::uint32_t channels = Le16(&f[2]), rate = Le32(&f[4]), block = Le16(&f[12]),
                        bits = Le16(&f[14]);
    return channels > 0 && rate > 0 && bits > 0 && bits % 8 == 0 && block == channels * bits / 8;
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 15];
    }
    return text;
}

void Store32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Little-endian fields appended one after the other.
class TWriter {
public:
    explicit TWriter(std::vector<std::uint8_t>& out) : out_(out) {}
    TWriter& U16(std::uint32_t v) {
        out_.push_back(static_cast<std::uint8_t>(v));
        out_.push_back(static_cast<std::uint8_t>(v >> 8));
        return *this;
    }
    TWriter& U32(std::uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
    TWriter& Id(const char (&id)[5]) { return U32(core::FourCC(id)); }

private:
    std::vector<std::uint8_t>& out_;
};

constexpr std::size_t kScanBlockBytes = 64 * 1024;
constexpr std::uint32_t kIndexKeyFrame = 0x10; // AVIIF_KEYFRAME
constexpr std::uint32_t kAviHasIndex = 0x10;   // AVIF_HASINDEX
constexpr std::uint64_t kMaxRiffBytes = 0xFFFFFFFFu;

const char* const kUnreadable = "the file cannot be read";
const char* const kUnwritable = "the file cannot be written";

RecoveryResult LeftAlone(std::string why) {
    return {RecoveryOutcome::LeftAlone, 0, std::move(why)};
}

std::uint32_t Clamp32(std::uint64_t v) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(v, 0xFFFFFFFFu));
}

enum class TIndexSearch { Found, Missing, Unreadable };

// Walks the chunks of a RIFF AVI form for a whole index. The bounds are the file's, not the
// form's size, so that a closed file is never taken for one to rebuild.
TIndexSearch FindIndex(RecoveryFile& file, std::uint64_t size) {
    for (std::uint64_t pos = 12; pos + 8 <= size;) {
        std::uint8_t header[8];
        if (!file.Read(pos, header, sizeof header)) return TIndexSearch::Unreadable;
        const std::uint64_t bytes = Le32(header + 4);
        if (IsId(header, "idx1") && pos + 8 + bytes <= size) return TIndexSearch::Found;
        pos += 8 + bytes + (bytes & 1);
    }
    return TIndexSearch::Missing;
}

// Where the first byte that is not zero lies, size when there is none; read in blocks, since
// recordings run to gigabytes.
std::optional<std::uint64_t> FirstNonZero(RecoveryFile& file, std::uint64_t size) {
    std::vector<std::uint8_t> block(kScanBlockBytes);
    for (std::uint64_t pos = 0; pos < size; pos += block.size()) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size - pos));
        if (!file.Read(pos, block.data(), n)) return std::nullopt;
        const auto end = block.begin() + static_cast<std::ptrdiff_t>(n);
        const auto it = std::find_if(block.begin(), end, [](std::uint8_t b) { return b != 0; });
        if (it != end) return pos + static_cast<std::uint64_t>(it - block.begin());
    }
    return size;
}

bool IsFrameId(const std::uint8_t* p) {
    return IsId(p, "00db") || IsId(p, "00dc");
}

// The sound stream's chunks: wave bytes of the second stream.
constexpr char kSoundChunkId[5] = "01wb";

// Which frames can be decoded on their own, as far as the stream's coding tells.
enum class TKeyFrames { Every, WithoutSkips, FirstOnly };

TKeyFrames KeyFramesOf(const RecoveryNote& note) {
    if (note.compression == 0) return TKeyFrames::Every;
    const bool msvc1 = core::SameFourCC(note.compression, core::FourCC("CRAM")) ||
                       core::SameFourCC(note.compression, core::FourCC("MSVC"));
    // Only the 16-bit coding is walked: the 8-bit one has other block codes.
    return msvc1 && note.bitCount == 16 ? TKeyFrames::WithoutSkips : TKeyFrames::FirstOnly;
}

// Whether a Microsoft Video 1 16-bit frame codes all of its blocks itself: no skip code, and
// the data ends with the last block (bar an odd pad). A frame that stops short is not whole.
bool CodesEveryBlock(const std::vector<std::uint8_t>& data, std::uint64_t blocks) {
    if (data.empty()) return false;
    std::size_t at = 0;
    for (std::uint64_t b = 0; b < blocks; ++b) {
        if (at + 2 > data.size()) return false;
        const std::uint16_t word = Le16(&data[at]);
        at += 2;
        if ((word & 0xFC00) == 0x8400) return false; // a run of skipped blocks
        if (word & 0x8000) continue;                 // one colour
        // A pixel mask, then two colours, or eight when the first has its top bit set.
        if (at + 4 > data.size()) return false;
        at += (Le16(&data[at]) & 0x8000) ? 16 : 4;
        if (at > data.size()) return false;
    }
    return data.size() - at <= 1;
}

// The chunks that reached the disk whole, and the index entries the file gets for them.
struct TMovie {
    std::uint64_t start = 0; // of the first chunk, just after the 'movi' list header
    std::uint64_t end = 0;   // after the last whole chunk and its pad byte
    std::uint64_t frames = 0;
    std::uint32_t largest = 0;
    std::uint64_t soundBytes = 0;
    std::uint32_t largestSound = 0;
    std::vector<std::uint8_t> index; // 'idx1', its size, then 16 bytes per chunk
};

// Walks the chunks from `movie.start`, stopping at the first one that is torn, is neither a frame
// nor (for a note with sound) whole blocks of sound, or is larger than any the recording writes.
// False when the file cannot be read.
bool WalkChunks(RecoveryFile& file, std::uint64_t size, const RecoveryNote& note, TMovie& movie) {
    const TKeyFrames keys = KeyFramesOf(note);
    const std::uint64_t blocks = std::uint64_t{note.width / 4} * (note.height / 4);
    const std::uint64_t bound = std::uint64_t{note.width} * note.height * 4 + 65536;
    // The recording stores half a second of sound at most; a second bounds it.
    const std::uint32_t soundBlock = SoundBlockBytes(note);
    const std::uint64_t soundBound = std::uint64_t{SoundRate(note)} * soundBlock;
    std::vector<std::uint8_t> data;
    // The index's size is filled in once the chunks are counted.
    TWriter index(movie.index);
    index.Id("idx1").U32(0);
    movie.end = movie.start;
    for (std::uint64_t pos = movie.start; pos + 8 <= size;) {
        std::uint8_t header[8];
        if (!file.Read(pos, header, sizeof header)) return false;
        const std::uint32_t bytes = Le32(header + 4);
        const bool sound = soundBlock > 0 && IsId(header, kSoundChunkId);
        const bool fits = sound ? bytes <= soundBound && bytes % soundBlock == 0
                                : IsFrameId(header) && bytes <= bound;
        if (!fits || pos + 8 + bytes > size) break;
        bool key = sound || keys == TKeyFrames::Every || (movie.frames == 0 && bytes > 0);
        if (!sound && keys == TKeyFrames::WithoutSkips) {
            data.resize(bytes);
            if (!file.Read(pos + 8, data.data(), data.size())) return false;
            key = CodesEveryBlock(data, blocks);
        }
        // Offsets count from the 'movi' fourcc, 4 bytes before the first chunk.
        index.U32(Le32(header))
            .U32(key ? kIndexKeyFrame : 0)
            .U32(static_cast<std::uint32_t>(pos - (movie.start - 4)))
            .U32(bytes);
        if (sound) {
            movie.soundBytes += bytes;
            movie.largestSound = std::max(movie.largestSound, bytes);
        } else {
            ++movie.frames;
            movie.largest = std::max(movie.largest, bytes);
        }
        // A last chunk of odd size whose pad byte did not reach the disk is whole all the same.
        pos += 8 + std::uint64_t{bytes} + (bytes & 1);
        movie.end = pos;
    }
    Store32(&movie.index[4], static_cast<std::uint32_t>(movie.index.size() - 8));
    return true;
}

// A stream's LIST strl with its strh and its strf of `formatBytes`.
std::uint64_t StreamListBytes(std::size_t formatBytes) {
    return 12 + 8 + 56 + 8 + formatBytes + (formatBytes & 1);
}

// RIFF and LIST hdrl headers up to the end of the last stream's format.
std::uint64_t HeaderListsEnd(const RecoveryNote& note) {
    const std::uint64_t sound = note.sound.empty() ? 0 : StreamListBytes(note.sound.size());
    return 12 + 12 + 8 + 56 + StreamListBytes(note.format.size()) + sound;
}

// Everything before the first chunk: RIFF, the hdrl list (the video stream's list, then the
// sound's), a JUNK chunk over the rest of the reserved area, and the 'movi' list header that ends
// where the chunks begin.
std::vector<std::uint8_t> Headers(const RecoveryNote& note, const TMovie& movie,
                                  std::uint64_t fileSize) {
    const std::uint64_t listsEnd = HeaderListsEnd(note);
    const auto frames = static_cast<std::uint32_t>(movie.frames);
    const bool sound = !note.sound.empty();
    const std::uint32_t soundBlock = SoundBlockBytes(note), soundRate = SoundRate(note);
    std::vector<std::uint8_t> out;
    out.reserve(static_cast<std::size_t>(movie.start));
    TWriter w(out);
    auto streamFormat = [&](const std::vector<std::uint8_t>& format) {
        w.Id("strf").U32(static_cast<std::uint32_t>(format.size()));
        out.insert(out.end(), format.begin(), format.end());
        if (format.size() & 1) out.push_back(0);
    };
    w.Id("RIFF").U32(static_cast<std::uint32_t>(fileSize - 8)).Id("AVI ");
    w.Id("LIST").U32(static_cast<std::uint32_t>(listsEnd - 20)).Id("hdrl");
    w.Id("avih").U32(56);
    w.U32(Clamp32((std::uint64_t{note.scale} * 1000000 + note.rate / 2) / note.rate));
    w.U32(Clamp32(std::uint64_t{movie.largest} * note.rate / note.scale +
                  std::uint64_t{soundRate} * soundBlock));
    w.U32(0).U32(kAviHasIndex).U32(frames).U32(0).U32(sound ? 2 : 1);
    w.U32(std::max(movie.largest, movie.largestSound));
    w.U32(note.width).U32(note.height).U32(0).U32(0).U32(0).U32(0);
    w.Id("LIST").U32(static_cast<std::uint32_t>(StreamListBytes(note.format.size()) - 8));
    w.Id("strl");
    w.Id("strh").U32(56).Id("vids").U32(note.handler).U32(0).U16(0).U16(0).U32(0);
    w.U32(note.scale).U32(note.rate).U32(note.start).U32(frames).U32(movie.largest);
    w.U32(0xFFFFFFFFu).U32(0);
    w.U16(0).U16(0).U16(std::min<std::uint32_t>(note.width, 0x7FFF));
    w.U16(std::min<std::uint32_t>(note.height, 0x7FFF));
    streamFormat(note.format);
    if (sound) {
        // Counted in blocks: one a sample of every channel, at the sample rate.
        w.Id("LIST").U32(static_cast<std::uint32_t>(StreamListBytes(note.sound.size()) - 8));
        w.Id("strl");
        w.Id("strh").U32(56).Id("auds").U32(0).U32(0).U16(0).U16(0).U32(0);
        w.U32(1).U32(soundRate).U32(0).U32(Clamp32(movie.soundBytes / soundBlock));
        w.U32(movie.largestSound).U32(0xFFFFFFFFu).U32(soundBlock);
        w.U16(0).U16(0).U16(0).U16(0);
        streamFormat(note.sound);
    }
    const std::uint64_t gap = movie.start - 12 - out.size();
    if (gap > 0) {
        w.Id("JUNK").U32(static_cast<std::uint32_t>(gap - 8));
        out.resize(static_cast<std::size_t>(movie.start - 12), 0);
    }
    w.Id("LIST").U32(static_cast<std::uint32_t>(4 + movie.end - movie.start)).Id("movi");
    return out;
}

// A chunk's place: where its header starts and its data ends (within the file).
struct TSpan {
    std::uint64_t start, end;
};

TSpan ListContents(const TSpan& list) {
    return {list.start + 12, list.end};
}

// The chunk `id` (a list of `type`, unless 0) within `span`, after `skip` others like it.
std::optional<TSpan> FindChunk(RecoveryFile& file, TSpan span, const char (&id)[5],
                               std::uint32_t type, std::uint32_t skip) {
    std::uint8_t h[12];
    for (std::uint64_t pos = span.start; pos + sizeof h <= span.end;) {
        if (!file.Read(pos, h, sizeof h)) return std::nullopt;
        const std::uint64_t bytes = Le32(h + 4);
        const bool match = IsId(h, id) && (type == 0 || Le32(h + 8) == type);
        if (match && skip-- == 0) return TSpan{pos, std::min(span.end, pos + 8 + bytes)};
        pos += 8 + bytes + (bytes & 1);
    }
    return std::nullopt;
}

} // namespace

std::string FormatRecoveryNote(const RecoveryNote& note) {
    std::string text(kNoteTitle);
    text += "\r\n";
    for (const auto& number : kNoteNumbers)
        text += std::string(number.key) + "=" + std::to_string(note.*number.field) + "\r\n";
    text += "format=" + Hex(note.format) + "\r\n";
    if (!note.sound.empty()) text += std::string(kSoundKey) + "=" + Hex(note.sound) + "\r\n";
    return text;
}

std::optional<RecoveryNote> ParseRecoveryNote(const std::string& text, std::string& why) {
    // Written with "\r\n"; an editor may have left "\n".
    std::vector<std::string_view> lines;
    for (std::string_view rest = text; !rest.empty();) {
        const auto end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        if (line.ends_with('\r')) line.remove_suffix(1);
        lines.push_back(line);
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    }
    if (lines.empty() || lines[0] != kNoteTitle) return Refuse(why, "not a recovery note");

    auto keyName = [](std::size_t k) -> std::string {
        return k == kFormatKey ? "format" : kNoteNumbers[k].key;
    };
    std::array<std::optional<std::string_view>, kNoteNumbers.size() + 1> values;
    std::optional<std::string_view> sound;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const auto equals = lines[i].find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view key = lines[i].substr(0, equals);
        if (key == kSoundKey) {
            if (sound) return Refuse(why, "the note has more than one sound");
            sound = lines[i].substr(equals + 1);
        }
        for (std::size_t k = 0; k < values.size(); ++k) {
            if (key != keyName(k)) continue;
            if (values[k]) return Refuse(why, "the note has more than one " + keyName(k));
            values[k] = lines[i].substr(equals + 1);
        }
    }
    for (std::size_t k = 0; k < values.size(); ++k)
        if (!values[k]) return Refuse(why, "the note has no " + keyName(k));

    RecoveryNote note;
    for (std::size_t k = 0; k < kNoteNumbers.size(); ++k) {
        const auto value = ParseDecimal(*values[k]);
        if (!value) return Refuse(why, "the note's " + keyName(k) + " is not a number");
        note.*kNoteNumbers[k].field = *value;
    }
    auto format = ParseHex(*values[kFormatKey]);
    if (!format) return Refuse(why, "the note's format is not hexadecimal");
    note.format = std::move(*format);

    const std::pair<const char*, std::uint32_t> positive[] = {
        {"width", note.width}, {"height", note.height}, {"rate", note.rate}, {"scale", note.scale}};
    for (const auto& [key, value] : positive)
        if (value == 0) return Refuse(why, "the note's " + std::string(key) + " is 0");
    if (note.format.size() < kBitmapHeaderBytes)
        return Refuse(why, "the note's format is shorter than a bitmap header");
    // The format's own fields, as the header describes the frames the file holds.
    const std::uint8_t* bi = note.format.data();
    const auto biWidth = static_cast<std::int32_t>(Le32(bi + 4));
    const auto biHeight = static_cast<std::int32_t>(Le32(bi + 8));
    const std::pair<const char*, bool> agree[] = {
        {"width", biWidth == static_cast<std::int64_t>(note.width)},
        {"height", (biHeight < 0 ? -std::int64_t{biHeight} : biHeight) == note.height},
        {"bitcount", Le16(bi + 14) == note.bitCount},
        {"compression", Le32(bi + 16) == note.compression},
    };
    for (const auto& [key, same] : agree)
        if (!same)
            return Refuse(why, "the note's " + std::string(key) + " differs from its format");
    if (sound) {
        auto bytes = ParseHex(*sound);
        if (!bytes) return Refuse(why, "the note's sound is not hexadecimal");
        if (!IsPcmFormat(*bytes)) return Refuse(why, "the note's sound is not a PCM format");
        note.sound = std::move(*bytes);
    }
    return note;
}

RecoveryResult RecoverAvi(RecoveryFile& file, const RecoveryNote& note) {
    const std::uint64_t size = file.Size();

    // A file that starts as a RIFF AVI form got its headers when it was closed.
    std::uint8_t head[12];
    if (size >= sizeof head) {
        if (!file.Read(0, head, sizeof head)) return LeftAlone(kUnreadable);
        if (IsId(head, "RIFF") && IsId(head + 8, "AVI ")) {
            switch (FindIndex(file, size)) {
            case TIndexSearch::Found:
                return {RecoveryOutcome::Finished, 0, {}};
            case TIndexSearch::Missing:
                return LeftAlone("it has headers but no index");
            case TIndexSearch::Unreadable:
                return LeftAlone(kUnreadable);
            }
        }
    }
    if (note.rate == 0 || note.scale == 0) return LeftAlone("the note has no frame rate");
    if (!note.sound.empty() && !IsPcmFormat(note.sound))
        return LeftAlone("the note's sound is not a PCM format");

    const auto first = FirstNonZero(file, size);
    if (!first) return LeftAlone(kUnreadable);
    const std::uint64_t headerBytes = HeaderListsEnd(note) + 12;
    TMovie movie;
    movie.start = *first;
    if (movie.start == size) {
        // No frame reached the disk: the headers alone make a file without frames.
        movie.start = headerBytes;
    } else {
        // The first chunk's id, of which a torn file may hold only the beginning.
        std::uint8_t id[4] = {};
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(4, size - movie.start));
        if (!file.Read(movie.start, id, n)) return LeftAlone(kUnreadable);
        const bool ours = std::memcmp(id, "00db", n) == 0 || std::memcmp(id, "00dc", n) == 0 ||
                          (!note.sound.empty() && std::memcmp(id, kSoundChunkId, n) == 0);
        if (movie.start % 2 != 0 || !ours) return LeftAlone("not a recording of this program");
    }
    // The gap between the stream format and the 'movi' list takes a JUNK chunk, 8 bytes at least.
    if (movie.start < headerBytes || (movie.start > headerBytes && movie.start < headerBytes + 8))
        return LeftAlone("no room for the headers");
    if (!WalkChunks(file, size, note, movie)) return LeftAlone(kUnreadable);
    const std::uint64_t finalSize = movie.end + movie.index.size();
    if (finalSize - 8 > kMaxRiffBytes) return LeftAlone("it is too large for an AVI file");

    // Each step leaves a file that is rebuilt again if this one is cut short: the frames alone,
    // then an index the walk takes for the end of the frames, and last the headers that make
    // the file finished.
    if (!file.Resize(movie.end)) return LeftAlone(kUnwritable);
    if (movie.end > size) {
        const std::uint8_t pad = 0;
        if (!file.Write(movie.end - 1, &pad, 1)) return LeftAlone(kUnwritable);
    }
    if (!file.Write(movie.end, movie.index.data(), movie.index.size()))
        return LeftAlone(kUnwritable);
    const std::vector<std::uint8_t> headers = Headers(note, movie, finalSize);
    if (!file.Write(0, headers.data(), headers.size())) return LeftAlone(kUnwritable);
    return {RecoveryOutcome::Rebuilt, static_cast<std::uint32_t>(movie.frames), {}};
}

bool SetAviStreamLength(RecoveryFile& file, std::uint32_t stream, std::uint32_t length) {
    const std::uint64_t size = file.Size();
    std::uint8_t head[12];
    if (size < sizeof head || !file.Read(0, head, sizeof head) || !IsId(head, "RIFF") ||
        !IsId(head + 8, "AVI "))
        return false;
    const auto hdrl = FindChunk(file, {12, size}, "LIST", core::FourCC("hdrl"), 0);
    const auto strl =
        hdrl ? FindChunk(file, ListContents(*hdrl), "LIST", core::FourCC("strl"), stream) : hdrl;
    const auto strh = strl ? FindChunk(file, ListContents(*strl), "strh", 0, 0) : strl;
    // dwLength follows fccType, fccHandler, dwFlags, the priority and language, dwInitialFrames,
    // dwScale, dwRate and dwStart.
    constexpr std::uint64_t kLengthAt = 8 + 32;
    if (!strh || strh->end < strh->start + kLengthAt + 4) return false;
    std::uint8_t value[4];
    if (!file.Read(strh->start + kLengthAt, value, sizeof value)) return false;
    if (Le32(value) == length) return true;
    Store32(value, length);
    return file.Write(strh->start + kLengthAt, value, sizeof value);
}

} // namespace media
