// The settings file as a user or another program may have left it, read by the main window at
// start: it opens on a monitor at a sane size, with the defaults for what it cannot read and the
// values it can.
#include "main/Main.h"

#include "ControlTesting.h"
#include "core/HotkeyRules.h"
#include "core/MainRules.h"
#include "main/RecordFolder.h"
#include "settings/libIniFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

using namespace mainwin;

namespace {

const std::filesystem::path kFolder = std::filesystem::temp_directory_path() / "quarnelby-ini";
const std::string kPath = "[SETTING]\r\nPATH=" + kFolder.string() + "\r\n";

// Bytes of every value, NULs among them; the first is no byte-order mark.
std::string Junk(std::size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 16);
    s[0] = 'x';
    return s;
}

std::string Utf16(const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

std::string Repeat(const std::string& s, int n) {
    std::string r;
    while (n--)
        r += s;
    return r;
}

constexpr core::Hotkey kRecord{MOD_CONTROL | MOD_SHIFT, VK_F9},
    kPause{MOD_CONTROL | MOD_SHIFT, VK_F10}, kStop{MOD_CONTROL | MOD_SHIFT, VK_F11},
    kAltShiftS{MOD_ALT | MOD_SHIFT, 'S'};
const std::vector<core::Hotkey> kDefaultKeys{kRecord, kPause, kStop};
constexpr core::Rect kDeclared{274, 122, 328, 290};

struct TCase {
    const char* name;
    std::optional<core::Rect> bounds; // when the file decides them; otherwise only sane
    bool folderKept;                  // the good PATH line is the recording folder
    std::vector<core::Hotkey> held;   // the hotkeys the window holds
    std::vector<std::wstring> report; // parts of the start-up message; none: no message
    std::string file;
};
void PrintTo(const TCase& c, std::ostream* os) {
    *os << c.name;
}

const std::string kUtf16Cut =
    Utf16(L"\xFEFF[FORM]\r\nMainLeft=300\r\nMainTop=200\r\nMainWidth=400\r\n"
          L"MainHeight=350\r\n[SETTING]\r\nPATH=" +
          kFolder.wstring() + L"\r\n[HOTKEY]\r\nStop=Alt+Shift+S\r\n");

const TCase kCases[] = {
    // Among the junk, the form's values are no numbers either.
    {"BinaryJunkAroundOneGoodLine",
     kDeclared,
     true,
     kDefaultKeys,
     {},
     Junk(4096, 1) + "\r\n[FORM]\r\nMainLeft=99999999999\r\nMainTop=12px\r\nMainWidth=1e3\r\n" +
         "MainHeight=0x\r\n" + kPath + Junk(4096, 2)},
    // The last line break is cut in half.
    {"Utf16CutInTheLastCharacter",
     core::Rect{300, 200, 400, 350},
     true,
     {kRecord, kPause, kAltShiftS},
     {},
     kUtf16Cut.substr(0, kUtf16Cut.size() - 1)},
    // Cut to the read buffer, the PATH would name the good folder.
    {"MegabyteLines",
     core::Rect{300, 122, 328, 290},
     false,
     {kPause, kStop},
     {L"\r\nRecord: \"Ctrl+QQQ"},
     "[SETTING]\r\nPATH=" + kFolder.string() + Repeat("\\.", 500000) +
         "\\gone\r\n[HOTKEY]\r\nRecord=Ctrl+" + std::string(1 << 20, 'Q') +
         "\r\n[FORM]\r\nMainLeft=300\r\n"},
    {"HugeNumbersAndGarbledHotkeys",
     std::nullopt,
     false,
     {},
     {L"\r\nRecord: ", L"\r\nPause: ", L"\r\nStop: "},
     "[FORM]\r\nMainLeft=2147483647\r\nMainTop=2147483647\r\nMainWidth=2147483647\r\n"
     "MainHeight=2147483647\r\n[HOTKEY]\r\nRecord=Ctrl++F9\r\nPause=F10+F11\r\n"
     "Stop=\x01\xff\x80+Shift\r\n"},
    {"NegativeNumbers",
     core::Rect{0, 0, 328, 290},
     true,
     kDefaultKeys,
     {},
     "[FORM]\r\nMainLeft=-2147483648\r\nMainTop=-2147483648\r\nMainWidth=-328\r\n"
     "MainHeight=-1\r\n" +
         kPath},
};

// Whether some window holds the hotkey: then this thread cannot register it.
bool Held(const core::Hotkey& k) {
    if (!RegisterHotKey(nullptr, 0x200, k.modifiers, k.key)) return true;
    UnregisterHotKey(nullptr, 0x200);
    return false;
}

class SettingsFileTest : public ::testing::TestWithParam<TCase> {
protected:
    static void SetUpTestSuite() { forms::Application.Initialize(); }
    void SetUp() override { std::filesystem::create_directory(kFolder); }
    void TearDown() override {
        if (frmMain) frmMain->Free();
        frmMain = nullptr;
        std::filesystem::remove_all(kFolder);
        DeleteFileW((base_ + L".ini").c_str());
    }
    const std::wstring base_ = settings::GetAppDir() + L"\\Quarnelby";
};

TEST_P(SettingsFileTest, StartsWithTheDefaultsForWhatItCannotRead) {
    const TCase& c = GetParam();
    std::ofstream(std::filesystem::path(base_ + L".ini"), std::ios::binary) << c.file;
    const std::wstring report =
        AnswerMessageBoxWhile(L"Zo/quarnelby", [] { (frmMain = new TfrmMain())->Show(); });

    RECT rc{};
    ASSERT_TRUE(GetWindowRect(frmMain->Handle(), &rc));
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ASSERT_TRUE(GetMonitorInfoW(MonitorFromRect(&rc, MONITOR_DEFAULTTONULL), &monitor))
        << "on no monitor: " << rc.left << "," << rc.top;
    const core::Rect window = core::Rect::FromEdges(rc.left, rc.top, rc.right, rc.bottom);
    EXPECT_EQ(frmMain->BoundsRect(), window);
    if (c.bounds) {
        EXPECT_EQ(window, *c.bounds);
    }
    EXPECT_GE(window.width, core::kMainMinTrackWidth);
    EXPECT_GE(window.height, core::kMainMinTrackHeight);
    EXPECT_LE(window.width, monitor.rcWork.right - monitor.rcWork.left);
    EXPECT_LE(window.height, monitor.rcWork.bottom - monitor.rcWork.top);

    const std::wstring folder = c.folderKept ? kFolder.wstring() : GetSpecialFolder(7);
    EXPECT_EQ(RecordFolder(IniBaseName), folder);
    EXPECT_EQ(DisplayedRecordFolder(IniBaseName), folder);
    EXPECT_EQ(frmMain->pnlMsg->Caption().find(kFolder.filename().wstring()) != std::wstring::npos,
              c.folderKept);

    for (const core::Hotkey& k : {kRecord, kPause, kStop, kAltShiftS})
        EXPECT_EQ(Held(k), std::find(c.held.begin(), c.held.end(), k) != c.held.end()) << k.key;
    EXPECT_EQ(report.empty(), c.report.empty());
    EXPECT_LT(report.size(), 1000u);
    for (const std::wstring& part : c.report)
        EXPECT_NE(report.find(part), std::wstring::npos) << std::string(part.begin(), part.end());
}

INSTANTIATE_TEST_SUITE_P(Malformed, SettingsFileTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
