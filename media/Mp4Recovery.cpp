#include "media/Mp4Recovery.h"

#include <algorithm>
#include <span>

namespace media {

namespace {

using TView = std::span<const std::uint8_t>;

// The writer's moov takes under a kilobyte beside its parameter sets, and its moof 12 bytes a
// sample for at most 65536 samples: anything larger is not one of its boxes.
constexpr std::uint64_t kMaxMoovBytes = 256 * 1024;
constexpr std::uint64_t kMaxMoofBytes = 1024 * 1024;

constexpr std::uint32_t kDefaultBaseIsMoof = 0x020000;
constexpr std::uint32_t kTrunFlags = 0x000701;      // data offset; duration, size, flags per sample
constexpr std::uint32_t kAudioTrunFlags = 0x000201; // data offset; size per sample
constexpr std::uint32_t kNonSyncSample = 0x00010000;
constexpr std::uint32_t kMehdBytes = 16;

const char* const kUnreadable = "the file cannot be read";
const char* const kUnwritable = "the file cannot be written";
const char* const kNotOurs = "not a recording of this program";

constexpr std::uint32_t Type(const char (&id)[5]) {
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(id[0])) << 24 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(id[1])) << 16 |
           static_cast<std::uint32_t>(static_cast<std::uint8_t>(id[2])) << 8 |
           static_cast<std::uint8_t>(id[3]);
}

std::uint32_t Be32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

std::uint16_t Be16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

std::uint64_t Be64(const std::uint8_t* p) {
    return std::uint64_t{Be32(p)} << 32 | Be32(p + 4);
}

void Store32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

// A box inside a buffer: its type and what follows its header.
struct TBox {
    std::uint32_t type = 0;
    TView payload;
};

// The boxes that fill `data` back to back; none when one of them does not fit.
std::optional<std::vector<TBox>> Children(TView data) {
    std::vector<TBox> boxes;
    for (std::size_t at = 0; at < data.size();) {
        const std::size_t left = data.size() - at;
        if (left < 8) return std::nullopt;
        std::uint64_t size = Be32(&data[at]);
        std::size_t header = 8;
        if (size == 1) {
            if (left < 16) return std::nullopt;
            size = Be64(&data[at + 8]);
            header = 16;
        } else if (size == 0) {
            size = left; // up to the end of its container
        }
        if (size < header || size > left) return std::nullopt;
        boxes.push_back({Be32(&data[at + 4]), data.subspan(at + header, size - header)});
        at += size;
    }
    return boxes;
}

// The only child of that type; none when there is none or more than one.
std::optional<TView> Only(const std::vector<TBox>& boxes, std::uint32_t type) {
    std::optional<TView> found;
    for (const TBox& box : boxes) {
        if (box.type != type) continue;
        if (found) return std::nullopt;
        found = box.payload;
    }
    return found;
}

std::optional<TView> OnlyChild(TView parent, std::uint32_t type) {
    const auto boxes = Children(parent);
    if (!boxes) return std::nullopt;
    return Only(*boxes, type);
}

// A full box's payload of the given version, without its version and flags; `flags` receives them.
std::optional<TView> Full(std::optional<TView> box, std::uint32_t version, std::size_t bytes,
                          std::uint32_t* flags = nullptr) {
    if (!box || box->size() < 4 + bytes || (*box)[0] != version) return std::nullopt;
    if (flags) *flags = Be32(box->data()) & 0xFFFFFF;
    return box->subspan(4);
}

// The whole box of a payload that Children gave (its header 8 bytes before it).
std::vector<std::uint8_t> WholeBox(TView payload, const char (&id)[5]) {
    std::vector<std::uint8_t> box(8 + payload.size());
    Store32(box.data(), static_cast<std::uint32_t>(box.size()));
    std::copy_n(id, 4, box.begin() + 4);
    std::copy(payload.begin(), payload.end(), box.begin() + 8);
    return box;
}

