// Messages: the engine's own message texts and captions, shown in message boxes without owner.
#pragma once

namespace engine {

inline constexpr wchar_t kErrorCaption[] = L"Error";
inline constexpr wchar_t kNoticeCaption[] = L"Notice";
inline constexpr wchar_t kCaptureError[] = L"Error capturing a frame!";
inline constexpr wchar_t kBitsError[] = L"Error retrieving bitmap bits";
inline constexpr wchar_t kVersionError[] = L"Failure: Video for Windows version too old!";
inline constexpr wchar_t kCreateError[] = L"Error Creating AVI file";
inline constexpr wchar_t kRetryQuestion[] =
    L"Error recording AVI file using current compressor. Use default compressor? ";

} // namespace engine
