// Main: program start-up.
#include "forms/Forms.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) {
    forms::TForm frmMain;
    frmMain.SetBounds(274, 122, 328, 290);
    HWND hwnd = frmMain.Handle();
    SetWindowTextW(hwnd, L"Zo/quarnelby");
    ShowWindow(hwnd, show);
    MSG msg;
    while (IsWindow(hwnd) && GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