// A track of the moov: its header, media header and handler, and its sample table, whose sample
// description holds one entry and whose samples are all in the fragments.
struct TTrack {
    std::uint32_t id = 0, handler = 0, timescale = 0;
    TView tkhd, mdhd, stsd;    // the full boxes' payloads
    std::vector<TBox> entries; // stsd's
    std::optional<TView> edts;
};

std::optional<TTrack> ReadTrack(TView trak) {
    TTrack t;
    const auto trakBoxes = Children(trak);
    if (!trakBoxes) return std::nullopt;
    const auto tkhd = Full(Only(*trakBoxes, Type("tkhd")), 0, 80);
    const auto mdia = Only(*trakBoxes, Type("mdia"));
    if (!tkhd || !mdia) return std::nullopt;
    t.tkhd = *tkhd;
    t.id = Be32(&(*tkhd)[8]);
    t.edts = Only(*trakBoxes, Type("edts"));
    const auto mdiaBoxes = Children(*mdia);
    if (!mdiaBoxes) return std::nullopt;
    const auto mdhd = Full(Only(*mdiaBoxes, Type("mdhd")), 0, 20);
    const auto hdlr = Full(Only(*mdiaBoxes, Type("hdlr")), 0, 20);
    const auto minf = Only(*mdiaBoxes, Type("minf"));
    if (!mdhd || !hdlr || !minf) return std::nullopt;
    t.mdhd = *mdhd;
    t.timescale = Be32(&(*mdhd)[8]);
    t.handler = Be32(&(*hdlr)[4]);
    const auto stbl = OnlyChild(*minf, Type("stbl"));
    if (!stbl) return std::nullopt;
    const auto stblBoxes = Children(*stbl);
    if (!stblBoxes) return std::nullopt;
    const auto stsz = Full(Only(*stblBoxes, Type("stsz")), 0, 8);
    const auto stsdBox = Only(*stblBoxes, Type("stsd"));
    const auto stsd = Full(stsdBox, 0, 4);
    if (!stsz || Be32(&(*stsz)[4]) != 0 || !stsd || Be32(stsd->data()) != 1) return std::nullopt;
    t.stsd = *stsdBox;
    auto entries = Children(stsd->subspan(4));
    if (!entries) return std::nullopt;
    t.entries = std::move(*entries);
    return t;
}

// The sound track: an mp4a entry, and an edit list of one edit at the normal rate.
bool ReadAudioTrack(const TTrack& t, std::uint64_t moovPayloadAt, TView moov, Mp4AudioInfo& a) {
    auto at = [&](const std::uint8_t* p) {
        return moovPayloadAt + static_cast<std::uint64_t>(p - moov.data());
    };
    const auto entry = Only(t.entries, Type("mp4a"));
    if (!entry || entry->size() < 28 || t.timescale == 0 || !t.edts) return false;
    const auto elst = Full(OnlyChild(*t.edts, Type("elst")), 0, 16);
    if (!elst || Be32(elst->data()) != 1 || Be32(&(*elst)[12]) != 0x00010000) return false;
    a.timescale = t.timescale;
    a.stsd = WholeBox(t.stsd, "stsd");
    a.priming = Be32(&(*elst)[8]);
    a.editDuration = Be32(&(*elst)[4]);
    a.editDurationAt = at(&(*elst)[4]);
    a.tkhdDuration = Be32(&t.tkhd[16]);
    a.tkhdDurationAt = at(&t.tkhd[16]);
    a.mdhdDuration = Be32(&t.mdhd[12]);
    a.mdhdDurationAt = at(&t.mdhd[12]);
    return true;
}

