#include "media/Mp4Writer.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace media {

namespace {

// Sample flags: a sync sample depends on no other; any other sample depends on earlier ones.
constexpr std::uint32_t kSyncSampleFlags = 0x02000000;
constexpr std::uint32_t kOtherSampleFlags = 0x01010000;

constexpr std::uint32_t kTrackId = 1, kAudioTrackId = 2;
// tfhd: sample data offsets count from the moof's first byte.
constexpr std::uint32_t kDefaultBaseIsMoof = 0x020000;
// trun: a data offset, then each sample's duration, size and flags.
constexpr std::uint32_t kTrunFlags = 0x000001 | 0x000100 | 0x000200 | 0x000400;
constexpr std::uint64_t kTrunSampleBytes = 12;
// moof (8), mfhd (16), traf (8), tfhd (16), tfdt version 1 (20), trun without samples (20).
constexpr std::uint64_t kMoofFixedBytes = 88;
constexpr std::uint64_t kMoofHeadBytes = 24, kTrafFixedBytes = 64; // moof and mfhd; the rest
constexpr std::uint64_t kMdatHeaderBytes = 8;
// The sound's trun: a data offset, then each sample's size (trex gives durations and flags).
constexpr std::uint32_t kAudioTrunFlags = 0x000001 | 0x000200;
constexpr std::uint64_t kAudioTrunSampleBytes = 4;
// mehd version 0 takes the place of a free box of the same size.
constexpr std::uint32_t kMehdBytes = 16;

// Bounds of one fragment, far above a second of frames, that keep its sizes 32-bit and its moof
// small enough for a reader to take in one piece.
constexpr std::uint64_t kMaxPendingBytes = std::uint64_t{1} << 30;
constexpr std::size_t kMaxPendingSamples = 65536;
// Six minutes of sound at 48 kHz, which keeps a moof with both tracks under the megabyte that
// the finishing reads a moof in.
constexpr std::size_t kMaxPendingAudioSamples = 16384;

constexpr int kNalSps = 7, kNalPps = 8, kNalDelimiter = 9;

// A moof with a track fragment for each track that has samples in it.
std::uint64_t MoofBytes(std::uint64_t samples, std::uint64_t audioSamples) {
    return kMoofHeadBytes + (samples > 0 ? kTrafFixedBytes + kTrunSampleBytes * samples : 0) +
           (audioSamples > 0 ? kTrafFixedBytes + kAudioTrunSampleBytes * audioSamples : 0);
}

std::uint64_t FragmentBytes(std::uint64_t samples, std::uint64_t audioSamples,
                            std::uint64_t dataBytes) {
    return MoofBytes(samples, audioSamples) + kMdatHeaderBytes + dataBytes;
}

// Big-endian fields appended one after the other, boxes sized when they are closed.
class TBoxWriter {
public:
    TBoxWriter& U8(std::uint32_t v) {
        out_.push_back(static_cast<std::uint8_t>(v));
        return *this;
    }
    TBoxWriter& U16(std::uint32_t v) { return U8(v >> 8).U8(v); }
    TBoxWriter& U32(std::uint32_t v) { return U16(v >> 16).U16(v & 0xFFFF); }
    TBoxWriter& U64(std::uint64_t v) {
        return U32(static_cast<std::uint32_t>(v >> 32)).U32(static_cast<std::uint32_t>(v));
    }
    TBoxWriter& Zeros(std::size_t n) {
        out_.insert(out_.end(), n, 0);
        return *this;
    }
    TBoxWriter& Bytes(TBytesView b) {
        out_.insert(out_.end(), b.begin(), b.end());
        return *this;
    }
    TBoxWriter& Id(const char (&id)[5]) {
        return Bytes({reinterpret_cast<const std::uint8_t*>(id), 4});
    }
    TBoxWriter& Open(const char (&id)[5]) {
        open_.push_back(out_.size());
        return U32(0).Id(id);
    }
    TBoxWriter& OpenFull(const char (&id)[5], std::uint32_t version, std::uint32_t flags) {
        return Open(id).U32(version << 24 | flags);
    }
    TBoxWriter& Close() {
        const std::size_t start = open_.back();
        open_.pop_back();
        const auto size = static_cast<std::uint32_t>(out_.size() - start);
        for (int i = 0; i < 4; ++i)
            out_[start + i] = static_cast<std::uint8_t>(size >> (24 - 8 * i));
        return *this;
    }
    // The unity matrix of mvhd and tkhd.
    TBoxWriter& Matrix() {
        return U32(0x00010000)
            .U32(0)
            .U32(0)
            .U32(0)
            .U32(0x00010000)
            .U32(0)
            .U32(0)
            .U32(0)
            .U32(0x40000000);
    }
    std::size_t Size() const { return out_.size(); }
    std::vector<std::uint8_t>& Out() { return out_; }

private:
    std::vector<std::uint8_t> out_;
    std::vector<std::size_t> open_;
};

void Store32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

// Reads the bits of a NAL unit's payload, with the emulation prevention bytes taken out.
class TBitReader {
public:
    explicit TBitReader(TBytesView nal) {
        int zeros = 0;
        for (const std::uint8_t b : nal.subspan(1)) {
            if (zeros >= 2 && b == 3) {
                zeros = 0;
                continue;
            }
            zeros = b == 0 ? zeros + 1 : 0;
            rbsp_.push_back(b);
        }
    }
    std::optional<std::uint32_t> Bits(int n) {
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i) {
            if (at_ >= rbsp_.size() * 8) return std::nullopt;
            v = v << 1 | ((rbsp_[at_ / 8] >> (7 - at_ % 8)) & 1);
            ++at_;
        }
        return v;
    }
    // An unsigned Exp-Golomb number.
    std::optional<std::uint32_t> Ue() {
        int zeros = 0;
        for (;;) {
            const auto bit = Bits(1);
            if (!bit) return std::nullopt;
            if (*bit) break;
            if (++zeros > 31) return std::nullopt;
        }
        const auto rest = Bits(zeros);
        if (!rest) return std::nullopt;
        return static_cast<std::uint32_t>((std::uint64_t{1} << zeros) - 1 + *rest);
    }

private:
    std::vector<std::uint8_t> rbsp_;
    std::size_t at_ = 0;
};

