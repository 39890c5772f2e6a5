// Mp4Writer: the recording's fragmented MP4 file of an H.264 video track and, with sound, an AAC
// track, written front to back, and the moov of a regular MP4 file that finishes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace media {

using TBytesView = std::span<const std::uint8_t>;

// The NAL units of an Annex B byte stream, without their start codes (00 00 01 or 00 00 00 01) and
// the zero bytes that may stand before a start code. Bytes before the first start code are skipped.
std::vector<TBytesView> SplitAnnexB(TBytesView stream);

// A NAL unit's nal_unit_type (5: IDR slice, 7: SPS, 8: PPS, 9: access unit delimiter); -1 when
// empty.
inline int NalType(TBytesView nal) {
    return nal.empty() ? -1 : nal[0] & 0x1F;
}

// A sample as the file stores it.
struct Mp4Sample {
    std::uint64_t offset = 0; // of its data in the file
    std::uint32_t size = 0;
    std::uint64_t time = 0; // decoding time, in ticks from the file's start
    std::uint32_t duration = 0;
    bool sync = false;
};

// The sound a file carries: AAC access units of frameSamples ticks each at sampleRate ticks a
// second (the track's time scale, and then the movie's too), back to back from the file's start.
// The decoded sound begins with `priming` ticks of the encoder's delay, which an edit list skips.
struct Mp4AudioFormat {
    std::uint32_t sampleRate = 0; // 1..65535
    std::uint16_t channels = 0;
    std::uint32_t frameSamples = 0;
    std::uint32_t priming = 0;
    std::uint32_t bitRate = 0;        // the average, in bits a second
    std::uint32_t maxFrameBytes = 0;  // the largest access unit the encoder makes
    std::vector<std::uint8_t> config; // the AudioSpecificConfig, at most 64 bytes
};

// The sound track of a regular moov: its time scale, sample description box (whole), the priming
// its edit skips and the ticks it then plays (the edit's duration: the input samples).
struct Mp4AudioTrack {
    std::uint32_t timescale = 0;
    std::vector<std::uint8_t> stsd;
    std::uint32_t priming = 0;
    std::uint64_t length = 0;
};

// The durations a file states (32-bit fields, clamped). The movie's time scale is the video's, or
// the sound's when there is sound; each track's media duration is in its own.
struct Mp4Durations {
    std::uint32_t movie = 0;      // mvhd and mehd: the longer track's
    std::uint32_t video = 0;      // the video's tkhd, in the movie's time scale
    std::uint32_t videoMedia = 0; // its mdhd
    std::uint32_t audio = 0;      // the sound's tkhd and edit: the ticks it plays
    std::uint32_t audioMedia = 0; // its mdhd: every sample's ticks, the priming among them
};
// videoTicks: the video samples' ticks; audio: none without sound, else its time scale and
// length, and audioMedia the ticks of its samples.
Mp4Durations FileDurations(std::uint32_t videoTimescale, std::uint64_t videoTicks,
                           const Mp4AudioTrack* audio = nullptr, std::uint64_t audioMedia = 0);

// The moov of a regular MP4 file: the header of a file that the writer wrote, with the complete
// sample tables of `samples` (stts, stss, stsz, stsc, and stco or co64) and no mvex, and with
// sound the sound's track with its edit and the tables of audioSamples (all sync samples, no stss).
// Samples stored back to back form one chunk. stsd: the sample description box, whole.
std::vector<std::uint8_t> RegularMoov(std::uint32_t timescale, std::uint32_t width,
                                      std::uint32_t height, TBytesView stsd,
                                      std::span<const Mp4Sample> samples,
                                      const Mp4AudioTrack* audio = nullptr,
                                      std::span<const Mp4Sample> audioSamples = {});

// Where the writer's bytes go. Write appends; WriteAt overwrites bytes already written (to fill in
// the durations, and a duration that FlushAll left provisional). False when the bytes did not
// reach the file.
class Mp4Sink {
public:
    virtual ~Mp4Sink() = default;
    virtual bool Write(const void* data, std::size_t size) = 0;
    virtual bool WriteAt(std::uint64_t offset, const void* data, std::size_t size) = 0;
};

