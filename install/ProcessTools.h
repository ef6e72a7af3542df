// Finding and ending the programs that hold a file, and waiting for a
// program to end. Windows only.
#pragma once

#include <windows.h>

#include <string>

namespace quillo {

// True when a running process is the file itself (then `process` = path) or
// has it loaded as a module (then `process` = that process's executable name).
bool FindProcessUsingFile(const std::wstring& path, std::wstring& process);

// Ends every process whose executable name equals the file name part of
// `path`, ignoring case. The calling process itself is never ended.
void EndProcessesNamed(const std::wstring& path);

// Waits for a process to end while dispatching, one at a time, the messages
// of `window` (none when it is null).
void WaitForProcessPumping(HANDLE process, HWND window);

}  // namespace quillo
