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

// What read(buffer, size) gives, read again in a buffer of twice the size until it leaves more
// than `slack` characters free: the module and profile functions cut what does not fit, with
// nothing to tell it from a text of that length.
template <class Read> std::wstring ReadWhole(std::size_t size, DWORD slack, Read read) {
    std::vector<wchar_t> buffer(size);
    for (;;) {
        const DWORD n = read(buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n + slack < buffer.size()) return std::wstring(buffer.data(), n);
        buffer.resize(buffer.size() * 2);
    }
}

// Whether a list of names, each ended by a NUL, holds the name (case aside).
bool ListHolds(const std::wstring& names, const std::wstring& name) {
    for (const wchar_t* n = names.c_str(); n < names.c_str() + names.size() && *n;
         n += wcslen(n) + 1)
        if (core::SameTextAscii(n, name)) return true;
    return false;
}

} // namespace

std::wstring GetAppDir() {
    return core::AppDirFromModulePath(ReadWhole(
        MAX_PATH, 0, [](wchar_t* b, DWORD size) { return GetModuleFileNameW(nullptr, b, size); }));
}

std::wstring ReadIniString(const std::wstring& base, const std::wstring& section,
                           const std::wstring& key, const std::wstring& def) {
    // A value longer than the buffer comes back cut to the buffer's size less one; it is read
    // whole, so that a cut value (a folder's prefix, say) is never taken for the stored one.
    const std::wstring path = IniPath(base);
    return ReadWhole(2048, 1, [&](wchar_t* b, DWORD size) {
        return GetPrivateProfileStringW(section.c_str(), key.c_str(), def.c_str(), b, size,
                                        path.c_str());
    });
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
    // back cut at the size less two.
    const std::wstring path = IniPath(base);
    const std::wstring names = ReadWhole(1024, 2, [&](wchar_t* b, DWORD size) {
        return GetPrivateProfileSectionNamesW(b, size, path.c_str());
    });
    return ListHolds(names, section);
}

bool IniKeyExists(const std::wstring& base, const std::wstring& section, const std::wstring& key) {
    // Without a key name the profile function lists the section's keys, like the section names
    // above; asking for the value cannot tell a missing key from an empty value.
    const std::wstring path = IniPath(base);
    const std::wstring keys = ReadWhole(1024, 2, [&](wchar_t* b, DWORD size) {
        return GetPrivateProfileStringW(section.c_str(), nullptr, L"", b, size, path.c_str());
    });
    return ListHolds(keys, key);
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
