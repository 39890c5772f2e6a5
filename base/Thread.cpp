#include "base/Thread.h"

#include <process.h>

#include <mutex>
#include <unordered_map>

namespace base {

namespace {

const wchar_t kNotifyClass[] = L"QuarnelbyThreadNotify";

UINT TerminatedMessage() {
    static const UINT msg = RegisterWindowMessageW(L"Quarnelby.ThreadTerminated");
    return msg;
}

// Live thread objects by serial number. A notification carries the number, not the pointer, so
// one that arrives after its object was destroyed (or whose address was reused) finds nothing.
std::mutex& RegistryLock() {
    static std::mutex m;
    return m;
}
std::unordered_map<std::uint64_t, TThread*>& Registry() {
    static std::unordered_map<std::uint64_t, TThread*> r;
    return r;
}
std::uint64_t NextId() {
    static std::atomic<std::uint64_t> next{1};
    return next++;
}

thread_local HWND tNotifyWnd = nullptr;

} // namespace

HWND TThread::NotifyWindow() {
    if (tNotifyWnd && IsWindow(tNotifyWnd)) return tNotifyWnd;
    static std::once_flag registered;
    std::call_once(registered, [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = NotifyProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kNotifyClass;
        RegisterClassExW(&wc);
    });
    // A message-only window: never shown, not enumerated, but served by every message loop of
    // this thread.
    tNotifyWnd = CreateWindowExW(0, kNotifyClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    return tNotifyWnd;
}

TThread::TThread() : notifyWnd_(NotifyWindow()), creatorThreadId_(GetCurrentThreadId()) {
    id_ = NextId();
    {
        std::lock_guard<std::mutex> lock(RegistryLock());
        Registry()[id_] = this;
    }
    unsigned tid = 0;
    handle_.reset(reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, ThreadProcCrt, this, CREATE_SUSPENDED, &tid)));
    threadId_ = tid;
}

TThread::~TThread() {
    {
        std::lock_guard<std::mutex> lock(RegistryLock());
        Registry().erase(id_);
    }
    if (!handle_) return;
    if (!started_) {
        // Let the never-started thread run out without its body.
        runBody_ = false;
        started_ = true;
        ResumeThread(handle_.get());
    }
    terminated_ = true;
    // A thread object deleting itself on its own thread (its notification could not be posted)
    // must not wait for itself.
    if (GetCurrentThreadId() != threadId_) WaitForSingleObject(handle_.get(), INFINITE);
}

void TThread::Start() {
    if (started_ || !handle_) return;
    started_ = true;
    ResumeThread(handle_.get());
}

unsigned __stdcall TThread::ThreadProcCrt(void* param) {
    auto* self = static_cast<TThread*>(param);
    if (self->runBody_) {
        try {
            self->Execute();
        } catch (...) {
            self->fatalException_ = std::current_exception();
        }
    }
    // The object outlives this procedure: its destructor waits for the thread to end.
    const std::uint64_t id = self->id_;
    const HWND wnd = self->notifyWnd_;
    self->finished_ = true;
    if (!self->runBody_) return 0;
    if (!wnd || !PostMessageW(wnd, TerminatedMessage(), 0, static_cast<LPARAM>(id))) {
        // The creating thread has no window any more: nobody will deliver the end.
        if (self->freeOnTerminate_) delete self;
    }
    return 0;
}

LRESULT CALLBACK TThread::NotifyProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == TerminatedMessage()) {
        TThread* t = nullptr;
        {
            std::lock_guard<std::mutex> lock(RegistryLock());
            auto it = Registry().find(static_cast<std::uint64_t>(lp));
            if (it != Registry().end()) {
                t = it->second;
                Registry().erase(it);
            }
        }
        if (t) t->DoTerminate();
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

void TThread::DoTerminate() {
    try {
        if (OnTerminate) OnTerminate(*this);
    } catch (...) {
        // No exception crosses the window procedure; a handler that failed has no one to tell.
    }
    notified_ = true;
    if (freeOnTerminate_) delete this;
}

void TThread::ServeNotifications() {
    const HWND wnd = NotifyWindow();
    const UINT tm = TerminatedMessage();
    MSG m;
    // Peeking also delivers messages sent from other threads.
    while (PeekMessageW(&m, wnd, tm, tm, PM_REMOVE))
        DispatchMessageW(&m);
}

bool TThread::ServeUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        ServeNotifications();
        if (done()) return true;
        DWORD wait = 10;
        if (timeoutMs != INFINITE) {
            const DWORD spent = GetTickCount() - start;
            if (spent >= timeoutMs) return false;
            if (timeoutMs - spent < wait) wait = timeoutMs - spent;
        }
        // Woken by new posted or sent messages; the short timeout covers a done() that turns
        // true without a message and posted messages that are not ours.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, wait, QS_POSTMESSAGE | QS_SENDMESSAGE);
    }
}

void TThread::WaitFor() {
    if (!handle_ || !started_) return;
    if (GetCurrentThreadId() == creatorThreadId_) {
        ServeUntil([this] { return notified_.load(); });
    }
    WaitForSingleObject(handle_.get(), INFINITE);
}

} // namespace base