bool ReadMoov(TView moov, std::uint64_t moovPayloadAt, Mp4FileInfo& info) {
    // File offset of a byte of the buffer.
    auto at = [&](const std::uint8_t* p) {
        return moovPayloadAt + static_cast<std::uint64_t>(p - moov.data());
    };
    const auto boxes = Children(moov);
    if (!boxes) return false;
    const auto mvhd = Full(Only(*boxes, Type("mvhd")), 0, 96);
    const auto mvex = Only(*boxes, Type("mvex"));
    if (!mvhd || !mvex) return false;
    info.movieTimescale = Be32(&(*mvhd)[8]);
    info.mvhdDuration = Be32(&(*mvhd)[12]);
    info.mvhdDurationAt = at(&(*mvhd)[12]);

    // A video track, and maybe a sound track.
    std::optional<TTrack> video, sound;
    for (const TBox& box : *boxes) {
        if (box.type != Type("trak")) continue;
        auto track = ReadTrack(box.payload);
        if (!track) return false;
        auto& slot = track->handler == Type("vide") ? video : sound;
        if (slot || (track->handler != Type("vide") && track->handler != Type("soun")))
            return false;
        slot = track;
    }
    if (!video) return false;
    const TTrack& v = *video;
    info.timescale = v.timescale;
    info.tkhdDuration = Be32(&v.tkhd[16]);
    info.tkhdDurationAt = at(&v.tkhd[16]);
    info.width = Be32(&v.tkhd[72]) >> 16;
    info.height = Be32(&v.tkhd[76]) >> 16;
    info.mdhdDuration = Be32(&v.mdhd[12]);
    info.mdhdDurationAt = at(&v.mdhd[12]);
    if (sound) {
        info.audio.emplace();
        if (sound->id == v.id || !ReadAudioTrack(*sound, moovPayloadAt, moov, *info.audio))
            return false;
    }
    // The movie counts in the sound's time scale when there is sound, else in the video's.
    if (info.timescale == 0 ||
        info.movieTimescale != (sound ? info.audio->timescale : info.timescale))
        return false;
    // The whole box, for the regular moov.
    info.stsd = WholeBox(v.stsd, "stsd");
    const auto entry = Only(v.entries, Type("avc1"));
    if (!entry || entry->size() < 78) return false;
    const auto entryBoxes = Children(entry->subspan(78));
    if (!entryBoxes) return false;
    const auto avcC = Only(*entryBoxes, Type("avcC"));
    // Version, profile, compatibility, level, length size, one SPS and one PPS.
    if (!avcC || avcC->size() < 8 || (*avcC)[0] != 1 || ((*avcC)[4] & 3) != 3 ||
        ((*avcC)[5] & 0x1F) != 1)
        return false;
    const std::size_t spsBytes = Be16(&(*avcC)[6]);
    if (avcC->size() < 8 + spsBytes + 3 || (*avcC)[8 + spsBytes] != 1) return false;
    const std::size_t ppsBytes = Be16(&(*avcC)[9 + spsBytes]);
    if (avcC->size() < 11 + spsBytes + ppsBytes) return false;
    info.sps.assign(avcC->begin() + 8, avcC->begin() + 8 + spsBytes);
    info.pps.assign(avcC->begin() + 11 + spsBytes, avcC->begin() + 11 + spsBytes + ppsBytes);
    if (const auto colr = Only(*entryBoxes, Type("colr"));
        colr && colr->size() >= 11 && Be32(colr->data()) == Type("nclx")) {
        info.hasColour = true;
        info.primaries = Be16(&(*colr)[4]);
        info.transfer = Be16(&(*colr)[6]);
        info.matrix = Be16(&(*colr)[8]);
        info.fullRange = ((*colr)[10] & 0x80) != 0;
    }

    // mvex: a trex for each track (the sound's giving its samples' duration), and the place of
    // mehd, a free box until Finish.
    const auto mvexBoxes = Children(*mvex);
    if (!mvexBoxes) return false;
    bool videoTrex = false;
    for (const TBox& box : *mvexBoxes) {
        if (box.type != Type("trex")) continue;
        const auto trex = Full(box.payload, 0, 20);
        if (!trex) return false;
        const std::uint32_t id = Be32(trex->data());
        if (id == v.id && !videoTrex) {
            videoTrex = true;
        } else if (sound && id == sound->id && info.audio->frameSamples == 0) {
            info.audio->frameSamples = Be32(&(*trex)[8]);
            if (info.audio->frameSamples == 0) return false;
        } else {
            return false;
        }
    }
    if (!videoTrex || (sound && info.audio->frameSamples == 0)) return false;
    info.trackId = v.id;
    if (sound) info.audio->trackId = sound->id;
    const auto free = Only(*mvexBoxes, Type("free"));
    const auto mehd = Only(*mvexBoxes, Type("mehd"));
    if (free.has_value() == mehd.has_value()) return false;
    const TView slot = free ? *free : *mehd;
    if (slot.size() != kMehdBytes - 8) return false;
    info.mehdAt = at(slot.data()) - 8;
    if (mehd) {
        if ((*mehd)[0] != 0) return false;
        info.mehdDuration = Be32(&(*mehd)[4]);
    }
    return true;
}

