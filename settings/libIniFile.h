// libIniFile: the settings file beside the program, read and written through the
// private-profile functions, and the helpers that keep a window's position and size there.
#pragma once

#include "core/Geometry.h"

#include <cstdint>
#include <string>

namespace settings {

// The program's folder without a trailing separator ("C:" for a program in a drive root).
std::wstring GetAppDir();

// Every helper takes the settings path without its extension and appends ".ini".
// Values are read whole, whatever their length.
std::wstring ReadIniString(const std::wstring& base, const std::wstring& section,
                           const std::wstring& key, const std::wstring& def);
// Raises core::Exception "<path> に書き込めません" when the platform refuses the write.
void WriteIniString(const std::wstring& base, const std::wstring& section, const std::wstring& key,
                    const std::wstring& value);

// Whether the file has the section (with or without keys); case aside, as the platform reads it.
bool IniSectionExists(const std::wstring& base, const std::wstring& section);
// Whether the section has the key (with any value, an empty one too); case aside, as above.
bool IniKeyExists(const std::wstring& base, const std::wstring& section, const std::wstring& key);
// Removes the section and its keys; a file without it is left as it is. Raises as WriteIniString.
void EraseIniSection(const std::wstring& base, const std::wstring& section);

std::int32_t ReadIniInteger(const std::wstring& base, const std::wstring& section,
                            const std::wstring& key, std::int32_t def);
void WriteIniInteger(const std::wstring& base, const std::wstring& section, const std::wstring& key,
                     std::int32_t value);

// A window's place as the file keeps it: prefix + "Top", "Left", "Width" and "Height". Loading
// gives the bounds with the values read from the file; a missing or unreadable one keeps the
// bounds' own (the position) or the default (the size, also for a width or height under 1).
core::Rect LoadFormPos(const std::wstring& base, const std::wstring& section,
                       const std::wstring& prefix, core::Rect bounds);
void SaveFormPos(const std::wstring& base, const std::wstring& section, const std::wstring& prefix,
                 const core::Rect& bounds);
core::Rect LoadFormSize(const std::wstring& base, const std::wstring& section,
                        const std::wstring& prefix, core::Size defaultSize, core::Rect bounds);
void SaveFormSize(const std::wstring& base, const std::wstring& section, const std::wstring& prefix,
                  const core::Rect& bounds);

} // namespace settings
