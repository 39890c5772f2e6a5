// The finishing of an MP4 file a killed recording left: any bytes in. What it finishes must then
// read as a regular file whose moov holds whole fragments' samples, and stay as it is; what it
// leaves alone is not written.
#include "FuzzInput.h"
#include "Mp4Testing.h"
#include "media/Mp4Recovery.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const testing_mp4::TBytes bytes(data, data + size);
    testing_mp4::TMemoryFile file(bytes);
    const media::RecoveryResult result = media::FinishMp4(file);
    if (result.outcome != media::RecoveryOutcome::Rebuilt) {
        FUZZ_CHECK(file.bytes == bytes);
        return 0;
    }
    const testing_mp4::TBytes cut = file.bytes;
    FUZZ_CHECK(media::FinishMp4(file).outcome == media::RecoveryOutcome::Finished);
    FUZZ_CHECK(file.bytes == cut);
    std::string why;
    std::vector<media::Mp4Sample> samples, sound;
    const auto info = media::ReadMp4(file, why, &samples, &sound);
    FUZZ_CHECK(info && info->tail.empty() && info->regular && info->moovFreed &&
               info->moofsAt.empty());
    FUZZ_CHECK(samples.size() == result.frames);
    FUZZ_CHECK(sound.size() == (info->audio ? info->audio->samples : 0));
    for (const auto* track : {&samples, &sound})
        for (const media::Mp4Sample& s : *track)
            FUZZ_CHECK(s.offset <= file.bytes.size() && s.size <= file.bytes.size() - s.offset);
    return 0;
}
