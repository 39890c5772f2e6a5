// Thread: a worker thread object that runs Execute and reports its end on the creating thread.
#pragma once

#include "base/Handles.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>

namespace base {

// Owns one system thread that runs the overridable body Execute. The thread is created
// suspended so the object (and whoever sets it up) is complete before the body runs; Start()
// lets it run. When the body has returned, OnTerminate is raised on the thread that created the
// object (the user-interface thread): the end is posted to a hidden message-only window of that
// thread, so any message loop serves it, modal loops and message boxes included. With
// FreeOnTerminate set, the object deletes itself right after OnTerminate.
class TThread {
public:
    TThread();
    // Asks the body to finish and waits for the system thread to end. A thread that was never
    // started ends without running its body. The termination notification of a destroyed object
    // is never delivered. A derived class's members are gone before this wait, so a body that
    // uses them must have returned (WaitFor) before such an object is destroyed.
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Lets the suspended thread run its body. Only the first call has an effect.
    void Start();

    // Asks the body to finish; the body polls Terminated().
    void Terminate() { terminated_ = true; }

    bool FreeOnTerminate() const { return freeOnTerminate_; }
    void SetFreeOnTerminate(bool v) { freeOnTerminate_ = v; }

    // True once the body has returned.
    bool Finished() const { return finished_; }

    HANDLE Handle() const { return handle_.get(); }
    DWORD ThreadID() const { return threadId_; }

    // An exception that escaped Execute (it never crosses the thread procedure).
    std::exception_ptr FatalException() const { return fatalException_; }

    // Waits until the body has returned and, when called on the creating thread, its
    // OnTerminate has run; serves the termination notifications of this thread meanwhile.
    // Not for FreeOnTerminate objects, which may be gone when the wait ends: use ServeUntil.
    void WaitFor();

    // Raised on the creating thread after Execute has returned.
    std::function<void(TThread&)> OnTerminate;

    // Serves the calling thread's termination notifications (and messages sent to it from other
    // threads) until done() is true. Other posted messages stay queued, so no unrelated window
    // handler runs inside the wait. Returns false when timeoutMs passed first.
    static bool ServeUntil(const std::function<bool()>& done, DWORD timeoutMs = INFINITE);

protected:
    virtual void Execute() = 0;
    bool Terminated() const { return terminated_; }

private:
    static unsigned __stdcall ThreadProcCrt(void* param);
    static LRESULT CALLBACK NotifyProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static HWND NotifyWindow();
    static void ServeNotifications();
    void DoTerminate();

    TKernelHandle handle_;
    DWORD threadId_ = 0;
    HWND notifyWnd_ = nullptr;
    DWORD creatorThreadId_ = 0;
    std::uint64_t id_ = 0;
    bool started_ = false;
    std::atomic<bool> runBody_{true};
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> notified_{false};
    std::atomic<bool> freeOnTerminate_{false};
    std::exception_ptr fatalException_;
};

} // namespace base
