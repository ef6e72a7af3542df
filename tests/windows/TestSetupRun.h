// The real setup program run as a user runs it, from another process: its
// screens found among the top-level windows, commands posted to them, mouse
// clicks and typing sent to their elements, message boxes read and answered.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace quillo {
namespace test {

struct ScreenWindow {
    HWND hwnd = nullptr;
    HWND owner = nullptr;
    bool visible = false;
    RECT rect = {};
    std::wstring title;
    int width() const { return rect.right - rect.left; }
    int height() const { return rect.bottom - rect.top; }
};

// The top-level windows of one process, in z-order.
struct WindowSearch {
    DWORD pid;
    std::vector<HWND> found;
};
inline BOOL CALLBACK CollectWindowOf(HWND hwnd, LPARAM param) {
    auto* s = reinterpret_cast<WindowSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (owner == s->pid) s->found.push_back(hwnd);
    return TRUE;
}
inline std::vector<HWND> TopWindowsOf(DWORD pid) {
    WindowSearch search{pid, {}};
    EnumWindows(CollectWindowOf, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The "CHWindow" top-level windows of one process.
inline std::vector<ScreenWindow> ScreensOf(DWORD pid) {
    std::vector<ScreenWindow> screens;
    for (HWND hwnd : TopWindowsOf(pid)) {
        wchar_t cls[32] = {};
        GetClassNameW(hwnd, cls, 32);
        if (lstrcmpW(cls, L"CHWindow") != 0) continue;
        ScreenWindow w;
        w.hwnd = hwnd;
        w.owner = GetWindow(hwnd, GW_OWNER);
        w.visible = IsWindowVisible(hwnd) != FALSE;
        GetWindowRect(hwnd, &w.rect);
        wchar_t title[64] = {};
        GetWindowTextW(hwnd, title, 64);
        w.title = title;
        screens.push_back(w);
    }
    return screens;
}

// Every top-level window of a process: class, caption, visibility and the
// text of a message box's static control, for failure messages.
inline std::string WindowsOf(DWORD pid) {
    std::string text;
    for (HWND hwnd : TopWindowsOf(pid)) {
        wchar_t cls[64] = {}, title[256] = {}, label[256] = {};
        GetClassNameW(hwnd, cls, 64);
        GetWindowTextW(hwnd, title, 256);
        GetDlgItemTextW(hwnd, 0xFFFF, label, 256);
        char line[1024];
        snprintf(line, sizeof line, "\n  %ls \"%ls\" visible=%d %ls", cls, title, IsWindowVisible(hwnd) ? 1 : 0,
                 label);
        text += line;
    }
    return text;
}

// A message box of one process, read and answered.
struct SeenBox {
    bool shown = false;
    std::wstring caption;
    std::wstring text;
};

class SetupRun {
public:
    SetupRun() = default;
    SetupRun(const SetupRun&) = delete;
    SetupRun& operator=(const SetupRun&) = delete;
    ~SetupRun() {
        if (process_) {
            if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) TerminateProcess(process_, 99);
            CloseHandle(process_);
        }
    }

    bool Start(const std::wstring& program, const std::wstring& arguments = std::wstring()) {
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        std::wstring line = L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
        if (!CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
            return false;
        CloseHandle(pi.hThread);
        process_ = pi.hProcess;
        pid_ = pi.dwProcessId;
        return true;
    }

    // Follows a process started by another one (the uninstaller's copy).
    bool Adopt(DWORD pid) {
        process_ = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, pid);
        pid_ = pid;
        return process_ != nullptr;
    }

    DWORD pid() const { return pid_; }

    // Waits until `pick` chooses a window among the process's screens.
    ScreenWindow WaitFor(const std::function<bool(const ScreenWindow&, const std::vector<ScreenWindow>&)>& pick,
                         DWORD timeoutMs = 30000) const {
        for (DWORD waited = 0; waited <= timeoutMs; waited += 50) {
            const std::vector<ScreenWindow> screens = ScreensOf(pid_);
            for (const ScreenWindow& w : screens) {
                if (pick(w, screens)) return w;
            }
            if (WaitForSingleObject(process_, 50) == WAIT_OBJECT_0) break;
        }
        return ScreenWindow();
    }

    // The main window ("Corvane"), visible or not.
    ScreenWindow Main(bool visible = true, DWORD timeoutMs = 30000) const {
        return WaitFor([visible](const ScreenWindow& w,
                                 const std::vector<ScreenWindow>&) { return w.title == L"Corvane" && (!visible || w.visible); },
                       timeoutMs);
    }

    // A visible screen `depth` owners below the main window: 1 the progress
    // window, 2 the success, failure or closing screen, 3 the feedback form.
    ScreenWindow Visible(int depth, DWORD timeoutMs = 30000) const {
        return WaitFor(
            [depth](const ScreenWindow& w, const std::vector<ScreenWindow>& all) {
                if (!w.visible || w.width() <= 1) return false;
                int d = 0;
                HWND at = w.hwnd;
                for (;;) {
                    HWND owner = GetWindow(at, GW_OWNER);
                    bool found = false;
                    for (const ScreenWindow& o : all) found = found || o.hwnd == owner;
                    if (!found) break;
                    ++d;
                    at = owner;
                }
                return d == depth;
            },
            timeoutMs);
    }

    // Reads the process's next message box and presses `button`.
    SeenBox AnswerBox(int button = IDOK, DWORD timeoutMs = 30000) const {
        SeenBox seen;
        for (DWORD waited = 0; waited <= timeoutMs && !seen.shown; waited += 50) {
            HWND found = nullptr;
            for (HWND hwnd : TopWindowsOf(pid_)) {
                wchar_t cls[16] = {};
                GetClassNameW(hwnd, cls, 16);
                if (lstrcmpW(cls, L"#32770") == 0 && IsWindowVisible(hwnd)) {
                    found = hwnd;
                    break;
                }
            }
            if (!found) {
                Sleep(50);
                continue;
            }
            wchar_t buffer[512] = {};
            for (int k = 0; k < 100 && GetDlgItemTextW(found, 0xFFFF, buffer, 512) == 0; ++k) Sleep(20);
            seen.text = buffer;
            GetWindowTextW(found, buffer, 512);
            seen.caption = buffer;
            seen.shown = true;
            PostMessageW(found, WM_COMMAND, static_cast<WPARAM>(button), 0);
        }
        return seen;
    }

    // The exit code once the process has ended; 99 after a time-out.
    DWORD ExitCode(DWORD timeoutMs = 60000) {
        if (WaitForSingleObject(process_, timeoutMs) == WAIT_TIMEOUT) {
            ADD_FAILURE() << "the program did not end; its windows:" << WindowsOf(pid_);
            TerminateProcess(process_, 99);
            WaitForSingleObject(process_, 5000);
        }
        DWORD code = 99;
        GetExitCodeProcess(process_, &code);
        return code;
    }

    bool Ended(DWORD waitMs = 0) const { return WaitForSingleObject(process_, waitMs) == WAIT_OBJECT_0; }

private:
    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
};

inline void Command(const ScreenWindow& w, int id) { PostMessageW(w.hwnd, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

// A mouse click on the element at (x, y) in client coordinates.
inline void Click(const ScreenWindow& w, int x, int y) {
    const LPARAM at = MAKELPARAM(x, y);
    PostMessageW(w.hwnd, WM_MOUSEMOVE, 0, at);
    PostMessageW(w.hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(w.hwnd, WM_LBUTTONUP, 0, at);
    Sleep(150);
}

inline void Key(HWND hwnd, UINT key) {
    PostMessageW(hwnd, WM_KEYDOWN, key, 0);
    PostMessageW(hwnd, WM_KEYUP, key, 0);
}

inline void Type(HWND hwnd, const std::wstring& text) {
    for (wchar_t c : text) PostMessageW(hwnd, WM_CHAR, c, 0);
    Sleep(150);
}

}  // namespace test
}  // namespace quillo
