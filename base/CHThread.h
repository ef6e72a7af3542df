// A worker thread that the UI thread can wait for while it keeps handling
// window messages. Windows only.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>

namespace quillo {

class CHThread {
public:
    using Routine = void (*)(CHThread* self, void* userData);
    using Body = std::function<void(CHThread*)>;
    using Hook = std::function<void()>;

    CHThread() = default;
    ~CHThread();
    CHThread(const CHThread&) = delete;
    CHThread& operator=(const CHThread&) = delete;

    // Starts the thread; false when one is already running (nothing changes)
    // or the thread cannot be created.
    bool Start(Routine routine, void* userData);
    // The same with a callable; a callable passed while a thread runs is dropped.
    bool Start(Body body);

    // Ends a running thread forcibly (exit code -1).
    void Terminate();

    // Waits for the thread while dispatching the calling thread's messages.
    // A WM_QUIT seen meanwhile ends the thread forcibly and is posted again.
    // True when the thread ended by itself (or none was running); false when
    // it had to be ended.
    bool WaitPumpingMessages();

    bool Running() const { return handle_.load() != nullptr; }

    // Run on the new thread before and after the body.
    Hook onStart;
    Hook onExit;

    // Set by a cancel request; the worker may look at it.
    volatile long stopRequested = 0;

private:
    static unsigned __stdcall Entry(void* self);
    bool Launch();
    void CloseWaitHandle();

    // The running marker: set by the starter, taken back by atomic exchange
    // by the thread as it ends (which closes it) or by Terminate.
    std::atomic<HANDLE> handle_{nullptr};
    // The owner's own reference to the same thread, used only by the thread
    // that starts, waits for and terminates it.
    HANDLE waitHandle_ = nullptr;
    void* userData_ = nullptr;
    Routine routine_ = nullptr;
    Body body_;
};

}  // namespace quillo
