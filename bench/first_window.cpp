// Times how long a program takes to show its first window: from just before
// CreateProcess to the moment a visible top-level window of that process (or
// of a process it started) exists. The program is then ended with its
// children.
//
// Usage:
//   first_window [--timeout MS] PROGRAM [ARGS...]
//       prints "ms=T pid=P class=C title=T" and returns 0, or returns 1 when
//       no window showed within MS milliseconds (default 30000), 2 on a usage
//       or start failure
//   first_window --show
//       shows one plain window at once and waits to be ended: run through the
//       first form, it gives the start-up cost of a trivial windowed program
//       (the Wine baseline)
//   first_window --exit
//       returns at once (the baseline of the bench's peak-memory figures)
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "app/StartupLogic.h"

namespace {


LRESULT CALLBACK PlainProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

int ShowPlainWindow() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = PlainProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"FirstWindowPlain";
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    RegisterClassW(&wc);
    HWND hwnd = CreateWindowExW(0, wc.lpszClassName, L"plain", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                400, 300, nullptr, nullptr, wc.hInstance, nullptr);
    if (!hwnd) return 1;
    ShowWindow(hwnd, SW_SHOW);
    UpdateWindow(hwnd);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

struct Search {
    std::vector<DWORD> pids;
    HWND found = nullptr;
    DWORD foundPid = 0;
};

BOOL CALLBACK Visit(HWND hwnd, LPARAM lParam) {
    auto* search = reinterpret_cast<Search*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    bool ours = false;
    for (DWORD p : search->pids) ours = ours || p == pid;
    if (!ours || !IsWindowVisible(hwnd)) return TRUE;
    RECT r = {};
    GetWindowRect(hwnd, &r);
    if (r.right - r.left <= 1 || r.bottom - r.top <= 1) return TRUE;  // a hidden 1x1 stand-in does not count
    search->found = hwnd;
    search->foundPid = pid;
    return FALSE;
}

// The process and, where the job reports them, every process it started.
std::vector<DWORD> ProcessIds(HANDLE job, DWORD first) {
    std::vector<DWORD> pids{first};
    struct {
        JOBOBJECT_BASIC_PROCESS_ID_LIST list;
        ULONG_PTR more[63];
    } ids = {};
    ids.list.NumberOfAssignedProcesses = 64;
    if (job && QueryInformationJobObject(job, JobObjectBasicProcessIdList, &ids, sizeof ids, nullptr)) {
        for (DWORD i = 0; i < ids.list.NumberOfProcessIdsInList && i < 64; ++i) {
            const DWORD pid = static_cast<DWORD>(ids.list.ProcessIdList[i]);
            if (pid != first) pids.push_back(pid);
        }
    }
    return pids;
}

std::string Narrow(const wchar_t* text) {
    char out[512] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof out - 1, nullptr, nullptr);
    return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && std::wcscmp(argv[1], L"--show") == 0) return ShowPlainWindow();
    if (argc == 2 && std::wcscmp(argv[1], L"--exit") == 0) return 0;
    int i = 1;
    DWORD timeoutMs = 30000;
    if (i + 1 < argc && std::wcscmp(argv[i], L"--timeout") == 0) {
        timeoutMs = static_cast<DWORD>(_wtoi(argv[i + 1]));
        i += 2;
    }
    if (i >= argc) {
        std::fprintf(stderr, "usage: first_window [--timeout MS] PROGRAM [ARGS...] | --show | --exit\n");
        return 2;
    }
    std::wstring commandLine;
    for (int k = i; k < argc; ++k) {
        if (!commandLine.empty()) commandLine.push_back(L' ');
        commandLine += quillo::QuoteArgument(argv[k]);
    }

    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }

    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    QueryPerformanceCounter(&start);
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &si,
                        &pi)) {
        std::fprintf(stderr, "first_window: cannot start the program (error %lu)\n", GetLastError());
        return 2;
    }
    if (job) AssignProcessToJobObject(job, pi.hProcess);
    ResumeThread(pi.hThread);

    Search search;
    double ms = 0;
    int rc = 1;
    for (;;) {
        search.pids = ProcessIds(job, pi.dwProcessId);
        EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
        QueryPerformanceCounter(&now);
        ms = 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
        if (search.found) {
            rc = 0;
            break;
        }
        if (ms > timeoutMs) break;
        if (WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) {
            std::fprintf(stderr, "first_window: the program ended without a window\n");
            break;
        }
        Sleep(2);
    }
    if (rc == 0) {
        wchar_t cls[256] = {}, title[256] = {};
        GetClassNameW(search.found, cls, 255);
        GetWindowTextW(search.found, title, 255);
        std::printf("ms=%.1f pid=%lu class=%s title=%s\n", ms, static_cast<unsigned long>(search.foundPid),
                    Narrow(cls).c_str(), Narrow(title).c_str());
    } else {
        std::printf("ms=none\n");
    }
    std::fflush(stdout);

    if (job) TerminateJobObject(job, 0);
    TerminateProcess(pi.hProcess, 0);
    WaitForSingleObject(pi.hProcess, 5000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    if (job) CloseHandle(job);
    return rc;
}
