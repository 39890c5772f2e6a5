// Windows-side tests of the capture engine: real GDI grabs, real AVI files, real compressors
// installed in-process.
#include "engine/scrcam.h"

#include "engine/Catalogue.h"
#include "engine/msvc1drv.h"

#include "EngineFixture.h"
#include "EngineTestSupport.h"
#include "TestCompressors.h"
#include "core/CaptureRules.h"
#include "core/Text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace engine;
using namespace enginetest;

namespace {

// Stripes of colours that a 5-bit channel holds exactly, a different set in the lower half so
// the row order shows.
const TColor kTop[4] = {
    {0xF8, 0x00, 0x00}, {0x00, 0xF8, 0x00}, {0x00, 0x00, 0xF8}, {0x80, 0x40, 0x20}};
const TColor kBottom[4] = {
    {0x08, 0xF8, 0xF8}, {0xF8, 0x08, 0xF8}, {0xF8, 0xF8, 0x08}, {0x20, 0x40, 0x80}};

void PaintStripes(HDC dc, int w, int h) {
    for (int half = 0; half < 2; ++half) {
        for (int i = 0; i < 4; ++i) {
            const TColor c = half ? kBottom[i] : kTop[i];
            HBRUSH b = CreateSolidBrush(RGB(c.r, c.g, c.b));
            RECT r{i * w / 4, half * h / 2, (i + 1) * w / 4, (half + 1) * h / 2};
            FillRect(dc, &r, b);
            DeleteObject(b);
        }
    }
}

const TColor kGrey{0x80, 0x80, 0x80};
void PaintGrey(HDC dc, int w, int h) {
    HBRUSH b = CreateSolidBrush(RGB(kGrey.r, kGrey.g, kGrey.b));
    RECT r{0, 0, w, h};
    FillRect(dc, &r, b);
    DeleteObject(b);
}

bool Same(TColor a, TColor b) {
    return a.r == b.r && a.g == b.g && a.b == b.b;
}

std::string Fcc(DWORD v) {
    return std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                       static_cast<char>((v >> 16) & 0xFF), static_cast<char>((v >> 24) & 0xFF)};
}

// The depth the test display was started with (scripts/wine-run).
int DisplayDepth() {
    const char* d = std::getenv("QUARNELBY_XVFB_DEPTH");
    return d && *d ? std::atoi(d) : 24;
}

struct TMark {
    int count = 0;
    int minX = 1 << 30, minY = 1 << 30, maxX = -1, maxY = -1;
};
// Pixels of a frame that differ from the background colour.
TMark FindMarks(const BITMAPINFOHEADER* f, TColor background) {
    TMark m;
    for (int y = 0; y < f->biHeight; ++y)
        for (int x = 0; x < f->biWidth; ++x)
            if (!Same(FramePixel(f, x, y), background)) {
                ++m.count;
                m.minX = std::min(m.minX, x);
                m.minY = std::min(m.minY, y);
                m.maxX = std::max(m.maxX, x);
                m.maxY = std::max(m.maxY, y);
            }
    return m;
}

class EngineTest : public TEngineFixture {
protected:
    // Records for about `ms` of wall time, then stops and waits for the worker's end.
    void Record(const core::Rect& rect, const std::wstring& file, DWORD ms) {
        cam->StartRecording(rect, file);
        ASSERT_TRUE(cam->Recording);
        ASSERT_NE(cam->RecordThread, nullptr);
        PumpMessages(ms);
        cam->StopRecording();
        ASSERT_TRUE(WaitForWorker(*cam));
        EXPECT_FALSE(cam->Recording);
    }
};

} // namespace

// ---------------------------------------------------------------------------------------------
// Engine set-up

TEST_F(EngineTest, StartsWithTheDocumentedSettings) {
    EXPECT_EQ(cam->CompressorHandler, kMSVC);
    EXPECT_FALSE(cam->Recording);
    EXPECT_FALSE(cam->Paused);
    EXPECT_EQ(cam->PlaybackRate, 10);
    EXPECT_EQ(cam->CaptureInterval, 100);
    EXPECT_EQ(cam->KeyFrameRate, 5);
    EXPECT_EQ(cam->CompressorIndex, -1);
    EXPECT_EQ(cam->Quality, 6550);
    EXPECT_EQ(cam->CompressorCount, 0);
    EXPECT_TRUE(cam->DrawCursor);
    EXPECT_EQ(cam->ArrowCursor, LoadCursorW(nullptr, IDC_ARROW));
    EXPECT_EQ(cam->RecordThread, nullptr);
    EXPECT_TRUE(cam->FileName.empty());
    EXPECT_EQ(cam->ScreenWidth, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(cam->ScreenHeight, GetSystemMetrics(SM_CYSCREEN));
    EXPECT_EQ(cam->BitsPerPixel, DisplayDepth() == 16 ? 16u : 32u);
    EXPECT_EQ(cam->Compressors[0].dwSize, 0u);
}

// ---------------------------------------------------------------------------------------------
// Frames

TEST_F(EngineTest, GrabbedFrameIsAPackedDibInAMovableBlock) {
    BITMAPINFOHEADER* f = cam->GrabFrame(10, 20, 33, 7);
    ASSERT_NE(f, nullptr);
    const core::FrameLayout l = core::ComputeFrameLayout(33, 7, cam->BitsPerPixel);
    EXPECT_EQ(f->biSize, 40u);
    EXPECT_EQ(f->biWidth, 33);
    EXPECT_EQ(f->biHeight, 7);
    EXPECT_EQ(f->biPlanes, 1);
    EXPECT_EQ(f->biBitCount, cam->BitsPerPixel);
    EXPECT_EQ(f->biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_EQ(f->biSizeImage, l.imageSize);
    EXPECT_EQ(f->biClrUsed, 0u);
    EXPECT_EQ(f->biClrImportant, 0u);
    const HGLOBAL block = GlobalHandle(f);
    ASSERT_NE(block, nullptr);
    EXPECT_GE(GlobalSize(block), l.blockSize);
    EXPECT_EQ(GlobalFlags(block) & GMEM_LOCKCOUNT, 1u);
    TScreenCam::FreeFrame(f);
    EXPECT_EQ(f, nullptr);
    TScreenCam::FreeFrame(f); // nothing to free: no effect
    EXPECT_TRUE(messages.Shown().empty());
}

TEST_F(EngineTest, PackBitmapLaysOutLowDepthsWithTheirColourTables) {
    HDC screen = GetDC(nullptr);
    HBITMAP bmp = CreateCompatibleBitmap(screen, 320, 200);
    ReleaseDC(nullptr, screen);
    ASSERT_NE(bmp, nullptr);

    HGLOBAL block = cam->PackBitmap(bmp, 8);
    ASSERT_NE(block, nullptr);
    EXPECT_GE(GlobalSize(block), 65064u);
    {
        auto* h = static_cast<BITMAPINFOHEADER*>(GlobalLock(block));
        EXPECT_EQ(h->biBitCount, 8);
        EXPECT_EQ(h->biClrUsed, 256u);
        EXPECT_EQ(h->biSizeImage, 64000u);
        EXPECT_EQ(h->biSize + 4 * h->biClrUsed, 1064u);
        GlobalUnlock(block);
    }
    GlobalFree(block);

    HGLOBAL one = cam->PackBitmap(bmp, 1);
    ASSERT_NE(one, nullptr);
    {
        auto* h = static_cast<BITMAPINFOHEADER*>(GlobalLock(one));
        EXPECT_EQ(h->biClrUsed, 2u);
        EXPECT_EQ(h->biSizeImage, 40u * 200u);
        GlobalUnlock(one);
    }
    GlobalFree(one);
    DeleteObject(bmp);
    EXPECT_TRUE(messages.Shown().empty());
}

TEST_F(EngineTest, PackBitmapGivesNoFrameWhenTheBitsCannotBeRead) {
    HDC screen = GetDC(nullptr);
    HBITMAP bmp = CreateCompatibleBitmap(screen, 32, 32);
    ReleaseDC(nullptr, screen);
    ASSERT_NE(bmp, nullptr);
    // GetDIBits knows no DIB of 2 bits per pixel.
    EXPECT_EQ(cam->PackBitmap(bmp, 2), nullptr);
    DeleteObject(bmp);
    const auto shown = messages.Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, L"Error retrieving bitmap bits");
}

TEST_F(EngineTest, GrabbedPixelsAreTheScreens) {
    TPatternWindow window(200, 150, 64, 48, PaintStripes);
    cam->DrawCursor = false;
    BITMAPINFOHEADER* f = cam->GrabFrame(200, 150, 64, 48);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->biBitCount, DisplayDepth() == 16 ? 16 : 32);
    for (int i = 0; i < 4; ++i) {
        const int x = i * 16 + 8;
        const TColor top = FramePixel(f, x, 5);
        const TColor bottom = FramePixel(f, x, 40);
        EXPECT_TRUE(Same(top, kTop[i]))
            << "stripe " << i << " top: " << int(top.r) << "," << int(top.g) << "," << int(top.b);
        EXPECT_TRUE(Same(bottom, kBottom[i])) << "stripe " << i << " bottom: " << int(bottom.r)
                                              << "," << int(bottom.g) << "," << int(bottom.b);
    }
    // Every pixel, not only the samples: the stripe edges are exact.
    int wrong = 0;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            if (!Same(FramePixel(f, x, y), y < 24 ? kTop[x / 16] : kBottom[x / 16])) ++wrong;
    EXPECT_EQ(wrong, 0);
    TScreenCam::FreeFrame(f);
}

