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
constexpr std::uint32_t kTrunFlags = 0x000701; // data offset; duration, size, flags per sample
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

bool ReadMoov(TView moov, std::uint64_t moovPayloadAt, Mp4FileInfo& info) {
    // File offset of a byte of the buffer.
    auto at = [&](const std::uint8_t* p) {
        return moovPayloadAt + static_cast<std::uint64_t>(p - moov.data());
    };
    const auto boxes = Children(moov);
    if (!boxes) return false;
    const auto mvhd = Full(Only(*boxes, Type("mvhd")), 0, 96);
    const auto trak = Only(*boxes, Type("trak"));
    const auto mvex = Only(*boxes, Type("mvex"));
    if (!mvhd || !trak || !mvex) return false;
    info.timescale = Be32(&(*mvhd)[8]);
    info.mvhdDuration = Be32(&(*mvhd)[12]);
    info.mvhdDurationAt = at(&(*mvhd)[12]);

    const auto trakBoxes = Children(*trak);
    if (!trakBoxes) return false;
    const auto tkhd = Full(Only(*trakBoxes, Type("tkhd")), 0, 80);
    const auto mdia = Only(*trakBoxes, Type("mdia"));
    if (!tkhd || !mdia) return false;
    const std::uint32_t trackId = Be32(&(*tkhd)[8]);
    info.tkhdDuration = Be32(&(*tkhd)[16]);
    info.tkhdDurationAt = at(&(*tkhd)[16]);
    info.width = Be32(&(*tkhd)[72]) >> 16;
    info.height = Be32(&(*tkhd)[76]) >> 16;

    const auto mdiaBoxes = Children(*mdia);
    if (!mdiaBoxes) return false;
    const auto mdhd = Full(Only(*mdiaBoxes, Type("mdhd")), 0, 20);
    const auto hdlr = Full(Only(*mdiaBoxes, Type("hdlr")), 0, 20);
    const auto minf = Only(*mdiaBoxes, Type("minf"));
    if (!mdhd || !hdlr || !minf || Be32(&(*hdlr)[4]) != Type("vide")) return false;
    if (Be32(&(*mdhd)[8]) != info.timescale || info.timescale == 0) return false;
    info.mdhdDuration = Be32(&(*mdhd)[12]);
    info.mdhdDurationAt = at(&(*mdhd)[12]);

    const auto stbl = OnlyChild(*minf, Type("stbl"));
    if (!stbl) return false;
    const auto stblBoxes = Children(*stbl);
    if (!stblBoxes) return false;
    // The samples are all in the fragments.
    const auto stsz = Full(Only(*stblBoxes, Type("stsz")), 0, 8);
    const auto stsdBox = Only(*stblBoxes, Type("stsd"));
    const auto stsd = Full(stsdBox, 0, 4);
    if (!stsz || Be32(&(*stsz)[4]) != 0 || !stsd || Be32(stsd->data()) != 1) return false;
    // The whole box, for the regular moov.
    info.stsd = {0, 0, 0, 0, 's', 't', 's', 'd'};
    Store32(info.stsd.data(), static_cast<std::uint32_t>(stsdBox->size() + 8));
    info.stsd.insert(info.stsd.end(), stsdBox->begin(), stsdBox->end());
    const auto entry = OnlyChild(stsd->subspan(4), Type("avc1"));
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

    // mvex: the trex of the track and the place of mehd, a free box until Finish.
    const auto mvexBoxes = Children(*mvex);
    if (!mvexBoxes) return false;
    const auto trex = Full(Only(*mvexBoxes, Type("trex")), 0, 20);
    if (!trex || Be32(trex->data()) != trackId) return false;
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

// The fragment at `pos`: a moof of the writer's shape following on the fragments before it, and
// its mdat holding exactly its samples' bytes.
TStep ReadFragment(RecoveryFile& file, std::uint64_t size, std::uint64_t pos, Mp4FileInfo& info,
                   std::vector<Mp4Sample>& samples, std::uint64_t& end) {
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
    const auto traf = Only(*boxes, Type("traf"));
    if (!mfhd || !traf) return torn("a fragment's header is not the writer's");
    if (Be32(mfhd->data()) != info.fragments + 1) return torn("a fragment is out of sequence");
    const auto trafBoxes = Children(*traf);
    if (!trafBoxes) return torn("a fragment's boxes do not fit it");
    std::uint32_t tfhdFlags = 0, trunFlags = 0;
    const auto tfhd = Full(Only(*trafBoxes, Type("tfhd")), 0, 4, &tfhdFlags);
    const auto tfdt = Full(Only(*trafBoxes, Type("tfdt")), 1, 8);
    const auto trun = Full(Only(*trafBoxes, Type("trun")), 0, 8, &trunFlags);
    if (!tfhd || !tfdt || !trun || tfhdFlags != kDefaultBaseIsMoof || trunFlags != kTrunFlags)
        return torn("a fragment's header is not the writer's");
    if (Be64(tfdt->data()) != info.duration) return torn("a fragment's time does not follow on");
    // The sample count is checked against the entries there are, before anything is counted.
    const std::uint64_t count = Be32(trun->data());
    if (count == 0 || (trun->size() - 8) / 12 != count || (trun->size() - 8) % 12 != 0)
        return torn("a fragment's sample count is wrong");
    if (Be32(&(*trun)[4]) != moofBytes + 8) return torn("a fragment's data offset is wrong");

    std::uint64_t dataBytes = 0, duration = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint8_t* e = &(*trun)[8 + 12 * i];
        if (Be32(e) == 0 || Be32(e + 4) == 0) return torn("a sample is empty or lasts no time");
        duration += Be32(e);
        dataBytes += Be32(e + 4);
    }
    if (Be32(mdat + 4) != Type("mdat") || Be32(mdat) != dataBytes + 8)
        return torn("a fragment's data box is wrong");
    if (dataBytes + 8 > size - pos - moofBytes) return torn("a fragment's data is cut short");

    samples.clear();
    std::uint64_t offset = pos + moofBytes + 8, time = info.duration;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint8_t* e = &(*trun)[8 + 12 * i];
        samples.push_back(
            {offset, Be32(e + 4), time, Be32(e), (Be32(e + 8) & kNonSyncSample) == 0});
        offset += Be32(e + 4);
        time += Be32(e);
    }
    if (type == Type("moof")) info.moofsAt.push_back(pos);
    ++info.fragments;
    info.samples += count;
    info.duration += duration;
    end = pos + moofBytes + 8 + dataBytes;
    return TStep::Whole;
}

