#include "media/AviRecovery.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

using namespace media;

namespace {

using TBytes = std::vector<std::uint8_t>;
using TEntry = std::array<std::uint32_t, 3>; // an index entry's flags, offset and size

// A file in memory. Growing it leaves 0xEE, as a disk may hold anything there.
struct TMemoryFile : RecoveryFile {
    explicit TMemoryFile(TBytes b) : bytes(std::move(b)) {}
    std::uint64_t Size() override { return bytes.size(); }
    bool Read(std::uint64_t at, void* data, std::size_t n) override {
        if (failReads || at + n > bytes.size()) return false;
        std::memcpy(data, bytes.data() + at, n);
        return true;
    }
    bool Write(std::uint64_t at, const void* data, std::size_t n) override {
        if (failWrites) return false;
        bytes.resize(std::max<std::uint64_t>(bytes.size(), at + n));
        std::memcpy(bytes.data() + at, data, n);
        return true;
    }
    bool Resize(std::uint64_t n) override {
        if (!failWrites) bytes.resize(n, 0xEE);
        return !failWrites;
    }
    TBytes bytes;
    bool failReads = false, failWrites = false;
};

std::uint32_t Le32(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint32_t Fourcc(const char* id) {
    return Le32(reinterpret_cast<const std::uint8_t*>(id));
}

void Put32(TBytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// An 8 x 4 video, two blocks of Microsoft Video 1, with a BITMAPINFOHEADER that agrees.
RecoveryNote NoteFor(std::uint32_t compression, std::uint32_t bitCount) {
    // 8 x 4, then compression and handler, 30000 / 1001 frames a second, start 7.
    RecoveryNote note{8, 4, bitCount, compression, compression, 30000, 1001, 7, {}, {}};
    for (const std::uint32_t v : {40u, 8u, 4u, 1 | bitCount << 16, compression})
        Put32(note.format, v);
    note.format.resize(40);
    return note;
}

// The same with 48 kHz stereo 16-bit sound: a WAVEFORMATEX.
RecoveryNote WithSound(RecoveryNote note) {
    for (const std::uint32_t v : {0x00020001u, 48000u, 192000u, 0x00100004u})
        Put32(note.sound, v);
    note.sound.resize(18);
    return note;
}

// What a killed recording leaves: the zero-filled reserved area, then the chunks back to back.
using TChunks = std::vector<std::pair<std::string, TBytes>>;
TBytes Unfinished(const TChunks& chunks, std::size_t area = 2048) {
    TBytes file(area, 0);
    for (const auto& [id, data] : chunks) {
        file.insert(file.end(), id.begin(), id.end());
        Put32(file, static_cast<std::uint32_t>(data.size()));
        file.insert(file.end(), data.begin(), data.end());
        if (data.size() & 1) file.push_back(0);
    }
    return file;
}
TBytes Unfinished(const std::vector<TBytes>& frames, std::size_t area = 2048) {
    TChunks chunks;
    for (const auto& f : frames)
        chunks.push_back({"00dc", f});
    return Unfinished(chunks, area);
}

// What the header of stream `n` (0 the first) says it is: fccType, dwLength, dwSampleSize, and
// whether its strf holds `format`.
std::array<std::uint32_t, 4> StreamOf(const TBytes& f, int n, const TBytes& format) {
    std::size_t pos = 88; // after RIFF, LIST hdrl and avih
    for (int i = 0; i < n; ++i)
        pos += 8 + Le32(&f[pos + 4]);
    const std::uint8_t* strh = &f[pos + 20];
    const auto strf = f.begin() + static_cast<std::ptrdiff_t>(pos + 20 + 56);
    const bool same =
        Le32(&strf[4]) == format.size() && std::equal(format.begin(), format.end(), strf + 8);
    return {Le32(strh), Le32(strh + 32), Le32(strh + 44), same};
}

// The index found by walking the chunks from the RIFF header, each entry checked against the
// chunk it points at, and the RIFF size and the frame count against the file.
std::vector<TEntry> IndexOf(const TBytes& f) {
    EXPECT_EQ(Le32(&f[4]), f.size() - 8);
    std::size_t movi = 0, frames = 0;
    std::vector<TEntry> entries;
    for (std::size_t pos = 12; pos + 8 <= f.size(); pos += 8 + ((Le32(&f[pos + 4]) + 1) & ~1u)) {
        if (Le32(&f[pos]) == Fourcc("LIST") && Le32(&f[pos + 8]) == Fourcc("movi")) movi = pos + 8;
        if (Le32(&f[pos]) != Fourcc("idx1")) continue;
        for (std::size_t e = pos + 8; e < pos + 8 + Le32(&f[pos + 4]); e += 16) {
            entries.push_back({Le32(&f[e + 4]), Le32(&f[e + 8]), Le32(&f[e + 12])});
            EXPECT_EQ(Le32(&f[movi + entries.back()[1]]), Le32(&f[e]));
            EXPECT_EQ(Le32(&f[movi + entries.back()[1] + 4]), entries.back()[2]);
            frames += Le32(&f[e]) != Fourcc("01wb");
        }
    }
    EXPECT_EQ(Le32(&f[48]), frames); // avih's dwTotalFrames
    return entries;
}

std::vector<std::uint32_t> KeyFlags(const std::vector<TBytes>& frames, const RecoveryNote& note) {
    TMemoryFile file(Unfinished(frames));
    EXPECT_EQ(RecoverAvi(file, note).outcome, RecoveryOutcome::Rebuilt);
    std::vector<std::uint32_t> flags;
    for (const auto& e : IndexOf(file.bytes))
        flags.push_back(e[0]);
    return flags;
}

} // namespace

TEST(RecoverAviTest, KeepsTheWholeChunksOfAFileCutAnywhereInItsLast) {
    const TBytes full = Unfinished({TBytes(5, 1), TBytes(12, 2), TBytes(7, 3)});
    const std::vector<TEntry> all{{0x10, 4, 5}, {0x10, 18, 12}, {0x10, 38, 7}};
    const std::size_t last = full.size() - 16;
    for (std::size_t cut = last; cut <= full.size(); ++cut) {
        // With its data whole, the last chunk stays even when its pad byte is missing.
        const std::size_t kept = cut >= full.size() - 1 ? 3 : 2;
        TMemoryFile file(TBytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut)));
        EXPECT_EQ(RecoverAvi(file, NoteFor(0, 32)).frames, kept);
        const std::size_t chunksEnd = kept == 3 ? full.size() : last;
        EXPECT_EQ(file.bytes.size(), chunksEnd + 8 + 16 * kept);
        EXPECT_EQ(file.bytes[chunksEnd - 1], kept == 3 ? 0 : 2); // the pad, or the last data byte
        EXPECT_EQ(IndexOf(file.bytes), std::vector<TEntry>(all.begin(), all.begin() + kept));
        const TBytes rebuilt = file.bytes;
        EXPECT_EQ(RecoverAvi(file, NoteFor(0, 32)).outcome, RecoveryOutcome::Finished);
        EXPECT_EQ(file.bytes, rebuilt);
    }
    // Nothing but the reserved area, or not even that: the headers make a video without frames.
    for (const std::size_t zeros : {0, 2048}) {
        TMemoryFile file(TBytes(zeros, 0));
        EXPECT_EQ(RecoverAvi(file, NoteFor(0, 32)).outcome, RecoveryOutcome::Rebuilt);
        EXPECT_EQ(file.bytes.size(), 224u + 8);
        EXPECT_TRUE(IndexOf(file.bytes).empty());
    }
}

