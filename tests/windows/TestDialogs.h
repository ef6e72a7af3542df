// Answers the message boxes that the code under test shows in this process,
// from a thread of its own, and records what they said.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quillo {

class DialogAnswerer {
public:
    struct Seen {
        std::wstring caption;
        std::wstring text;
    };

    // `answer` is the button pressed: IDOK, IDYES, IDNO, ...
    explicit DialogAnswerer(int answer = IDOK) : answer_(answer), worker_([this] { Run(); }) {}
    ~DialogAnswerer() {
        stop_ = true;
        worker_.join();
    }

    void SetAnswer(int answer) { answer_ = answer; }

    std::vector<Seen> seen() {
        std::lock_guard<std::mutex> hold(lock_);
        return seen_;
    }

private:
    struct Search {
        DWORD pid;
        HWND found;
    };

    static BOOL CALLBACK Find(HWND hwnd, LPARAM param) {
        auto* search = reinterpret_cast<Search*>(param);
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        wchar_t cls[16] = {};
        GetClassNameW(hwnd, cls, 16);
        if (pid == search->pid && lstrcmpW(cls, L"#32770") == 0 && IsWindowVisible(hwnd)) {
            search->found = hwnd;
            return FALSE;
        }
        return TRUE;
    }

    void Run() {
        while (!stop_) {
            Search search{GetCurrentProcessId(), nullptr};
            EnumWindows(&DialogAnswerer::Find, reinterpret_cast<LPARAM>(&search));
            if (!search.found || search.found == last_) {
                Sleep(20);
                continue;
            }
            // The controls may not exist yet when the dialog is first seen.
            wchar_t text[1024] = {};
            for (int i = 0; i < 100 && GetDlgItemTextW(search.found, 0xFFFF, text, 1024) == 0; ++i) {
                if (GetDlgItem(search.found, answer_) && GetDlgItem(search.found, 0xFFFF)) break;
                Sleep(20);
            }
            GetDlgItemTextW(search.found, 0xFFFF, text, 1024);
            wchar_t caption[256] = {};
            GetWindowTextW(search.found, caption, 256);
            {
                std::lock_guard<std::mutex> hold(lock_);
                seen_.push_back({caption, text});
            }
            last_ = search.found;
            PostMessageW(search.found, WM_COMMAND, static_cast<WPARAM>(answer_.load()), 0);
        }
    }

    std::atomic<int> answer_;
    std::atomic<bool> stop_{false};
    HWND last_ = nullptr;
    std::mutex lock_;
    std::vector<Seen> seen_;
    std::thread worker_;
};

}  // namespace quillo
