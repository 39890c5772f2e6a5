// BrowseRules: the folder browser's portable rules: root and flag tables, the selection sent to
// the shell's picker, the status-text fits and the centring of the dialog.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace core {

// Width of a text in pixels in the font of the window it will be shown in.
using TextWidthFn = std::function<int(std::wstring_view)>;

// Shell folder number (CSIDL) of a tree root, by its position in the root list (desktop 0 ...
// expanded desktop 24). Outside the NT family the common folders fall back to the user's own.
// Positions outside the list give the desktop.
int BrowseRootFolderNumber(int rootIndex, bool ntFamily);

// The shell browse flag of a flag member by its position (directories only 0 ... include files 5);
// 0 for positions outside the list.
std::uint32_t BrowseFlagValue(int flagIndex);

// The selection as the picker takes it as text: a bare drive gets its root backslash ("C:" ->
// "C:\"), a folder loses its trailing backslash ("D:\Video\" -> "D:\Video"); "\" and empty stay.
std::wstring NormalizeSelection(std::wstring_view s);

// Removes the first remaining folder name of a directory text and marks the cut with "...\":
// "\Program Files\Video\" -> "\...\Video\" -> "\...\"; "\" -> "".
void ShortenDirectory(std::wstring& dir);

// The longest prefix of text that fits, followed by "..." ("..." alone when none fits); a text
// that fits is returned as it is. A text fits when width(text) <= available.
std::wstring FitText(const TextWidthFn& width, int available, std::wstring_view text);

// A path shortened folder by folder from the front until it fits: "C:\Program Files\Video\Output"
// -> "C:\...\Video\Output" -> "C:\...\Output" -> "...\Output" -> "Output". May stay too wide
// once only the bare name is left.
std::wstring FitPath(const TextWidthFn& width, int available, std::wstring_view path);

// Drive number (A = 0, the letter upper-cased) of a drive root text such as "c:\"; none for any
// other text and for numbers outside 0..31, the bits of the logical-drive mask.
std::optional<int> DriveRootNumber(std::wstring_view s);

} // namespace core