TEST_F(EngineTest, GrabsOfChangingSizesAndFromOtherThreadsHoldTheScreen) {
    TPatternWindow window(200, 150, 64, 48, PaintStripes);
    cam->DrawCursor = false;
    // Wrong pixels anywhere: a kept bitmap of another size, a reused block, another thread.
    auto wrongPixels = [](const BITMAPINFOHEADER* f, int w, int h) {
        int wrong = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (!Same(FramePixel(f, x, y), y < 24 ? kTop[x / 16] : kBottom[x / 16])) ++wrong;
        return wrong;
    };
    for (const auto& [w, h] : {std::pair{64, 48}, {32, 20}, {64, 48}, {64, 48}}) {
        BITMAPINFOHEADER* f = cam->GrabFrame(200, 150, w, h);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->biWidth, w);
        EXPECT_EQ(f->biHeight, h);
        EXPECT_EQ(f->biSizeImage, core::ComputeFrameLayout(w, h, cam->BitsPerPixel).imageSize);
        EXPECT_EQ(wrongPixels(f, w, h), 0) << w << "x" << h;
        TScreenCam::FreeFrame(f);
    }
    int otherThread = -1;
    std::thread([&] {
        BITMAPINFOHEADER* f = cam->GrabFrame(200, 150, 64, 48);
        otherThread = f ? wrongPixels(f, 64, 48) : -1;
        TScreenCam::FreeFrame(f);
    }).join();
    EXPECT_EQ(otherThread, 0);
    EXPECT_TRUE(messages.Shown().empty());
}

TEST_F(EngineTest, CursorIsDrawnAtTheMousePositionAndOnlyWhenAsked) {
    TPatternWindow window(300, 300, 100, 100, PaintGrey);
    ASSERT_TRUE(SetCursorPos(340, 330));
    PumpMessages(100);
    POINT pos;
    GetCursorPos(&pos);
    ASSERT_EQ(pos.x, 340);
    ASSERT_EQ(pos.y, 330);

    cam->DrawCursor = false;
    BITMAPINFOHEADER* plain = cam->GrabFrame(300, 300, 100, 100);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(FindMarks(plain, kGrey).count, 0);
    TScreenCam::FreeFrame(plain);

    cam->DrawCursor = true;
    BITMAPINFOHEADER* f = cam->GrabFrame(300, 300, 100, 100);
    ASSERT_NE(f, nullptr);
    const TMark m = FindMarks(f, kGrey);
    TScreenCam::FreeFrame(f);
    ASSERT_GT(m.count, 10);
    // The arrow's tip sits at the mouse position less the shown cursor's hot spot; the image
    // is at most a system cursor in size.
    int hotX = 0, hotY = 0;
    ICONINFO info{};
    if (GetIconInfo(GetCursor(), &info)) {
        hotX = static_cast<int>(info.xHotspot);
        hotY = static_cast<int>(info.yHotspot);
        if (info.hbmMask) DeleteObject(info.hbmMask);
        if (info.hbmColor) DeleteObject(info.hbmColor);
    }
    const int x0 = 40 - hotX, y0 = 30 - hotY;
    EXPECT_GE(m.minX, x0);
    EXPECT_GE(m.minY, y0);
    EXPECT_LE(m.minX, x0 + 4);
    EXPECT_LE(m.minY, y0 + 4);
    EXPECT_LT(m.maxX, x0 + GetSystemMetrics(SM_CXCURSOR));
    EXPECT_LT(m.maxY, y0 + GetSystemMetrics(SM_CYCURSOR));
}

TEST_F(EngineTest, CursorIsClippedAtTheRectangleEdges) {
    TPatternWindow window(300, 300, 100, 100, PaintGrey);
    cam->DrawCursor = true;
    // Inside the window but right of the grabbed rectangle (300..349): no mark.
    ASSERT_TRUE(SetCursorPos(352, 320));
    BITMAPINFOHEADER* f = cam->GrabFrame(300, 300, 50, 50);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(FindMarks(f, kGrey).count, 0);
    TScreenCam::FreeFrame(f);
    // Below it: no mark.
    ASSERT_TRUE(SetCursorPos(320, 352));
    f = cam->GrabFrame(300, 300, 50, 50);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(FindMarks(f, kGrey).count, 0);
    TScreenCam::FreeFrame(f);
    // Just left of the rectangle: the part of the arrow reaching into it, at the left edge.
    ASSERT_TRUE(SetCursorPos(348, 320));
    f = cam->GrabFrame(350, 300, 50, 50);
    ASSERT_NE(f, nullptr);
    const TMark left = FindMarks(f, kGrey);
    TScreenCam::FreeFrame(f);
    EXPECT_GT(left.count, 0);
    EXPECT_EQ(left.minX, 0);
    EXPECT_LT(left.maxX, GetSystemMetrics(SM_CXCURSOR));
}

// ---------------------------------------------------------------------------------------------
// Recording

