#include "engine/RecordOutput.h"

#include <algorithm>

namespace engine {

namespace {

// Reads or writes size bytes in parts the system calls take, until all are done or a call fails
// or moves nothing.
template <class Bytes, class Call> bool Transfer(Bytes* p, std::size_t size, Call call) {
    while (size > 0) {
        DWORD done = 0;
        const DWORD part = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 20));
        if (!call(p, part, done) || done == 0) return false;
        p += done, size -= done;
    }
    return true;
}

} // namespace

std::uint64_t TWin32RecoveryFile::Size() {
    LARGE_INTEGER size{};
    return GetFileSizeEx(file_, &size) ? static_cast<std::uint64_t>(size.QuadPart) : 0;
}

bool TWin32RecoveryFile::Read(std::uint64_t offset, void* data, std::size_t size) {
    return Seek(offset) &&
           Transfer(static_cast<BYTE*>(data), size, [this](BYTE* p, DWORD n, DWORD& done) {
               return ReadFile(file_, p, n, &done, nullptr);
           });
}

bool TWin32RecoveryFile::Write(std::uint64_t offset, const void* data, std::size_t size) {
    return Seek(offset) && Transfer(static_cast<const BYTE*>(data), size,
                                    [this](const BYTE* p, DWORD n, DWORD& done) {
                                        return WriteFile(file_, p, n, &done, nullptr);
                                    });
}

bool TWin32RecoveryFile::Resize(std::uint64_t size) {
    return Seek(size) && SetEndOfFile(file_);
}

bool TWin32RecoveryFile::Seek(std::uint64_t offset) {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(file_, at, nullptr, FILE_BEGIN);
}

base::TKernelHandle WriteRecoveryNote(const std::wstring& noteName, const std::string& text) {
    base::TKernelHandle note =
        base::FileHandle(CreateFileW(noteName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!note) return note;
    DWORD written = 0;
    if (!WriteFile(note.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size()) {
        note.reset();
        DeleteFileW(noteName.c_str());
    }
    return note;
}

} // namespace engine
