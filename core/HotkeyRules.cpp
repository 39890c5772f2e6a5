#include "core/HotkeyRules.h"

#include "core/Text.h"

namespace core {

namespace {

struct Named {
    std::wstring_view name;
    std::uint32_t code;
};

// In the order a hotkey's text names them.
constexpr Named kModifiers[] = {
    {L"Ctrl", kModControl}, {L"Shift", kModShift}, {L"Alt", kModAlt}, {L"Win", kModWin}};
constexpr Named kNamedKeys[] = {{L"Space", 0x20},  {L"PageUp", 0x21}, {L"PageDown", 0x22},
                                {L"End", 0x23},    {L"Home", 0x24},   {L"Insert", 0x2D},
                                {L"Delete", 0x2E}, {L"Pause", 0x13}};
constexpr std::uint32_t kVkF1 = 0x70;

// The virtual-key code of a key's name, or 0 for a name that is no key.
std::uint32_t KeyCode(std::wstring_view name) {
    const wchar_t c = AsciiUpper(name[0]);
    if (name.size() == 1 && ((c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9'))) return c;
    if (c == L'F' && name.size() <= 3 && name[1] >= L'1' && name[1] <= L'9') {
        unsigned n = 0;
        for (const wchar_t d : name.substr(1)) {
            if (d < L'0' || d > L'9') return 0;
            n = n * 10 + (d - L'0');
        }
        return n <= 24 ? kVkF1 + n - 1 : 0;
    }
    for (const Named& k : kNamedKeys)
        if (SameTextAscii(name, k.name)) return k.code;
    return 0;
}

} // namespace

HotkeyParse ParseHotkey(std::wstring_view text) {
    if (Trim(text).empty()) return {};
    Hotkey hotkey;
    std::wstring_view keyName;
    for (std::size_t start = 0;;) {
        const std::size_t plus = text.find(L'+', start);
        const std::wstring_view part = Trim(text.substr(start, plus - start));
        if (part.empty()) return {{}, L"a '+' has no name beside it"};
        const Named* modifier = nullptr;
        for (const Named& m : kModifiers)
            if (SameTextAscii(part, m.name)) modifier = &m;
        if (modifier) {
            hotkey.modifiers |= modifier->code;
        } else if (const std::uint32_t code = KeyCode(part)) {
            if (hotkey.key)
                return {{}, L"two keys, " + std::wstring(keyName) + L" and " + std::wstring(part)};
            hotkey.key = code;
            keyName = part;
        } else {
            return {{}, L"no key is called " + Quoted(part)};
        }
        if (plus == std::wstring_view::npos) break;
        start = plus + 1;
    }
    if (!hotkey.key) return {{}, L"no key beside the modifiers"};
    return {hotkey, {}};
}

std::wstring HotkeyText(const Hotkey& hotkey) {
    std::wstring text;
    for (const Named& m : kModifiers)
        if (hotkey.modifiers & m.code) text += std::wstring(m.name) + L"+";
    const std::uint32_t k = hotkey.key;
    if ((k >= L'A' && k <= L'Z') || (k >= L'0' && k <= L'9')) return text + wchar_t(k);
    if (k >= kVkF1 && k < kVkF1 + 24) return text + L"F" + std::to_wstring(k - kVkF1 + 1);
    for (const Named& n : kNamedKeys)
        if (n.code == k) return text + std::wstring(n.name);
    return text + L"#" + std::to_wstring(k); // not a key this program names
}

} // namespace core
