// KeptOptions: the recording options as the settings file keeps them between runs, read back value
// by value, and the catalogue entry a kept compressor stands for.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace core {

struct KeptOptions {
    // The compressor by its four-character code and description, never by its place in the
    // catalogue, which moves when compressors are installed. An empty code is "No Compression".
    std::wstring compressor;
    std::wstring compressorName;
    std::int32_t quality = 0;
    std::int32_t keyFrameRate = 0;
    std::int32_t captureInterval = 0;
    std::int32_t playbackRate = 0;
    bool drawCursor = false;
    bool highlightCursor = false;
    bool showClicks = false;
    // Sound: the microphone (a capture device by its name, empty for the system's default) and
    // the computer's sound.
    bool microphone = false;
    std::wstring microphoneDevice{};
    bool systemSound = false;
};

// The key and text of every value, in the order the file lists them.
std::vector<std::pair<std::wstring, std::wstring>> KeptOptionTexts(const KeptOptions& options);

// Reads every value through `text` (the stored text of a key, nothing when the key is missing).
// A value that is missing, cannot be read or lies outside what the dialog can set keeps its
// default; the others stand. A compressor code that cannot be one keeps the default compressor;
// an empty one is "No Compression".
KeptOptions
ReadKeptOptions(const std::function<std::optional<std::wstring>(const std::wstring& key)>& text,
                const KeptOptions& defaults);

// The four-character code as the file keeps it: its letters without the blanks that pad it
// ("DIB " -> "DIB"), since the settings file drops trailing blanks anyway.
std::wstring FourCCText(std::uint32_t code);

struct CatalogueEntry {
    std::uint32_t code;
    std::wstring name;
};

// The catalogue index for a kept compressor: -1 for "No Compression" (an empty code), the entry of
// that code (case aside, as the compression manager matches handlers) and, where several share it,
// of that description; defaultIndex when no entry has the code (the compressor is gone).
int KeptCompressorIndex(const KeptOptions& options, const std::vector<CatalogueEntry>& catalogue,
                        int defaultIndex);

} // namespace core
