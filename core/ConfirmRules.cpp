#include "core/ConfirmRules.h"

#include "core/Text.h"

namespace core {

ConfirmIcon ConfirmIconFor(const std::wstring& icon) {
    if (icon.empty()) return ConfirmIcon::Keep;
    switch (AsciiLower(icon[0])) {
    case L'!':
        return ConfirmIcon::Warning;
    case L'?':
        return ConfirmIcon::Question;
    case L'i':
        return ConfirmIcon::Information;
    case L'x':
        return ConfirmIcon::Error;
    default:
        return ConfirmIcon::Keep;
    }
}

int ConfirmButtonSet(const std::wstring& buttons) {
    const std::wstring b = AsciiLowered(buttons);
    if (b == L"yn") return 2;
    if (b == L"yc") return 3;
    if (b == L"ync") return 4;
    return 1;
}

ConfirmLayout LayoutConfirm(const Rect& label, const Rect& parent, int buttonSet, int dpi) {
    const auto s = [dpi](int v) { return ScaleToDpi(v, dpi); };
    ConfirmLayout l;
    const int right = label.left + label.width + s(20);
    l.dialog.width = right > s(310) ? right + s(16) : s(330);
    l.dialog.height = label.top + label.height + s(90);
    const Point corner = CenteredIn(l.dialog.Extent(), parent);
    l.dialog.left = corner.x;
    l.dialog.top = corner.y;

    const int h = l.dialog.width / 2;
    // Three 76-pixel (at 96 dpi) buttons with 4-pixel gaps centred on h; fewer buttons close up.
    l.buttonLeft[0] = h - s(118);
    l.buttonLeft[1] = h - s(38);
    l.buttonLeft[2] = h + s(42);
    switch (buttonSet) {
    case 2:
        l.buttonLeft[0] = h - s(78);
        l.buttonLeft[1] = h + s(2);
        l.buttonShown[0] = l.buttonShown[1] = true;
        break;
    case 3:
        l.buttonLeft[0] = h - s(78);
        l.buttonLeft[2] = h + s(2);
        l.buttonShown[0] = l.buttonShown[2] = true;
        break;
    case 4:
        l.buttonShown[0] = l.buttonShown[1] = l.buttonShown[2] = true;
        break;
    default:
        l.buttonLeft[0] = h - s(38);
        l.buttonShown[0] = true;
        break;
    }
    return l;
}

int ConfirmFocusButton(int defaultButton) {
    return defaultButton == 1 || defaultButton == 2 ? defaultButton : 3;
}

int ConfirmKeyResult(int key, const bool shown[3]) {
    switch (key) {
    case 27:
        if (shown[2]) return kConfirmCancel;
        if (shown[1]) return kConfirmNo;
        if (shown[0]) return kConfirmYes;
        return 0;
    case 78:
        return shown[1] ? kConfirmNo : 0;
    case 89:
        return shown[0] ? kConfirmYes : 0;
    default:
        return 0;
    }
}

int ConfirmCloseResult(int result, int buttonSet) {
    if (result != kConfirmCancel) return result;
    if (buttonSet == 1) return kConfirmYes;
    if (buttonSet == 2) return kConfirmNo;
    return result;
}

} // namespace core
