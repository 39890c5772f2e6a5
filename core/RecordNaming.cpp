#include "core/RecordNaming.h"

#include <array>

namespace core {

namespace {

// The last `digits` characters of the value's decimal text after a run of zeros.
std::wstring Padded(int value, std::size_t digits) {
    const std::wstring text = std::wstring(digits, L'0') + std::to_wstring(value);
    return text.substr(text.size() - digits);
}

} // namespace

int SpecialFolderNumber(std::uint32_t index) {
    // Desktop directory, start menu, programs, recent, personal, startup, favorites, send to,
    // fonts.
    constexpr std::array<int, 9> kFolders{16, 11, 2, 8, 5, 7, 6, 9, 20};
    if (index >= 1 && index <= kFolders.size()) return kFolders[index - 1];
    return 10; // the recycle bin
}

std::wstring DateStampOf(const DateTime& t) {
    return Padded(t.year, 4) + Padded(t.month, 2) + Padded(t.day, 2);
}

std::wstring TimeStampOf(const DateTime& t) {
    return Padded(t.hour, 2) + Padded(t.minute, 2) + Padded(t.second, 2);
}

std::wstring RecordFileName(std::wstring_view folder, std::wstring_view stamp,
                            const std::function<bool(const std::wstring&)>& exists,
                            std::wstring_view extension) {
    const std::wstring base = std::wstring(folder) + L"\\" + std::wstring(stamp);
    std::wstring name = base + std::wstring(extension);
    for (unsigned n = 2; exists(name); ++n)
        name = base + L"_" + std::to_wstring(n) + std::wstring(extension);
    return name;
}

std::wstring ShortenFolderText(const TextWidthFn& width, int available, std::wstring_view text) {
    const auto slash = text.rfind(L'\\');
    std::wstring dir(slash == std::wstring_view::npos ? std::wstring_view{}
                                                      : text.substr(0, slash + 1));
    const std::wstring name(slash == std::wstring_view::npos ? text : text.substr(slash + 1));
    std::wstring result(text);
    // The text begins with a blank, so its directory is never rooted: every step cuts the first
    // name, the drive with it.
    while (!dir.empty() && width(result) > available) {
        ShortenDirectory(dir);
        result = dir + name;
    }
    return result;
}

std::wstring ProgressText(std::uint32_t elapsedMs, std::int32_t framesWritten,
                          std::wstring_view decimalSeparator) {
    // Whole hundredths, halves up, counted in integers: a binary double of ms / 1000 would
    // round 12.345 down or up depending on its representation.
    const std::uint64_t hundredths = (static_cast<std::uint64_t>(elapsedMs) + 5) / 10;
    const std::uint64_t fraction = hundredths % 100;
    std::wstring text = L" RecordingTime : ";
    text += std::to_wstring(hundredths / 100);
    text += decimalSeparator;
    if (fraction < 10) text += L'0';
    text += std::to_wstring(fraction);
    text += L" sec ,  FrameNo : ";
    text += std::to_wstring(framesWritten);
    return text;
}

} // namespace core
