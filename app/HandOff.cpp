#include "app/HandOff.h"

#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "app/StartupLogic.h"
#include "base/FileSource.h"
#include "base/PathText.h"
#include "base/PrivateFolder.h"
#include "base/RunLog.h"
#include "base/SystemInfo.h"
#include "base/TextCodec.h"
#include "base/TempFile.h"

namespace quillo {
namespace {

// Waits for a process while this thread's messages are handled; its exit
// code, or 1 when it cannot be read.
DWORD WaitForExitCode(HANDLE process) {
    for (;;) {
        const DWORD r = MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_ALLINPUT);
        if (r != WAIT_OBJECT_0 + 1) break;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    DWORD code = 1;
    if (!GetExitCodeProcess(process, &code)) code = 1;
    return code;
}

// Removes `folder` once this process has ended: the system's command shell
// tries every second for half a minute. Started from the system folder, by
// its full path, working there.
void RemoveAfterExit(const std::wstring& folder) {
    const std::wstring system = SystemFolder();
    const std::wstring quoted = L"\"" + folder + L"\"";
    // ("do (" and not "do @(": the latter is not run by every command shell.)
    std::wstring line = L"\"" + system + L"\\cmd.exe\" /d /q /c \"for /l %i in (1,1,30) do (rd /s /q " + quoted +
                        L" 2>nul & if not exist " + quoted + L" exit & \"" + system +
                        L"\\ping.exe\" -n 2 127.0.0.1 >nul)\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (CreateProcessW((system + L"\\cmd.exe").c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                       system.c_str(), &si, &pi)) {
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        LogLine(L"the moved uninstaller goes after this process: " + folder);
    } else {
        LogLine(L"the moved uninstaller stays: " + folder);
    }
}

// Deletes a file of a process that has just ended; the system may take a
// moment to let go of its image.
void DeleteEndedProgram(const std::wstring& file) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (DeleteFileW(file.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND) return;
        Sleep(20);
    }
    LogLine(L"the temporary copy cannot be deleted: " + file);
}

