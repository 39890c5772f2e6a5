// RecordNaming: the recording folder's status-line text, the recordings' file names and the
// progress text of a running recording.
#pragma once

#include "core/BrowseRules.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace core {

// A local date and time as the clock gives it.
struct DateTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Shell folder number (CSIDL) of a special folder by the program's small index (7 = Favorites);
// any index outside 1..9 gives the recycle bin, which has no file-system path.
int SpecialFolderNumber(std::uint32_t index);

// "YYYYMMDD": the last four digits of the year, then month and day with two digits each.
std::wstring DateStampOf(const DateTime& t);
// "HHMMSS": hour, minute and second with two digits each.
std::wstring TimeStampOf(const DateTime& t);

// folder + "\" + stamp + extension (".avi", or ".mp4" for the built-in H.264 encoder). The
// separator is always inserted, so a drive root "D:\" gives "D:\\<stamp>.avi". When a file of
// that name exists, "_2", "_3", ... go before the extension, so no recording replaces an earlier
// one and the names still sort by time.
std::wstring RecordFileName(std::wstring_view folder, std::wstring_view stamp,
                            const std::function<bool(const std::wstring&)>& exists,
                            std::wstring_view extension = L".avi");

// The folder text of the status line shortened to a width: the directory part loses one folder
// per step from the front, the cut marked with "...\": " C:\Documents and Settings\user\Favorites"
// -> "...\Documents and Settings\user\Favorites" -> "...\user\Favorites" -> "...\Favorites"
// -> "Favorites". The first form whose width <= available is taken; the bare name otherwise.
std::wstring ShortenFolderText(const TextWidthFn& width, int available, std::wstring_view text);

// " RecordingTime : <seconds> sec ,  FrameNo : <frames>" with the seconds to exactly two
// decimals behind the given separator, rounded half up from the exact millisecond count.
std::wstring ProgressText(std::uint32_t elapsedMs, std::int32_t framesWritten,
                          std::wstring_view decimalSeparator);

} // namespace core
