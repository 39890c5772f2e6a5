#include "core/HotkeyRules.h"

#include <gtest/gtest.h>

using core::Hotkey;
using core::ParseHotkey;

TEST(HotkeyRules, ReadsModifiersInAnyOrderAndCaseWithBlanks) {
    const Hotkey ctrlShiftF9{core::kModControl | core::kModShift, 0x78};
    EXPECT_EQ(ParseHotkey(L"Ctrl+Shift+F9").hotkey, ctrlShiftF9);
    EXPECT_EQ(ParseHotkey(L" shift + CTRL+f9 ").hotkey, ctrlShiftF9);
    EXPECT_EQ(ParseHotkey(L"Win+Alt+q").hotkey, (Hotkey{core::kModAlt | core::kModWin, 'Q'}));
    EXPECT_EQ(ParseHotkey(L"F24").hotkey, (Hotkey{0, 0x87}));
    EXPECT_EQ(ParseHotkey(L"Ctrl+7").hotkey, (Hotkey{core::kModControl, '7'}));
    EXPECT_EQ(ParseHotkey(L"Alt+pagedown").hotkey, (Hotkey{core::kModAlt, 0x22}));
    EXPECT_EQ(ParseHotkey(L"Ctrl+Pause").hotkey, (Hotkey{core::kModControl, 0x13}));
    EXPECT_TRUE(ParseHotkey(L"Ctrl+Shift+F9").error.empty());
    // Empty: no hotkey and nothing to report.
    for (const wchar_t* empty : {L"", L"  "}) {
        EXPECT_EQ(ParseHotkey(empty).hotkey.key, 0u);
        EXPECT_TRUE(ParseHotkey(empty).error.empty());
    }
}

TEST(HotkeyRules, AnUnreadableTextIsNoHotkeyWithItsReason) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"Ctrl+Shift", L"no key beside the modifiers"},
        {L"F9+F10", L"two keys, F9 and F10"},
        {L"Ctrl+Shift+Banana", L"no key is called \"Banana\""},
        {L"Ctrl++F9", L"a '+' has no name beside it"},
        {L"Ctrl+", L"a '+' has no name beside it"},
        {L"Ctrl+F25", L"no key is called \"F25\""},
        {L"Ctrl+F0", L"no key is called \"F0\""},
        {L"Ctrl+F1x", L"no key is called \"F1x\""},
        {L"Ctrl+ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz",
         L"no key is called \"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmn…\""},
    };
    for (const auto& [text, reason] : cases) {
        const core::HotkeyParse p = ParseHotkey(text);
        EXPECT_EQ(p.hotkey, Hotkey{}) << text;
        EXPECT_EQ(p.error, reason) << text;
    }
}

TEST(HotkeyRules, EveryKeyIsNamedAsItReads) {
    EXPECT_EQ(core::HotkeyText(ParseHotkey(L"win+shift+alt+ctrl+end").hotkey),
              L"Ctrl+Shift+Alt+Win+End");
    for (const wchar_t* name : {L"F1", L"F10", L"F24", L"A", L"Z", L"0", L"9", L"Space", L"PageUp",
                                L"PageDown", L"Home", L"Insert", L"Delete", L"Pause"}) {
        const std::wstring text = std::wstring(L"Ctrl+") + name;
        EXPECT_EQ(core::HotkeyText(ParseHotkey(text).hotkey), text);
    }
}