// The chroma format and bit depths that avcC repeats for the high profiles, read from the SPS.
struct THighProfileFields {
    std::uint32_t chromaFormat = 1, lumaDepthMinus8 = 0, chromaDepthMinus8 = 0;
};

bool HasHighProfileFields(std::uint8_t profile) {
    return profile == 100 || profile == 110 || profile == 122 || profile == 144;
}

std::optional<THighProfileFields> ReadHighProfileFields(TBytesView sps) {
    TBitReader r(sps);
    THighProfileFields f;
    if (!r.Bits(24) || !r.Ue()) return std::nullopt; // profile, constraints, level; the SPS id
    const auto chroma = r.Ue();
    if (!chroma || *chroma > 3) return std::nullopt;
    f.chromaFormat = *chroma;
    if (*chroma == 3 && !r.Bits(1)) return std::nullopt;
    const auto luma = r.Ue(), chromaDepth = r.Ue();
    if (!luma || !chromaDepth || *luma > 6 || *chromaDepth > 6) return std::nullopt;
    f.lumaDepthMinus8 = *luma;
    f.chromaDepthMinus8 = *chromaDepth;
    return f;
}

bool SameBytes(TBytesView a, const std::vector<std::uint8_t>& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

// The sample description box: one avc1 entry with its avcC, colours and pixel aspect.
std::vector<std::uint8_t> SampleDescription(std::uint32_t width, std::uint32_t height,
                                            TBytesView sps, TBytesView pps,
                                            const std::optional<THighProfileFields>& high) {
    TBoxWriter w;
    w.OpenFull("stsd", 0, 0).U32(1);
    w.Open("avc1").Zeros(6).U16(1).Zeros(16).U16(width).U16(height);
    w.U32(0x00480000).U32(0x00480000).U32(0).U16(1); // 72 dpi, one frame per sample
    w.U8(5).Bytes({reinterpret_cast<const std::uint8_t*>("H.264"), 5}).Zeros(26);
    w.U16(0x18).U16(0xFFFF); // 24-bit colour
    w.Open("avcC").U8(1).U8(sps[1]).U8(sps[2]).U8(sps[3]);
    w.U8(0xFC | 3).U8(0xE0 | 1).U16(static_cast<std::uint32_t>(sps.size())).Bytes(sps);
    w.U8(1).U16(static_cast<std::uint32_t>(pps.size())).Bytes(pps);
    if (high) {
        w.U8(0xFC | high->chromaFormat).U8(0xF8 | high->lumaDepthMinus8);
        w.U8(0xF8 | high->chromaDepthMinus8).U8(0);
    }
    w.Close();
    // BT.709 primaries, transfer and matrix, limited range: what ColourConvert produces.
    w.Open("colr").Id("nclx").U16(1).U16(1).U16(1).U8(0).Close();
    w.Open("pasp").U32(1).U32(1).Close();
    w.Close().Close(); // avc1, stsd
    return std::move(w.Out());
}

// The sample description box of the sound: one mp4a entry whose esds carries the
// AudioSpecificConfig.
std::vector<std::uint8_t> AudioSampleDescription(const Mp4AudioFormat& f) {
    const auto config = static_cast<std::uint32_t>(f.config.size());
    const std::uint64_t maxBitRate =
        std::uint64_t{f.maxFrameBytes} * 8 * f.sampleRate / f.frameSamples;
    TBoxWriter w;
    w.OpenFull("stsd", 0, 0).U32(1);
    w.Open("mp4a").Zeros(6).U16(1).Zeros(8).U16(f.channels).U16(16).U32(0).U32(f.sampleRate << 16);
    // ES descriptor (ES_ID 0, no dependence, URL or OCR stream) holding the decoder configuration
    // (MPEG-4 audio, an audio stream; buffer, highest and average bit rate) with the
    // AudioSpecificConfig, and the SL configuration that MP4 files predefine. The lengths fit a
    // byte each.
    w.OpenFull("esds", 0, 0);
    w.U8(0x03).U8(3 + 2 + 13 + 2 + config + 3).U16(0).U8(0);
    w.U8(0x04).U8(13 + 2 + config).U8(0x40).U8(0x05 << 2 | 1);
    w.U8(f.maxFrameBytes >> 16).U16(f.maxFrameBytes & 0xFFFF);
    w.U32(static_cast<std::uint32_t>(std::min<std::uint64_t>(maxBitRate, 0xFFFFFFFFu)));
    w.U32(f.bitRate);
    w.U8(0x05).U8(config).Bytes(f.config);
    w.U8(0x06).U8(1).U8(2);
    w.Close().Close().Close(); // esds, mp4a, stsd
    return std::move(w.Out());
}

// Where a moov's durations are, counted from the start of the writer's buffer.
struct TDurationsAt {
    std::uint64_t mvhd = 0, tkhd = 0, mdhd = 0;
    std::uint64_t audioTkhd = 0, audioElst = 0, audioMdhd = 0;
};

void MovieHeader(TBoxWriter& w, std::uint32_t timescale, std::uint32_t duration,
                 std::uint32_t nextTrackId, TDurationsAt& at) {
    w.OpenFull("mvhd", 0, 0).U32(0).U32(0).U32(timescale);
    at.mvhd = w.Size();
    w.U32(duration).U32(0x00010000).U16(0x0100).Zeros(10).Matrix().Zeros(24).U32(nextTrackId);
    w.Close();
}

// The video track, inside a moov being written: its stbl holds stsd and then what `tables`
// writes. duration: the tkhd's, in the movie's time scale; mediaDuration: the mdhd's.
template <class Tables>
void VideoTrack(TBoxWriter& w, std::uint32_t timescale, std::uint32_t width, std::uint32_t height,
                std::uint32_t duration, std::uint32_t mediaDuration, TBytesView stsd, Tables tables,
                TDurationsAt& at) {
    w.Open("trak");
    // Flags: the track is enabled and plays in the movie.
    w.OpenFull("tkhd", 0, 3).U32(0).U32(0).U32(kTrackId).U32(0);
    at.tkhd = w.Size();
    w.U32(duration).Zeros(8).U16(0).U16(0).U16(0).U16(0).Matrix().U32(width << 16);
    w.U32(height << 16).Close();
    w.Open("mdia");
    w.OpenFull("mdhd", 0, 0).U32(0).U32(0).U32(timescale);
    at.mdhd = w.Size();
    w.U32(mediaDuration).U16(0x55C4).U16(0).Close(); // language "und"
    w.OpenFull("hdlr", 0, 0).U32(0).Id("vide").Zeros(12);
    w.Bytes({reinterpret_cast<const std::uint8_t*>("Video"), 6}).Close();
    w.Open("minf");
    w.OpenFull("vmhd", 0, 1).Zeros(8).Close();
    w.Open("dinf").OpenFull("dref", 0, 0).U32(1).OpenFull("url ", 0, 1).Close().Close().Close();
    w.Open("stbl").Bytes(stsd);
    tables(w);
    w.Close().Close().Close().Close(); // stbl, minf, mdia, trak
}

// The sound track likewise. Its edit plays `duration` ticks from `priming` on, so that the first
// input sample plays at the movie's start; the movie's time scale is the sound's.
template <class Tables>
void AudioTrack(TBoxWriter& w, std::uint32_t timescale, std::uint32_t duration,
                std::uint32_t mediaDuration, std::uint32_t priming, TBytesView stsd, Tables tables,
                TDurationsAt& at) {
    w.Open("trak");
    w.OpenFull("tkhd", 0, 3).U32(0).U32(0).U32(kAudioTrackId).U32(0);
    at.audioTkhd = w.Size();
    // Layer 0, alternate group 1, full volume, no picture.
    w.U32(duration).Zeros(8).U16(0).U16(1).U16(0x0100).U16(0).Matrix().U32(0).U32(0).Close();
    w.Open("edts").OpenFull("elst", 0, 0).U32(1);
    at.audioElst = w.Size();
    w.U32(duration).U32(priming).U16(1).U16(0).Close().Close(); // at the normal rate
    w.Open("mdia");
    w.OpenFull("mdhd", 0, 0).U32(0).U32(0).U32(timescale);
    at.audioMdhd = w.Size();
    w.U32(mediaDuration).U16(0x55C4).U16(0).Close();
    w.OpenFull("hdlr", 0, 0).U32(0).Id("soun").Zeros(12);
    w.Bytes({reinterpret_cast<const std::uint8_t*>("Sound"), 6}).Close();
    w.Open("minf");
    w.OpenFull("smhd", 0, 0).U32(0).Close(); // centred
    w.Open("dinf").OpenFull("dref", 0, 0).U32(1).OpenFull("url ", 0, 1).Close().Close().Close();
    w.Open("stbl").Bytes(stsd);
    tables(w);
    w.Close().Close().Close().Close(); // stbl, minf, mdia, trak
}

// A track's sample tables: runs of equal durations; the sync samples (when `syncTable`); chunks
// of samples stored back to back, and runs of chunks of equal sample counts; sizes; offsets.
void SampleTables(TBoxWriter& t, std::span<const Mp4Sample> samples, bool syncTable) {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> times; // count, duration
    struct TChunk {
        std::uint64_t offset, end;
        std::uint32_t samples;
    };
    std::vector<TChunk> chunks;
    for (const Mp4Sample& s : samples) {
        if (!times.empty() && times.back().second == s.duration)
            ++times.back().first;
        else
            times.emplace_back(1, s.duration);
        if (!chunks.empty() && chunks.back().end == s.offset)
            ++chunks.back().samples;
        else
            chunks.push_back({s.offset, s.offset, 1});
        chunks.back().end = s.offset + s.size;
    }
    const bool offsets64 = !chunks.empty() && chunks.back().offset > 0xFFFFFFFFu;

    t.OpenFull("stts", 0, 0).U32(static_cast<std::uint32_t>(times.size()));
    for (const auto& [count, delta] : times)
        t.U32(count).U32(delta);
    t.Close();
    if (syncTable) {
        std::vector<std::uint32_t> syncs;
        for (std::size_t i = 0; i < samples.size(); ++i)
            if (samples[i].sync) syncs.push_back(static_cast<std::uint32_t>(i + 1));
        t.OpenFull("stss", 0, 0).U32(static_cast<std::uint32_t>(syncs.size()));
        for (const std::uint32_t i : syncs)
            t.U32(i);
        t.Close();
    }
    // First chunk (from 1), samples per chunk, sample description 1.
    std::vector<std::uint32_t> runs;
    for (std::size_t i = 0; i < chunks.size(); ++i)
        if (i == 0 || chunks[i].samples != chunks[i - 1].samples)
            runs.push_back(static_cast<std::uint32_t>(i));
    t.OpenFull("stsc", 0, 0).U32(static_cast<std::uint32_t>(runs.size()));
    for (const std::uint32_t i : runs)
        t.U32(i + 1).U32(chunks[i].samples).U32(1);
    t.Close();
    t.OpenFull("stsz", 0, 0).U32(0).U32(static_cast<std::uint32_t>(samples.size()));
    for (const Mp4Sample& s : samples)
        t.U32(s.size);
    t.Close();
    t.OpenFull(offsets64 ? "co64" : "stco", 0, 0);
    t.U32(static_cast<std::uint32_t>(chunks.size()));
    for (const TChunk& c : chunks)
        offsets64 ? t.U64(c.offset) : t.U32(static_cast<std::uint32_t>(c.offset));
    t.Close();
}

// The tables of a fragmented file's moov: the samples are all in the fragments.
void NoSamples(TBoxWriter& t) {
    t.OpenFull("stts", 0, 0).U32(0).Close();
    t.OpenFull("stsc", 0, 0).U32(0).Close();
    t.OpenFull("stsz", 0, 0).U32(0).U32(0).Close();
    t.OpenFull("stco", 0, 0).U32(0).Close();
}

std::uint32_t Clamp32(std::uint64_t v) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(v, 0xFFFFFFFFu));
}

} // namespace

