// A stand-in for the progress window in the install and uninstall tests: a
// real native window on the test thread that records the worker messages,
// the status texts and the hand-overs, with helpers that run the sequences
// as the progress window does (install on its install thread, uninstall on
// the window's own thread).
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "install/InstallSequence.h"
#include "install/RunState.h"
#include "uninstall/UninstallSequence.h"

namespace quillo {
namespace test {

class TestProgressWindow : public RunState {
public:
    TestProgressWindow() {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = &TestProgressWindow::Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"QuilloTestProgress";
        RegisterClassW(&wc);
        window = CreateWindowW(L"QuilloTestProgress", L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                               wc.hInstance, nullptr);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        statusSink = [this](const std::wstring& text) {
            std::lock_guard<std::mutex> hold(lock_);
            statuses_.push_back(text);
        };
    }
    ~TestProgressWindow() override {
        installThread.Terminate();
        driverThread.Terminate();
        DestroyWindow(window);
    }

    void FinishWork() override { ++finishCalls; }
    void HandOverDetector(const std::wstring& libraryPath) override { detectorLibrary = libraryPath; }

    std::vector<std::wstring> statuses() {
        std::lock_guard<std::mutex> hold(lock_);
        return statuses_;
    }

    // Runs RunInstall on the install thread and waits for it (and for a
    // driver step it starts) while this thread handles the window's
    // messages; a failure is posted as the progress window does.
    int Install(const std::wstring& setupFile) {
        int code = -1;
        installThread.Start([&](CHThread*) {
            code = RunInstall(*this, digest, setupFile);
            if (code != 0) ReportFailed(code);
        });
        installThread.WaitPumpingMessages();
        driverThread.WaitPumpingMessages();
        Pump();
        return code;
    }

    bool Uninstall(const std::wstring& uninstaller) {
        const bool ok = RunUninstall(*this, uninstaller);
        Pump();
        return ok;
    }

    void Pump() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }

    // Percentages of the WM_SETUP_PROGRESS messages, in order.
    std::vector<int> progress;
    int doneCount = 0;
    std::vector<int> failures;
    int finishCalls = 0;
    std::wstring detectorLibrary;
    std::string digest;

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
        auto* self = reinterpret_cast<TestProgressWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self) {
            if (msg == WM_SETUP_PROGRESS && wp == 1) self->progress.push_back(static_cast<int>(lp));
            if (msg == WM_SETUP_DONE) ++self->doneCount;
            if (msg == WM_SETUP_FAILED && wp == 1) self->failures.push_back(static_cast<int>(lp));
        }
        return DefWindowProcW(hwnd, msg, wp, lp);
    }

    std::mutex lock_;
    std::vector<std::wstring> statuses_;
};

}  // namespace test
}  // namespace quillo
