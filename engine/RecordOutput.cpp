#include "engine/RecordOutput.h"

namespace engine {

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
