// Deterministic scenes for the benchmarks, drawn at a fixed pace (25 steps per second) from a fixed
// seed, so every run records the same content.
//
//   scene [--typing] X Y W H [SEED] [STOPFILE]
//
// The moving scene (the default) is the worst case for a recorder: scrolling lines of text and
// moving shapes, with more shapes on larger areas so that every size shows about the same density.
// The typing scene looks like real work: an editor's page where text is typed a character at a
// time (with pauses and the odd typo put right), the page scrolling on now and then, the caret
// blinking and the mouse pointer moving to another place every few seconds.
//
// The window ends itself when STOPFILE (a Windows path) appears, and after an hour at most.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

namespace {

std::uint32_t rngState = 1;
std::uint32_t Next() {
    rngState = rngState * 1664525u + 1013904223u;
    return rngState >> 8;
}

int width = 0, height = 0, originX = 0, originY = 0;

// --------------------------------------------------------------------------------------------
// The moving scene

namespace moving {

struct Shape {
    int x, y, w, h, dx, dy;
    COLORREF colour;
    bool ellipse;
};

int tick = 0;
std::vector<Shape> shapes;
std::vector<std::wstring> lines;
HFONT font = nullptr;

void Setup() {
    const int w = width, h = height;
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

void Paint(HDC dc) {
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
}

} // namespace moving

// --------------------------------------------------------------------------------------------
// The typing scene

namespace typing {

constexpr int kTitleHeight = 24, kMenuHeight = 20, kStatusHeight = 22, kScrollWidth = 16;
constexpr int kLineHeight = 18, kPad = 8, kPageWidth = 760;
constexpr int kNotchLines = 3; // lines one turn of the mouse wheel scrolls
constexpr wchar_t kEnter = L'\n', kBackspace = L'\b';

struct Key {
    wchar_t ch;
    int pause; // ticks until the next key
};

HFONT textFont = nullptr, uiFont = nullptr;
int tick = 0;
int pageLeft = 0, pageWidth = 0, pageTop = 0, pageBottom = 0, rows = 0;

// The document: lines as typed, the last one holding the caret.
std::vector<std::wstring> doc{L""};
int top = 0;           // the first line shown while typing
int readBack = 0;      // lines scrolled back up from there while reading
std::vector<Key> keys; // keys of the word being typed, in order
std::size_t nextKey = 0;
int wait = 0, lastKeyTick = 0, sentencesLeft = 0, wordsLeft = 0;
bool sentenceStart = true;

// Scrolling back to read: wheel notches up, a pause, notches down again.
int nextReadTick = 0, readStage = 0, readWait = 0, readNotches = 0;
// The mouse pointer glides to a new place every few seconds.
int nextMoveTick = 0, moveTicks = 0, moveStep = 0;
POINT pointerFrom{}, pointerTo{}, pointerSaved{};

const wchar_t* const kWords[] = {
    L"the",     L"recording", L"starts", L"when",    L"window", L"frame",    L"a",
    L"of",      L"and",       L"to",     L"screen",  L"file",   L"each",     L"second",
    L"user",    L"picture",   L"is",     L"in",      L"that",   L"with",     L"every",
    L"which",   L"we",        L"should", L"next",    L"page",   L"notes",    L"meeting",
    L"report",  L"figures",   L"show",   L"quality", L"size",   L"small",    L"after",
    L"before",  L"time",      L"team",   L"review",  L"draft",  L"changes",  L"version",
    L"release", L"plan",      L"week",   L"also",    L"keeps",  L"stays",    L"clear",
    L"simple",  L"question",  L"answer", L"later",   L"today",  L"meanwhile"};

int TextWidth(HDC dc, const std::wstring& s) {
    SIZE size{};
    GetTextExtentPoint32W(dc, s.c_str(), static_cast<int>(s.size()), &size);
    return size.cx;
}

int Pause(int from, int to) {
    return from + static_cast<int>(Next() % static_cast<std::uint32_t>(to - from + 1));
}

// The keys of the next word (or of the Enter that ends a paragraph), laid out against the
// document as it stands: a word that does not fit on the line goes to the next one.
void PlanWord(HDC dc) {
    keys.clear();
    nextKey = 0;
    if (sentencesLeft == 0) {
        if (doc.back().empty()) {
            sentencesLeft = Pause(3, 5);
        } else {
            keys.push_back({kEnter, Pause(8, 20)});
            keys.push_back({kEnter, Pause(15, 40)});
            return;
        }
    }
    if (wordsLeft == 0) wordsLeft = Pause(6, 14);
    std::wstring word = kWords[Next() % std::size(kWords)];
    if (sentenceStart) word[0] = static_cast<wchar_t>(std::towupper(word[0]));
    sentenceStart = false;
    if (--wordsLeft == 0) {
        word += L'.';
        sentenceStart = true;
        --sentencesLeft;
    } else if (Next() % 9 == 0) {
        word += L',';
    }
    const std::wstring& line = doc.back();
    if (!line.empty()) {
        if (TextWidth(dc, line + L" " + word) > pageWidth - 2 * kPad)
            keys.push_back({kEnter, Pause(2, 5)});
        else
            keys.push_back({L' ', Pause(2, 5)});
    }
    // Now and then a wrong letter, seen and taken back.
    const std::size_t typo = Next() % 25 == 0 ? 1 + Next() % word.size() : 0;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (i + 1 == typo) {
            keys.push_back({static_cast<wchar_t>(L'a' + Next() % 26), Pause(6, 12)});
            keys.push_back({kBackspace, Pause(3, 6)});
        }
        keys.push_back({word[i], Pause(2, 5)});
    }
    // A longer pause after some words, longer still after a sentence.
    if (sentenceStart)
        keys.back().pause = Pause(10, 25);
    else if (Next() % 5 == 0)
        keys.back().pause = Pause(6, 15);
}

void Type(wchar_t ch) {
    if (ch == kEnter)
        doc.push_back(L"");
    else if (ch == kBackspace)
        doc.back().pop_back();
    else
        doc.back() += ch;
    const int caretLine = static_cast<int>(doc.size()) - 1;
    if (caretLine >= top + rows) top += kNotchLines; // the page scrolls on as the caret leaves it
}

void MovePointer(POINT p) {
    SetCursorPos(originX + p.x, originY + p.y);
}

POINT RandomPointOnPage() {
    return {pageLeft + static_cast<LONG>(Next() % static_cast<std::uint32_t>(pageWidth)),
            pageTop + static_cast<LONG>(
                          Next() % static_cast<std::uint32_t>(std::max(1, pageBottom - pageTop)))};
}

void Setup() {
    textFont = CreateFontW(-15, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0,
                           CLEARTYPE_QUALITY, 0, L"Tahoma");
    uiFont = CreateFontW(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY,
                         0, L"Tahoma");
    const int clientWidth = width - kScrollWidth;
    pageWidth = std::min(kPageWidth, clientWidth - 2 * kPad);
    pageLeft = (clientWidth - pageWidth) / 2;
    pageTop = kTitleHeight + kMenuHeight + kPad;
    pageBottom = height - kStatusHeight;
    rows = std::max(1, (pageBottom - pageTop - kPad) / kLineHeight);
    // The page is already full of earlier text, the caret a few lines above its bottom.
    HDC screen = GetDC(nullptr);
    HGDIOBJ old = SelectObject(screen, textFont);
    const int filled = std::max(1, rows - 3) + 2 * rows;
    while (static_cast<int>(doc.size()) < filled) {
        PlanWord(screen);
        for (const Key& k : keys)
            Type(k.ch);
    }
    PlanWord(screen);
    SelectObject(screen, old);
    ReleaseDC(nullptr, screen);
    nextReadTick = Pause(60, 100);
    nextMoveTick = Pause(20, 60);
    GetCursorPos(&pointerSaved);
    pointerTo = RandomPointOnPage();
    MovePointer(pointerTo);
}

void Restore() {
    SetCursorPos(pointerSaved.x, pointerSaved.y);
}

void StepReading() {
    if (readWait > 0) {
        --readWait;
        return;
    }
    switch (readStage) {
    case 1: // wheel up
        readBack = std::min(top, readBack + kNotchLines);
        if (--readNotches == 0) {
            readStage = 2;
            readWait = Pause(25, 50);
        } else {
            readWait = 2;
        }
        break;
    case 2: // read: back down to the caret
        readNotches = (readBack + kNotchLines - 1) / kNotchLines;
        readStage = 3;
        [[fallthrough]];
    case 3:
        readBack = std::max(0, readBack - kNotchLines);
        if (--readNotches <= 0) {
            readBack = 0;
            readStage = 0;
            readWait = Pause(5, 10);
            nextReadTick = tick + Pause(150, 250);
        } else {
            readWait = 2;
        }
        break;
    }
}

void Step(HDC dc) {
    ++tick;
    if (moveTicks == 0 && tick >= nextMoveTick) {
        moveTicks = Pause(10, 20);
        moveStep = 0;
        pointerFrom = pointerTo;
        pointerTo = RandomPointOnPage();
    }
    if (moveTicks > 0) {
        ++moveStep;
        MovePointer({pointerFrom.x + (pointerTo.x - pointerFrom.x) * moveStep / moveTicks,
                     pointerFrom.y + (pointerTo.y - pointerFrom.y) * moveStep / moveTicks});
        if (moveStep == moveTicks) {
            moveTicks = 0;
            nextMoveTick = tick + Pause(100, 200);
        }
    }
    if (readStage == 0 && readWait == 0 && tick >= nextReadTick && nextKey == 0) {
        readStage = 1;
        readNotches = Pause(2, 4);
    }
    if (readStage != 0 || readWait > 0) {
        StepReading();
        return;
    }
    if (wait > 0) {
        --wait;
        return;
    }
    const Key k = keys[nextKey++];
    Type(k.ch);
    wait = k.pause - 1;
    lastKeyTick = tick;
    if (nextKey == keys.size()) {
        HGDIOBJ old = SelectObject(dc, textFont);
        PlanWord(dc);
        SelectObject(dc, old);
    }
}

void Paint(HDC dc) {
    SetBkMode(dc, TRANSPARENT);
    auto fill = [&](int l, int t, int r, int b, COLORREF c) {
        RECT rc{l, t, r, b};
        HBRUSH brush = CreateSolidBrush(c);
        FillRect(dc, &rc, brush);
        DeleteObject(brush);
    };
    auto text = [&](int x, int y, const std::wstring& s) {
        TextOutW(dc, x, y, s.c_str(), static_cast<int>(s.size()));
    };
    const int clientWidth = width - kScrollWidth;
    // Title bar with the caption buttons, and the menu bar.
    fill(0, 0, width, kTitleHeight, RGB(43, 87, 151));
    SelectObject(dc, uiFont);
    SetTextColor(dc, RGB(255, 255, 255));
    text(8, 5, L"notes.txt - Editor");
    for (int i = 0; i < 3; ++i)
        fill(width - 30 * (i + 1) + 8, 7, width - 30 * i - 8, 17, RGB(200, 214, 235));
    fill(0, kTitleHeight, width, kTitleHeight + kMenuHeight, RGB(240, 240, 240));
    SetTextColor(dc, RGB(0, 0, 0));
    text(8, kTitleHeight + 3, L"File    Edit    Format    View    Help");
    // The page on its grey desk.
    fill(0, kTitleHeight + kMenuHeight, clientWidth, pageBottom, RGB(226, 229, 233));
    fill(pageLeft, pageTop - kPad, pageLeft + pageWidth, pageBottom, RGB(255, 255, 255));
    SelectObject(dc, textFont);
    SetTextColor(dc, RGB(30, 30, 30));
    const int first = top - readBack;
    HRGN clip = CreateRectRgn(pageLeft, pageTop - kPad, pageLeft + pageWidth, pageBottom);
    SelectClipRgn(dc, clip);
    for (int row = 0; row < rows + 1 && first + row < static_cast<int>(doc.size()); ++row)
        text(pageLeft + kPad, pageTop + row * kLineHeight,
             doc[static_cast<std::size_t>(first + row)]);
    // The caret blinks every 530 ms, and stays on while keys come.
    const int caretRow = static_cast<int>(doc.size()) - 1 - first;
    if (caretRow < rows + 1 && ((tick - lastKeyTick) * 40 / 530) % 2 == 0) {
        const int x = pageLeft + kPad + TextWidth(dc, doc.back());
        fill(x, pageTop + caretRow * kLineHeight, x + 1, pageTop + (caretRow + 1) * kLineHeight - 1,
             RGB(0, 0, 0));
    }
    SelectClipRgn(dc, nullptr);
    DeleteObject(clip);
    // The scroll bar's thumb shows where the view is in the document.
    const int trackTop = kTitleHeight + kMenuHeight, track = pageBottom - trackTop;
    fill(clientWidth, trackTop, width, pageBottom, RGB(240, 240, 240));
    const int lines = std::max(static_cast<int>(doc.size()), first + rows);
    const int thumb = std::max(20, track * rows / lines);
    const int thumbTop = trackTop + (track - thumb) * first / std::max(1, lines - rows);
    fill(clientWidth + 3, thumbTop, width - 3, thumbTop + thumb, RGB(192, 192, 192));
    // Status bar: where the caret is, how much there is, and the time of day.
    fill(0, pageBottom, width, height, RGB(240, 240, 240));
    fill(0, pageBottom, width, pageBottom + 1, RGB(215, 215, 215));
    SelectObject(dc, uiFont);
    SetTextColor(dc, RGB(0, 0, 0));
    std::size_t chars = 0;
    for (const std::wstring& line : doc)
        chars += line.size();
    const int seconds = 9 * 3600 + 41 * 60 + tick / 25;
    wchar_t status[128];
    swprintf(status, std::size(status), L"Ln %zu, Col %zu     %zu characters     %02d:%02d:%02d",
             doc.size(), doc.back().size() + 1, chars, seconds / 3600, seconds / 60 % 60,
             seconds % 60);
    text(8, pageBottom + 4, status);
}

} // namespace typing

// --------------------------------------------------------------------------------------------
// The window

bool typingScene = false;
std::wstring stopFile;
int ticksLeft = 25 * 3600;

void Paint(HDC target) {
    HDC dc = CreateCompatibleDC(target);
    HBITMAP bmp = CreateCompatibleBitmap(target, width, height);
    HGDIOBJ oldBmp = SelectObject(dc, bmp);
    HGDIOBJ oldFont = GetCurrentObject(dc, OBJ_FONT);
    if (typingScene)
        typing::Paint(dc);
    else
        moving::Paint(dc);
    SelectObject(dc, oldFont);
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
        if (typingScene) {
            HDC dc = GetDC(hwnd);
            typing::Step(dc);
            ReleaseDC(hwnd, dc);
        } else {
            moving::Step();
        }
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
        if (typingScene) typing::Restore();
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--typing") == 0) {
        typingScene = true;
        --argc;
        ++argv;
    }
    if (argc < 5) return 2;
    originX = std::atoi(argv[1]);
    originY = std::atoi(argv[2]);
    width = std::atoi(argv[3]);
    height = std::atoi(argv[4]);
    rngState = argc > 5 ? static_cast<std::uint32_t>(std::atoi(argv[5])) : 20261208u;
    if (argc > 6) {
        const std::string path = argv[6];
        stopFile.assign(path.begin(), path.end());
    }
    if (width < 160 || height < 120) return 2;
    if (typingScene)
        typing::Setup();
    else
        moving::Setup();
    WNDCLASSW wc{};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QuarnelbyScene";
    RegisterClassW(&wc);
    HWND hwnd =
        CreateWindowExW(WS_EX_TOOLWINDOW, wc.lpszClassName, L"scene", WS_POPUP | WS_VISIBLE,
                        originX, originY, width, height, nullptr, nullptr, wc.hInstance, nullptr);
    if (!hwnd) return 1;
    SetTimer(hwnd, 1, 40, nullptr); // 25 steps per second
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchMessageW(&msg);
    return 0;
}
