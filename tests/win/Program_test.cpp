// The program file itself: the manifest that declares its display scaling.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

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