TEST(RecoverAviTest, KeepsTheWholeChunksOfBothStreamsOfAFileWithSoundCutAnywhere) {
    const RecoveryNote note = WithSound(NoteFor(0, 32));
    const TChunks chunks{{"01wb", TBytes(400, 1)}, {"00dc", TBytes(5, 2)}, {"00dc", TBytes(6, 3)},
                         {"01wb", TBytes(200, 4)}, {"00dc", TBytes(7, 5)}, {"01wb", TBytes(8, 6)}};
    const TBytes full = Unfinished(chunks);
    for (std::size_t cut = 2048; cut <= full.size(); ++cut) {
        // The chunks whole before the cut; the pad byte of an odd last one may be missing.
        std::vector<TEntry> whole;
        std::uint32_t frames = 0, soundBytes = 0;
        for (std::size_t i = 0, pos = 2048; i < chunks.size(); ++i) {
            const auto bytes = static_cast<std::uint32_t>(chunks[i].second.size());
            if (pos + 8 + bytes > cut) break;
            whole.push_back({0x10, static_cast<std::uint32_t>(pos - 2044), bytes});
            if (chunks[i].first == "01wb")
                soundBytes += bytes;
            else
                ++frames;
            pos += 8 + bytes + (bytes & 1);
        }
        TMemoryFile file(TBytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut)));
        EXPECT_EQ(RecoverAvi(file, note).frames, frames);
        EXPECT_EQ(IndexOf(file.bytes), whole) << cut;
        EXPECT_EQ(Le32(&file.bytes[56]), 2u); // avih's dwStreams
        EXPECT_EQ(StreamOf(file.bytes, 0, note.format),
                  (std::array{Fourcc("vids"), frames, 0u, 1u}));
        EXPECT_EQ(StreamOf(file.bytes, 1, note.sound),
                  (std::array{Fourcc("auds"), soundBytes / 4, 4u, 1u}));
        const TBytes rebuilt = file.bytes;
        EXPECT_EQ(RecoverAvi(file, note).outcome, RecoveryOutcome::Finished);
        EXPECT_EQ(file.bytes, rebuilt);
    }
    // Sound only in a file with sound, and only in whole blocks.
    TMemoryFile withoutNote(full),
        odd(Unfinished({{"00dc", TBytes(5, 2)}, {"01wb", TBytes(6, 1)}}));
    EXPECT_EQ(RecoverAvi(withoutNote, NoteFor(0, 32)).why, "not a recording of this program");
    EXPECT_EQ(RecoverAvi(odd, note).frames, 1u);
    EXPECT_EQ(IndexOf(odd.bytes).size(), 1u);
}

