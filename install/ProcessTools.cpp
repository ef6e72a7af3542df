#include "install/ProcessTools.h"

#include <windows.h>
#include <tlhelp32.h>

#include "app/TextCodec.h"
#include "install/EntryName.h"

namespace quillo {
namespace {

// Whether `pid` has a module whose full path is `path`.
bool ProcessHasModule(DWORD pid, const std::wstring& path) {
    HANDLE snapshot = INVALID_HANDLE_VALUE;
    // The module list may be changing while it is taken; the system then asks
    // for another try.
    for (int attempt = 0; attempt < 3; ++attempt) {
        snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
        if (snapshot != INVALID_HANDLE_VALUE || GetLastError() != ERROR_BAD_LENGTH) break;
    }
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    MODULEENTRY32W module = {};
    module.dwSize = sizeof module;
    bool found = false;
    for (BOOL more = Module32FirstW(snapshot, &module); more && !found; more = Module32NextW(snapshot, &module)) {
        found = EqualsIgnoreCase(module.szExePath, path);
    }
    CloseHandle(snapshot);
    return found;
}

}  // namespace

bool FindProcessUsingFile(const std::wstring& target, std::wstring& process) {
    // Entry names separate with "/"; module paths always with "\".
    std::wstring path = target;
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    const std::wstring name = FileNamePart(path);
    if (name.empty()) return false;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found; more = Process32NextW(snapshot, &entry)) {
        if (EqualsIgnoreCase(entry.szExeFile, name)) {
            process = target;
            found = true;
        } else if (entry.th32ProcessID != 0 && ProcessHasModule(entry.th32ProcessID, path)) {
            process = entry.szExeFile;
            found = true;
        }
    }
    CloseHandle(snapshot);
    return found;
}

void EndProcessesNamed(const std::wstring& path) {
    const std::wstring name = FileNamePart(path);
    if (name.empty()) return;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    const DWORD self = GetCurrentProcessId();
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == self || !EqualsIgnoreCase(entry.szExeFile, name)) continue;
        HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, entry.th32ProcessID);
        if (!process) continue;
        TerminateProcess(process, 0);
        CloseHandle(process);
    }
    CloseHandle(snapshot);
}

void WaitForProcessPumping(HANDLE process, HWND window) {
    for (;;) {
        const DWORD r = MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_ALLINPUT);
        if (r != WAIT_OBJECT_0 + 1) return;  // ended, or the wait failed
        MSG msg;
        if (window && PeekMessageW(&msg, window, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

}  // namespace quillo
