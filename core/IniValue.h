// Text rules of the settings file: integers as stored, and the program folder from its path.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace core {

// Converts a stored value to an integer: "0x"/"0X" (followed by at least one character) and "$"
// introduce hexadecimal, anything else is decimal with an optional sign. The whole text must
// convert and fit a signed 32-bit integer; otherwise there is no value and the caller's default
// applies.
std::optional<std::int32_t> ParseIniInteger(std::wstring_view text);

// Decimal text of an integer, "-" for negative values.
std::wstring FormatIniInteger(std::int32_t value);

// The folder of a program path without its trailing separator: the path cut after its last
// separator, minus that separator ("C:\Tools\rec.exe" -> "C:\Tools", "C:\rec.exe" -> "C:").
std::wstring AppDirFromModulePath(std::wstring_view path);

} // namespace core
