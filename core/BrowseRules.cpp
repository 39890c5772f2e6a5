#include "core/BrowseRules.h"

#include "core/Text.h"

#include <array>

namespace core {

namespace {

struct RootEntry {
    int nt;
    int other;
};

// In the order of the root list: desktop, internet, programs, control panel, printers, personal,
// favorites, startup, recent, send to, recycle bin, start menu, desktop directory, drives,
// network, net hood, fonts, templates, the four common folders, app data, print hood and the
// expanded desktop.
constexpr std::array<RootEntry, 25> kRoots{{
    {0, 0},   {1, 1},   {2, 2},   {3, 3},           {4, 4},   {5, 5},   {6, 6},
    {7, 7},   {8, 8},   {9, 9},   {10, 10},         {11, 11}, {16, 16}, {17, 17},
    {18, 18}, {19, 19}, {20, 20}, {21, 21},         {22, 11}, {23, 2},  {24, 7},
    {25, 16}, {26, 26}, {27, 27}, {0xFEFE, 0xFEFE},
}};

// Directories only, domain only, ancestors, computers, printers, include files.
constexpr std::array<std::uint32_t, 6> kFlags{0x0001, 0x0002, 0x0008, 0x1000, 0x2000, 0x4000};

constexpr std::wstring_view kMarker = L"...\\";

bool Fits(const TextWidthFn& width, int available, std::wstring_view text) {
    return available >= width(text);
}

bool IsLowSurrogate(wchar_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}
bool IsHighSurrogate(wchar_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}

} // namespace

int BrowseRootFolderNumber(int rootIndex, bool ntFamily) {
    if (rootIndex < 0 || rootIndex >= static_cast<int>(kRoots.size())) return 0;
    const RootEntry& e = kRoots[static_cast<std::size_t>(rootIndex)];
    return ntFamily ? e.nt : e.other;
}

std::uint32_t BrowseFlagValue(int flagIndex) {
    if (flagIndex < 0 || flagIndex >= static_cast<int>(kFlags.size())) return 0;
    return kFlags[static_cast<std::size_t>(flagIndex)];
}

std::wstring NormalizeSelection(std::wstring_view s) {
    std::wstring result(s);
    if (result.empty()) return result;
    if (result.size() < 4 && result.size() >= 2 && result[1] == L':') {
        if (result.size() == 2) result += L'\\';
        return result;
    }
    if (result.back() == L'\\' && result != L"\\") result.pop_back();
    return result;
}

void ShortenDirectory(std::wstring& dir) {
    if (dir == L"\\") {
        dir.clear();
        return;
    }
    const bool rooted = !dir.empty() && dir.front() == L'\\';
    if (rooted) dir.erase(0, 1);
    // Only the marker of an earlier cut is skipped, so a folder whose name begins with a dot
    // (".config") is cut like any other.
    if (dir.starts_with(kMarker)) dir.erase(0, kMarker.size());
    const auto slash = dir.find(L'\\');
    if (slash != std::wstring::npos)
        dir = std::wstring(kMarker) + dir.substr(slash + 1);
    else
        dir.clear();
    if (rooted) dir.insert(0, 1, L'\\');
}

std::wstring FitText(const TextWidthFn& width, int available, std::wstring_view text) {
    std::wstring result(text);
    std::wstring work(text);
    while (!work.empty() && !Fits(width, available, result)) {
        // Drop a whole character: a surrogate pair goes as one.
        const bool pair = work.size() >= 2 && IsLowSurrogate(work.back()) &&
                          IsHighSurrogate(work[work.size() - 2]);
        work.resize(work.size() - (pair ? 2 : 1));
        result = work + L"...";
    }
    return result;
}

std::wstring FitPath(const TextWidthFn& width, int available, std::wstring_view path) {
    std::wstring result(path);
    const auto split = path.find_last_of(L"\\:");
    std::wstring dir(split == std::wstring_view::npos ? std::wstring_view{}
                                                      : path.substr(0, split + 1));
    const std::wstring name(split == std::wstring_view::npos ? path : path.substr(split + 1));
    std::wstring drive;
    if (dir.size() >= 2 && dir[1] == L':') {
        drive = dir.substr(0, 2);
        dir.erase(0, 2);
    }
    while ((!dir.empty() || !drive.empty()) && !Fits(width, available, result)) {
        if (dir == L"\\...\\") {
            drive.clear();
            dir = kMarker;
        } else if (dir.empty()) {
            drive.clear();
        } else {
            ShortenDirectory(dir);
        }
        result = drive + dir + name;
    }
    return result;
}

std::optional<int> DriveRootNumber(std::wstring_view s) {
    if (s.size() != 3 || s[1] != L':' || s[2] != L'\\') return std::nullopt;
    const int number = static_cast<int>(AsciiUpper(s[0])) - static_cast<int>(L'A');
    if (number < 0 || number > 31) return std::nullopt;
    return number;
}

} // namespace core
