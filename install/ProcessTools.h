// Finding and ending the programs that hold a file. Windows only.
#pragma once

#include <string>

namespace quillo {

// True when a running process is the file itself (then `process` = path) or
// has it loaded as a module (then `process` = that process's executable name).
bool FindProcessUsingFile(const std::wstring& path, std::wstring& process);

// Ends every process whose executable name equals the file name part of
// `path`, ignoring case. The calling process itself is never ended.
void EndProcessesNamed(const std::wstring& path);

}  // namespace quillo