Mp4Durations FileDurations(std::uint32_t videoTimescale, std::uint64_t videoTicks,
                           const Mp4AudioTrack* audio, std::uint64_t audioMedia) {
    Mp4Durations d;
    d.videoMedia = Clamp32(videoTicks);
    if (!audio || audio->timescale == 0 || videoTimescale == 0) {
        d.movie = d.video = d.videoMedia;
        return d;
    }
    // The video's ticks in the sound's time scale, to the nearest.
    const std::uint64_t video =
        (videoTicks * audio->timescale + videoTimescale / 2) / videoTimescale;
    d.video = Clamp32(video);
    d.audio = Clamp32(audio->length);
    d.audioMedia = Clamp32(audioMedia);
    d.movie = Clamp32(std::max(video, audio->length));
    return d;
}

std::vector<std::uint8_t> RegularMoov(std::uint32_t timescale, std::uint32_t width,
                                      std::uint32_t height, TBytesView stsd,
                                      std::span<const Mp4Sample> samples,
                                      const Mp4AudioTrack* audio,
                                      std::span<const Mp4Sample> audioSamples) {
    std::uint64_t duration = 0, audioMedia = 0;
    for (const Mp4Sample& s : samples)
        duration += s.duration;
    for (const Mp4Sample& s : audioSamples)
        audioMedia += s.duration;
    const Mp4Durations d = FileDurations(timescale, duration, audio, audioMedia);

    TBoxWriter w;
    TDurationsAt at;
    w.Open("moov");
    MovieHeader(w, audio ? audio->timescale : timescale, d.movie,
                audio ? kAudioTrackId + 1 : kTrackId + 1, at);
    VideoTrack(
        w, timescale, width, height, d.video, d.videoMedia, stsd,
        [&](TBoxWriter& t) { SampleTables(t, samples, true); }, at);
    if (audio)
        AudioTrack(
            w, audio->timescale, d.audio, d.audioMedia, audio->priming, audio->stsd,
            [&](TBoxWriter& t) { SampleTables(t, audioSamples, false); }, at);
    w.Close();
    return std::move(w.Out());
}

