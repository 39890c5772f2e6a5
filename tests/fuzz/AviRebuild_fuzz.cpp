// The rebuild of a file a crash left: any bytes in. A file it rebuilt must then read as finished
// and stay as it is; a file it leaves alone or finds finished is not written.
#include "FuzzInput.h"
#include "Mp4Testing.h"
#include "media/AviRecovery.h"
#include "core/Text.h"

namespace {

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// Notes as the recording writes them: 32-bit frames uncompressed, Video 1, and 8-bit with its
// colour table; each without sound (picks 0 to 2) and with 48 kHz stereo 16-bit sound (3 to 5).
media::RecoveryNote Note(std::uint32_t pick) {
    const std::uint32_t bits[] = {32, 16, 8};
    const std::uint32_t compression[] = {0, core::FourCC("CRAM"), 0};
    const std::uint32_t n = pick % 3;
    media::RecoveryNote note{8, 4, bits[n], compression[n], core::FourCC("MSVC"), 10, 1, 0, {}, {}};
    for (const std::uint32_t v : {40u, 8u, 4u, 1 | bits[n] << 16, compression[n]})
        Put32(note.format, v);
    note.format.resize(bits[n] == 8 ? 40 + 1024 : 40);
    if (pick / 3 % 2 == 1) {
        for (const std::uint32_t v : {0x00020001u, 48000u, 192000u, 0x00100004u})
            Put32(note.sound, v);
        note.sound.resize(18);
    }
    return note;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::TInput in(data, size);
    const media::RecoveryNote note = Note(in.Take(1));
    const testing_mp4::TBytes bytes(in.Rest(), in.Rest() + in.RestSize());
    testing_mp4::TMemoryFile file(bytes);
    const media::RecoveryResult result = media::RecoverAvi(file, note);
    if (result.outcome != media::RecoveryOutcome::Rebuilt) {
        FUZZ_CHECK(file.bytes == bytes);
        FUZZ_CHECK((result.outcome == media::RecoveryOutcome::LeftAlone) == !result.why.empty());
        return 0;
    }
    const testing_mp4::TBytes rebuilt = file.bytes;
    FUZZ_CHECK(media::RecoverAvi(file, note).outcome == media::RecoveryOutcome::Finished);
    FUZZ_CHECK(file.bytes == rebuilt);
    return 0;
}
