// A recovery note as a crash left it on disk: read, or refused with a reason.
#include "FuzzInput.h"
#include "media/AviRecovery.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string why;
    const auto note = media::ParseRecoveryNote(std::string(data, data + size), why);
    if (!note) {
        FUZZ_CHECK(!why.empty());
        return 0;
    }
    const auto again = media::ParseRecoveryNote(media::FormatRecoveryNote(*note), why);
    FUZZ_CHECK(again && *again == *note);
    return 0;
}
