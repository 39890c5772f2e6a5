// Shows the close-while-recording question over a window where the main window stands, for a
// screenshot (scripts/confirm-screenshot). Prints the dialog's screen rectangle, then closes it
// after a few seconds.
#include "ui/xConfirm.h"

#include <cstdio>

using namespace forms;

namespace {

class TfrmBehind : public TForm {
public:
    TfrmBehind()
        : TForm({.bounds = {274, 122, 328, 290},
                 .caption = L"Zo/quarnelby",
                 .borderIcons = biSystemMenu,
                 .color = RGBColor(205, 204, 251)}) {
        Loaded();
    }
};

HWND dialog = nullptr;

void CALLBACK Report(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    dialog = GetActiveWindow();
    RECT rc{};
    GetWindowRect(dialog, &rc);
    std::printf("%ld %ld %ld %ld\n", rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
    std::fflush(stdout);
}

void CALLBACK Finish(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    PostMessageW(dialog, WM_CLOSE, 0, 0);
}

} // namespace

int main() {
    Application.Initialize();
    Application.Cursors.Set(1, LoadCursorW(GetModuleHandleW(nullptr), L"hand"));
    TFormPtr<TfrmBehind> behind(new TfrmBehind);
    behind->Show();
    SetTimer(nullptr, 0, 1000, Report);
    SetTimer(nullptr, 0, 6000, Finish);
    int r = ui::ShowConfirm(behind.get(), L"Zo/quarnelby",
                            L"録画が完了していません！！\r\r　　終了してもよろしいですか？", L"?",
                            L"YN", 2);
    return r == 7 ? 0 : 1;
}
