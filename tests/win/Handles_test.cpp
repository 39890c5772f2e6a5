// The handle owners: each closes its handle once, moves hand ownership over, guards restore.
#include "base/Handles.h"
#include "base/ScopeGuard.h"

#include "EngineTestSupport.h"
#include "TestCompressors.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>

using namespace base;
using namespace enginetest;

TEST(HandlesTest, AGdiObjectIsDeletedOnceAndFollowsItsMove) {
    HBITMAP raw = CreateBitmap(4, 4, 1, 32, nullptr);
    ASSERT_NE(raw, nullptr);
    {
        TBitmapHandle a(raw);
        TBitmapHandle b(std::move(a));
        EXPECT_FALSE(a);
        EXPECT_EQ(b.get(), raw);
        TBitmapHandle c;
        c = std::move(b);
        EXPECT_EQ(GetObjectType(raw), static_cast<DWORD>(OBJ_BITMAP));
    }
    EXPECT_EQ(GetObjectType(raw), 0u);

    HBITMAP kept = CreateBitmap(4, 4, 1, 32, nullptr);
    {
        TBitmapHandle owner(kept);
        EXPECT_EQ(owner.release(), kept);
    }
    EXPECT_EQ(GetObjectType(kept), static_cast<DWORD>(OBJ_BITMAP));
    DeleteObject(kept);
}

TEST(HandlesTest, ReplacingAValueClosesTheOldOneOnce) {
    HBITMAP first = CreateBitmap(4, 4, 1, 32, nullptr), second = CreateBitmap(4, 4, 1, 32, nullptr);
    {
        TBitmapHandle a(first), b(second);
        a = std::move(b); // first goes, second moves over
        EXPECT_EQ(GetObjectType(first), 0u);
        EXPECT_EQ(a.get(), second);
        *a.put() = CreateBitmap(4, 4, 1, 32, nullptr); // put closes what it held
        EXPECT_EQ(GetObjectType(second), 0u);
    }

    // A COM reference is released once, by whoever holds it last.
    struct TCounted {
        int releases = 0;
        void Release() { ++releases; }
    } object;
    {
        TComRef<TCounted> ref(&object);
        TComRef<TCounted> other(std::move(ref));
        TComRef<TCounted> third;
        third = std::move(other);
    }
    EXPECT_EQ(object.releases, 1);
}

TEST(HandlesTest, ScopeExitRunsOnceUnlessDismissed) {
    int runs = 0;
    {
        auto guard = ScopeExit([&] { ++runs; });
    }
    EXPECT_EQ(runs, 1);
    {
        auto guard = ScopeExit([&] { ++runs; });
        guard.Dismiss();
    }
    EXPECT_EQ(runs, 1);
    try {
        auto guard = ScopeExit([&] { ++runs; });
        throw std::runtime_error("unwinding");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(runs, 2);
}

TEST(HandlesTest, ASelectionIsUndoneAtScopeEnd) {
    TMemoryDC dc(CreateCompatibleDC(nullptr));
    ASSERT_TRUE(dc);
    const HGDIOBJ original = GetCurrentObject(dc.get(), OBJ_BITMAP);
    TBitmapHandle bmp(CreateBitmap(4, 4, 1, 1, nullptr));
    {
        TSelectObject select(dc.get(), bmp.get());
        EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_BITMAP), bmp.get());
    }
    EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_BITMAP), original);
    {
        TSelectObject select(dc.get(), bmp.get());
        select.restore();
        EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_BITMAP), original);
    }
    EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_BITMAP), original);
}

TEST(HandlesTest, GdiObjectsComeBackToTheirCount) {
    auto useScreen = [](long* inside) {
        TWindowDC screen(nullptr);
        TMemoryDC dc(CreateCompatibleDC(screen.get()));
        TBitmapHandle bmp(CreateCompatibleBitmap(screen.get(), 8, 8));
        TSelectObject select(dc.get(), bmp.get());
        if (inside) *inside = GdiObjectCount();
    };
    useScreen(nullptr); // the platform sets up what it keeps for the screen once
    const long before = GdiObjectCount();
    if (before < 0) GTEST_SKIP() << "no way to count GDI objects here";
    long inside = 0;
    useScreen(&inside);
    EXPECT_GE(inside, before + 2);
    EXPECT_EQ(GdiObjectCount(), before);
}

TEST(HandlesTest, AGlobalLockIsReleasedUnlessKept) {
    TGlobalHandle block(GlobalAlloc(GMEM_MOVEABLE, 64));
    ASSERT_TRUE(block);
    {
        TGlobalLock lock(block.get());
        ASSERT_NE(lock.get(), nullptr);
        EXPECT_EQ(GlobalFlags(block.get()) & GMEM_LOCKCOUNT, 1u);
    }
    EXPECT_EQ(GlobalFlags(block.get()) & GMEM_LOCKCOUNT, 0u);
    {
        TGlobalLock lock(block.get());
        TGlobalLock moved(std::move(lock)); // one unlock, by the new holder
    }
    EXPECT_EQ(GlobalFlags(block.get()) & GMEM_LOCKCOUNT, 0u);
    void* kept = nullptr;
    {
        TGlobalLock lock(block.get());
        kept = lock.release();
    }
    EXPECT_EQ(GlobalFlags(block.get()) & GMEM_LOCKCOUNT, 1u);
    EXPECT_EQ(GlobalHandle(kept), block.get());
    GlobalUnlock(block.get());
}

TEST(HandlesTest, ACompressorInstanceIsClosed) {
    TTestCompressors compressors;
    const DWORD fcc = mmioFOURCC('Q', 'H', 'N', 'D');
    TCompressorLog* log = compressors.Install(fcc, {});
    ASSERT_NE(log, nullptr);
    {
        TCompressorHandle ic(ICOpen(ICTYPE_VIDEO, fcc, ICMODE_QUERY));
        ASSERT_TRUE(ic);
        EXPECT_EQ(log->StillOpen(ICMODE_QUERY), 1);
        TCompressorHandle moved(std::move(ic));
        EXPECT_EQ(log->StillOpen(ICMODE_QUERY), 1);
    }
    EXPECT_EQ(log->StillOpen(ICMODE_QUERY), 0);
}

TEST(HandlesTest, AnAviFileIsClosedWhenFileAndStreamAreReleased) {
    TTempDir dir;
    const std::wstring path = dir.File(L"handles.avi");
    {
        TAviFileLibrary library;
        TAviFileHandle file;
        ASSERT_EQ(AVIFileOpenW(file.put(), path.c_str(), OF_WRITE | OF_CREATE, nullptr), 0);
        AVISTREAMINFOW info{};
        info.fccType = streamtypeVIDEO;
        info.dwScale = 1;
        info.dwRate = 5;
        SetRect(&info.rcFrame, 0, 0, 4, 4);
        TAviStreamHandle stream;
        ASSERT_EQ(AVIFileCreateStreamW(file.get(), stream.put(), &info), 0);
        EXPECT_TRUE(stream);
    }
    // Nothing holds the file open any more: it can be deleted.
    EXPECT_TRUE(DeleteFileW(path.c_str()));
}
