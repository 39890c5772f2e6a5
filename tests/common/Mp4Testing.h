// The MP4 tests' file in memory and synthetic H.264 access units for the writer.
#pragma once

#include "media/AviRecovery.h"
#include "media/Mp4Writer.h"

#include <climits>
#include <cstdint>
#include <vector>

namespace testing_mp4 {

using TBytes = std::vector<std::uint8_t>;

// A file in memory that the writer writes and the finishing reads and writes. Writes past failAfter
// bytes fail (the disk is full), and every write once writesLeft calls have been made (the program
// ended); reads fail when failReads is set.
struct TMemoryFile : media::Mp4Sink, media::RecoveryFile {
    TMemoryFile() = default;
    explicit TMemoryFile(TBytes b) : bytes(std::move(b)) {}
    bool Write(const void* data, std::size_t size) override {
        return Write(bytes.size(), data, size);
    }
    bool WriteAt(std::uint64_t at, const void* data, std::size_t size) override {
        return Write(at, data, size);
    }
    std::uint64_t Size() override { return bytes.size(); }
    bool Read(std::uint64_t at, void* data, std::size_t size) override;
    bool Write(std::uint64_t at, const void* data, std::size_t size) override;
    bool Resize(std::uint64_t size) override;

    TBytes bytes;
    std::uint64_t failAfter = UINT64_MAX;
    int writesLeft = INT_MAX;
    bool failReads = false;
    int writes = 0; // calls that changed the file
};

// A baseline-profile SPS and a PPS (the writer reads no more of them than their first bytes).
TBytes TestSps();
TBytes TestPps();

// An access unit as an encoder writes it, in Annex B with four-byte start codes: a delimiter, SPS
// and PPS for an IDR, then a slice whose bytes follow from n.
TBytes AccessUnit(int n, bool idr);

// The tests' sound: 48 kHz stereo AAC-like access units of 1024 samples behind 1600 of priming.
media::Mp4AudioFormat TestAudioFormat();
// A sound access unit whose bytes follow from n; it ends in a byte that is not zero, as AAC's do.
TBytes AudioUnit(int n);

// Writes 64 x 48 access units at 10 a second at the given positions (an IDR every keyEvery),
// flushing after those whose index is in flushAfter, finished when `finish`. withSound: the sound
// track's access units follow each video sample up to its end, and Finish states a length of
// 4800 samples a position.
void WriteTestFile(TMemoryFile& file, const std::vector<std::uint64_t>& ticks, int keyEvery,
                   const std::vector<int>& flushAfter, bool finish, std::uint32_t lastDuration = 1,
                   bool withSound = false);

} // namespace testing_mp4