enum class TStep { Whole, Torn, Unreadable };

// The fragment at `pos`: a moof of the writer's shape following on the fragments before it in
// every track, and its mdat holding exactly its samples' bytes, each track's after the one before.
TStep ReadFragment(RecoveryFile& file, std::uint64_t size, std::uint64_t pos, Mp4FileInfo& info,
                   std::vector<Mp4Sample>& samples, std::vector<Mp4Sample>& audioSamples,
                   std::uint64_t& end) {
    auto torn = [&](const char* why) {
        info.tail = why;
        return TStep::Torn;
    };
    if (size - pos < 8) return torn("a box header is cut short");
    std::uint8_t header[8];
    if (!file.Read(pos, header, sizeof header)) return TStep::Unreadable;
    const std::uint64_t moofBytes = Be32(header);
    if (moofBytes == 0 && Be32(header + 4) == 0) return torn("zeros follow the fragments");
    // A finished file's moof boxes have become free boxes.
    const std::uint32_t type = Be32(header + 4);
    if (type != Type("moof") && type != Type("free"))
        return torn("a box that is not a fragment follows");
    if (moofBytes < 8 || moofBytes > kMaxMoofBytes) return torn("a fragment's size is wrong");
    if (moofBytes + 8 > size - pos) return torn("a fragment is cut short");

    std::vector<std::uint8_t> moof(static_cast<std::size_t>(moofBytes - 8));
    if (!file.Read(pos + 8, moof.data(), moof.size())) return TStep::Unreadable;
    std::uint8_t mdat[8];
    if (!file.Read(pos + moofBytes, mdat, sizeof mdat)) return TStep::Unreadable;

    const auto boxes = Children(moof);
    if (!boxes) return torn("a fragment's boxes do not fit it");
    const auto mfhd = Full(Only(*boxes, Type("mfhd")), 0, 4);
    if (!mfhd) return torn("a fragment's header is not the writer's");
    if (Be32(mfhd->data()) != info.fragments + 1) return torn("a fragment is out of sequence");

    // A track fragment for each track with samples in the fragment, at most one a track.
    struct TRun {
        bool audio;
        TView entries;
        std::uint64_t count;
    };
    std::vector<TRun> runs;
    std::uint64_t dataBytes = 0, duration = 0;
    for (const TBox& box : *boxes) {
        if (box.type != Type("traf")) continue;
        const auto trafBoxes = Children(box.payload);
        if (!trafBoxes) return torn("a fragment's boxes do not fit it");
        std::uint32_t tfhdFlags = 0, trunFlags = 0;
        const auto tfhd = Full(Only(*trafBoxes, Type("tfhd")), 0, 4, &tfhdFlags);
        const auto tfdt = Full(Only(*trafBoxes, Type("tfdt")), 1, 8);
        const auto trun = Full(Only(*trafBoxes, Type("trun")), 0, 8, &trunFlags);
        if (!tfhd || !tfdt || !trun || tfhdFlags != kDefaultBaseIsMoof)
            return torn("a fragment's header is not the writer's");
        // Without sound the track is the video's whatever its number (as files were read before
        // there was sound).
        const std::uint32_t track = Be32(tfhd->data());
        const bool audio = info.audio && track == info.audio->trackId;
        if ((info.audio && !audio && track != info.trackId) ||
            std::any_of(runs.begin(), runs.end(),
                        [&](const TRun& r) { return r.audio == audio; }) ||
            trunFlags != (audio ? kAudioTrunFlags : kTrunFlags))
            return torn("a fragment's header is not the writer's");
        if (Be64(tfdt->data()) != (audio ? info.audio->duration : info.duration))
            return torn("a fragment's time does not follow on");
        // The sample count is checked against the entries there are, before anything is counted.
        const std::uint64_t entryBytes = audio ? 4 : 12;
        const std::uint64_t count = Be32(trun->data());
        if (count == 0 || (trun->size() - 8) / entryBytes != count ||
            (trun->size() - 8) % entryBytes != 0)
            return torn("a fragment's sample count is wrong");
        if (Be32(&(*trun)[4]) != moofBytes + 8 + dataBytes)
            return torn("a fragment's data offset is wrong");
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::uint8_t* e = &(*trun)[8 + entryBytes * i];
            const std::uint32_t sampleBytes = audio ? Be32(e) : Be32(e + 4);
            if (sampleBytes == 0 || (!audio && Be32(e) == 0))
                return torn("a sample is empty or lasts no time");
            if (!audio) duration += Be32(e);
            dataBytes += sampleBytes;
        }
        runs.push_back({audio, trun->subspan(8), count});
    }
    if (runs.empty()) return torn("a fragment's header is not the writer's");
    if (Be32(mdat + 4) != Type("mdat") || Be32(mdat) != dataBytes + 8)
        return torn("a fragment's data box is wrong");
    if (dataBytes + 8 > size - pos - moofBytes) return torn("a fragment's data is cut short");

    samples.clear();
    audioSamples.clear();
    std::uint64_t offset = pos + moofBytes + 8;
    for (const TRun& run : runs) {
        if (run.audio) {
            const std::uint32_t frame = info.audio->frameSamples;
            std::uint64_t time = info.audio->duration;
            for (std::uint64_t i = 0; i < run.count; ++i) {
                const std::uint32_t bytes = Be32(&run.entries[4 * i]);
                audioSamples.push_back({offset, bytes, time, frame, true});
                offset += bytes;
                time += frame;
            }
            info.audio->samples += run.count;
            info.audio->duration = time;
            continue;
        }
        std::uint64_t time = info.duration;
        for (std::uint64_t i = 0; i < run.count; ++i) {
            const std::uint8_t* e = &run.entries[12 * i];
            samples.push_back(
                {offset, Be32(e + 4), time, Be32(e), (Be32(e + 8) & kNonSyncSample) == 0});
            offset += Be32(e + 4);
            time += Be32(e);
        }
        info.samples += run.count;
        info.duration += duration;
    }
    if (type == Type("moof")) info.moofsAt.push_back(pos);
    ++info.fragments;
    end = pos + moofBytes + 8 + dataBytes;
    return TStep::Whole;
}

