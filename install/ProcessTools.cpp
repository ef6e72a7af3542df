#include "install/ProcessTools.h"

#include <windows.h>
#include <restartmanager.h>
#include <tlhelp32.h>

#include <atomic>

#include "base/RunLog.h"
#include "base/SystemInfo.h"
#include "base/TextCodec.h"
#include "install/EntryName.h"
#include "uninstall/RemovalGuard.h"

namespace quillo {
namespace {

std::atomic<long> g_retries{0};

// A process's modules, its program first. The list may be changing while it
// is taken; the system then asks for another try.
HANDLE ModuleSnapshot(DWORD pid) {
    HANDLE snapshot = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 3; ++attempt) {
        snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
        if (snapshot != INVALID_HANDLE_VALUE || GetLastError() != ERROR_BAD_LENGTH) break;
    }
    return snapshot;
}

// Whether `pid` has a module whose full path is `path`; `program` receives
// the full path of its first module, its program.
bool ProcessHasModule(DWORD pid, const std::wstring& path, std::wstring& program) {
    HANDLE snapshot = ModuleSnapshot(pid);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    MODULEENTRY32W module = {};
    module.dwSize = sizeof module;
    bool found = false;
    bool first = true;
    for (BOOL more = Module32FirstW(snapshot, &module); more && !found; more = Module32NextW(snapshot, &module)) {
        if (first) program = module.szExePath;
        first = false;
        if (path.empty()) break;
        found = EqualsIgnoreCase(module.szExePath, path);
    }
    CloseHandle(snapshot);
    return found;
}

std::wstring ProgramOf(DWORD pid) {
    // QueryFullProcessImageNameW from Vista on; the module list before.
    using QueryFn = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);
    static const auto query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "QueryFullProcessImageNameW")));
    if (query) {
        HANDLE process = OpenProcess(0x1000 /* PROCESS_QUERY_LIMITED_INFORMATION */, FALSE, pid);
        if (process) {
            wchar_t buffer[MAX_PATH * 2];
            DWORD size = sizeof buffer / sizeof buffer[0];
            const BOOL ok = query(process, 0, buffer, &size);
            CloseHandle(process);
            if (ok) return std::wstring(buffer, size);
        }
    }
    std::wstring program;
    ProcessHasModule(pid, std::wstring(), program);
    return program;
}

// Asks the Restart Manager (Vista and later), loaded at run time.
std::vector<FileHolder> AskRestartManager(const std::wstring& path) {
    std::vector<FileHolder> holders;
    static HMODULE library = LoadSystemLibrary(L"rstrtmgr.dll");
    if (!library) return holders;
    using StartFn = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
    using RegisterFn = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT, LPCWSTR*);
    using ListFn = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, LPDWORD);
    using EndFn = DWORD(WINAPI*)(DWORD);
    const auto start = reinterpret_cast<StartFn>(reinterpret_cast<void*>(GetProcAddress(library, "RmStartSession")));
    const auto add = reinterpret_cast<RegisterFn>(reinterpret_cast<void*>(GetProcAddress(library, "RmRegisterResources")));
    const auto list = reinterpret_cast<ListFn>(reinterpret_cast<void*>(GetProcAddress(library, "RmGetList")));
    const auto end = reinterpret_cast<EndFn>(reinterpret_cast<void*>(GetProcAddress(library, "RmEndSession")));
    if (!start || !add || !list || !end) return holders;
    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (start(&session, 0, key) != ERROR_SUCCESS) return holders;
    LPCWSTR files[] = {path.c_str()};
    if (add(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS) {
        UINT needed = 0, count = 0;
        DWORD reasons = 0;
        std::vector<RM_PROCESS_INFO> info;
        DWORD r = list(session, &needed, &count, nullptr, &reasons);
        for (int tries = 0; r == ERROR_MORE_DATA && tries < 3; ++tries) {
            info.resize(needed);
            count = needed;
            r = list(session, &needed, &count, info.data(), &reasons);
        }
        if (r == ERROR_SUCCESS) {
            for (UINT i = 0; i < count && i < info.size(); ++i) {
                FileHolder holder;
                holder.pid = info[i].Process.dwProcessId;
                holder.executable = ProgramOf(holder.pid);
                holder.name = FileNamePart(holder.executable);
                if (holder.pid != GetCurrentProcessId()) holders.push_back(holder);
            }
        }
    }
    end(session);
    return holders;
}

