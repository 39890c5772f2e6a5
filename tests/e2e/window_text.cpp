// Prints the text of a message box, as the tests of the program read what it tells the user.
//
//   window_text TITLE
//
// Finds the dialog window with that title and prints the texts of its child windows, one a line.
// Exits 1 when there is none.
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return 2;
    const HWND box = FindWindowW(L"#32770", argv[1]);
    if (!box) return 1;
    EnumChildWindows(
        box,
        [](HWND child, LPARAM) -> BOOL {
            wchar_t text[4096] = {};
            GetWindowTextW(child, text, 4096);
            std::printf("%ls\n", text);
            return TRUE;
        },
        0);
    return 0;
}
