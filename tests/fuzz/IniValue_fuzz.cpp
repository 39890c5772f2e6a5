// The settings file's integers and the program folder, from any text.
#include "FuzzInput.h"
#include "core/IniValue.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring text = fuzzing::Utf16Text(data, size);
    if (const auto value = core::ParseIniInteger(text))
        FUZZ_CHECK(core::ParseIniInteger(core::FormatIniInteger(*value)) == value);
    const std::wstring folder = core::AppDirFromModulePath(text);
    FUZZ_CHECK(folder.size() < text.size() || folder.empty());
    FUZZ_CHECK(text.compare(0, folder.size(), folder) == 0);
    return 0;
}