// Whether each video sample's data is NAL units with 4-byte lengths that fill it exactly, and each
// sound sample ends in a byte that is not zero (an AAC frame ends in its end element's bits, then
// fewer than 8 zero bits). A file whose size reached the disk before its data (a system crash)
// holds zeros there.
enum class TChains { Whole, Broken, Unreadable };

TChains ChainsWhole(RecoveryFile& file, const std::vector<Mp4Sample>& samples,
                    const std::vector<Mp4Sample>& audioSamples) {
    for (const Mp4Sample& sample : samples) {
        const std::uint64_t end = sample.offset + sample.size;
        for (std::uint64_t at = sample.offset; at != end;) {
            // The length, then the NAL header, whose forbidden bit is 0 and type not 0.
            std::uint8_t nal[5];
            if (end - at < sizeof nal) return TChains::Broken;
            if (!file.Read(at, nal, sizeof nal)) return TChains::Unreadable;
            const std::uint32_t length = Be32(nal);
            if (length == 0 || length > end - at - 4 || (nal[4] & 0x80) || (nal[4] & 0x1F) == 0)
                return TChains::Broken;
            at += 4 + std::uint64_t{length};
        }
    }
    for (const Mp4Sample& sample : audioSamples) {
        std::uint8_t last = 0;
        if (!file.Read(sample.offset + sample.size - 1, &last, 1)) return TChains::Unreadable;
        if (last == 0) return TChains::Broken;
    }
    return TChains::Whole;
}