TEST(SetAviStreamLengthTest, SetsTheLengthOfTheStreamItIsToldOf) {
    const RecoveryNote note = WithSound(NoteFor(0, 32));
    TMemoryFile file(Unfinished({{"00dc", TBytes(5, 2)}, {"01wb", TBytes(8, 1)}})),
        unfinished(file.bytes);
    ASSERT_EQ(RecoverAvi(file, note).outcome, RecoveryOutcome::Rebuilt);
    EXPECT_TRUE(SetAviStreamLength(file, 1, 48000));
    EXPECT_EQ(StreamOf(file.bytes, 1, note.sound)[1], 48000u);
    EXPECT_EQ(StreamOf(file.bytes, 0, note.format)[1], 1u);
    // A length already right is not written again; a stream that is not there is not found.
    file.failWrites = true;
    EXPECT_TRUE(SetAviStreamLength(file, 1, 48000));
    EXPECT_FALSE(SetAviStreamLength(file, 2, 7));
    EXPECT_FALSE(SetAviStreamLength(unfinished, 0, 1));
}

TEST(RecoverAviTest, KeyFramesFollowTheCompression) {
    TBytes twoAndEight{0x0f, 0x00, 0x00, 0x00, 0xff, 0x7f, 0xf0, 0x00, 0x00, 0x80};
    twoAndEight.resize(6 + 18);
    const std::vector<TBytes> frames{
        {0x00, 0x80, 0x1f, 0x80},       // two one-colour blocks
        {0x00, 0x80, 0x1f, 0x80, 0x00}, // and an odd pad
        twoAndEight,
        {0x00, 0x80, 0x01, 0x84},       // a skip of one block
        {0x00, 0x80},                   // one block only
        {0x00, 0x80, 0x1f, 0x80, 0, 0}, // bytes after the last block
        {},
    };
    using TFlags = std::vector<std::uint32_t>;
    EXPECT_EQ(KeyFlags(frames, NoteFor(0, 16)), TFlags(frames.size(), 0x10));
    EXPECT_EQ(KeyFlags(frames, NoteFor(Fourcc("MSVC"), 16)), (TFlags{16, 16, 16, 0, 0, 0, 0}));
    EXPECT_EQ(KeyFlags(frames, NoteFor(Fourcc("MSVC"), 8)), (TFlags{16, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(KeyFlags({{}, {1, 2}}, NoteFor(Fourcc("XVID"), 16)), (TFlags{0, 0}));
}

TEST(RecoverAviTest, LeavesAloneWhatAKilledRecordingDoesNotLeave) {
    const RecoveryNote note = NoteFor(0, 32);
    TMemoryFile rebuilt(Unfinished({{1, 2, 3, 4}}));
    ASSERT_EQ(RecoverAvi(rebuilt, note).frames, 1u);
    const std::string notOurs = "not a recording of this program",
                      noRoom = "no room for the headers";
    const std::pair<TBytes, std::string> cases[] = {
        {TBytes{'M', 'Z', 0, 0}, notOurs},
        {Unfinished({{1, 2, 3, 4}}, 2047), notOurs},
        {TBytes(rebuilt.bytes.begin(), rebuilt.bytes.end() - 1), "it has headers but no index"},
        {Unfinished({{1, 2, 3, 4}}, 64), noRoom},
        {Unfinished({{1, 2, 3, 4}}, 224 + 6), noRoom}, // too little for a JUNK chunk in between
    };
    for (const auto& [bytes, why] : cases) {
        TMemoryFile file(bytes);
        EXPECT_EQ(RecoverAvi(file, note).why, why);
        EXPECT_EQ(file.bytes, bytes);
    }
    TMemoryFile exact(Unfinished({{1, 2, 3, 4}}, 224)), unreadable(exact.bytes),
        unwritable(exact.bytes);
    EXPECT_EQ(RecoverAvi(exact, note).frames, 1u);
    EXPECT_EQ(IndexOf(exact.bytes).size(), 1u);
    unreadable.failReads = unwritable.failWrites = true;
    EXPECT_EQ(RecoverAvi(unreadable, note).why, "the file cannot be read");
    EXPECT_EQ(RecoverAvi(unwritable, note).why, "the file cannot be written");
}

TEST(RecoveryNoteTest, RoundTripsThroughItsText) {
    const RecoveryNote sound = WithSound(NoteFor(Fourcc("MSVC"), 16));
    std::string soundWhy; // a note without sound has no sound line, as those written before
    EXPECT_EQ(ParseRecoveryNote(FormatRecoveryNote(sound), soundWhy), sound);
    RecoveryNote note = NoteFor(Fourcc("MSVC"), 16);
    note.start = 0xFFFFFFFF;
    note.format.push_back(0xAB); // a colour table of odd length
    std::string why, text = FormatRecoveryNote(note);
    EXPECT_EQ(ParseRecoveryNote(text, why), note);
    // Lines ending in "\n" alone, an unknown key and a top-down bitmap are taken as well.
    std::erase(text, '\r');
    text.replace(text.find("format=") + 7 + 16, 8, "fcffffff");
    std::copy_n("\xfc\xff\xff\xff", 4, note.format.begin() + 8);
    EXPECT_EQ(ParseRecoveryNote(text + "comment=by hand\n", why), note);
}

TEST(RecoveryNoteTest, NamesTheFieldThatIsMissingBrokenOrAtOdds) {
    const std::string text = FormatRecoveryNote(NoteFor(0, 32));
    const auto reason = [&](const std::string& from, const std::string& to) {
        std::string changed = text, why;
        changed.replace(changed.find(from), from.size(), to);
        EXPECT_EQ(ParseRecoveryNote(changed, why), std::nullopt) << changed;
        return why;
    };
    EXPECT_EQ(reason("quarnelby", "Quarnelby"), "not a recovery note");
    EXPECT_EQ(reason("height=4\r\n", ""), "the note has no height");
    EXPECT_EQ(reason("start=7", "start=7\r\nstart=8"), "the note has more than one start");
    for (const char* bad : {"", " 7", "+7", "7a", "4294967296"})
        EXPECT_EQ(reason("start=7", std::string("start=") + bad),
                  "the note's start is not a number");
    EXPECT_EQ(reason("format=28", "format=2g"), "the note's format is not hexadecimal");
    EXPECT_EQ(reason("rate=30000", "rate=0"), "the note's rate is 0");
    EXPECT_EQ(reason(text.substr(text.find("format=")), "format=2800\r\n"),
              "the note's format is shorter than a bitmap header");
    EXPECT_EQ(reason("width=8", "width=16"), "the note's width differs from its format");
    // A sound line: once, hexadecimal, whole samples of integer PCM.
    const auto sound = [&](const std::string& line) {
        return reason("format=", line + "\r\nformat=");
    };
    EXPECT_EQ(sound("sound=00\r\nsound=00"), "the note has more than one sound");
    EXPECT_EQ(sound("sound=0g"), "the note's sound is not hexadecimal");
    // Stereo float; 16-bit mono in blocks of 3 bytes; a header cut short.
    for (const char* bad : {"sound=0300020080bb000000dc050008002000",
                            "sound=0100010080bb00000077010003001000", "sound=0100010080bb0000"})
        EXPECT_EQ(sound(bad), "the note's sound is not a PCM format");
}
