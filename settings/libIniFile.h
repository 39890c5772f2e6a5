// libIniFile: the settings file beside the program, read and written through the
// private-profile functions, and the helpers that keep a window's position and size there.
#pragma once

#include "core/Geometry.h"
#include "forms/Forms.h"

#include <cstdint>
#include <string>

namespace settings {

// The program's folder without a trailing separator ("C:" for a program in a drive root).
std::wstring GetAppDir();

// Every helper takes the settings path without its extension and appends ".ini".
std::wstring ReadIniString(const std::wstring& base, const std::wstring& section,
                           const std::wstring& key, const std::wstring& def);
// Raises core::Exception "<path> に書き込めません" when the platform refuses the write.
void WriteIniString(const std::wstring& base, const std::wstring& section, const std::wstring& key,
                    const std::wstring& value);

std::int32_t ReadIniInteger(const std::wstring& base, const std::wstring& section,
                            const std::wstring& key, std::int32_t def);
void WriteIniInteger(const std::wstring& base, const std::wstring& section, const std::wstring& key,
                     std::int32_t value);

void LoadFormPos(const std::wstring& base, const std::wstring& section, const std::wstring& prefix,
                 forms::TForm& form);
void SaveFormPos(const std::wstring& base, const std::wstring& section, const std::wstring& prefix,
                 forms::TForm& form);
void LoadFormSize(const std::wstring& base, const std::wstring& section, const std::wstring& prefix,
                  core::Size defaultSize, forms::TForm& form);
void SaveFormSize(const std::wstring& base, const std::wstring& section, const std::wstring& prefix,
                  forms::TForm& form);

} // namespace settings
