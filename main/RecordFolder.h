// RecordFolder: the recording folder (settings value, default shell folder, status-line text),
// the file name of a new recording and the progress text of the status line.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace ui {
class TBrowseDirectoryDlg;
}

namespace mainwin {

// Path of a shell special folder by the program's small index (7 = the user's Favorites);
// empty when the folder has no file-system path or cannot be had. owner is the application's
// window, for any message the shell shows.
std::wstring GetSpecialFolder(std::uint32_t index, HWND owner = nullptr);

// "YYYYMMDD" of the current local date.
std::wstring DateStamp();
// "HHMMSS" of the current local time of day.
std::wstring TimeStamp();

// folder + "\" + date and time stamp + extension for a recording starting now (the time of day
// is read before the date); "_2", "_3", ... go before the extension when a file of that name
// exists.
std::wstring MakeFileName(const std::wstring& folder, const std::wstring& extension = L".avi");

// The recording folder as stored ("SETTING", "PATH"), the Favorites folder when none is or when
// the value is longer than any path can be (32767 characters); used unchanged, existing or not.
std::wstring RecordFolder(const std::wstring& iniBase, HWND owner = nullptr);

// The folder the status line shows: the stored one if it is an existing directory, the
// Favorites folder otherwise.
std::wstring DisplayedRecordFolder(const std::wstring& iniBase, HWND owner = nullptr);

// The status-line text of the recording folder: " " + DisplayedRecordFolder, shortened folder by
// folder from the front to fit width pixels in font (the main window's font; the system font when
// none is given).
std::wstring RecordFolderText(const std::wstring& iniBase, int width, HFONT font,
                              HWND owner = nullptr);

// The same rule measuring in a device context with the font already selected.
std::wstring RecordFolderTextIn(HDC dc, int width, const std::wstring& folder);

// Lets the user choose the recording folder in dlg (caption, title and status text of the folder
// dialog, the stored folder selected at opening) and stores a non-empty choice as "PATH". True when
// a folder was stored: the caller then shows the folder again. False on cancel or an empty choice,
// which change nothing. A settings file that cannot be written raises core::Exception.
bool ChooseRecordFolder(ui::TBrowseDirectoryDlg& dlg, const std::wstring& iniBase,
                        HWND owner = nullptr);

// " RecordingTime : 12.34 sec ,  FrameNo : 123", the seconds with two decimals behind the user's
// locale decimal separator.
std::wstring FormatProgressText(std::uint32_t elapsedMs, std::int32_t framesWritten);

// The decimal separator of the user's locale ("." when it cannot be read).
std::wstring LocaleDecimalSeparator();

} // namespace mainwin
