// The program file itself: the manifest that declares its display scaling, and its version.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

std::wstring ProgramPath() {
    wchar_t path[MAX_PATH] = {};
    GetEnvironmentVariableW(L"QUARNELBY_EXE", path, MAX_PATH);
    return path;
}

// The text between <tag ...> and </tag>, or empty.
std::string Element(const std::string& xml, const std::string& tag) {
    auto open = xml.find("<" + tag + ">");
    if (open == std::string::npos) open = xml.find("<" + tag + " ");
    if (open == std::string::npos) return {};
    const auto start = xml.find('>', open) + 1;
    const auto end = xml.find("</" + tag + ">", start);
    return end == std::string::npos ? std::string{} : xml.substr(start, end - start);
}

} // namespace

TEST(Program, TheManifestDeclaresPerMonitorAwarenessWithASystemFallback) {
    HMODULE exe = LoadLibraryExW(ProgramPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(exe, nullptr) << "cannot open the program";
    HRSRC res = FindResourceW(exe, MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(res, nullptr) << "no manifest resource";
    const auto* data = static_cast<const char*>(LockResource(LoadResource(exe, res)));
    const std::string xml(data, SizeofResource(exe, res));
    FreeLibrary(exe);
    // Windows 10 from 1703 takes the first value it knows; older Windows read dpiAware.
    EXPECT_EQ(Element(xml, "dpiAwareness"), "PerMonitorV2, System");
    EXPECT_EQ(Element(xml, "dpiAware"), "true");
}

TEST(Program, TheVersionResourceNamesTheProduct) {
    const std::wstring path = ProgramPath();
    DWORD ignored = 0;
    std::vector<char> info(GetFileVersionInfoSizeW(path.c_str(), &ignored));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
    auto value = [&](const wchar_t* name) {
        wchar_t* text = nullptr;
        UINT length = 0;
        const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        if (!VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void**>(&text), &length))
            return std::wstring{};
        return std::wstring(text, length ? length - 1 : 0);
    };
    EXPECT_EQ(value(L"ProductName"), L"Zo/quarnelby");
    EXPECT_EQ(value(L"FileDescription"), L"Zo/quarnelby screen recorder");
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(value(L"FileVersion"), std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." +
                                         std::to_wstring(LOWORD(fixed->dwFileVersionMS)) + L"." +
                                         std::to_wstring(HIWORD(fixed->dwFileVersionLS)) + L"." +
                                         std::to_wstring(LOWORD(fixed->dwFileVersionLS)));
}