// Writes ftyp and moov at Begin, then one moof + mdat fragment per Flush. Each fragment is complete
// on its own, so the fragments that reached the disk play even when Finish never runs. Times count
// in ticks of the caller's time scale from the first sample's tick; a sample lasts until the next
// one's tick. FinishMp4 (Mp4Recovery) then turns the finished file into a regular MP4; the sizes
// the writer foresees are those of that file.
//
// With sound (AddAudioTrack before Begin) every fragment also carries the sound's pending access
// units, in a track fragment of their own after the video's, so that the tracks stay in step on
// disk. The sound's first input sample plays with the first video sample.
//
// Once a write has failed every call returns false and writes nothing more: the caller stops.
class TMp4Writer {
public:
    explicit TMp4Writer(Mp4Sink& sink) : sink_(sink) {}

    // Writes the file's header for frames of width x height and the stream's parameter sets (NAL
    // units without start codes, as SplitAnnexB gives them). timescale: ticks per second.
    bool Begin(std::uint32_t width, std::uint32_t height, std::uint32_t timescale, TBytesView sps,
               TBytesView pps);

    // Gives the file a sound track; before Begin. False when begun, or for a format the file cannot
    // describe.
    bool AddAudioTrack(const Mp4AudioFormat& format);
    // Adds the sound's next access unit (it lasts the format's frameSamples ticks); also before
    // Begin. Nothing is written until a flush. False without a sound track, after Finish or a
    // failed write, for an empty one, or when the pending samples would pass 1 GiB or 16384 access
    // units.
    bool AddAudioSample(TBytesView accessUnit);
    // The input samples the sound's access units hold (the ticks it plays, without the priming and
    // the silence after the last input sample), for Finish to state. Without it the sound plays
    // every tick after the priming.
    void SetAudioLength(std::uint64_t samples) { audioLength_ = samples; }

    // Adds one access unit at `tick` (after the previous sample's), as Annex B or as its NAL units.
    // It is stored with 4-byte lengths; access unit delimiters and parameter sets equal to Begin's
    // are left out, a parameter set that differs stays in the sample. Nothing is written until
    // Flush. False when not begun, after a failed write, for a tick not after the previous one, for
    // an access unit without a NAL unit, or when the pending samples would pass 1 GiB or 65536
    // samples.
    bool AddSample(TBytesView annexB, std::uint64_t tick, bool isKey);
    bool AddSample(std::span<const TBytesView> nals, std::uint64_t tick, bool isKey);

    // Writes a fragment of every pending sample but the newest video sample, whose duration is not
    // known yet.
    bool Flush();
    // Writes a fragment of every pending sample. The newest video sample lasts one tick until the
    // next sample's tick is known; its duration is written over before the next fragment with
    // video (or by Finish).
    bool FlushAll();

    // Writes the pending samples, the newest lasting lastDuration ticks, and fills the durations
    // into the header. Nothing can be added afterwards.
    bool Finish(std::uint32_t lastDuration = 1);

    // Bytes the file will have once finished (the newest sample lasting one tick) and made regular,
    // with the samples added so far.
    std::uint64_t ClosedSize() const;
    // At least the bytes the file will have once finished and made regular if one more video
    // sample storing sampleBytes, and audioSamples more sound access units (each at most the
    // format's maxFrameBytes), were added, at any tick and flushed in any way.
    std::uint64_t ClosedSizeWith(std::uint64_t sampleBytes, std::uint64_t audioSamples = 0) const;
    // Bytes an access unit takes in the file once stored (as AddSample would store it).
    std::uint64_t StoredSampleBytes(TBytesView annexB) const;
    std::uint64_t BytesWritten() const { return written_; }

