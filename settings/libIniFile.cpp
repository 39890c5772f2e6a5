#include "settings/libIniFile.h"

#include "base/Handles.h"
#include "core/Exception.h"
#include "core/IniValue.h"
#include "core/Text.h"

#include <cwchar>
#include <vector>

namespace settings {

namespace {

std::wstring IniPath(const std::wstring& base) {
    return base + L".ini";
}

// A new settings file starts as UTF-16 with a byte-order mark: the private-profile functions
// then keep it in Unicode, so a folder name outside the ANSI code page survives. An existing
// file, whatever its encoding, is left as it is.
void CreateUnicodeFileIfMissing(const std::wstring& path) {
    const base::TKernelHandle file = base::FileHandle(CreateFileW(
        path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return; // exists already, or cannot be made: the write reports it
    const unsigned char bom[2] = {0xFF, 0xFE};
    DWORD written = 0;
    (void)WriteFile(file.get(), bom, sizeof bom, &written, nullptr);
}

[[noreturn]] void CannotWrite(const std::wstring& path) {
    throw core::Exception(core::FormatMessageS(L"%s に書き込めません", path));
}

} // namespace

std::wstring GetAppDir() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n < buffer.size()) return core::AppDirFromModulePath(std::wstring(buffer.data(), n));
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring ReadIniString(const std::wstring& base, const std::wstring& section,
                           const std::wstring& key, const std::wstring& def) {
    // A value longer than the buffer comes back cut to the buffer's size less one, with nothing
    // to tell it from a value of that length: read again in a larger buffer until it fits, so that
    // a cut value (a folder's prefix, say) is never taken for the stored one.
    std::vector<wchar_t> buffer(2048);
    for (;;) {
        const DWORD n =
            GetPrivateProfileStringW(section.c_str(), key.c_str(), def.c_str(), buffer.data(),
                                     static_cast<DWORD>(buffer.size()), IniPath(base).c_str());
        if (n + 1 < buffer.size()) return std::wstring(buffer.data(), n);
        buffer.resize(buffer.size() * 2);
    }
}

void WriteIniString(const std::wstring& base, const std::wstring& section, const std::wstring& key,
                    const std::wstring& value) {
    const std::wstring path = IniPath(base);
    CreateUnicodeFileIfMissing(path);
    if (!WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(), path.c_str()))
        CannotWrite(path);
}

bool IniSectionExists(const std::wstring& base, const std::wstring& section) {
    // The names come back one after another, each ended by a NUL; a list that does not fit comes
    // back cut at size less two, so read again in a larger buffer.
    std::vector<wchar_t> buffer(1024);
    DWORD n = 0;
    for (;;) {
        n = GetPrivateProfileSectionNamesW(buffer.data(), static_cast<DWORD>(buffer.size()),
                                           IniPath(base).c_str());
        if (n + 2 < buffer.size()) break;
        buffer.resize(buffer.size() * 2);
    }
    for (const wchar_t* name = buffer.data(); name < buffer.data() + n && *name;
         name += wcslen(name) + 1)
        if (core::SameTextAscii(name, section)) return true;
    return false;
}

void EraseIniSection(const std::wstring& base, const std::wstring& section) {
    if (!IniSectionExists(base, section)) return;
    const std::wstring path = IniPath(base);
    if (!WritePrivateProfileStringW(section.c_str(), nullptr, nullptr, path.c_str()))
        CannotWrite(path);
}

std::int32_t ReadIniInteger(const std::wstring& base, const std::wstring& section,
                            const std::wstring& key, std::int32_t def) {
    return core::ParseIniInteger(ReadIniString(base, section, key, L"")).value_or(def);
}

void WriteIniInteger(const std::wstring& base, const std::wstring& section, const std::wstring& key,
                     std::int32_t value) {
    WriteIniString(base, section, key, core::FormatIniInteger(value));
}

core::Rect LoadFormPos(const std::wstring& base, const std::wstring& section,
                       const std::wstring& prefix, core::Rect bounds) {
    bounds.top = ReadIniInteger(base, section, prefix + L"Top", bounds.top);
    bounds.left = ReadIniInteger(base, section, prefix + L"Left", bounds.left);
    return bounds;
}

void SaveFormPos(const std::wstring& base, const std::wstring& section, const std::wstring& prefix,
                 const core::Rect& bounds) {
    WriteIniInteger(base, section, prefix + L"Top", bounds.top);
    WriteIniInteger(base, section, prefix + L"Left", bounds.left);
}

core::Rect LoadFormSize(const std::wstring& base, const std::wstring& section,
                        const std::wstring& prefix, core::Size defaultSize, core::Rect bounds) {
    // A width or height that is not positive is no window's: like an unreadable one it gives the
    // default, where the platform would make the window as small as it allows.
    auto extent = [&](const wchar_t* key, std::int32_t def) {
        const std::int32_t v = ReadIniInteger(base, section, prefix + key, def);
        return v > 0 ? v : def;
    };
    bounds.width = extent(L"Width", defaultSize.width);
    bounds.height = extent(L"Height", defaultSize.height);
    return bounds;
}

void SaveFormSize(const std::wstring& base, const std::wstring& section, const std::wstring& prefix,
                  const core::Rect& bounds) {
    WriteIniInteger(base, section, prefix + L"Width", bounds.width);
    WriteIniInteger(base, section, prefix + L"Height", bounds.height);
}

} // namespace settings