TEST_F(EngineTest, DefaultRecordingIsAStandardAviAtRecordingSpeed) {
    TPatternWindow window(40, 40, 160, 120, PaintStripes);
    cam->DrawCursor = false;
    const std::wstring file = dir.File(L"default.avi");
    Record({40, 40, 160, 120}, file, 1300);
    EXPECT_EQ(cam->FileName, file);
    EXPECT_TRUE(messages.Shown().empty());

    const TAviReadBack avi = ReadAvi(file, true);
    ASSERT_TRUE(avi.opened);
    EXPECT_EQ(avi.streams, 1);
    EXPECT_EQ(avi.fccType, streamtypeVIDEO);
    EXPECT_EQ(avi.rate, 10u);
    EXPECT_EQ(avi.scale, 1u);
    EXPECT_EQ(avi.frame.right - avi.frame.left, 160);
    EXPECT_EQ(avi.frame.bottom - avi.frame.top, 120);
    EXPECT_EQ(avi.format.biWidth, 160);
    EXPECT_EQ(avi.format.biHeight, 120);
    EXPECT_EQ(avi.format.biBitCount, cam->BitsPerPixel);
    ASSERT_GE(avi.positions.size(), 8u);
    EXPECT_EQ(static_cast<int>(avi.positions.size()), cam->FramesWritten);
    EXPECT_EQ(avi.positions.front(), 0);
    // One frame per slot while passes are quick: positions 0, 1, 2, ... (a loaded machine may
    // drop the odd slot).
    int steps = 0;
    for (std::size_t i = 1; i < avi.positions.size(); ++i) {
        EXPECT_GT(avi.positions[i], avi.positions[i - 1]);
        if (avi.positions[i] == avi.positions[i - 1] + 1) ++steps;
    }
    EXPECT_GE(steps * 10, static_cast<int>(avi.positions.size() - 1) * 6);
    // The frames hold the screen's pixels.
    ASSERT_FALSE(avi.samples.empty());
    BITMAPINFOHEADER header = avi.format;
    std::vector<std::uint8_t> first(sizeof(header) + avi.samples[0].size());
    std::memcpy(first.data(), &header, sizeof(header));
    std::memcpy(first.data() + sizeof(header), avi.samples[0].data(), avi.samples[0].size());
    const auto* frame0 = reinterpret_cast<const BITMAPINFOHEADER*>(first.data());
    EXPECT_TRUE(Same(FramePixel(frame0, 20, 10), kTop[0]));
    EXPECT_TRUE(Same(FramePixel(frame0, 140, 110), kBottom[3]));

    const TProbe probe = ProbeWithFfmpeg(file);
    ASSERT_TRUE(probe.ran) << probe.raw;
    EXPECT_EQ(probe.streams, 1) << probe.raw;
    EXPECT_EQ(probe.codecType, "video") << probe.raw;
    EXPECT_EQ(probe.width, 160);
    EXPECT_EQ(probe.height, 120);
    EXPECT_EQ(probe.frameRate, "10/1");
    EXPECT_GE(probe.decodedFrames, static_cast<int>(avi.positions.size())) << probe.raw;
    EXPECT_EQ(probe.ffmpegExit, 0);
    EXPECT_EQ(probe.ffmpegErrors, "");
}

TEST_F(EngineTest, AtTheShortestIntervalPositionsStartAtZeroAndNeverRepeat) {
    // Passes far quicker than a slot: the first lands at position 0 however long the grabbing
    // thread took to start, and no later one goes to a position already written.
    cam->CaptureInterval = 1;
    const std::wstring file = dir.File(L"fast.avi");
    Record({0, 0, 32, 32}, file, 600);
    const TAviReadBack avi = ReadAvi(file);
    ASSERT_TRUE(avi.opened);
    EXPECT_EQ(avi.start, 0);
    ASSERT_GE(avi.positions.size(), 20u);
    EXPECT_EQ(avi.positions.front(), 0);
    EXPECT_EQ(static_cast<int>(avi.positions.size()), cam->FramesWritten);
    for (std::size_t i = 1; i < avi.positions.size(); ++i)
        ASSERT_GT(avi.positions[i], avi.positions[i - 1]) << i;
}

TEST_F(EngineTest, SleepsLateByLessThanHalfASlotLoseNoSlot) {
    // A clock of its own that only sleeping moves, and every sleep 12 ms late, as on a coarse
    // system timer: passes that slept a fixed count of slices would drift more than half a
    // slot late and lose slots; passes aimed at their slot's time end at most 12 ms late.
    std::atomic<DWORD> now{5000};
    cam->Services.Clock = [&] { return now.load(); };
    cam->Services.Sleep = [&](DWORD ms) {
        now += ms + 12;
        if (now - cam->StartTime > 3000) cam->StopRecording();
    };
    const std::wstring file = dir.File(L"oversleep.avi");
    cam->StartRecording({0, 0, 32, 32}, file);
    ASSERT_TRUE(WaitForWorker(*cam));
    const TAviReadBack avi = ReadAvi(file);
    ASSERT_TRUE(avi.opened);
    ASSERT_GE(avi.positions.size(), 30u);
    for (std::size_t i = 0; i < avi.positions.size(); ++i)
        ASSERT_EQ(avi.positions[i], static_cast<LONG>(i)) << "slot lost before " << i;
}

TEST_F(EngineTest, AnIntervalChangedWhileRecordingLeavesNoHoleAndNoFrozenRun) {
    // A clock that only sleeping moves; the interval is 100 ms for 3 s, 1 s until 8 s, then
    // 100 ms again until 10 s. Counted from the start at the new interval, the second part's
    // slots (3 to 7) would lie behind slot 29 and get no frame, and the third would jump to 80.
    std::atomic<DWORD> now{5000};
    cam->Services.Clock = [&] { return now.load(); };
    cam->Services.Sleep = [&](DWORD ms) {
        now += ms;
        const DWORD t = now - cam->StartTime;
        cam->CaptureInterval = t < 3000 ? 100 : t < 8000 ? 1000 : 100;
        if (t > 10000) cam->StopRecording();
    };
    const std::wstring file = dir.File(L"intervals.avi");
    cam->StartRecording({0, 0, 32, 32}, file);
    ASSERT_TRUE(WaitForWorker(*cam));
    const TAviReadBack avi = ReadAvi(file);
    ASSERT_TRUE(avi.opened);
    // Every position holds its own frame: 30 in the first part, 5 in the second, 21 in the last.
    ASSERT_EQ(avi.positions.size(), 30u + 5u + 21u);
    for (std::size_t i = 0; i < avi.positions.size(); ++i)
        ASSERT_EQ(avi.positions[i], static_cast<LONG>(i)) << "hole before " << i;
}

TEST_F(EngineTest, TheCatalogueStaysAsItStandsDuringARecording) {
    TTestCompressors compressors;
    const DWORD first = mmioFOURCC('Q', 'C', 'T', '1'), later = mmioFOURCC('Q', 'C', 'T', '2');
    ASSERT_NE(compressors.Install(first, {}), nullptr);
    cam->EnumCompressors();
    const int count = cam->CompressorCount;
    ASSERT_GE(CatalogueIndex(first), 0);
    cam->CompressorIndex = CatalogueIndex(first);

    cam->StartRecording({0, 0, 32, 32}, dir.File(L"catalogue.avi"));
    PumpMessages(200);
    ASSERT_NE(compressors.Install(later, {}), nullptr);
    cam->EnumCompressors();
    EXPECT_EQ(cam->CompressorCount, count);
    EXPECT_EQ(CatalogueIndex(later), -1);
    cam->StopRecording();
    cam->EnumCompressors(); // still finishing: refused too
    EXPECT_EQ(CatalogueIndex(later), -1);
    ASSERT_TRUE(WaitForWorker(*cam));
    EXPECT_GT(cam->FramesWritten, 0);

    cam->EnumCompressors();
    EXPECT_GE(CatalogueIndex(later), 0);
}