// Whether each sample's data is NAL units with 4-byte lengths that fill it exactly. A file whose
// size reached the disk before its data (a system crash) holds zeros there.
enum class TChains { Whole, Broken, Unreadable };

TChains ChainsWhole(RecoveryFile& file, const std::vector<Mp4Sample>& samples) {
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

} // namespace

std::optional<Mp4FileInfo> ReadMp4(RecoveryFile& file, std::string& why,
                                   std::vector<Mp4Sample>* samples) {
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
        std::uint64_t pos, samples, duration;
    };
    std::vector<TStart> starts;
    std::vector<Mp4Sample> fragment, own;
    if (!samples) samples = &own; // the regular moov is compared with them
    samples->clear();
    for (std::uint64_t pos = info.headerEnd; pos < size; pos = info.wholeEnd) {
        const TStart start{pos, info.samples, info.duration};
        const TStep step = ReadFragment(file, size, pos, info, fragment, info.wholeEnd);
        if (step == TStep::Unreadable) return Refuse(why, kUnreadable);
        if (step == TStep::Torn) break;
        starts.push_back(start);
        samples->insert(samples->end(), fragment.begin(), fragment.end());
    }
    // The last fragments' data, from the end, until one is whole: those that are not go with the
    // tail. The earlier ones are taken as they are (reading the whole recording would take long).
    while (!starts.empty()) {
        const TStart last = starts.back();
        Mp4FileInfo before = info;
        before.fragments = starts.size() - 1;
        before.samples = last.samples;
        before.duration = last.duration;
        std::uint64_t end = 0;
        if (ReadFragment(file, size, last.pos, before, fragment, end) != TStep::Whole)
            return Refuse(why, kUnreadable); // it read as whole a moment ago
        const TChains chains = ChainsWhole(file, fragment);
        if (chains == TChains::Unreadable) return Refuse(why, kUnreadable);
        if (chains == TChains::Whole) break;
        starts.pop_back();
        info.fragments = starts.size();
        info.samples = last.samples;
        info.duration = last.duration;
        info.wholeEnd = last.pos;
        info.tail = "a fragment's data is not whole";
        samples->resize(static_cast<std::size_t>(last.samples));
        while (!info.moofsAt.empty() && info.moofsAt.back() >= last.pos)
            info.moofsAt.pop_back();
    }
    // A finished file ends in exactly the regular moov of its samples.
    if (info.wholeEnd < size) {
        const std::vector<std::uint8_t> moov =
            RegularMoov(info.timescale, info.width, info.height, info.stsd, *samples);
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
    std::vector<Mp4Sample> samples;
    const auto info = ReadMp4(file, why, &samples);
    if (!info) return LeftAlone(why);
    const std::uint32_t duration = Clamp32(info->duration);
    const bool stated = info->mvhdDuration == duration && info->tkhdDuration == duration &&
                        info->mdhdDuration == duration && info->mehdDuration == duration;
    if (info->regular && stated && info->moovFreed && info->moofsAt.empty())
        return {RecoveryOutcome::Finished, 0, {}};

    // The cut first: a file cut short here is read the same way the next time. Until the regular
    // moov is whole, the file is a fragmented one that plays.
    if (!info->regular && info->wholeEnd < file.Size() && !file.Resize(info->wholeEnd))
        return LeftAlone(kUnwritable);
    if (!stated) {
        std::uint8_t field[4];
        Store32(field, duration);
        std::uint8_t mehd[kMehdBytes] = {0, 0, 0, kMehdBytes, 'm', 'e', 'h', 'd'};
        Store32(mehd + 12, duration);
        for (const std::uint64_t at :
             {info->mvhdDurationAt, info->tkhdDurationAt, info->mdhdDurationAt})
            if (!file.Write(at, field, sizeof field)) return LeftAlone(kUnwritable);
        if (!file.Write(info->mehdAt, mehd, sizeof mehd)) return LeftAlone(kUnwritable);
    }
    if (!info->regular) {
        const std::vector<std::uint8_t> moov =
            RegularMoov(info->timescale, info->width, info->height, info->stsd, samples);
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