std::vector<TBytesView> SplitAnnexB(TBytesView s) {
    const std::size_t n = s.size();
    // The next 00 00 01 at or after `from`; n when there is none.
    auto findStart = [&](std::size_t from) {
        for (std::size_t j = from; j + 3 <= n;) {
            if (s[j + 2] > 1) {
                j += 3;
            } else if (s[j + 2] == 1 && s[j + 1] == 0 && s[j] == 0) {
                return j;
            } else {
                ++j;
            }
        }
        return n;
    };
    std::vector<TBytesView> nals;
    for (std::size_t start = findStart(0); start < n;) {
        const std::size_t begin = start + 3;
        const std::size_t next = findStart(begin);
        // A NAL unit ends in a byte that is not zero: zeros before the next start code are not
        // its own (the first byte of a four-byte start code, trailing_zero_8bits).
        std::size_t end = next;
        while (end > begin && s[end - 1] == 0)
            --end;
        if (end > begin) nals.push_back(s.subspan(begin, end - begin));
        start = next;
    }
    return nals;
}

bool TMp4Writer::Put(const std::vector<std::uint8_t>& bytes) {
    if (!sink_.Write(bytes.data(), bytes.size())) return Fail();
    written_ += bytes.size();
    return true;
}

bool TMp4Writer::AddAudioTrack(const Mp4AudioFormat& format) {
    if (begun_ || failed_ || audio_.on || format.sampleRate == 0 || format.sampleRate > 0xFFFF ||
        format.channels == 0 || format.frameSamples == 0 || format.config.empty() ||
        format.config.size() > 64 || format.maxFrameBytes == 0 || format.maxFrameBytes > 0xFFFFFF)
        return false;
    audio_.on = true;
    audio_.format = format;
    return true;
}

