#include "Mp4Testing.h"

#include <algorithm>
#include <cstring>

namespace testing_mp4 {

bool TMemoryFile::Read(std::uint64_t at, void* data, std::size_t size) {
    if (failReads || at > bytes.size() || size > bytes.size() - at) return false;
    if (size > 0) std::memcpy(data, bytes.data() + at, size); // data may be null then
    return true;
}

bool TMemoryFile::Write(std::uint64_t at, const void* data, std::size_t size) {
    if (writesLeft <= 0) return false;
    --writesLeft;
    if (at + size > failAfter) return false;
    bytes.resize(std::max<std::uint64_t>(bytes.size(), at + size));
    if (size > 0) std::memcpy(bytes.data() + at, data, size);
    ++writes;
    return true;
}

bool TMemoryFile::Resize(std::uint64_t size) {
    if (writesLeft <= 0) return false;
    --writesLeft;
    if (size > failAfter) return false;
    bytes.resize(size, 0xEE);
    ++writes;
    return true;
}

TBytes TestSps() {
    return {0x67, 66, 0xC0, 30, 0xDA, 0x02, 0x80, 0xBF, 0xE5, 0x84};
}

TBytes TestPps() {
    return {0x68, 0xCE, 0x3C, 0x80};
}

TBytes AccessUnit(int n, bool idr) {
    TBytes slice{static_cast<std::uint8_t>(idr ? 0x65 : 0x41), 0x88};
    for (int i = 0; i < 20 + n % 13; ++i)
        slice.push_back(static_cast<std::uint8_t>(n * 7 + i + 1));
    TBytes au;
    for (const TBytes& nal : idr ? std::vector<TBytes>{{0x09, 0xF0}, TestSps(), TestPps(), slice}
                                 : std::vector<TBytes>{{0x09, 0xF0}, slice}) {
        au.insert(au.end(), {0, 0, 0, 1});
        au.insert(au.end(), nal.begin(), nal.end());
    }
    return au;
}

media::Mp4AudioFormat TestAudioFormat() {
    return {48000, 2, 1024, 1600, 128000, 1536, {0x11, 0x90}};
}

TBytes AudioUnit(int n) {
    TBytes unit(40 + n % 17);
    for (std::size_t i = 0; i < unit.size(); ++i)
        unit[i] = static_cast<std::uint8_t>(n * 5 + i);
    unit.back() = 0xE0;
    return unit;
}

void WriteTestFile(TMemoryFile& file, const std::vector<std::uint64_t>& ticks, int keyEvery,
                   const std::vector<int>& flushAfter, bool finish, std::uint32_t lastDuration,
                   bool withSound) {
    media::TMp4Writer writer(file);
    if (withSound) writer.AddAudioTrack(TestAudioFormat());
    writer.Begin(64, 48, 10, TestSps(), TestPps());
    int units = 0;
    for (int i = 0; i < static_cast<int>(ticks.size()); ++i) {
        writer.AddSample(AccessUnit(i, i % keyEvery == 0), ticks[i], i % keyEvery == 0);
        // The sound up to this sample's end, behind the priming.
        while (withSound && units * 1024u < (ticks[i] - ticks[0] + 1) * 4800 + 1600)
            writer.AddAudioSample(AudioUnit(units++));
        if (std::find(flushAfter.begin(), flushAfter.end(), i) != flushAfter.end()) writer.Flush();
    }
    if (withSound) writer.SetAudioLength((ticks.back() + lastDuration - ticks[0]) * 4800);
    if (finish) writer.Finish(lastDuration);
}

} // namespace testing_mp4
