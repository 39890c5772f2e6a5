// What the fuzz targets share: a check that stops the run with the input kept, and a reader that
// takes the parts of one input in turn.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// A broken promise of the code under test: libFuzzer keeps the input that led here.
#define FUZZ_CHECK(condition)                                                                   \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                       \
        }                                                                                       \
    } while (0)

namespace fuzzing {

// Takes numbers from the front of the input; once it is used up every number is 0.
class TInput {
public:
    TInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint32_t Take(int bytes) {
        std::uint32_t value = 0;
        for (int i = 0; i < bytes && size_ > 0; ++i, ++data_, --size_)
            value |= static_cast<std::uint32_t>(*data_) << (8 * i);
        return value;
    }
    const std::uint8_t* Rest() const { return data_; }
    std::size_t RestSize() const { return size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

// The input read as UTF-16 code units, as the settings file's text reaches the program.
inline std::wstring Utf16Text(const std::uint8_t* data, std::size_t size) {
    std::wstring text;
    for (std::size_t i = 0; i + 1 < size; i += 2)
        text.push_back(static_cast<wchar_t>(data[i] | data[i + 1] << 8));
    return text;
}

} // namespace fuzzing