TEST_F(EngineTest, PauseLeavesNoGapAndIsNotCounted) {
    const std::wstring file = dir.File(L"pause.avi");
    const DWORD t0 = GetTickCount();
    cam->StartRecording({0, 0, 64, 64}, file);
    PumpMessages(700);
    cam->Paused = true;
    PumpMessages(150); // the pass under way finishes
    const int before = cam->FramesWritten;
    const std::uint32_t elapsedBefore = cam->ElapsedTime;
    PumpMessages(1000);
    EXPECT_EQ(cam->FramesWritten, before) << "no frame while paused";
    EXPECT_EQ(cam->ElapsedTime, elapsedBefore);
    cam->Paused = false;
    PumpMessages(700);
    cam->StopRecording();
    ASSERT_TRUE(WaitForWorker(*cam));
    const DWORD wall = GetTickCount() - t0;

    // The recording time leaves the second of pause out.
    EXPECT_LT(cam->ElapsedTime, wall - 800);
    EXPECT_GT(cam->ElapsedTime, 1000u);
    const TAviReadBack avi = ReadAvi(file);
    ASSERT_TRUE(avi.opened);
    ASSERT_GE(avi.positions.size(), 6u);
    LONG largestStep = 0;
    for (std::size_t i = 1; i < avi.positions.size(); ++i)
        largestStep = std::max(largestStep, avi.positions[i] - avi.positions[i - 1]);
    EXPECT_LE(largestStep, 5) << "a pause of ten slots left no gap";
    EXPECT_LT(avi.positions.back(), 25);
}

TEST_F(EngineTest, StopWhilePausedEndsWithinAboutFiftyMilliseconds) {
    const std::wstring file = dir.File(L"pausestop.avi");
    cam->StartRecording({0, 0, 64, 64}, file);
    PumpMessages(400);
    cam->Paused = true;
    PumpMessages(300);
    TRecordAVIThread* worker = cam->RecordThread;
    ASSERT_NE(worker, nullptr);
    const DWORD t0 = GetTickCount();
    cam->StopRecording();
    // Not serving messages here, so the worker object stays alive until we look.
    while (!worker->Finished() && GetTickCount() - t0 < 5000)
        Sleep(1);
    const DWORD took = GetTickCount() - t0;
    std::printf("stop while paused: worker ended after %lu ms\n", static_cast<unsigned long>(took));
    EXPECT_TRUE(worker->Finished());
    EXPECT_LT(took, 1000u); // 50 ms of polling plus closing the file, with room for a busy host
    ASSERT_TRUE(WaitForWorker(*cam));
    EXPECT_TRUE(cam->Paused) << "stopping does not clear Paused";
    EXPECT_TRUE(ReadAvi(file).opened);

    // The next recording starts unpaused.
    cam->StartRecording({0, 0, 64, 64}, dir.File(L"next.avi"));
    EXPECT_FALSE(cam->Paused);
    PumpMessages(300);
    EXPECT_GT(cam->FramesWritten, 0);
}

TEST_F(EngineTest, StopIsNoticedWithinOneSlice) {
    cam->CaptureInterval = 3000; // slices of 300 ms
    const std::wstring file = dir.File(L"slices.avi");
    cam->StartRecording({0, 0, 64, 64}, file);
    PumpMessages(700); // inside the first slot's sleep
    TRecordAVIThread* worker = cam->RecordThread;
    ASSERT_NE(worker, nullptr);
    const DWORD t0 = GetTickCount();
    cam->StopRecording();
    while (!worker->Finished() && GetTickCount() - t0 < 5000)
        Sleep(1);
    const DWORD took = GetTickCount() - t0;
    std::printf("stop while pacing: worker ended after %lu ms\n", static_cast<unsigned long>(took));
    EXPECT_TRUE(worker->Finished());
    EXPECT_LT(took, 1500u); // one slice is 300 ms; the rest of the slot is 2300 ms
    ASSERT_TRUE(WaitForWorker(*cam));
    const TAviReadBack avi = ReadAvi(file);
    ASSERT_TRUE(avi.opened);
    EXPECT_EQ(avi.positions, std::vector<LONG>{0});
}

TEST_F(EngineTest, StartIsRefusedWhileARecordingRunsOrFinishes) {
    const std::wstring first = dir.File(L"first.avi");
    ASSERT_TRUE(cam->StartRecording({0, 0, 32, 32}, first));
    TRecordAVIThread* worker = cam->RecordThread;
    EXPECT_FALSE(cam->StartRecording({0, 0, 32, 32}, dir.File(L"second.avi")));
    EXPECT_EQ(cam->RecordThread, worker);
    EXPECT_EQ(cam->FileName, first);
    PumpMessages(200);
    // Stopping: Recording is clear at once, the worker stays until the file is closed.
    cam->StopRecording();
    EXPECT_FALSE(cam->Recording);
    EXPECT_EQ(cam->RecordThread, worker);
    EXPECT_FALSE(cam->StartRecording({0, 0, 32, 32}, dir.File(L"third.avi")));
    EXPECT_FALSE(cam->Recording);
    ASSERT_TRUE(WaitForWorker(*cam));
    EXPECT_FALSE(FileExists(dir.File(L"second.avi")));
    EXPECT_FALSE(FileExists(dir.File(L"third.avi")));
}

TEST_F(EngineTest, AnExistingFileIsReplaced) {
    const std::wstring file = dir.File(L"existing.avi");
    {
        HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        std::vector<char> junk(4 << 20, 'x');
        DWORD written = 0;
        WriteFile(h, junk.data(), static_cast<DWORD>(junk.size()), &written, nullptr);
        CloseHandle(h);
    }
    Record({0, 0, 32, 32}, file, 500);
    EXPECT_TRUE(messages.Shown().empty());
    EXPECT_LT(FileSize(file), 4u << 20);
    const TAviReadBack avi = ReadAvi(file);
    ASSERT_TRUE(avi.opened);
    EXPECT_GE(avi.positions.size(), 2u);
    const TProbe probe = ProbeWithFfmpeg(file);
    EXPECT_EQ(probe.ffmpegExit, 0);
    EXPECT_EQ(probe.ffmpegErrors, "");
}

TEST_F(EngineTest, AMissingFolderIsReportedAndTheWorkerEndsByItself) {
    const std::wstring file = dir.File(L"no such folder\\x.avi");
    cam->StartRecording({0, 0, 32, 32}, file);
    TRecordAVIThread* worker = cam->RecordThread;
    ASSERT_NE(worker, nullptr);
    // Without this thread serving its messages the end is not delivered: the termination
    // handler runs on the thread that started the recording, not on the worker.
    const DWORD t0 = GetTickCount();
    while (!worker->Finished() && GetTickCount() - t0 < 5000)
        Sleep(5);
    ASSERT_TRUE(worker->Finished());
    Sleep(200);
    EXPECT_TRUE(cam->Recording);
    EXPECT_EQ(cam->RecordThread, worker);
    ASSERT_TRUE(WaitForWorker(*cam));
    EXPECT_FALSE(cam->Recording);
    EXPECT_EQ(cam->RecordThread, nullptr);

    const auto shown = messages.Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, L"Error Creating AVI file");
    EXPECT_EQ(shown[0].caption, L"Error");
    EXPECT_EQ(shown[0].flags, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
    EXPECT_NE(shown[0].threadId, GetCurrentThreadId());
    EXPECT_FALSE(FileExists(file));
}

TEST_F(EngineTest, VideoForWindowsOlderThanOneTenIsRefused) {
    cam->Services.VideoForWindowsVersion = [] { return DWORD{0x01090000}; };
    const std::wstring old = dir.File(L"old.avi");
    cam->StartRecording({0, 0, 32, 32}, old);
    ASSERT_TRUE(WaitForWorker(*cam));
    auto shown = messages.Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, L"Failure: Video for Windows version too old!");
    EXPECT_EQ(shown[0].caption, L"Error");
    EXPECT_EQ(shown[0].flags, static_cast<UINT>(MB_OK | MB_ICONSTOP));
    EXPECT_FALSE(FileExists(old));
    EXPECT_FALSE(cam->Recording);

    cam->Services.VideoForWindowsVersion = [] { return DWORD{0x010A0000}; };
    const std::wstring ok = dir.File(L"ok.avi");
    Record({0, 0, 32, 32}, ok, 300);
    EXPECT_EQ(messages.Shown().size(), 1u);
    EXPECT_TRUE(ReadAvi(ok).opened);
}

