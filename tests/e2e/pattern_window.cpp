// A window with a known colour pattern, laid on the screen for the end-to-end tests to record.
//
//   pattern_window X Y W H [TITLE]
//
// Paints eight vertical bars of distinct colours (none of them fuchsia) over the lower part and
// a white band with black squares over the top third; its title is "pattern" unless given.
// Stays until closed or killed.
#include <windows.h>

#include <cstdlib>

namespace {

// Pure colours survive 16-bit displays and RGB555 compression without rounding.
const COLORREF kBars[8] = {RGB(255, 0, 0),   RGB(0, 255, 0),   RGB(0, 0, 255), RGB(255, 255, 0),
                           RGB(0, 255, 255), RGB(255, 255, 255), RGB(0, 0, 0),   RGB(128, 128, 128)};

void Paint(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT rc;
    GetClientRect(hwnd, &rc);
    const int w = rc.right, h = rc.bottom, band = h / 3;
    for (int i = 0; i < 8; ++i) {
        RECT bar{i * w / 8, band, (i + 1) * w / 8, h};
        HBRUSH brush = CreateSolidBrush(kBars[i]);
        FillRect(dc, &bar, brush);
        DeleteObject(brush);
    }
    RECT top{0, 0, w, band};
    FillRect(dc, &top, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    for (int x = 8; x + 16 < w; x += 32) {
        RECT sq{x, band / 4, x + 16, band / 4 + 16};
        FillRect(dc, &sq, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    }
    EndPaint(hwnd, &ps);
}

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_PAINT:
        Paint(hwnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 5) return 2;
    const int x = std::atoi(argv[1]), y = std::atoi(argv[2]);
    const int w = std::atoi(argv[3]), h = std::atoi(argv[4]);
    WNDCLASSW wc{};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = L"QuarnelbyPattern";
    RegisterClassW(&wc);
    wchar_t title[64] = L"pattern";
    if (argc > 5) MultiByteToWideChar(CP_ACP, 0, argv[5], -1, title, 64);
    HWND hwnd = CreateWindowExW(WS_EX_TOOLWINDOW, wc.lpszClassName, title, WS_POPUP | WS_VISIBLE,
                                x, y, w, h, nullptr, nullptr, wc.hInstance, nullptr);
    if (!hwnd) return 1;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