// Copies of this very uninstaller that a removal killed before it could
// delete them: a private folder of the temporary folder that holds nothing
// but "unins000.exe" with exactly this program's bytes. Nothing else there
// is touched; a copy still running cannot be deleted and stays.
void RemoveStaleCopies(const std::wstring& freshCopy, const std::wstring& current) {
    FileSource own;
    if (!own.open(freshCopy)) return;
    const std::wstring temp = TempFolder();
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((temp + kPrivateFolderPrefix + L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    const size_t prefix = wcslen(kPrivateFolderPrefix);
    do {
        const std::wstring name = data.cFileName;
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
            name.size() != prefix + 16)
            continue;
        const std::wstring folder = temp + name;
        if (EqualsIgnoreCase(folder, current)) continue;
        // Exactly one entry, the copy.
        WIN32_FIND_DATAW inside;
        HANDLE entries = FindFirstFileW((folder + L"\\*").c_str(), &inside);
        if (entries == INVALID_HANDLE_VALUE) continue;
        int count = 0;
        bool onlyCopy = true;
        do {
            const std::wstring entry = inside.cFileName;
            if (entry == L"." || entry == L"..") continue;
            ++count;
            onlyCopy = onlyCopy && EqualsIgnoreCase(entry, L"unins000.exe") &&
                       !(inside.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
        } while (FindNextFileW(entries, &inside));
        FindClose(entries);
        if (count != 1 || !onlyCopy) continue;
        FileSource copy;
        if (!copy.open(folder + L"\\unins000.exe") || copy.size() != own.size()) continue;
        bool same = true;
        std::unique_ptr<uint8_t[]> mine(new uint8_t[kCopyWindow]), theirs(new uint8_t[kCopyWindow]);
        for (uint64_t at = 0; same && at < own.size(); at += kCopyWindow) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(kCopyWindow, own.size() - at));
            same = own.readAt(at, mine.get(), n) && copy.readAt(at, theirs.get(), n) &&
                   memcmp(mine.get(), theirs.get(), n) == 0;
        }
        copy.close();
        if (!same) continue;
        DeleteFolderTree(folder);
        LogLine(L"a copy left by an earlier removal is removed: " + folder);
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

// Starts a program with full rights ("runas"); its process handle, or null
// with the system's error set (ERROR_CANCELLED when the prompt is refused).
HANDLE StartElevated(const std::wstring& program, const std::wstring& parameters) {
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    info.lpVerb = L"runas";
    info.lpFile = program.c_str();
    info.lpParameters = parameters.c_str();
    const std::wstring working = SystemFolder();
    info.lpDirectory = working.c_str();
    info.nShow = SW_SHOWNORMAL;
    return ShellExecuteExW(&info) ? info.hProcess : nullptr;
}

}  // namespace

int RelaunchElevatedAndWait(const std::wstring& modulePath, const std::wstring& parameters) {
    const HANDLE process = StartElevated(modulePath, parameters);
    if (!process) {
        LogLinef("the elevated run did not start (error %lu)", static_cast<unsigned long>(GetLastError()));
        return RelaunchExitCode(false, 0);
    }
    const DWORD code = WaitForExitCode(process);
    CloseHandle(process);
    LogLinef("the elevated run ended with %lu", static_cast<unsigned long>(code));
    return RelaunchExitCode(true, code);
}

int HandOverToTemporaryCopy(const std::wstring& modulePath, const std::wstring& arguments, bool quiet) {
    // The copy is never taken from a place another user could have put a
    // program of that name in: its folder is made new, for this user,
    // SYSTEM and Administrators only, and the copy is held from its writing
    // until it has ended.
    PrivateFolder folder;
    FileSource own;
    HeldFile copy;
    if (!folder.Create() || !own.open(modulePath) ||
        !copy.Write(folder.path() + L"\\unins000.exe", own, 0, own.size())) {
        LogLinef("the uninstaller cannot be copied to the temporary folder (error %lu)",
                 static_cast<unsigned long>(GetLastError()));
        return 1;
    }
    own.close();
    const std::wstring tempCopy = copy.path();
    RemoveStaleCopies(tempCopy, folder.path());
    // The folder the copy moves this running program into: beside the
    // installation folder, on its volume, under a fresh name. The copy makes
    // it when it gets there, so a removal cut short leaves none behind.
    const std::wstring parent = ParentPath(ParentPath(modulePath));
    const std::wstring hex = UniqueHex16();
    const std::wstring aside = parent.empty() || hex.empty() ? std::wstring() : parent + L"\\~QuilloSetup." + hex;
    std::wstring parameters = arguments;
    if (!aside.empty()) parameters += (parameters.empty() ? L"" : L" ") + QuoteArgument(L"/ASIDE=" + aside);

    // A run with screens asks for full rights for the copy as before; a quiet
    // run never prompts: it starts the copy with the rights it has.
    HANDLE process = nullptr;
    const std::wstring working = SystemFolder();
    if (IsNt6OrLater() && !quiet) {
        process = StartElevated(tempCopy, parameters);
    } else {
        std::wstring line = QuoteArgument(tempCopy) + L" " + parameters;
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        if (CreateProcessW(tempCopy.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, working.c_str(), &si,
                           &pi)) {
            CloseHandle(pi.hThread);
            process = pi.hProcess;
        }
    }
    if (!process) {
        const DWORD error = GetLastError();
        LogLinef("the temporary copy did not start (error %lu)", static_cast<unsigned long>(error));
        return error == ERROR_CANCELLED ? kExitElevationRequired : 1;
    }
    const DWORD code = WaitForExitCode(process);
    CloseHandle(process);
    LogLinef("the removal ended with %lu", static_cast<unsigned long>(code));
    copy.Release();
    DeleteEndedProgram(tempCopy);
    folder.Remove();
    if (!aside.empty() && GetFileAttributesW(aside.c_str()) != INVALID_FILE_ATTRIBUTES) RemoveAfterExit(aside);
    return static_cast<int>(code);
}

}  // namespace quillo
