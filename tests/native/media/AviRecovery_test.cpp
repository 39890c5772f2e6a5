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
    RecoveryNote note{8, 4, bitCount, compression, compression, 30000, 1001, 7, {}};
    for (const std::uint32_t v : {40u, 8u, 4u, 1 | bitCount << 16, compression})
        Put32(note.format, v);
    note.format.resize(40);
    return note;
}

// What a killed recording leaves: the zero-filled reserved area, then the chunks back to back.
TBytes Unfinished(const std::vector<TBytes>& frames, std::size_t area = 2048) {
    TBytes file(area, 0);
    for (const auto& f : frames) {
        file.insert(file.end(), {'0', '0', 'd', 'c'});
        Put32(file, static_cast<std::uint32_t>(f.size()));
        file.insert(file.end(), f.begin(), f.end());
        if (f.size() & 1) file.push_back(0);
    }
    return file;
}

// The index found by walking the chunks from the RIFF header, each entry checked against the
// chunk it points at, and the RIFF size and the frame count against the file.
std::vector<TEntry> IndexOf(const TBytes& f) {
    EXPECT_EQ(Le32(&f[4]), f.size() - 8);
    std::size_t movi = 0;
    std::vector<TEntry> entries;
    for (std::size_t pos = 12; pos + 8 <= f.size(); pos += 8 + ((Le32(&f[pos + 4]) + 1) & ~1u)) {
        if (Le32(&f[pos]) == Fourcc("LIST") && Le32(&f[pos + 8]) == Fourcc("movi")) movi = pos + 8;
        if (Le32(&f[pos]) != Fourcc("idx1")) continue;
        for (std::size_t e = pos + 8; e < pos + 8 + Le32(&f[pos + 4]); e += 16) {
            entries.push_back({Le32(&f[e + 4]), Le32(&f[e + 8]), Le32(&f[e + 12])});
            EXPECT_EQ(Le32(&f[movi + entries.back()[1]]), Le32(&f[e]));
            EXPECT_EQ(Le32(&f[movi + entries.back()[1] + 4]), entries.back()[2]);
        }
    }
    EXPECT_EQ(Le32(&f[48]), entries.size()); // avih's dwTotalFrames
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
}
