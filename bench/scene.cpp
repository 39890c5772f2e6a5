// A deterministic moving scene for the benchmarks: scrolling lines of text and moving shapes,
// drawn at a fixed pace from a fixed seed, so every run records the same content.
//
//   scene X Y W H [SEED] [STOPFILE]
//
// The window ends itself when STOPFILE (a Windows path) appears, and after an hour at most.
// The number of shapes grows with the area, so every size shows about the same density.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Shape {
    int x, y, w, h, dx, dy;
    COLORREF colour;
    bool ellipse;
};

std::uint32_t rngState = 1;
std::uint32_t Next() {
    rngState = rngState * 1664525u + 1013904223u;
    return rngState >> 8;
}

int width = 0, height = 0, tick = 0;
std::vector<Shape> shapes;
std::vector<std::wstring> lines;
HFONT font = nullptr;
std::wstring stopFile;
int ticksLeft = 25 * 3600;

void Setup(int w, int h) {
    width = w;
    height = h;
    const int count = std::max(12, w * h / 25600);
    for (int i = 0; i < count; ++i) {
        Shape s;
        s.w = 20 + Next() % 120;
        s.h = 20 + Next() % 90;
        s.x = Next() % (w - s.w);
        s.y = Next() % (h - s.h);
        s.dx = 1 + Next() % 6;
        s.dy = 1 + Next() % 5;
        s.colour = RGB(Next() % 256, Next() % 256, Next() % 256);
        s.ellipse = Next() % 2 == 0;
        shapes.push_back(s);
    }
    static const wchar_t* words[] = {L"frame",  L"screen",    L"record", L"pause",
                                     L"stop",   L"AVI",       L"slot",   L"pixel",
                                     L"window", L"quarnelby", L"key",    L"delta"};
    for (int i = 0; i < 200; ++i) {
        std::wstring line = std::to_wstring(i) + L": ";
        for (int k = 0; k < 10; ++k)
            line += std::wstring(words[Next() % 12]) + L" ";
        lines.push_back(line);
    }
    font = CreateFontW(-13, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0,
                       NONANTIALIASED_QUALITY, 0, L"Courier New");
}

void Step() {
    ++tick;
    for (auto& s : shapes) {
        s.x += s.dx;
        s.y += s.dy;
        if (s.x < 0 || s.x + s.w > width) s.dx = -s.dx, s.x += 2 * s.dx;
        if (s.y < 0 || s.y + s.h > height) s.dy = -s.dy, s.y += 2 * s.dy;
    }
}

void Paint(HDC target) {
    HDC dc = CreateCompatibleDC(target);
    HBITMAP bmp = CreateCompatibleBitmap(target, width, height);
    HGDIOBJ oldBmp = SelectObject(dc, bmp);
    RECT all{0, 0, width, height};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    // Text scrolls one pixel per tick in the left half, as in an editor or a terminal.
    HGDIOBJ oldFont = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    const int lineHeight = 16, first = tick / lineHeight, offset = tick % lineHeight;
    for (int row = 0; row * lineHeight - offset < height; ++row) {
        const std::wstring& line = lines[(first + row) % lines.size()];
        TextOutW(dc, 4, row * lineHeight - offset, line.c_str(), static_cast<int>(line.size()));
    }
    SelectObject(dc, oldFont);
    for (const auto& s : shapes) {
        HBRUSH brush = CreateSolidBrush(s.colour);
        HGDIOBJ oldBrush = SelectObject(dc, brush);
        if (s.ellipse)
            Ellipse(dc, s.x, s.y, s.x + s.w, s.y + s.h);
        else
            Rectangle(dc, s.x, s.y, s.x + s.w, s.y + s.h);
        SelectObject(dc, oldBrush);
        DeleteObject(brush);
    }
    BitBlt(target, 0, 0, width, height, dc, 0, 0, SRCCOPY);
    SelectObject(dc, oldBmp);
    DeleteObject(bmp);
    DeleteDC(dc);
}

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_TIMER:
        if (--ticksLeft <= 0 || (!stopFile.empty() &&
                                 GetFileAttributesW(stopFile.c_str()) != INVALID_FILE_ATTRIBUTES)) {
            DestroyWindow(hwnd);
            return 0;
        }
        Step();
        InvalidateRect(hwnd, nullptr, FALSE);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        Paint(dc);
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;
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
    rngState = argc > 5 ? static_cast<std::uint32_t>(std::atoi(argv[5])) : 20261208u;
    if (argc > 6) {
        const std::string path = argv[6];
        stopFile.assign(path.begin(), path.end());
    }
    if (w < 160 || h < 120) return 2;
    Setup(w, h);
    WNDCLASSW wc{};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QuarnelbyScene";
    RegisterClassW(&wc);
    HWND hwnd = CreateWindowExW(WS_EX_TOOLWINDOW, wc.lpszClassName, L"scene", WS_POPUP | WS_VISIBLE,
                                x, y, w, h, nullptr, nullptr, wc.hInstance, nullptr);
    if (!hwnd) return 1;
    SetTimer(hwnd, 1, 40, nullptr); // 25 steps per second
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchMessageW(&msg);
    return 0;
}
