// Mp4Recovery: reads back the MP4 files of TMp4Writer, and finishes them as regular MP4 files in
// place: after a Stop, and at start for what a killed recording left (its torn tail cut off).
#pragma once

#include "media/AviRecovery.h"
#include "media/Mp4Writer.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace media {

// A file's sound track, as far as it is whole.
struct Mp4AudioInfo {
    std::uint32_t trackId = 0, timescale = 0;
    std::uint32_t frameSamples = 0; // each sample's ticks (trex's default duration)
    std::vector<std::uint8_t> stsd; // the sample description box, whole
    std::uint32_t priming = 0;      // the ticks the edit skips
    // The durations the header states (the edit's is 0 until the writer's Finish), and where they
    // are.
    std::uint32_t tkhdDuration = 0, editDuration = 0, mdhdDuration = 0;
    std::uint64_t tkhdDurationAt = 0, editDurationAt = 0, mdhdDurationAt = 0;
    std::uint64_t samples = 0, duration = 0; // of the whole fragments' samples, in ticks

    // The ticks the track plays: the edit's duration when stated and within the samples (a torn
    // tail may have taken some), else every tick after the priming.
    std::uint64_t Length() const {
        const std::uint64_t played = duration > priming ? duration - priming : 0;
        return editDuration != 0 && editDuration <= played ? editDuration : played;
    }
};

// What a file holds, as far as it is whole. Without qualification, of the video track.
struct Mp4FileInfo {
    std::uint32_t trackId = 0, timescale = 0, width = 0, height = 0;
    std::uint32_t movieTimescale = 0;   // the video's, or with sound the sound's
    std::vector<std::uint8_t> sps, pps; // of the sample entry's avcC
    bool hasColour = false;             // an nclx colr box, with:
    std::uint16_t primaries = 0, transfer = 0, matrix = 0;
    bool fullRange = false;
    // The durations the header states; mehd once Finish has turned the free box into one.
    std::uint32_t mvhdDuration = 0, tkhdDuration = 0, mdhdDuration = 0;
    std::optional<std::uint32_t> mehdDuration;
    // Where those are, to fill them in.
    std::uint64_t mvhdDurationAt = 0, tkhdDurationAt = 0, mdhdDurationAt = 0, mehdAt = 0;

    std::vector<std::uint8_t> stsd; // the sample description box, whole
    std::uint64_t headerEnd = 0;    // where the first fragment starts
    std::uint64_t fragments = 0, samples = 0;
    std::uint64_t duration = 0; // of the whole fragments' samples, in ticks
    std::uint64_t wholeEnd = 0; // after the last whole fragment (headerEnd when there is none)
    std::string tail;           // why the bytes after wholeEnd are no fragment; "" when none follow
    // How far the finishing has come: the file ends, after wholeEnd, in the regular moov of its
    // samples; the fragmented moov (at moovAt) has become a free box; the fragments whose moof is
    // still one.
    bool regular = false;
    std::uint64_t moovAt = 0;
    bool moovFreed = false;
    std::vector<std::uint64_t> moofsAt;
    std::optional<Mp4AudioInfo> audio;
};

// Reads a file as TMp4Writer writes it and FinishMp4 finishes it: ftyp, a moov of its shape (a
// video track, maybe a sound track), then moof + mdat fragments, each following on the one before
// in every track, up to the first that is not whole (then `tail` says why), and the regular moov of
// those samples when it ends the file. The moov and the moof boxes may have become free boxes of
// the same contents. samples and audioSamples, when given, receive each video and sound sample of
// the whole fragments. None, with the reason in `why`, when the file does not begin as the writer's
// files do or cannot be read. Reads at most a fragment's header at a time, whatever the bytes.
std::optional<Mp4FileInfo> ReadMp4(RecoveryFile& file, std::string& why,
                                   std::vector<Mp4Sample>* samples = nullptr,
                                   std::vector<Mp4Sample>* audioSamples = nullptr);

// Makes a recording's MP4 file a regular one, in place and without a copy: a torn tail (a killed
// recording's) is cut off after the last whole fragment, the durations are filled in, the regular
// moov of the samples is appended (with sound, both tracks' tables: the tracks stay in step, as the
// fragments carried them), then every moof and the fragmented moov become free boxes. A
// file stopped at any of these steps is finished by calling this again. Finished: the file was
// regular already, nothing is written. Rebuilt: frames counts the samples in the finished file.
// LeftAlone: not such a file, unreadable (nothing is written) or unwritable (then it stops).
RecoveryResult FinishMp4(RecoveryFile& file);

} // namespace media