std::uint32_t Clamp32(std::uint64_t v) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(v, 0xFFFFFFFFu));
}

std::nullopt_t Refuse(std::string& why, const char* reason) {
    why = reason;
    return std::nullopt;
}

RecoveryResult LeftAlone(std::string why) {
    return {RecoveryOutcome::LeftAlone, 0, std::move(why)};
}

// Whether the file holds exactly `bytes` from `at` to its end; read a megabyte at a time.
TStep EndsIn(RecoveryFile& file, std::uint64_t at, const std::vector<std::uint8_t>& bytes) {
    if (file.Size() - at != bytes.size()) return TStep::Torn;
    std::vector<std::uint8_t> part;
    for (std::size_t done = 0; done < bytes.size();) {
        const std::size_t n = std::min<std::size_t>(bytes.size() - done, 1 << 20);
        part.resize(n);
        if (!file.Read(at + done, part.data(), n)) return TStep::Unreadable;
        if (!std::equal(part.begin(), part.end(),
                        bytes.begin() + static_cast<std::ptrdiff_t>(done)))
            return TStep::Torn;
        done += n;
    }
    return TStep::Whole;
}

// The regular moov of a file's samples.
std::vector<std::uint8_t> RegularMoovOf(const Mp4FileInfo& info,
                                        const std::vector<Mp4Sample>& samples,
                                        const std::vector<Mp4Sample>& audioSamples) {
    if (!info.audio)
        return RegularMoov(info.timescale, info.width, info.height, info.stsd, samples);
    const Mp4AudioTrack audio{info.audio->timescale, info.audio->stsd, info.audio->priming,
                              info.audio->Length()};
    return RegularMoov(info.timescale, info.width, info.height, info.stsd, samples, &audio,
                       audioSamples);
}

} // namespace

