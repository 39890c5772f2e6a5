// Resources: the names of the program's cursor, icons and button glyphs in quarnelby.rc.
#pragma once

namespace resources {

// Cursor, 32 x 32 monochrome, hot spot (12, 8): the program's hand (application cursor 1).
inline constexpr wchar_t kHandCursor[] = L"hand";
// Icon of the program (16 x 16 and 32 x 32).
inline constexpr wchar_t kProgramIcon[] = L"MAINICON";
// 32 x 32 icons of the confirmation dialog.
inline constexpr wchar_t kInformationIcon[] = L"ICON_INFORMATION";
inline constexpr wchar_t kQuestionIcon[] = L"ICON_QUESTION";
inline constexpr wchar_t kWarningIcon[] = L"ICON_WARNING";
inline constexpr wchar_t kErrorIcon[] = L"ICON_ERROR";
// The dialog's default picture: the information icon in 16 colours.
inline constexpr wchar_t kDefaultInformationIcon[] = L"ICON_INFORMATION16";
// Glyphs of the main window's tool-bar buttons; the bottom-left pixel's colour is see-through.
inline constexpr wchar_t kGlyphRec[] = L"BTNREC";           // 12 x 12
inline constexpr wchar_t kGlyphPause[] = L"BTNPAUSE";       // 12 x 12
inline constexpr wchar_t kGlyphStop[] = L"BTNSTOP";         // 12 x 12
inline constexpr wchar_t kGlyphWindow[] = L"SPDWINDOW";     // 19 x 17
inline constexpr wchar_t kGlyphOptions[] = L"SPEEDBUTTON4"; // 18 x 18
inline constexpr wchar_t kGlyphDir[] = L"SPDDIR";           // 19 x 17
inline constexpr wchar_t kGlyphClose[] = L"BTNCLOSE";       // 16 x 16

} // namespace resources