// Walks every process's module list.
std::vector<FileHolder> WalkModules(const std::wstring& path) {
    std::vector<FileHolder> holders;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return holders;
    const DWORD self = GetCurrentProcessId();
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == 0 || entry.th32ProcessID == self) continue;
        std::wstring program;
        if (!ProcessHasModule(entry.th32ProcessID, path, program)) continue;
        FileHolder holder;
        holder.pid = entry.th32ProcessID;
        holder.executable = program;
        holder.name = program.empty() ? std::wstring(entry.szExeFile) : FileNamePart(program);
        holders.push_back(holder);
    }
    CloseHandle(snapshot);
    return holders;
}

}  // namespace

std::vector<FileHolder> FindProcessesUsingFile(const std::wstring& target) {
    // Entry names separate with "/"; module paths always with "\".
    const std::wstring path = WithBackslashes(target);
    if (FileNamePart(path).empty()) return {};
    std::vector<FileHolder> holders = AskRestartManager(path);
    if (holders.empty()) holders = WalkModules(path);
    return holders;
}

bool FindProcessUsingFile(const std::wstring& path, std::wstring& process) {
    const std::vector<FileHolder> holders = FindProcessesUsingFile(path);
    if (holders.empty()) return false;
    process = holders.front().name;
    return true;
}

bool IsProgramInside(const FileHolder& holder, const std::wstring& folder) {
    // Only a fully qualified program path can tell where a program runs
    // from; a bare or relative name would be taken relative to this
    // process's folder.
    const std::wstring& exe = holder.executable;
    const bool qualified = (exe.size() > 3 && exe[1] == L':' && (exe[2] == L'\\' || exe[2] == L'/')) ||
                           (exe.size() > 2 && exe[0] == L'\\' && exe[1] == L'\\');
    if (!qualified) return false;
    const std::wstring program = ComparablePath(holder.executable);
    const std::wstring inside = ComparablePath(folder);
    // A folder of three characters or fewer is a drive: nothing is "inside" it.
    return !program.empty() && inside.size() > 3 && IsSameOrBelow(program, inside) && program != inside;
}

int EndProcessesNamed(const std::wstring& path, const std::wstring& folder) {
    const std::wstring name = FileNamePart(WithBackslashes(path));
    if (name.empty()) return 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    const DWORD self = GetCurrentProcessId();
    int ended = 0;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == self || !EqualsIgnoreCase(entry.szExeFile, name)) continue;
        FileHolder candidate;
        candidate.pid = entry.th32ProcessID;
        candidate.executable = ProgramOf(entry.th32ProcessID);
        if (!IsProgramInside(candidate, folder)) {
            LogLine(L"not ended (not the product's program): " + candidate.executable);
            continue;
        }
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
        if (!process) continue;
        if (TerminateProcess(process, 0)) {
            ++ended;
            LogLine(L"program ended: " + candidate.executable);
        }
        CloseHandle(process);
    }
    CloseHandle(snapshot);
    return ended;
}

void CountSharingRetry(DWORD pauseMs) {
    ++g_retries;
    LogLinef("sharing violation; retry %ld after %lu ms", static_cast<long>(g_retries),
             static_cast<unsigned long>(pauseMs));
    Sleep(pauseMs);
}

long SharingRetries() { return g_retries; }

bool DeleteAtRestart(const std::wstring& target, std::wstring& scheduled) {
    const std::wstring path = WithBackslashes(target);
    const bool movedAside = path.size() > 4 && EqualsIgnoreCase(path.substr(path.size() - 4), L".old");
    const std::wstring old = path + L".old";
    scheduled = !movedAside && MoveFileExW(path.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING) ? old : path;
    if (!MoveFileExW(scheduled.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        LogLine(L"cannot be deleted, not even at the next restart: " + scheduled);
        return false;
    }
    LogLine(L"held by another program; a restart finishes its removal: " + scheduled);
    NoteRestartNeeded();
    return true;
}

namespace {
std::atomic<bool> restartNeeded{false};
}  // namespace

void NoteRestartNeeded() { restartNeeded = true; }
bool RestartNeeded() { return restartNeeded; }

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