TEST_F(EngineTest, ProgressComesAboutEveryHalfSecondAndNotWhilePaused) {
    struct Note {
        std::uint32_t elapsed;
        DWORD thread;
        bool paused;
    };
    std::mutex m;
    std::vector<Note> notes;
    cam->OnProgress = [&](TScreenCam& c) {
        std::lock_guard<std::mutex> lock(m);
        notes.push_back({c.ElapsedTime, GetCurrentThreadId(), c.Paused});
    };
    auto count = [&] {
        std::lock_guard<std::mutex> lock(m);
        return notes.size();
    };
    cam->StartRecording({0, 0, 32, 32}, dir.File(L"progress.avi"));
    PumpMessages(1300);
    cam->Paused = true;
    PumpMessages(150);
    const std::size_t beforePause = count();
    PumpMessages(900);
    EXPECT_EQ(count(), beforePause);
    cam->Paused = false;
    PumpMessages(800);
    cam->StopRecording();
    ASSERT_TRUE(WaitForWorker(*cam));
    const std::size_t atEnd = count();
    PumpMessages(200);
    EXPECT_EQ(count(), atEnd) << "none once the loop has ended";

    ASSERT_GE(notes.size(), 3u);
    EXPECT_GT(notes[0].elapsed, 500u);
    EXPECT_LT(notes[0].elapsed, 1100u);
    for (std::size_t i = 1; i < notes.size(); ++i) {
        const std::uint32_t step = notes[i].elapsed - notes[i - 1].elapsed;
        EXPECT_GT(step, 500u);
        EXPECT_LT(step, 1200u);
    }
    for (const Note& n : notes) {
        EXPECT_NE(n.thread, GetCurrentThreadId());
        EXPECT_EQ(n.thread, notes[0].thread);
        EXPECT_FALSE(n.paused);
    }
}

TEST_F(EngineTest, TwoHundredFramesLeaveNoGdiObjectOrFrameBehind) {
    const long warmUp = GdiObjectCount();
    if (warmUp < 0) GTEST_SKIP() << "no way to count GDI objects here";
    // The object counter itself must see objects come and go.
    HBRUSH probes[5];
    for (auto& b : probes)
        b = CreateSolidBrush(RGB(1, 2, 3));
    EXPECT_EQ(GdiObjectCount(), warmUp + 5);
    for (auto& b : probes)
        DeleteObject(b);
    EXPECT_EQ(GdiObjectCount(), warmUp);

    TTestCompressors compressors;
    TCompressorLog* acc = compressors.Install(mmioFOURCC('Q', 'L', 'K', 'A'), {});
    ASSERT_NE(acc, nullptr);
    cam->EnumCompressors();
    // A first short recording lets the platform set up what it keeps for the process.
    Record({0, 0, 32, 32}, dir.File(L"warm.avi"), 300);

    const long before = GdiObjectCount();
    const std::uint64_t memoryBefore = CommittedBytes();
    cam->CaptureInterval = 1;
    cam->CompressorIndex = CatalogueIndex(mmioFOURCC('Q', 'L', 'K', 'A'));
    ASSERT_GE(cam->CompressorIndex, 0);
    // Frames of 192 KB: two hundred kept ones would hold more than 38 MB.
    cam->StartRecording({0, 0, 256, 192}, dir.File(L"leak.avi"));
    base::TThread::ServeUntil([&] { return cam->FramesWritten >= 200; }, 30000);
    cam->StopRecording();
    ASSERT_TRUE(WaitForWorker(*cam));
    EXPECT_GE(cam->FramesWritten, 200);
    const long after = GdiObjectCount();
    std::printf("GDI objects: %ld before, %ld after %d frames\n", before, after,
                cam->FramesWritten.load());
    EXPECT_LE(after, before + 2);
    const std::uint64_t memoryAfter = CommittedBytes();
    std::printf("committed memory: %llu KB before, %llu KB after\n",
                static_cast<unsigned long long>(memoryBefore / 1024),
                static_cast<unsigned long long>(memoryAfter / 1024));
    if (memoryBefore) {
        EXPECT_LT(memoryAfter, memoryBefore + (16u << 20));
    }
    // Every instance the engine opened for querying was closed, and so was the one Wine's
    // compressing stream opened for compressing and leaves open (the engine closes it).
    EXPECT_EQ(acc->StillOpen(ICMODE_QUERY), 0);
    EXPECT_EQ(acc->StillOpen(ICMODE_COMPRESS), 0);
    EXPECT_GE(acc->framesCompressed, 200);
}

// ---------------------------------------------------------------------------------------------
// Compressors during a recording

TEST_F(EngineTest, ACompressorFailingMidwayKeepsTheFramesAndNoEndsTheRecording) {
    TTestCompressors compressors;
    const DWORD fcc = mmioFOURCC('Q', 'F', 'A', 'L');
    TCompressorBehaviour failing;
    failing.failFrame = 5;
    TCompressorLog* log = compressors.Install(fcc, failing);
    ASSERT_NE(log, nullptr);
    cam->EnumCompressors();
    cam->CompressorIndex = CatalogueIndex(fcc);
    ASSERT_GE(cam->CompressorIndex, 0);

    const std::wstring file = dir.File(L"failing.avi");
    const std::wstring snapshot = dir.File(L"snapshot.avi");
    bool closedWhileAsking = false;
    messages.Answer(IDNO, [&] {
        // The file is complete and closed while the question is up.
        HANDLE h = CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        closedWhileAsking = h != INVALID_HANDLE_VALUE;
        if (closedWhileAsking) CloseHandle(h);
        CopyFileW(file.c_str(), snapshot.c_str(), FALSE);
    });
    cam->StartRecording({0, 0, 48, 32}, file);
    EXPECT_EQ(cam->CompressorHandler, fcc);
    ASSERT_TRUE(WaitForWorker(*cam));
    EXPECT_FALSE(cam->Recording);

    const auto shown = messages.Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text,
              L"Error recording AVI file using current compressor. Use default compressor? ");
    EXPECT_EQ(shown[0].caption, L"Notice");
    EXPECT_EQ(shown[0].flags, static_cast<UINT>(MB_YESNO | MB_ICONEXCLAMATION));
    EXPECT_TRUE(closedWhileAsking);
    EXPECT_EQ(cam->CompressorHandler, fcc) << "No keeps the handler";
    EXPECT_EQ(log->framesCompressed, 5) << "four frames, then the failing fifth";

    for (const std::wstring& f : {snapshot, file}) {
        const TAviReadBack avi = ReadAvi(f);
        ASSERT_TRUE(avi.opened);
        EXPECT_EQ(avi.positions.size(), 4u);
        EXPECT_EQ(avi.format.biWidth, 48);
    }
    const TProbe probe = ProbeWithFfmpeg(file);
    EXPECT_GE(probe.decodedFrames, 4) << probe.raw;
    EXPECT_EQ(probe.ffmpegExit, 0);
    EXPECT_EQ(probe.ffmpegErrors, "");
}