bool TMp4Writer::Begin(std::uint32_t width, std::uint32_t height, std::uint32_t timescale,
                       TBytesView sps, TBytesView pps) {
    if (begun_ || failed_ || width == 0 || height == 0 || width > 0xFFFF || height > 0xFFFF ||
        timescale == 0 || sps.size() < 4 || NalType(sps) != kNalSps || pps.empty() ||
        NalType(pps) != kNalPps || sps.size() > 0xFFFF || pps.size() > 0xFFFF)
        return false;
    std::optional<THighProfileFields> high;
    if (HasHighProfileFields(sps[1])) {
        high = ReadHighProfileFields(sps);
        if (!high) return false;
    }
    const std::vector<std::uint8_t> stsd = SampleDescription(width, height, sps, pps, high);
    Mp4AudioTrack audio;
    if (audio_.on) {
        audio.timescale = audio_.format.sampleRate;
        audio.stsd = AudioSampleDescription(audio_.format);
        audio.priming = audio_.format.priming;
    }

    TBoxWriter w;
    // Browsers and ffmpeg take isom for any MP4; iso6 and avc1 name the fragments and the codec.
    w.Open("ftyp").Id("isom").U32(0x200).Id("isom").Id("iso6").Id("avc1").Id("mp41").Close();
    w.Open("moov");
    TDurationsAt at;
    MovieHeader(w, audio_.on ? audio.timescale : timescale, 0,
                audio_.on ? kAudioTrackId + 1 : kTrackId + 1, at);
    VideoTrack(w, timescale, width, height, 0, 0, stsd, NoSamples, at);
    // The edit's duration stays 0 (the rest of the media) until Finish.
    if (audio_.on) AudioTrack(w, audio.timescale, 0, 0, audio.priming, audio.stsd, NoSamples, at);
    mvhdDurationAt_ = at.mvhd;
    tkhdDurationAt_ = at.tkhd;
    mdhdDurationAt_ = at.mdhd;
    audio_.tkhdAt = at.audioTkhd;
    audio_.elstAt = at.audioElst;
    audio_.mdhdAt = at.audioMdhd;
    w.Open("mvex");
    // Finish turns this into mehd: a file cut short has no fragment duration that could be taken
    // for the whole file's.
    mehdAt_ = w.Size();
    w.Open("free").Zeros(kMehdBytes - 8).Close();
    w.OpenFull("trex", 0, 0).U32(kTrackId).U32(1).U32(0).U32(0).U32(kOtherSampleFlags).Close();
    // The sound's samples all last a frame and are sync samples.
    if (audio_.on)
        w.OpenFull("trex", 0, 0)
            .U32(kAudioTrackId)
            .U32(1)
            .U32(audio_.format.frameSamples)
            .U32(0)
            .U32(0)
            .Close();
    w.Close().Close(); // mvex, moov

    sps_.assign(sps.begin(), sps.end());
    pps_.assign(pps.begin(), pps.end());
    timescale_ = timescale;
    emptyMoovBytes_ =
        RegularMoov(timescale, width, height, stsd, {}, audio_.on ? &audio : nullptr).size();
    begun_ = true;
    return Put(w.Out());
}

