// TThread: the body runs on its own thread once started, the end is delivered on the creating
// thread through any message loop, and a free-on-terminate object deletes itself afterwards.
#include "base/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <stdexcept>

using base::TThread;

namespace {

class TTestThread : public TThread {
public:
    explicit TTestThread(std::function<void()> body, bool* destroyed = nullptr)
        : body_(std::move(body)), destroyed_(destroyed) {}
    ~TTestThread() override {
        if (destroyed_) *destroyed_ = true;
    }
    std::atomic<DWORD> bodyThread{0};
    std::atomic<bool> ran{false};

protected:
    void Execute() override {
        bodyThread = GetCurrentThreadId();
        ran = true;
        if (body_) body_();
    }

private:
    std::function<void()> body_;
    bool* destroyed_;
};

void Pump(DWORD ms) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&m);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

} // namespace

TEST(ThreadTest, BodyWaitsForStart) {
    TTestThread t(nullptr);
    Sleep(100);
    EXPECT_FALSE(t.ran);
    t.Start();
    t.WaitFor();
    EXPECT_TRUE(t.ran);
    EXPECT_TRUE(t.Finished());
    EXPECT_NE(t.bodyThread, GetCurrentThreadId());
}

TEST(ThreadTest, TerminationIsDeliveredOnTheCreatingThreadThenTheObjectFreesItself) {
    bool destroyed = false;
    DWORD handlerThread = 0;
    bool finishedInHandler = false;
    auto* t = new TTestThread([] { Sleep(50); }, &destroyed);
    t->SetFreeOnTerminate(true);
    t->OnTerminate = [&](TThread& sender) {
        handlerThread = GetCurrentThreadId();
        finishedInHandler = sender.Finished();
        EXPECT_FALSE(destroyed);
    };
    t->Start();
    // Not delivered while this thread serves no messages.
    Sleep(300);
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(handlerThread, 0u);
    EXPECT_TRUE(TThread::ServeUntil([&] { return destroyed; }, 5000));
    EXPECT_EQ(handlerThread, GetCurrentThreadId());
    EXPECT_TRUE(finishedInHandler);
}

TEST(ThreadTest, AMessageBoxLoopDeliversTheTermination) {
    bool delivered = false;
    auto* t = new TTestThread([] { Sleep(100); });
    t->SetFreeOnTerminate(true);
    t->OnTerminate = [&](TThread&) { delivered = true; };
    t->Start();
    // A thread timer closes the box once the end has been delivered inside its modal loop.
    static bool* seen = nullptr;
    seen = &delivered;
    const UINT_PTR timer = SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) {
        if (!*seen) return;
        if (HWND box = FindWindowW(nullptr, L"Thread test box")) PostMessageW(box, WM_CLOSE, 0, 0);
    });
    MessageBoxW(nullptr, L"waiting", L"Thread test box", MB_OK);
    KillTimer(nullptr, timer);
    EXPECT_TRUE(delivered);
}

TEST(ThreadTest, WaitForServesTheTerminationOfThisThread) {
    TTestThread t([] { Sleep(50); });
    bool delivered = false;
    t.OnTerminate = [&](TThread&) { delivered = true; };
    t.Start();
    t.WaitFor();
    EXPECT_TRUE(delivered);
    EXPECT_TRUE(t.Finished());
}

TEST(ThreadTest, ADestroyedObjectGetsNoLateNotification) {
    bool delivered = false;
    {
        TTestThread t(nullptr);
        t.OnTerminate = [&](TThread&) { delivered = true; };
        t.Start();
        while (!t.Finished())
            Sleep(1);
    } // destroyed with its notification still queued
    Pump(200);
    EXPECT_FALSE(delivered);
}

TEST(ThreadTest, AThreadNeverStartedEndsWithoutItsBody) {
    bool ran = false;
    {
        TTestThread t([&] { ran = true; });
        t.OnTerminate = [&](TThread&) { ran = true; };
    }
    Pump(100);
    EXPECT_FALSE(ran);
}

TEST(ThreadTest, AnExceptionInTheBodyStaysOnItsThread) {
    TTestThread t([] { throw std::runtime_error("body failed"); });
    t.Start();
    t.WaitFor();
    EXPECT_TRUE(t.Finished());
    EXPECT_TRUE(static_cast<bool>(t.FatalException()));
}

TEST(ThreadTest, ServeUntilGivesUpAfterItsTimeout) {
    const DWORD start = GetTickCount();
    EXPECT_FALSE(TThread::ServeUntil([] { return false; }, 100));
    EXPECT_GE(GetTickCount() - start, 90u);
    EXPECT_TRUE(TThread::ServeUntil([] { return true; }, 0));
}

TEST(ThreadTest, TerminateAsksTheBodyToFinish) {
    struct TLoop : TThread {
        std::atomic<int> passes{0};
        void Execute() override {
            while (!Terminated()) {
                ++passes;
                Sleep(1);
            }
        }
    } t;
    t.Start();
    Sleep(50);
    t.Terminate();
    t.WaitFor();
    EXPECT_GT(t.passes, 0);
    EXPECT_TRUE(t.Finished());
}
