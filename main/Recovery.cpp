#include "main/Recovery.h"

#include "base/Handles.h"
#include "engine/RecordOutput.h"
#include "media/FileSplit.h"
#include "media/Mp4Recovery.h"
#include "core/Text.h"

#include <windows.h>

#include <algorithm>

namespace mainwin {

namespace {

using media::kRecoveryNoteSuffix;
constexpr DWORD kMaxNoteBytes = 1 << 16;

std::string ReadNote(HANDLE note, bool& ok) {
    std::string text(kMaxNoteBytes, '\0');
    DWORD got = 0;
    ok = ReadFile(note, text.data(), kMaxNoteBytes, &got, nullptr) && got < kMaxNoteBytes;
    text.resize(got);
    return text;
}

// One note and its file; false when the note is held by a running recording or gone.
bool RecoverOne(const std::wstring& folder, const std::wstring& noteName, TRecoveredFile& out) {
    const std::wstring notePath = folder + L"\\" + noteName;
    const std::wstring filePath =
        notePath.substr(0, notePath.size() - std::size(kRecoveryNoteSuffix) + 1);
    out.name = noteName.substr(0, noteName.size() - std::size(kRecoveryNoteSuffix) + 1);
    // An MP4 file needs nothing from its note: its whole fragments play as they are.
    const bool mp4 = core::SameTextAscii(media::ExtensionOf(out.name), L".mp4");
    // Held without sharing while this program's file is open; taken the same way here, so that
    // two instances starting together do not rebuild one file twice.
    base::TKernelHandle note = base::FileHandle(CreateFileW(
        notePath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!note) return false;
    bool readable = false;
    const std::string text = ReadNote(note.get(), readable);
    std::string why;
    const std::optional<media::RecoveryNote> parsed =
        readable && !mp4 ? media::ParseRecoveryNote(text, why) : std::nullopt;
    if (!parsed && !mp4) {
        out.why = readable ? why : "the note cannot be read";
        return true;
    }
    base::TKernelHandle recording =
        base::FileHandle(CreateFileW(filePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    const auto dropNote = [&] {
        note.reset();
        DeleteFileW(notePath.c_str());
    };
    if (!recording) {
        // Nothing is left to recover when the file itself is gone: its note goes too.
        if (GetLastError() == ERROR_FILE_NOT_FOUND) {
            dropNote();
            return false;
        }
        out.why = "the file cannot be opened";
        return true;
    }
    engine::TWin32RecoveryFile file(recording.get());
    const media::RecoveryResult result =
        mp4 ? media::FinishMp4(file) : media::RecoverAvi(file, *parsed);
    out.outcome = result.outcome;
    out.frames = result.frames;
    out.why = result.why;
    recording.reset();
    if (result.outcome != media::RecoveryOutcome::LeftAlone) dropNote();
    return true;
}

} // namespace

std::vector<TRecoveredFile> RecoverRecordings(const std::wstring& folder) {
    std::vector<TRecoveredFile> files;
    std::vector<std::wstring> notes;
    WIN32_FIND_DATAW found{};
    const HANDLE find = FindFirstFileW((folder + L"\\*" + kRecoveryNoteSuffix).c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return files;
    do {
        // The notes of the program's own recordings: AVI and MP4 files.
        const std::wstring name = found.cFileName;
        const std::wstring extension =
            media::ExtensionOf(name.substr(0, name.size() - std::size(kRecoveryNoteSuffix) + 1));
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            (core::SameTextAscii(extension, L".avi") || core::SameTextAscii(extension, L".mp4")))
            notes.push_back(name);
    } while (FindNextFileW(find, &found));
    FindClose(find);
    std::sort(notes.begin(), notes.end());
    for (const std::wstring& name : notes) {
        TRecoveredFile file;
        if (RecoverOne(folder, name, file)) files.push_back(std::move(file));
    }
    return files;
}

std::wstring RecoveryReport(const std::vector<TRecoveredFile>& files) {
    std::wstring rebuilt, left;
    for (const TRecoveredFile& f : files) {
        if (f.outcome == media::RecoveryOutcome::Rebuilt)
            rebuilt += L"\r\n" + f.name + L": " + std::to_wstring(f.frames) +
                       (f.frames == 1 ? L" frame" : L" frames");
        else if (f.outcome == media::RecoveryOutcome::LeftAlone)
            left += L"\r\n" + f.name + L": " + std::wstring(f.why.begin(), f.why.end());
    }
    std::wstring report;
    if (!rebuilt.empty())
        report += L"Recordings that were interrupted have been recovered:\r\n" + rebuilt;
    if (!left.empty())
        report += std::wstring(report.empty() ? L"" : L"\r\n\r\n") +
                  L"Interrupted recordings left as they are:\r\n" + left;
    return report;
}

} // namespace mainwin