TEST_F(EngineTest, YesRecordsAgainWithTheDefaultCompressor) {
    TTestCompressors compressors;
    const DWORD fcc = mmioFOURCC('Q', 'F', 'A', 'L');
    TCompressorBehaviour failing;
    failing.failFrame = 3;
    TCompressorLog* failingLog = compressors.Install(fcc, failing);
    ASSERT_NE(failingLog, nullptr);
    // Wine's own "msvc" cannot compress, so a stand-in answers to the default handler.
    TCompressorLog* msvc = compressors.Install(kMSVC, {});
    ASSERT_NE(msvc, nullptr);
    cam->EnumCompressors();
    cam->CompressorIndex = CatalogueIndex(fcc);
    ASSERT_GE(cam->CompressorIndex, 0);

    messages.Answer(IDYES);
    const std::wstring file = dir.File(L"retry.avi");
    cam->StartRecording({0, 0, 48, 32}, file);
    TRecordAVIThread* worker = cam->RecordThread;
    base::TThread::ServeUntil([&] { return msvc->framesCompressed >= 5; }, 10000);
    EXPECT_TRUE(cam->Recording);
    EXPECT_EQ(cam->RecordThread, worker);
    cam->StopRecording();
    ASSERT_TRUE(WaitForWorker(*cam));

    const auto shown = messages.Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, L"Notice");
    EXPECT_EQ(cam->CompressorHandler, kMSVC);
    const TAviReadBack avi = ReadAvi(file);
    ASSERT_TRUE(avi.opened);
    EXPECT_EQ(static_cast<int>(avi.positions.size()), cam->FramesWritten);
    EXPECT_GE(avi.positions.size(), 5u);
    // The repeated run compressed every frame of the file with the default compressor.
    EXPECT_EQ(failingLog->framesCompressed, 3);
    EXPECT_EQ(msvc->framesCompressed, cam->FramesWritten);
    EXPECT_EQ(avi.positions.front(), 0);
}

