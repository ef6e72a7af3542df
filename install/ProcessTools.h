// Finding the programs that hold a file, ending the product's own ones, and
// coping with files that cannot be replaced or deleted now. Windows only.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace quillo {

// A running process that holds a file: the file is its program or one of
// the modules it has loaded.
struct FileHolder {
    DWORD pid = 0;
    std::wstring executable;  // the full path of its program; empty when it cannot be read
    std::wstring name;        // the file name of its program
};

// The processes that hold `path`, compared as full paths (never by name
// alone): asked of the Restart Manager where the system has it, and of the
// processes' module lists where it does not or names none. The calling
// process is never listed.
std::vector<FileHolder> FindProcessesUsingFile(const std::wstring& path);

// True when a process holds `path`; `process` is then the file name of the
// first holder's program.
bool FindProcessUsingFile(const std::wstring& path, std::wstring& process);

// Whether the holder's program lies inside `folder`: a program of the
// product, which the installation and the removal may end. Any other
// program (the shell, a browser, a stranger's program of the same name) is
// never ended.
bool IsProgramInside(const FileHolder& holder, const std::wstring& folder);

// Ends every process whose program has the file name of `path` and lies
// inside `folder`; the calling process is never ended. Returns how many.
int EndProcessesNamed(const std::wstring& path, const std::wstring& folder);

// Runs `attempt` (which returns false on failure with the error in
// GetLastError) again a few times with a short, growing pause while the
// failure is a sharing or lock violation: a virus scanner or an indexer
// opens fresh files for a moment. Bounded: about 0.3 s in all.
template <typename Attempt>
bool RetryWhileShared(Attempt attempt);

// How many retries RetryWhileShared has made in this process.
long SharingRetries();

// A file that cannot be deleted now (a program that is not the product's
// holds it): moved aside to "<path>.old" when it can be, and that name (or
// the path itself) deleted by the system at the next restart. True when the
// deletion is scheduled; `scheduled` receives the path that will go.
bool DeleteAtRestart(const std::wstring& path, std::wstring& scheduled);

// Whether this process left anything to the next restart (a file or folder
// scheduled for deletion, a driver package that asked for a restart).
void NoteRestartNeeded();
bool RestartNeeded();

// Waits for a process to end while dispatching, one at a time, the messages
// of `window` (none when it is null).
void WaitForProcessPumping(HANDLE process, HWND window);

// --- implementation of the template ---
void CountSharingRetry(DWORD pauseMs);
inline bool IsSharingFailure(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}
template <typename Attempt>
bool RetryWhileShared(Attempt attempt) {
    DWORD pause = 10;
    for (int tries = 0;; ++tries) {
        if (attempt()) return true;
        const DWORD error = GetLastError();
        if (tries == 5 || !IsSharingFailure(error)) {
            SetLastError(error);
            return false;
        }
        CountSharingRetry(pause);
        pause *= 2;
    }
}

}  // namespace quillo