    // Video samples; sound access units.
    std::uint64_t Samples() const { return samplesWritten_ + pending_.size(); }
    std::uint64_t AudioSamples() const { return audio_.written + audio_.pending.size(); }
    std::size_t PendingSamples() const { return pending_.size(); }
    std::size_t PendingAudioSamples() const { return audio_.pending.size(); }
    bool HasAudio() const { return audio_.on; }
    bool Failed() const { return failed_; }

private:
    struct TPending {
        std::uint64_t tick;
        std::uint32_t bytes;
        bool key;
    };

    // The shape of the regular moov's sample tables, counted as samples come.
    struct TTableShape {
        std::uint64_t samples = 0, syncSamples = 0, timeRuns = 0, chunks = 0, chunkRuns = 0;
        std::uint64_t lastChunkOffset = 0;
    };

    // The sound track: its pending access units (sizes, and bytes back to back), and what its
    // tables hold so far.
    struct TAudio {
        bool on = false;
        Mp4AudioFormat format;
        std::vector<std::uint32_t> pending;
        std::vector<std::uint8_t> pendingData;
        std::uint64_t written = 0, chunks = 0, chunkRuns = 0, lastChunkSamples = 0;
        std::uint64_t lastChunkOffset = 0;
        // Where Finish fills in its tkhd, edit and mdhd durations.
        std::uint64_t tkhdAt = 0, elstAt = 0, mdhdAt = 0;
    };

    bool Put(const std::vector<std::uint8_t>& bytes);
    // Writes the first `count` pending video samples, the newest of them lasting lastDuration, and
    // `audioCount` pending sound samples.
    bool WriteFragment(std::size_t count, std::uint32_t lastDuration, std::size_t audioCount);
    bool Fail();
    // Writes the true duration over the one-tick duration a FlushAll gave the newest sample.
    bool SettleProvisional(std::uint64_t duration);
    // The shape once the pending samples (and `extra` more, each possibly a chunk of its own, with
    // durations unknown) are written and the newest lasts one tick; and the sound's, with
    // `audioExtra` more access units, each possibly a chunk of its own.
    TTableShape ShapeWith(std::uint64_t extra) const;
    TTableShape AudioShapeWith(std::uint64_t audioExtra) const;
    std::uint64_t RegularMoovBytes(const TTableShape& shape, const TTableShape& audio) const;
    std::uint64_t PendingFragmentBytes() const;
    // The ticks the sound plays: SetAudioLength's, at most every tick after the priming.
    std::uint64_t AudioLength() const;
    std::uint64_t SampleBytes(std::span<const TBytesView> nals) const;
    bool Kept(TBytesView nal) const;

    Mp4Sink& sink_;
    bool begun_ = false, finished_ = false, failed_ = false;
    std::vector<std::uint8_t> sps_, pps_;
    std::uint64_t written_ = 0;
    // Where Finish fills in the durations: mvhd, tkhd and mdhd, and the free box that becomes mehd.
    std::uint64_t mvhdDurationAt_ = 0, tkhdDurationAt_ = 0, mdhdDurationAt_ = 0, mehdAt_ = 0;
    std::uint32_t timescale_ = 0;
    std::uint64_t firstTick_ = 0;
    std::uint64_t samplesWritten_ = 0;
    std::uint32_t sequence_ = 0; // of the last fragment written
    // The regular moov without samples, and the counts that size its tables: runs of equal
    // durations among the known ones (each sample's but the newest), chunks written and their runs
    // of equal sample counts.
    std::uint64_t emptyMoovBytes_ = 0;
    std::uint64_t syncSamples_ = 0, timeRuns_ = 0, lastDelta_ = 0, lastTick_ = 0;
    std::uint64_t videoChunks_ = 0, chunkRuns_ = 0, lastChunkSamples_ = 0, lastChunkOffset_ = 0;
    // The duration field of the sample a FlushAll wrote last, while it lasts one tick: 0 if none.
    std::uint64_t provisionalAt_ = 0, provisionalTick_ = 0;
    std::vector<TPending> pending_;
    std::vector<std::uint8_t> pendingData_; // the pending samples' stored bytes, back to back
    TAudio audio_;
    std::uint64_t audioLength_ = UINT64_MAX; // SetAudioLength's, until then every tick
};

} // namespace media
