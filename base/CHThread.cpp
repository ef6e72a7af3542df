#include "base/CHThread.h"

#include <process.h>

namespace quillo {

CHThread::~CHThread() {
    Terminate();
}

bool CHThread::Start(Routine routine, void* userData) {
    if (handle_.load() != nullptr) return false;
    stopRequested = 0;
    userData_ = userData;
    routine_ = routine;
    return Launch();
}

bool CHThread::Start(Body body) {
    if (handle_.load() != nullptr) return false;
    stopRequested = 0;
    body_ = std::move(body);
    return Launch();
}

bool CHThread::Launch() {
    CloseWaitHandle();
    // Started suspended so that both handles exist before the thread can end.
    const uintptr_t raw = _beginthreadex(nullptr, 0, &CHThread::Entry, this, CREATE_SUSPENDED, nullptr);
    if (raw == 0) return false;
    HANDLE thread = reinterpret_cast<HANDLE>(raw);
    if (!DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &waitHandle_, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        waitHandle_ = nullptr;
    }
    handle_.exchange(thread);
    ResumeThread(thread);
    return true;
}

unsigned __stdcall CHThread::Entry(void* param) {
    auto* self = static_cast<CHThread*>(param);
    if (self->onStart) self->onStart();
    if (self->routine_) {
        self->routine_(self, self->userData_);
    } else if (self->body_) {
        self->body_(self);
    }
    if (self->onExit) self->onExit();
    HANDLE own = self->handle_.exchange(nullptr);
    if (own) CloseHandle(own);
    _endthreadex(0);
    return 0;
}

void CHThread::CloseWaitHandle() {
    if (waitHandle_) {
        CloseHandle(waitHandle_);
        waitHandle_ = nullptr;
    }
}

void CHThread::Terminate() {
    HANDLE thread = handle_.exchange(nullptr);
    if (thread) {
        TerminateThread(thread, static_cast<DWORD>(-1));
        // Termination is asynchronous: let it finish before the object's
        // members go away under the thread.
        WaitForSingleObject(waitHandle_ ? waitHandle_ : thread, 5000);
        CloseHandle(thread);
    }
    CloseWaitHandle();
}

bool CHThread::WaitPumpingMessages() {
    if (handle_.load() == nullptr) {
        CloseWaitHandle();
        return true;
    }
    if (!waitHandle_) {
        Terminate();
        return false;
    }
    for (;;) {
        const DWORD r = MsgWaitForMultipleObjects(1, &waitHandle_, FALSE, INFINITE, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) {
            HANDLE thread = handle_.exchange(nullptr);
            if (thread) CloseHandle(thread);
            CloseWaitHandle();
            return true;
        }
        if (r != WAIT_OBJECT_0 + 1) {
            Terminate();
            return false;
        }
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                Terminate();
                PostQuitMessage(0);
                return false;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

}  // namespace quillo
