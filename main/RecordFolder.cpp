#include "main/RecordFolder.h"

#include "base/Handles.h"
#include "core/RecordNaming.h"
#include "settings/libIniFile.h"
#include "ui/BrowseDr.h"

#include <shlobj.h>

namespace mainwin {

namespace {

core::DateTime Now() {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    return core::DateTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsExistingDirectory(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Handles the window messages that are waiting, once; a quit request is put back for the loop.
void ProcessPendingMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

} // namespace

std::wstring GetSpecialFolder(std::uint32_t index, HWND owner) {
    // The shell's allocator is the COM task allocator.
    base::TTaskMemory<ITEMIDLIST> list;
    if (FAILED(SHGetSpecialFolderLocation(owner, core::SpecialFolderNumber(index), list.put())) ||
        !list)
        return std::wstring();
    wchar_t buffer[MAX_PATH + 1] = L"";
    return SHGetPathFromIDListW(list.get(), buffer) ? std::wstring(buffer) : std::wstring();
}

std::wstring DateStamp() {
    return core::DateStampOf(Now());
}

std::wstring TimeStamp() {
    return core::TimeStampOf(Now());
}

std::wstring MakeFileName(const std::wstring& folder, const std::wstring& extension) {
    const std::wstring time = TimeStamp();
    const std::wstring date = DateStamp();
    return core::RecordFileName(folder, date + time, Exists, extension);
}

std::wstring RecordFolder(const std::wstring& iniBase, HWND owner) {
    // No path of the system is longer than 32767 characters, so a longer value names no folder.
    // Wine's path functions also take time quadratic in the length (minutes for a megabyte of
    // "\.\."), and the folder is looked at on every start and resize.
    constexpr std::size_t kLongestPath = 32767;
    const std::wstring favorites = GetSpecialFolder(7, owner);
    std::wstring folder = settings::ReadIniString(iniBase, L"SETTING", L"PATH", favorites);
    return folder.size() <= kLongestPath ? folder : favorites;
}

std::wstring DisplayedRecordFolder(const std::wstring& iniBase, HWND owner) {
    std::wstring folder = RecordFolder(iniBase, owner);
    if (!IsExistingDirectory(folder)) folder = GetSpecialFolder(7, owner);
    return folder;
}

std::wstring RecordFolderTextIn(HDC dc, int width, const std::wstring& folder) {
    auto measure = [dc](std::wstring_view text) {
        SIZE size{};
        if (!GetTextExtentPoint32W(dc, text.data(), static_cast<int>(text.size()), &size)) return 0;
        return static_cast<int>(size.cx);
    };
    return core::ShortenFolderText(measure, width, L" " + folder);
}

std::wstring RecordFolderText(const std::wstring& iniBase, int width, HFONT font, HWND owner) {
    const std::wstring folder = DisplayedRecordFolder(iniBase, owner);
    const base::TMemoryDC dc(CreateCompatibleDC(nullptr));
    if (!dc) return L" " + folder;
    const base::TSelectObject select(dc.get(), font);
    return RecordFolderTextIn(dc.get(), width, folder);
}

bool ChooseRecordFolder(ui::TBrowseDirectoryDlg& dlg, const std::wstring& iniBase, HWND owner) {
    dlg.SetCaption(L"保存フォルダーの指定");
    dlg.SetTitle(L"ファイルの種類 : MP3 WAV");
    dlg.SetStatusText(L"フォルダー選択 :");
    dlg.SetSelection(RecordFolder(iniBase, owner));
    if (!dlg.Execute()) return false;
    ProcessPendingMessages();
    const std::wstring folder = dlg.Selection();
    if (folder.empty()) return false;
    settings::WriteIniString(iniBase, L"SETTING", L"PATH", folder);
    return true;
}

std::wstring LocaleDecimalSeparator() {
    wchar_t buffer[8] = L"";
    const int n = GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, buffer, 8);
    if (n <= 1) return L".";
    return std::wstring(buffer, static_cast<std::size_t>(n - 1));
}

std::wstring FormatProgressText(std::uint32_t elapsedMs, std::int32_t framesWritten) {
    return core::ProgressText(elapsedMs, framesWritten, LocaleDecimalSeparator());
}

} // namespace mainwin