bool TMp4Writer::Kept(TBytesView nal) const {
    const int type = NalType(nal);
    if (type == kNalDelimiter) return false;
    if (type == kNalSps && SameBytes(nal, sps_)) return false;
    if (type == kNalPps && SameBytes(nal, pps_)) return false;
    return true;
}

std::uint64_t TMp4Writer::SampleBytes(std::span<const TBytesView> nals) const {
    std::uint64_t bytes = 0;
    for (const TBytesView nal : nals)
        if (Kept(nal)) bytes += 4 + nal.size();
    return bytes;
}

std::uint64_t TMp4Writer::StoredSampleBytes(TBytesView annexB) const {
    return SampleBytes(SplitAnnexB(annexB));
}

bool TMp4Writer::AddSample(TBytesView annexB, std::uint64_t tick, bool isKey) {
    const std::vector<TBytesView> nals = SplitAnnexB(annexB);
    return AddSample(nals, tick, isKey);
}

bool TMp4Writer::AddSample(std::span<const TBytesView> nals, std::uint64_t tick, bool isKey) {
    if (!begun_ || finished_ || failed_) return false;
    const std::uint64_t samples = Samples();
    // A duration is a 32-bit field of the fragment.
    if (samples > 0 && (tick <= lastTick_ || tick - lastTick_ > 0xFFFFFFFFu)) return false;
    const std::uint64_t bytes = SampleBytes(nals);
    if (bytes == 0 || pendingData_.size() + audio_.pendingData.size() + bytes > kMaxPendingBytes ||
        pending_.size() >= kMaxPendingSamples)
        return false;
    for (const TBytesView nal : nals) {
        if (!Kept(nal)) continue;
        std::uint8_t length[4];
        Store32(length, static_cast<std::uint32_t>(nal.size()));
        pendingData_.insert(pendingData_.end(), length, length + 4);
        pendingData_.insert(pendingData_.end(), nal.begin(), nal.end());
    }
    pending_.push_back({tick, static_cast<std::uint32_t>(bytes), isKey});
    if (samples == 0) {
        firstTick_ = tick;
    } else {
        // The sample before this one now has its duration.
        const std::uint64_t delta = tick - lastTick_;
        if (samples == 1 || delta != lastDelta_) ++timeRuns_;
        lastDelta_ = delta;
    }
    lastTick_ = tick;
    if (isKey) ++syncSamples_;
    return true;
}

bool TMp4Writer::AddAudioSample(TBytesView accessUnit) {
    if (!audio_.on || finished_ || failed_ || accessUnit.empty() ||
        pendingData_.size() + audio_.pendingData.size() + accessUnit.size() > kMaxPendingBytes ||
        audio_.pending.size() >= kMaxPendingAudioSamples)
        return false;
    audio_.pending.push_back(static_cast<std::uint32_t>(accessUnit.size()));
    audio_.pendingData.insert(audio_.pendingData.end(), accessUnit.begin(), accessUnit.end());
    return true;
}

bool TMp4Writer::Fail() {
    failed_ = true;
    return false;
}

bool TMp4Writer::SettleProvisional(std::uint64_t duration) {
    std::uint8_t field[4];
    Store32(field, static_cast<std::uint32_t>(duration));
    if (!sink_.WriteAt(provisionalAt_, field, sizeof field)) return Fail();
    provisionalAt_ = 0;
    return true;
}

