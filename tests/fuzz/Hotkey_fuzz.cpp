// A hotkey's text from the settings file: read, or refused with a reason.
#include "FuzzInput.h"
#include "core/HotkeyRules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const core::HotkeyParse parse = core::ParseHotkey(fuzzing::Utf16Text(data, size));
    if (!parse.error.empty()) {
        FUZZ_CHECK(parse.hotkey.key == 0);
    } else if (parse.hotkey.key != 0) {
        const core::HotkeyParse again = core::ParseHotkey(core::HotkeyText(parse.hotkey));
        FUZZ_CHECK(again.error.empty() && again.hotkey == parse.hotkey);
    }
    return 0;
}