std::optional<Mp4FileInfo> ReadMp4(RecoveryFile& file, std::string& why,
                                   std::vector<Mp4Sample>* samples,
                                   std::vector<Mp4Sample>* audioSamples) {
    const std::uint64_t size = file.Size();
    Mp4FileInfo info;
    // ftyp of the isom brand, then moov.
    std::uint8_t head[16];
    if (size < sizeof head) return Refuse(why, kNotOurs);
    if (!file.Read(0, head, sizeof head)) return Refuse(why, kUnreadable);
    const std::uint64_t ftypBytes = Be32(head);
    if (Be32(head + 4) != Type("ftyp") || Be32(head + 8) != Type("isom") || ftypBytes < 16 ||
        ftypBytes > 64 || ftypBytes + 8 > size)
        return Refuse(why, kNotOurs);
    std::uint8_t moovHeader[8];
    if (!file.Read(ftypBytes, moovHeader, sizeof moovHeader)) return Refuse(why, kUnreadable);
    const std::uint64_t moovBytes = Be32(moovHeader);
    const std::uint32_t moovType = Be32(moovHeader + 4);
    if ((moovType != Type("moov") && moovType != Type("free")) || moovBytes < 8 ||
        moovBytes > kMaxMoovBytes || moovBytes > size - ftypBytes)
        return Refuse(why, kNotOurs);
    info.moovAt = ftypBytes;
    info.moovFreed = moovType == Type("free");
    std::vector<std::uint8_t> moov(static_cast<std::size_t>(moovBytes - 8));
    if (!file.Read(ftypBytes + 8, moov.data(), moov.size())) return Refuse(why, kUnreadable);
    if (!ReadMoov(moov, ftypBytes + 8, info)) return Refuse(why, kNotOurs);

    info.headerEnd = info.wholeEnd = ftypBytes + moovBytes;
    // Where each whole fragment starts, and what was counted before it.
    struct TStart {
        std::uint64_t pos, samples, duration, audioSamples, audioDuration;
    };
    std::vector<TStart> starts;
    std::vector<Mp4Sample> fragment, audioFragment, own, audioOwn;
    if (!samples) samples = &own; // the regular moov is compared with them
    if (!audioSamples) audioSamples = &audioOwn;
    samples->clear();
    audioSamples->clear();
    for (std::uint64_t pos = info.headerEnd; pos < size; pos = info.wholeEnd) {
        const TStart start{pos, info.samples, info.duration, info.audio ? info.audio->samples : 0,
                           info.audio ? info.audio->duration : 0};
        const TStep step =
            ReadFragment(file, size, pos, info, fragment, audioFragment, info.wholeEnd);
        if (step == TStep::Unreadable) return Refuse(why, kUnreadable);
        if (step == TStep::Torn) break;
        starts.push_back(start);
        samples->insert(samples->end(), fragment.begin(), fragment.end());
        audioSamples->insert(audioSamples->end(), audioFragment.begin(), audioFragment.end());
    }
    // The last fragments' data, from the end, until one is whole: those that are not go with the
    // tail. The earlier ones are taken as they are (reading the whole recording would take long).
    // Each track back to what was counted before a fragment.
    auto rewind = [](Mp4FileInfo& i, const TStart& start) {
        i.samples = start.samples;
        i.duration = start.duration;
        if (i.audio) {
            i.audio->samples = start.audioSamples;
            i.audio->duration = start.audioDuration;
        }
    };
    while (!starts.empty()) {
        const TStart last = starts.back();
        Mp4FileInfo before = info;
        before.fragments = starts.size() - 1;
        rewind(before, last);
        std::uint64_t end = 0;
        if (ReadFragment(file, size, last.pos, before, fragment, audioFragment, end) !=
            TStep::Whole)
            return Refuse(why, kUnreadable); // it read as whole a moment ago
        const TChains chains = ChainsWhole(file, fragment, audioFragment);
        if (chains == TChains::Unreadable) return Refuse(why, kUnreadable);
        if (chains == TChains::Whole) break;
        starts.pop_back();
        info.fragments = starts.size();
        rewind(info, last);
        info.wholeEnd = last.pos;
        info.tail = "a fragment's data is not whole";
        samples->resize(static_cast<std::size_t>(last.samples));
        audioSamples->resize(static_cast<std::size_t>(last.audioSamples));
        while (!info.moofsAt.empty() && info.moofsAt.back() >= last.pos)
            info.moofsAt.pop_back();
    }
    // A finished file ends in exactly the regular moov of its samples.
    if (info.wholeEnd < size) {
        const std::vector<std::uint8_t> moov = RegularMoovOf(info, *samples, *audioSamples);
        const TStep step = EndsIn(file, info.wholeEnd, moov);
        if (step == TStep::Unreadable) return Refuse(why, kUnreadable);
        if (step == TStep::Whole) {
            info.regular = true;
            info.tail.clear();
        }
    }
    return info;
}

