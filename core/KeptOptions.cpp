#include "core/KeptOptions.h"

#include "core/IniValue.h"
#include "core/OptionRules.h"
#include "core/Text.h"

#include <optional>

namespace core {

namespace {

// The code a kept text stands for: one to four printable ASCII characters, padded with blanks.
std::optional<std::uint32_t> FourCCFromText(std::wstring_view text) {
    if (text.empty() || text.size() > 4) return std::nullopt;
    char letters[4] = {' ', ' ', ' ', ' '};
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] < 0x20 || text[i] > 0x7E) return std::nullopt;
        letters[i] = static_cast<char>(text[i]);
    }
    return FourCC(letters[0], letters[1], letters[2], letters[3]);
}

std::int32_t InRange(const std::wstring& text, std::int32_t low, std::int32_t high,
                     std::int32_t def) {
    const std::optional<std::int32_t> v = ParseIniInteger(text);
    return v && *v >= low && *v <= high ? *v : def;
}

bool Switch(const std::wstring& text, bool def) {
    return InRange(text, 0, 1, def ? 1 : 0) == 1;
}

} // namespace

std::vector<std::pair<std::wstring, std::wstring>> KeptOptionTexts(const KeptOptions& o) {
    auto flag = [](bool on) { return std::wstring(on ? L"1" : L"0"); };
    return {{L"Compressor", o.compressor},
            {L"CompressorName", o.compressorName},
            {L"Quality", FormatIniInteger(o.quality)},
            {L"KeyFrameRate", FormatIniInteger(o.keyFrameRate)},
            {L"CaptureInterval", FormatIniInteger(o.captureInterval)},
            {L"PlaybackRate", FormatIniInteger(o.playbackRate)},
            {L"DrawCursor", flag(o.drawCursor)},
            {L"HighlightCursor", flag(o.highlightCursor)},
            {L"ShowClicks", flag(o.showClicks)},
            {L"Microphone", flag(o.microphone)},
            {L"MicrophoneDevice", o.microphoneDevice},
            {L"SystemSound", flag(o.systemSound)}};
}

KeptOptions
ReadKeptOptions(const std::function<std::optional<std::wstring>(const std::wstring& key)>& text,
                const KeptOptions& defaults) {
    // A missing value reads like an unreadable one.
    auto value = [&](const wchar_t* key) { return text(key).value_or(L""); };
    KeptOptions o = defaults;
    // Only a present key can say "No Compression": a section written by hand without it keeps
    // the default compressor.
    if (const std::optional<std::wstring> code = text(L"Compressor");
        code && (code->empty() || FourCCFromText(*code))) {
        o.compressor = *code;
        o.compressorName = value(L"CompressorName");
    }
    o.quality = InRange(value(L"Quality"), 0, kHighestQuality, defaults.quality);
    // The dialog takes any integer for the key-frame rate.
    o.keyFrameRate = ParseIniInteger(value(L"KeyFrameRate")).value_or(defaults.keyFrameRate);
    o.captureInterval =
        InRange(value(L"CaptureInterval"), 1, kLongestCaptureIntervalMs, defaults.captureInterval);
    o.playbackRate =
        InRange(value(L"PlaybackRate"), 1, kFastestPlaybackRate, defaults.playbackRate);
    o.drawCursor = Switch(value(L"DrawCursor"), defaults.drawCursor);
    o.highlightCursor = Switch(value(L"HighlightCursor"), defaults.highlightCursor);
    o.showClicks = Switch(value(L"ShowClicks"), defaults.showClicks);
    o.microphone = Switch(value(L"Microphone"), defaults.microphone);
    // Any name: a device that is gone is the default's business at the recording's start.
    o.microphoneDevice = text(L"MicrophoneDevice").value_or(defaults.microphoneDevice);
    o.systemSound = Switch(value(L"SystemSound"), defaults.systemSound);
    return o;
}

std::wstring FourCCText(std::uint32_t code) {
    std::wstring text;
    for (int shift = 0; shift < 32; shift += 8)
        text += static_cast<wchar_t>((code >> shift) & 0xFF);
    const auto end = text.find_last_not_of(std::wstring_view(L" \0", 2));
    return text.substr(0, end == std::wstring::npos ? 0 : end + 1);
}

int KeptCompressorIndex(const KeptOptions& options, const std::vector<CatalogueEntry>& catalogue,
                        int defaultIndex) {
    if (options.compressor.empty()) return -1;
    const std::optional<std::uint32_t> code = FourCCFromText(options.compressor);
    if (!code) return defaultIndex;
    int byCode = -1;
    for (std::size_t i = 0; i < catalogue.size(); ++i) {
        if (!SameFourCC(catalogue[i].code, *code)) continue;
        if (catalogue[i].name == options.compressorName) return static_cast<int>(i);
        if (byCode < 0) byCode = static_cast<int>(i);
    }
    return byCode < 0 ? defaultIndex : byCode;
}

} // namespace core
