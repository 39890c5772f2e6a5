// The program's error: a message for the user, raised by the framework and helpers and shown
// by the application's default handler.
#pragma once

#include <exception>
#include <string>
#include <utility>

namespace core {

class Exception : public std::exception {
public:
    explicit Exception(std::wstring message) : message_(std::move(message)) {}
    const std::wstring& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return "quarnelby error (see Message())"; }

private:
    std::wstring message_;
};

// Formats a message with one "%s" replaced by the argument.
inline std::wstring FormatMessageS(std::wstring pattern, const std::wstring& arg) {
    auto at = pattern.find(L"%s");
    if (at != std::wstring::npos) pattern.replace(at, 2, arg);
    return pattern;
}

} // namespace core