RecoveryResult FinishMp4(RecoveryFile& file) {
    std::string why;
    std::vector<Mp4Sample> samples, audioSamples;
    const auto info = ReadMp4(file, why, &samples, &audioSamples);
    if (!info) return LeftAlone(why);
    // The sound plays what its edit stated if its samples still hold that, else all they hold.
    const auto& audio = info->audio;
    Mp4AudioTrack track;
    if (audio) {
        track.timescale = audio->timescale;
        track.length = audio->Length();
    }
    const Mp4Durations d = FileDurations(info->timescale, info->duration, audio ? &track : nullptr,
                                         audio ? audio->duration : 0);
    const bool stated =
        info->mvhdDuration == d.movie && info->tkhdDuration == d.video &&
        info->mdhdDuration == d.videoMedia && info->mehdDuration == d.movie &&
        (!audio || (audio->tkhdDuration == d.audio && audio->editDuration == d.audio &&
                    audio->mdhdDuration == d.audioMedia));
    if (info->regular && stated && info->moovFreed && info->moofsAt.empty())
        return {RecoveryOutcome::Finished, 0, {}};

    // The cut first: a file cut short here is read the same way the next time. Until the regular
    // moov is whole, the file is a fragmented one that plays.
    if (!info->regular && info->wholeEnd < file.Size() && !file.Resize(info->wholeEnd))
        return LeftAlone(kUnwritable);
    if (!stated) {
        std::vector<std::pair<std::uint64_t, std::uint32_t>> fields{
            {info->mvhdDurationAt, d.movie},
            {info->tkhdDurationAt, d.video},
            {info->mdhdDurationAt, d.videoMedia}};
        if (audio)
            fields.insert(fields.end(), {{audio->tkhdDurationAt, d.audio},
                                         {audio->editDurationAt, d.audio},
                                         {audio->mdhdDurationAt, d.audioMedia}});
        for (const auto& [at, value] : fields) {
            std::uint8_t field[4];
            Store32(field, value);
            if (!file.Write(at, field, sizeof field)) return LeftAlone(kUnwritable);
        }
        std::uint8_t mehd[kMehdBytes] = {0, 0, 0, kMehdBytes, 'm', 'e', 'h', 'd'};
        Store32(mehd + 12, d.movie);
        if (!file.Write(info->mehdAt, mehd, sizeof mehd)) return LeftAlone(kUnwritable);
    }
    if (!info->regular) {
        // Once the durations are stated, the edit's duration reads back as the one used here.
        Mp4FileInfo finished = *info;
        if (audio) finished.audio->editDuration = d.audio;
        const std::vector<std::uint8_t> moov = RegularMoovOf(finished, samples, audioSamples);
        if (!file.Write(info->wholeEnd, moov.data(), moov.size())) return LeftAlone(kUnwritable);
    }
    // Then the moof boxes become free space, the last first, and the fragmented moov together with
    // the first moof last of all, in one write of the bytes from one to the other: until then
    // players that read fragments play the file from its start (a moof before any moov would stop
    // them), and afterwards they read the regular moov.
    const std::uint8_t free[4] = {'f', 'r', 'e', 'e'};
    const bool firstIsMoof = !info->moofsAt.empty() && info->moofsAt.front() == info->headerEnd;
    for (std::size_t i = info->moofsAt.size(); i-- > (firstIsMoof ? 1 : 0);)
        if (!file.Write(info->moofsAt[i] + 4, free, sizeof free)) return LeftAlone(kUnwritable);
    if (firstIsMoof) {
        std::vector<std::uint8_t> bytes(
            static_cast<std::size_t>(info->headerEnd - info->moovAt + 4));
        if (!file.Read(info->moovAt + 4, bytes.data(), bytes.size())) return LeftAlone(kUnreadable);
        std::copy_n(free, 4, bytes.begin());
        std::copy_n(free, 4, bytes.end() - 4);
        if (!file.Write(info->moovAt + 4, bytes.data(), bytes.size()))
            return LeftAlone(kUnwritable);
    } else if (!info->moovFreed && !file.Write(info->moovAt + 4, free, sizeof free)) {
        return LeftAlone(kUnwritable);
    }
    return {RecoveryOutcome::Rebuilt, Clamp32(info->samples), {}};
}

} // namespace media