TEST_F(EngineTest, NoCompressionSelectedWritesFullFrames) {
    TTestCompressors compressors;
    TCompressorLog* msvc = compressors.Install(kMSVC, {});
    ASSERT_NE(msvc, nullptr);
    cam->EnumCompressors();
    cam->CompressorIndex = -1;
    const std::wstring file = dir.File(L"full.avi");
    Record({0, 0, 40, 30}, file, 500);
    EXPECT_EQ(msvc->framesCompressed, 0);
    const TAviReadBack avi = ReadAvi(file);
    ASSERT_TRUE(avi.opened);
    EXPECT_EQ(avi.format.biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_EQ(avi.format.biSizeImage,
              core::ComputeFrameLayout(40, 30, cam->BitsPerPixel).imageSize);
    EXPECT_GE(avi.positions.size(), 2u);
}

TEST_F(EngineTest, ProbeRoundsAnOddSizeToEvenOne) {
    TTestCompressors compressors;
    const DWORD fcc = mmioFOURCC('Q', 'E', 'V', 'N');
    TCompressorBehaviour even;
    even.multiple = 2;
    TCompressorLog* log = compressors.Install(fcc, even);
    ASSERT_NE(log, nullptr);
    cam->EnumCompressors();
    cam->CompressorIndex = CatalogueIndex(fcc);
    ASSERT_GE(cam->CompressorIndex, 0);

    const std::wstring file = dir.File(L"even.avi");
    Record({10, 10, 301, 201}, file, 400);
    TAviReadBack avi = ReadAvi(file);
    ASSERT_TRUE(avi.opened);
    EXPECT_EQ(avi.format.biWidth, 302);
    EXPECT_EQ(avi.format.biHeight, 202);
    EXPECT_EQ(avi.frame.right, 302);
    EXPECT_EQ(avi.frame.bottom, 202);
    EXPECT_EQ(log->framesCompressed, cam->FramesWritten);

    // At the screen's edge the width is rounded down instead.
    cam->ScreenWidth = 301;
    Record({10, 10, 301, 201}, file, 400);
    avi = ReadAvi(file);
    EXPECT_EQ(avi.format.biWidth, 300);
    EXPECT_EQ(avi.format.biHeight, 202);
}

TEST_F(EngineTest, ProbeTriesMultiplesOfTwoThenFour) {
    TTestCompressors compressors;
    const DWORD fcc = mmioFOURCC('Q', 'F', 'O', 'R');
    TCompressorBehaviour four;
    four.multiple = 4;
    TCompressorLog* log = compressors.Install(fcc, four);
    ASSERT_NE(log, nullptr);
    cam->EnumCompressors();
    cam->CompressorIndex = CatalogueIndex(fcc);
    ASSERT_GE(cam->CompressorIndex, 0);
    {
        std::lock_guard<std::mutex> lock(log->m);
        log->queriedSizes.clear();
    }
    const std::wstring file = dir.File(L"four.avi");
    Record({10, 10, 300, 201}, file, 400);
    std::vector<std::pair<LONG, LONG>> probed;
    {
        std::lock_guard<std::mutex> lock(log->m);
        probed.assign(log->queriedSizes.begin(), log->queriedSizes.begin() + 3);
    }
    const std::vector<std::pair<LONG, LONG>> expected{{300, 201}, {300, 202}, {300, 204}};
    EXPECT_EQ(probed, expected);
    const TAviReadBack avi = ReadAvi(file);
    ASSERT_TRUE(avi.opened);
    EXPECT_EQ(avi.format.biWidth, 300);
    EXPECT_EQ(avi.format.biHeight, 204);
    EXPECT_EQ(log->StillOpen(ICMODE_QUERY), 0);
}

TEST_F(EngineTest, ACompressorAcceptingNoSizeFallsBackToTheDefaultSilently) {
    TTestCompressors compressors;
    const DWORD fcc = mmioFOURCC('Q', 'O', 'D', 'D');
    TCompressorBehaviour picky;
    picky.multiple = 40; // accepts the 320 x 200 probe frame, not 301 x 201 up to factor 8
    TCompressorLog* pickyLog = compressors.Install(fcc, picky);
    ASSERT_NE(pickyLog, nullptr);
    TCompressorLog* msvc = compressors.Install(kMSVC, {});
    ASSERT_NE(msvc, nullptr);
    cam->EnumCompressors();
    cam->CompressorIndex = CatalogueIndex(fcc);
    ASSERT_GE(cam->CompressorIndex, 0);

    const std::wstring file = dir.File(L"fallback.avi");
    Record({10, 10, 301, 201}, file, 400);
    EXPECT_TRUE(messages.Shown().empty());
    EXPECT_EQ(cam->CompressorHandler, kMSVC);
    const TAviReadBack avi = ReadAvi(file);
    ASSERT_TRUE(avi.opened);
    EXPECT_EQ(avi.format.biWidth, 301);
    EXPECT_EQ(avi.format.biHeight, 201);
    EXPECT_GT(msvc->framesCompressed, 0);
    EXPECT_EQ(msvc->framesCompressed, cam->FramesWritten);
    EXPECT_EQ(pickyLog->framesCompressed, 0);
}

// ---------------------------------------------------------------------------------------------
// Catalogue

TEST_F(EngineTest, CatalogueListsCompressorsThatAcceptTheScreenFrameThenTheBuiltInEncoder) {
    TTestCompressors compressors;
    TCompressorBehaviour about;
    about.about = true;
    TCompressorLog* acc = compressors.Install(mmioFOURCC('Q', 'A', 'C', 'C'), about);
    TCompressorBehaviour refuse;
    refuse.refuseAll = true;
    TCompressorLog* ref = compressors.Install(mmioFOURCC('Q', 'R', 'E', 'F'), refuse);
    TCompressorBehaviour closed;
    closed.cannotOpen = true;
    ASSERT_NE(compressors.Install(mmioFOURCC('Q', 'N', 'O', 'P'), closed), nullptr);
    ASSERT_NE(acc, nullptr);
    ASSERT_NE(ref, nullptr);

    cam->EnumCompressors();
    const int index = CatalogueIndex(mmioFOURCC('Q', 'A', 'C', 'C'));
    ASSERT_GE(index, 0);
    EXPECT_EQ(CatalogueIndex(mmioFOURCC('Q', 'R', 'E', 'F')), -1);
    EXPECT_EQ(CatalogueIndex(mmioFOURCC('Q', 'N', 'O', 'P')), -1);
    EXPECT_GE(ref->opens, 1) << "the refusing compressor was asked";
    const ICINFO& entry = cam->Compressors[static_cast<std::size_t>(index)];
    EXPECT_EQ(entry.fccType, ICTYPE_VIDEO);
    EXPECT_EQ(std::wstring(entry.szDescription).rfind(L"Test compressor ", 0), 0u);
    EXPECT_EQ(acc->StillOpen(ICMODE_QUERY), 0);
    EXPECT_EQ(ref->StillOpen(ICMODE_QUERY), 0);
    // The probe frame is the upper-left 320 x 200 of the screen.
    {
        std::lock_guard<std::mutex> lock(acc->m);
        ASSERT_FALSE(acc->queriedSizes.empty());
        EXPECT_EQ(acc->queriedSizes.back(), std::make_pair(LONG{320}, LONG{200}));
    }
    // Nothing else on this system takes 32- or 16-bit frames, so the count is ours alone, and
    // the built-in H.264 encoder comes last, with nothing to show about it.
    ASSERT_GE(cam->CompressorCount, 2);
    for (int i = 0; i < cam->CompressorCount - 1; ++i)
        EXPECT_EQ(Fcc(cam->Compressors[static_cast<std::size_t>(i)].fccHandler)[0], 'Q');
    const ICINFO& last = cam->Compressors[static_cast<std::size_t>(cam->CompressorCount - 1)];
    EXPECT_TRUE(IsBuiltInH264(last));
    EXPECT_EQ(std::wstring(last.szDescription), L"H.264 (MP4)");
    bool hasAbout = true, hasConfig = true;
    cam->CompressorCaps(cam->CompressorCount - 1, hasAbout, hasConfig);
    EXPECT_FALSE(hasAbout || hasConfig);
}

TEST_F(EngineTest, CatalogueQueriesOfferWhatTheCompressorOffers) {
    TTestCompressors compressors;
    TCompressorBehaviour about;
    about.about = true;
    TCompressorLog* a = compressors.Install(mmioFOURCC('Q', 'A', 'B', 'T'), about);
    TCompressorBehaviour config;
    config.configure = true;
    TCompressorLog* c = compressors.Install(mmioFOURCC('Q', 'C', 'F', 'G'), config);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(c, nullptr);
    cam->EnumCompressors();
    const int ia = CatalogueIndex(mmioFOURCC('Q', 'A', 'B', 'T'));
    const int ic = CatalogueIndex(mmioFOURCC('Q', 'C', 'F', 'G'));
    ASSERT_GE(ia, 0);
    ASSERT_GE(ic, 0);

    bool hasAbout = false, hasConfig = true;
    cam->CompressorCaps(ia, hasAbout, hasConfig);
    EXPECT_TRUE(hasAbout);
    EXPECT_FALSE(hasConfig);
    cam->CompressorCaps(ic, hasAbout, hasConfig);
    EXPECT_FALSE(hasAbout) << "an about query answered with an error offers no about box";
    EXPECT_TRUE(hasConfig);

    TPatternWindow owner(0, 0, 10, 10, PaintGrey);
    cam->CompressorAbout(ia, owner.Handle());
    EXPECT_EQ(a->aboutShown, 1);
    EXPECT_EQ(a->lastOwner, owner.Handle());
    cam->CompressorConfigure(ic, owner.Handle());
    EXPECT_EQ(c->configureShown, 1);
    EXPECT_EQ(c->lastOwner, owner.Handle());

    // Outside the catalogue: nothing offered, nothing shown.
    for (int index : {-1, static_cast<int>(cam->CompressorCount), 255}) {
        hasAbout = hasConfig = true;
        cam->CompressorCaps(index, hasAbout, hasConfig);
        EXPECT_FALSE(hasAbout) << index;
        EXPECT_FALSE(hasConfig) << index;
        cam->CompressorAbout(index, owner.Handle());
        cam->CompressorConfigure(index, owner.Handle());
    }
    EXPECT_EQ(a->aboutShown + c->aboutShown, 1);
    EXPECT_EQ(a->configureShown + c->configureShown, 1);
    EXPECT_EQ(a->StillOpen(ICMODE_QUERY), 0);
    EXPECT_EQ(c->StillOpen(ICMODE_QUERY), 0);
}

TEST_F(EngineTest, CatalogueHoldsAtMostThirtyTwoEntriesAndShrinksOnRebuild) {
    std::vector<DWORD> fccs;
    {
        TTestCompressors compressors;
        for (int i = 0; i < 40; ++i) {
            const DWORD fcc = mmioFOURCC('Q', 'M', static_cast<char>('A' + i / 10),
                                         static_cast<char>('0' + i % 10));
            ASSERT_NE(compressors.Install(fcc, {}), nullptr);
            fccs.push_back(fcc);
        }
        // System compressors ahead of ours at indexes 0..31 take up visits but refuse.
        int system = 0;
        ICINFO info{};
        for (DWORD i = 0; i < 32; ++i)
            if (ICInfo(ICTYPE_VIDEO, i, &info) && (info.fccHandler & 0xFF) != 'Q') ++system;
        cam->EnumCompressors();
        // The last place is the built-in encoder's.
        EXPECT_EQ(cam->CompressorCount, std::min(32 - system, 31) + 1);
        EXPECT_LE(cam->CompressorCount, 32);
        // The last ones installed lie beyond system index 31 and never appear.
        EXPECT_EQ(CatalogueIndex(fccs.back()), -1);
        EXPECT_GE(CatalogueIndex(fccs.front()), 0);
    }
    // All removed again: the rebuild lists none of them, only the built-in encoder.
    cam->EnumCompressors();
    EXPECT_EQ(cam->CompressorCount, 1);
    for (DWORD fcc : fccs)
        EXPECT_EQ(CatalogueIndex(fcc), -1);
}

TEST_F(EngineTest, DestroyingTheEngineStopsTheRecordingAndWaitsForIt) {
    const std::wstring file = dir.File(L"destroyed.avi");
    cam->StartRecording({0, 0, 32, 32}, file);
    PumpMessages(400);
    const DWORD t0 = GetTickCount();
    cam.reset();
    std::printf("engine destroyed %lu ms into its wait\n",
                static_cast<unsigned long>(GetTickCount() - t0));
    const TAviReadBack avi = ReadAvi(file);
    EXPECT_TRUE(avi.opened) << "the worker closed the file before the engine went";
    EXPECT_GE(avi.positions.size(), 2u);
    cam = std::make_unique<TScreenCam>(); // for TearDown
}

// ---------------------------------------------------------------------------------------------
// Grabs that yield no frame

// A depth no block can hold makes every grab fail the way an exhausted memory would.
constexpr std::uint32_t kUnpackableDepth = 0x7FFFFFFF;

TEST_F(EngineTest, AGrabWithNoBlockReportsAndReturnsNothing) {
    cam->BitsPerPixel = kUnpackableDepth;
    BITMAPINFOHEADER* f = cam->GrabFrame(0, 0, 320, 200);
    EXPECT_EQ(f, nullptr);
    const auto shown = messages.Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, L"Error capturing a frame!");
    EXPECT_EQ(shown[0].caption, L"Error");
    EXPECT_EQ(shown[0].flags, static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION));
}