bool TMp4Writer::WriteFragment(std::size_t count, std::uint32_t lastDuration,
                               std::size_t audioCount) {
    // The fragment's time follows on the one before only once that one's last sample lasts
    // until this one's first.
    if (count > 0 && provisionalAt_ && !SettleProvisional(pending_[0].tick - provisionalTick_))
        return false;
    std::uint64_t dataBytes = 0, audioBytes = 0;
    for (std::size_t i = 0; i < count; ++i)
        dataBytes += pending_[i].bytes;
    for (std::size_t i = 0; i < audioCount; ++i)
        audioBytes += audio_.pending[i];
    const std::uint64_t moofBytes = MoofBytes(count, audioCount);
    const std::uint64_t start = written_;

    TBoxWriter w;
    w.Open("moof");
    w.OpenFull("mfhd", 0, 0).U32(sequence_ + 1).Close();
    if (count > 0) {
        w.Open("traf");
        w.OpenFull("tfhd", 0, kDefaultBaseIsMoof).U32(kTrackId).Close();
        w.OpenFull("tfdt", 1, 0).U64(pending_[0].tick - firstTick_).Close();
        w.OpenFull("trun", 0, kTrunFlags).U32(static_cast<std::uint32_t>(count));
        w.U32(static_cast<std::uint32_t>(moofBytes + kMdatHeaderBytes));
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint64_t duration =
                i + 1 < pending_.size() ? pending_[i + 1].tick - pending_[i].tick : lastDuration;
            w.U32(static_cast<std::uint32_t>(duration)).U32(pending_[i].bytes);
            w.U32(pending_[i].key ? kSyncSampleFlags : kOtherSampleFlags);
        }
        w.Close().Close(); // trun, traf
    }
    if (audioCount > 0) {
        // The sound's data follows the video's in the mdat.
        w.Open("traf");
        w.OpenFull("tfhd", 0, kDefaultBaseIsMoof).U32(kAudioTrackId).Close();
        w.OpenFull("tfdt", 1, 0).U64(audio_.written * audio_.format.frameSamples).Close();
        w.OpenFull("trun", 0, kAudioTrunFlags).U32(static_cast<std::uint32_t>(audioCount));
        w.U32(static_cast<std::uint32_t>(moofBytes + kMdatHeaderBytes + dataBytes));
        for (std::size_t i = 0; i < audioCount; ++i)
            w.U32(audio_.pending[i]);
        w.Close().Close(); // trun, traf
    }
    w.Close(); // moof
    w.U32(static_cast<std::uint32_t>(kMdatHeaderBytes + dataBytes + audioBytes)).Id("mdat");

    if (!Put(w.Out())) return false;
    if (count > 0 && !sink_.Write(pendingData_.data(), static_cast<std::size_t>(dataBytes)))
        return Fail();
    written_ += dataBytes;
    if (audioCount > 0 &&
        !sink_.Write(audio_.pendingData.data(), static_cast<std::size_t>(audioBytes)))
        return Fail();
    written_ += audioBytes;
    // Each track's samples of the fragment are one chunk of the regular file.
    if (count > 0) {
        if (videoChunks_ == 0 || count != lastChunkSamples_) ++chunkRuns_;
        ++videoChunks_;
        lastChunkSamples_ = count;
        lastChunkOffset_ = start + moofBytes + kMdatHeaderBytes;
    }
    if (audioCount > 0) {
        if (audio_.chunks == 0 || audioCount != audio_.lastChunkSamples) ++audio_.chunkRuns;
        ++audio_.chunks;
        audio_.lastChunkSamples = audioCount;
        audio_.lastChunkOffset = start + moofBytes + kMdatHeaderBytes + dataBytes;
    }
    ++sequence_;
    samplesWritten_ += count;
    audio_.written += audioCount;
    pendingData_.erase(pendingData_.begin(),
                       pendingData_.begin() + static_cast<std::ptrdiff_t>(dataBytes));
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(count));
    audio_.pendingData.erase(audio_.pendingData.begin(),
                             audio_.pendingData.begin() + static_cast<std::ptrdiff_t>(audioBytes));
    audio_.pending.erase(audio_.pending.begin(),
                         audio_.pending.begin() + static_cast<std::ptrdiff_t>(audioCount));
    return true;
}

bool TMp4Writer::Flush() {
    if (!begun_ || finished_ || failed_) return false;
    const std::size_t count = pending_.size() < 2 ? 0 : pending_.size() - 1;
    return (count == 0 && audio_.pending.empty()) || WriteFragment(count, 0, audio_.pending.size());
}

bool TMp4Writer::FlushAll() {
    if (!begun_ || finished_ || failed_) return false;
    if (pending_.empty() && audio_.pending.empty()) return true;
    const std::size_t count = pending_.size();
    const std::uint64_t start = written_;
    const std::uint64_t tick = count > 0 ? pending_.back().tick : 0;
    if (!WriteFragment(count, 1, audio_.pending.size())) return false;
    if (count > 0) {
        provisionalAt_ = start + kMoofFixedBytes + kTrunSampleBytes * (count - 1);
        provisionalTick_ = tick;
    }
    return true;
}

std::uint64_t TMp4Writer::AudioLength() const {
    const std::uint64_t media = AudioSamples() * audio_.format.frameSamples;
    const std::uint64_t played = media > audio_.format.priming ? media - audio_.format.priming : 0;
    return std::min(audioLength_, played);
}

bool TMp4Writer::Finish(std::uint32_t lastDuration) {
    if (!begun_ || finished_ || failed_) return false;
    lastDuration = std::max<std::uint32_t>(lastDuration, 1);
    // Flush always leaves the newest sample pending, so it is the file's last; after FlushAll
    // the newest is on disk, lasting one tick.
    if ((!pending_.empty() || !audio_.pending.empty()) &&
        !WriteFragment(pending_.size(), lastDuration, audio_.pending.size()))
        return false;
    if (provisionalAt_ && lastDuration != 1 && !SettleProvisional(lastDuration)) return false;
    finished_ = true;
    const std::uint64_t total = Samples() > 0 ? lastTick_ + lastDuration - firstTick_ : 0;
    Mp4AudioTrack audio;
    audio.timescale = audio_.format.sampleRate;
    audio.length = AudioLength();
    const Mp4Durations d = FileDurations(timescale_, total, audio_.on ? &audio : nullptr,
                                         AudioSamples() * audio_.format.frameSamples);
    std::vector<std::pair<std::uint64_t, std::uint32_t>> fields{
        {mvhdDurationAt_, d.movie}, {tkhdDurationAt_, d.video}, {mdhdDurationAt_, d.videoMedia}};
    if (audio_.on)
        fields.insert(
            fields.end(),
            {{audio_.tkhdAt, d.audio}, {audio_.elstAt, d.audio}, {audio_.mdhdAt, d.audioMedia}});
    for (const auto& [at, value] : fields) {
        std::uint8_t field[4];
        Store32(field, value);
        if (!sink_.WriteAt(at, field, sizeof field)) return Fail();
    }
    std::uint8_t mehd[kMehdBytes] = {0, 0, 0, kMehdBytes, 'm', 'e', 'h', 'd'};
    Store32(mehd + 12, d.movie);
    if (!sink_.WriteAt(mehdAt_, mehd, sizeof mehd)) return Fail();
    return true;
}

