// Mp4Recovery: reads back the fragmented MP4 files of TMp4Writer, and cuts off the torn tail that a
// killed recording leaves so that the file ends after its last whole fragment.
#pragma once

#include "media/AviRecovery.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace media {

struct Mp4Sample {
    std::uint64_t offset = 0; // of its data in the file
    std::uint32_t size = 0;
    std::uint64_t time = 0; // decoding time, in ticks from the file's start
    std::uint32_t duration = 0;
    bool sync = false;
};

// What a file holds, as far as it is whole.
struct Mp4FileInfo {
    std::uint32_t timescale = 0, width = 0, height = 0;
    std::vector<std::uint8_t> sps, pps; // of the sample entry's avcC
    bool hasColour = false;             // an nclx colr box, with:
    std::uint16_t primaries = 0, transfer = 0, matrix = 0;
    bool fullRange = false;
    // The durations the header states; mehd once Finish has turned the free box into one.
    std::uint32_t mvhdDuration = 0, tkhdDuration = 0, mdhdDuration = 0;
    std::optional<std::uint32_t> mehdDuration;
    // Where those are, to fill them in.
    std::uint64_t mvhdDurationAt = 0, tkhdDurationAt = 0, mdhdDurationAt = 0, mehdAt = 0;

    std::uint64_t headerEnd = 0; // where the first fragment starts
    std::uint64_t fragments = 0, samples = 0;
    std::uint64_t duration = 0; // of the whole fragments' samples, in ticks
    std::uint64_t wholeEnd = 0; // after the last whole fragment (headerEnd when there is none)
    std::string tail;           // why the bytes after wholeEnd are no fragment; "" when none follow
};

// Reads a file as TMp4Writer writes it: ftyp, a moov of its shape, then moof + mdat fragments, each
// following on the one before, up to the first that is not whole (then `tail` says why). samples,
// when given, receives each sample of the whole fragments. None, with the reason in `why`, when the
// file does not begin as the writer's files do or cannot be read. Reads at most a fragment's header
// at a time, whatever the bytes.
std::optional<Mp4FileInfo> ReadMp4(RecoveryFile& file, std::string& why,
                                   std::vector<Mp4Sample>* samples = nullptr);

// Makes a recording's MP4 file that a killed program left end after its last whole fragment, with
// the durations filled in. Finished: the file ends after whole fragments and states its duration,
// nothing is written. Rebuilt: a torn tail was cut off or the durations were not filled in (Finish
// never ran); frames counts the samples that stay. LeftAlone: not such a file, or unreadable;
// nothing is written.
RecoveryResult CutMp4Tail(RecoveryFile& file);

} // namespace media