TEST_F(EngineTest, ACatalogueRebuildWithoutAProbeFrameListsNothing) {
    TTestCompressors compressors;
    ASSERT_NE(compressors.Install(mmioFOURCC('Q', 'N', 'P', 'F'), {}), nullptr);
    cam->EnumCompressors();
    ASSERT_GT(cam->CompressorCount, 0);
    cam->BitsPerPixel = kUnpackableDepth;
    cam->EnumCompressors();
    EXPECT_EQ(cam->CompressorCount, 0);
    EXPECT_EQ(messages.Shown().size(), 1u);
}

TEST_F(EngineTest, AMissingFirstFrameEndsTheRunLikeAFailedFileCall) {
    cam->BitsPerPixel = kUnpackableDepth;
    const std::wstring file = dir.File(L"noframe.avi");
    cam->StartRecording({0, 0, 32, 32}, file);
    ASSERT_TRUE(WaitForWorker(*cam));
    EXPECT_FALSE(cam->Recording);
    const auto shown = messages.Shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, L"Error capturing a frame!");
    EXPECT_EQ(shown[1].text, L"Error Creating AVI file");
    EXPECT_FALSE(FileExists(file));
}

// ---------------------------------------------------------------------------------------------
// More of the recording's timing

TEST_F(EngineTest, StoppedWhileAskingThenYesLeavesAStreamWithoutFrames) {
    TTestCompressors compressors;
    const DWORD fcc = mmioFOURCC('Q', 'F', 'A', 'L');
    TCompressorBehaviour failing;
    failing.failFrame = 2;
    ASSERT_NE(compressors.Install(fcc, failing), nullptr);
    TCompressorLog* msvc = compressors.Install(kMSVC, {});
    ASSERT_NE(msvc, nullptr);
    cam->EnumCompressors();
    cam->CompressorIndex = CatalogueIndex(fcc);
    ASSERT_GE(cam->CompressorIndex, 0);

    // The user presses Stop while the question is up, then answers Yes.
    messages.Answer(IDYES, [&] { cam->StopRecording(); });
    const std::wstring file = dir.File(L"stopped-asking.avi");
    cam->StartRecording({0, 0, 48, 32}, file);
    ASSERT_TRUE(WaitForWorker(*cam));
    EXPECT_EQ(messages.Shown().size(), 1u);
    EXPECT_EQ(cam->FramesWritten, 0);
    const TAviReadBack avi = ReadAvi(file);
    ASSERT_TRUE(avi.opened);
    EXPECT_EQ(avi.streams, 1);
    EXPECT_TRUE(avi.positions.empty());
    EXPECT_EQ(msvc->framesCompressed, 0);
}

TEST_F(EngineTest, LongIntervalsReportProgressOncePerSlot) {
    std::atomic<int> notes{0};
    cam->OnProgress = [&](TScreenCam&) { ++notes; };
    cam->CaptureInterval = 600;
    const std::wstring file = dir.File(L"long.avi");
    Record({0, 0, 32, 32}, file, 2000);
    // Passes at about 0, 600, 1200 and 1800 ms: every pass after the first reports.
    EXPECT_GE(cam->FramesWritten, 3);
    EXPECT_EQ(notes, cam->FramesWritten - 1);
    const TAviReadBack avi = ReadAvi(file);
    ASSERT_TRUE(avi.opened);
    ASSERT_GE(avi.positions.size(), 3u);
    EXPECT_EQ(avi.positions[0], 0);
    EXPECT_EQ(avi.positions[1], 1);
    EXPECT_EQ(avi.positions[2], 2);
}

TEST_F(EngineTest, ASelectedCompressorThatCannotBeOpenedFallsBackSilently) {
    TTestCompressors compressors;
    const DWORD fcc = mmioFOURCC('Q', 'G', 'O', 'N');
    TCompressorLog* gone = compressors.Install(fcc, {});
    ASSERT_NE(gone, nullptr);
    TCompressorLog* msvc = compressors.Install(kMSVC, {});
    ASSERT_NE(msvc, nullptr);
    cam->EnumCompressors();
    cam->CompressorIndex = CatalogueIndex(fcc);
    ASSERT_GE(cam->CompressorIndex, 0);
    gone->refuseOpen = true; // uninstalled behind the catalogue's back

    const std::wstring file = dir.File(L"gone.avi");
    Record({10, 10, 301, 201}, file, 400);
    EXPECT_TRUE(messages.Shown().empty());
    EXPECT_EQ(cam->CompressorHandler, kMSVC);
    EXPECT_EQ(gone->framesCompressed, 0);
    EXPECT_EQ(msvc->framesCompressed, cam->FramesWritten);
    const TAviReadBack avi = ReadAvi(file);
    ASSERT_TRUE(avi.opened);
    EXPECT_EQ(avi.format.biWidth, 301);
    EXPECT_EQ(avi.format.biHeight, 201);
}

TEST_F(EngineTest, IndeoFiveIsReplacedByTheDefaultCompressor) {
    TTestCompressors compressors;
    const DWORD iv50 = mmioFOURCC('I', 'V', '5', '0');
    TCompressorLog* indeo = compressors.Install(iv50, {});
    ASSERT_NE(indeo, nullptr);
    TCompressorLog* msvc = compressors.Install(kMSVC, {});
    ASSERT_NE(msvc, nullptr);
    cam->EnumCompressors();
    cam->CompressorIndex = CatalogueIndex(iv50);
    ASSERT_GE(cam->CompressorIndex, 0);

    Record({0, 0, 32, 32}, dir.File(L"iv50.avi"), 400);
    EXPECT_EQ(cam->CompressorHandler, kMSVC);
    EXPECT_EQ(indeo->framesCompressed, 0);
    EXPECT_GT(msvc->framesCompressed, 0);
    EXPECT_EQ(msvc->framesCompressed, cam->FramesWritten);
}

TEST_F(EngineTest, YesRecordsAgainWithTheProgramsOwnMsvc1Encoder) {
    TTestCompressors compressors;
    const DWORD fcc = mmioFOURCC('Q', 'F', 'A', 'L');
    TCompressorBehaviour failing;
    failing.failFrame = 3;
    ASSERT_NE(compressors.Install(fcc, failing), nullptr);
    ASSERT_TRUE(InstallOwnMsvc1IfNeeded(cam->BitsPerPixel));
    cam->EnumCompressors();
    cam->CompressorIndex = CatalogueIndex(fcc);
    ASSERT_GE(cam->CompressorIndex, 0);

    TPatternWindow window(0, 0, 64, 48, PaintStripes);
    messages.Answer(IDYES);
    const std::wstring file = dir.File(L"msvc1.avi");
    cam->StartRecording({0, 0, 64, 48}, file);
    PumpMessages(1000);
    cam->StopRecording();
    ASSERT_TRUE(WaitForWorker(*cam));
    RemoveOwnMsvc1();

    EXPECT_EQ(messages.Shown().size(), 1u);
    const TAviReadBack avi = ReadAvi(file);
    ASSERT_TRUE(avi.opened);
    EXPECT_NE(avi.format.biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_GE(avi.positions.size(), 5u);
    EXPECT_EQ(static_cast<int>(avi.positions.size()), cam->FramesWritten);
    const TProbe probe = ProbeWithFfmpeg(file);
    EXPECT_EQ(probe.codecName, "msvideo1") << probe.raw;
    EXPECT_GE(probe.decodedFrames, static_cast<int>(avi.positions.size())) << probe.raw;
    EXPECT_EQ(probe.ffmpegExit, 0);
    EXPECT_EQ(probe.ffmpegErrors, "");
}
