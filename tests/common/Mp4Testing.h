// The MP4 tests' file in memory and synthetic H.264 access units for the writer.
#pragma once

#include "core/AviRecovery.h"
#include "core/Mp4Writer.h"

#include <cstdint>
#include <vector>

namespace testing_mp4 {

using TBytes = std::vector<std::uint8_t>;

// A file in memory that the writer writes and the reader and the tail cut read. Writes fail from
// failAfter bytes on (the disk is full), reads when failReads is set.
struct TMemoryFile : core::Mp4Sink, core::RecoveryFile {
    TMemoryFile() = default;
    explicit TMemoryFile(TBytes b) : bytes(std::move(b)) {}

    bool Write(const void* data, std::size_t size) override;
    bool WriteAt(std::uint64_t offset, const void* data, std::size_t size) override;

    std::uint64_t Size() override { return bytes.size(); }
    bool Read(std::uint64_t offset, void* data, std::size_t size) override;
    bool Write(std::uint64_t offset, const void* data, std::size_t size) override;
    bool Resize(std::uint64_t size) override;

    TBytes bytes;
    std::uint64_t failAfter = UINT64_MAX;
    bool failReads = false;
    int writes = 0; // calls that changed the file
};

// A baseline-profile SPS and a PPS as NAL units (their payload is not read by the writer).
TBytes TestSps();
TBytes TestPps();

// An access unit as an encoder writes it: a delimiter, SPS and PPS before an IDR slice, then the
// slice, in Annex B with four-byte start codes. The slice's bytes follow from n.
TBytes AccessUnit(int n, bool idr);

// Writes `count` access units (an IDR every `keyEvery`) at the given ticks, flushing after the
// samples whose index is in flushAfter; finished when `finish`.
void WriteTestFile(TMemoryFile& file, const std::vector<std::uint64_t>& ticks, int keyEvery,
                   const std::vector<int>& flushAfter, bool finish);

} // namespace testing_mp4