TMp4Writer::TTableShape TMp4Writer::ShapeWith(std::uint64_t extra) const {
    TTableShape shape;
    const std::uint64_t samples = Samples();
    shape.samples = samples + extra;
    shape.syncSamples = syncSamples_ + extra;
    // The known durations' runs, then the newest lasting one tick; each sample more may start a
    // run with its duration and another with the newest's.
    const std::uint64_t known = samples >= 2 ? timeRuns_ : 0;
    if (extra > 0)
        shape.timeRuns = known + extra + 1;
    else if (samples > 0)
        shape.timeRuns = samples == 1 ? 1 : known + (lastDelta_ != 1 ? 1 : 0);
    // The pending samples make one chunk; each sample more may make one of its own.
    shape.chunks = videoChunks_ + extra;
    shape.chunkRuns = chunkRuns_ + extra;
    shape.lastChunkOffset = lastChunkOffset_;
    if (!pending_.empty()) {
        ++shape.chunks;
        if (videoChunks_ == 0 || pending_.size() != lastChunkSamples_) ++shape.chunkRuns;
        shape.lastChunkOffset =
            written_ + MoofBytes(pending_.size(), audio_.pending.size()) + kMdatHeaderBytes;
    }
    return shape;
}

TMp4Writer::TTableShape TMp4Writer::AudioShapeWith(std::uint64_t extra) const {
    TTableShape shape;
    if (!audio_.on) return shape;
    // Every sample lasts a frame: one run of durations.
    shape.samples = AudioSamples() + extra;
    shape.timeRuns = shape.samples > 0 ? 1 : 0;
    shape.chunks = audio_.chunks + extra;
    shape.chunkRuns = audio_.chunkRuns + extra;
    shape.lastChunkOffset = audio_.lastChunkOffset;
    if (!audio_.pending.empty()) {
        ++shape.chunks;
        if (audio_.chunks == 0 || audio_.pending.size() != audio_.lastChunkSamples)
            ++shape.chunkRuns;
        shape.lastChunkOffset = written_ + MoofBytes(pending_.size(), audio_.pending.size()) +
                                kMdatHeaderBytes + pendingData_.size();
    }
    return shape;
}

std::uint64_t TMp4Writer::RegularMoovBytes(const TTableShape& shape,
                                           const TTableShape& audio) const {
    auto offsetBytes = [](const TTableShape& s) { return s.lastChunkOffset > 0xFFFFFFFFu ? 8 : 4; };
    return emptyMoovBytes_ + 8 * shape.timeRuns + 4 * shape.syncSamples + 12 * shape.chunkRuns +
           4 * shape.samples + offsetBytes(shape) * shape.chunks + 8 * audio.timeRuns +
           12 * audio.chunkRuns + 4 * audio.samples + offsetBytes(audio) * audio.chunks;
}

std::uint64_t TMp4Writer::PendingFragmentBytes() const {
    if (pending_.empty() && audio_.pending.empty()) return 0;
    return FragmentBytes(pending_.size(), audio_.pending.size(),
                         pendingData_.size() + audio_.pendingData.size());
}

std::uint64_t TMp4Writer::ClosedSize() const {
    if (Samples() == 0 && AudioSamples() == 0) return written_;
    return written_ + PendingFragmentBytes() + RegularMoovBytes(ShapeWith(0), AudioShapeWith(0));
}

std::uint64_t TMp4Writer::ClosedSizeWith(std::uint64_t sampleBytes,
                                         std::uint64_t audioSamples) const {
    // At most: the pending samples in a fragment, the new ones each in a fragment of their own (a
    // flush may come between them), and their places in every table.
    if (!audio_.on) audioSamples = 0;
    const std::uint64_t fragments = PendingFragmentBytes() + FragmentBytes(1, 0, sampleBytes) +
                                    audioSamples * FragmentBytes(0, 1, audio_.format.maxFrameBytes);
    TTableShape shape = ShapeWith(1), audio = AudioShapeWith(audioSamples);
    shape.lastChunkOffset = audio.lastChunkOffset = written_ + fragments;
    return written_ + fragments + RegularMoovBytes(shape, audio);
}

} // namespace media
