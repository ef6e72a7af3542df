// Facts about the running system and process that the startup needs. Windows only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/FileSource.h"  // PathExists

namespace quillo {

// Windows NT 6.0 (Vista) or later.
bool IsNt6OrLater();
// 64-bit Windows: a 64-bit process, or a 32-bit one under WOW64.
bool Is64BitWindows();
// The machine's processor architecture as GetNativeSystemInfo reports it
// (kArchitectureAmd64 on x64 machines, kArchitectureArm64 on ARM64 ones,
// where a 32-bit program runs under WOW64 too).
uint16_t NativeProcessorArchitecture();
// A special folder of the shell (a CSIDL value); `create` makes it when it
// is missing. Empty when the shell cannot tell it.
std::wstring SpecialFolder(int csidl, bool create = false);
// The full path of the program's own file.
std::wstring ModuleFilePath();
// The program's own file, opened once (at the first call, which the start
// makes) and held open for reading with read sharing only until the process
// ends: every later read of the setup file goes through it, so the file
// cannot be changed or swapped for another underneath. Null when it cannot
// be opened.
std::shared_ptr<FileSource> OwnFile();
// Lets go of it for good: an uninstaller that hands over to its copy does,
// so that the copy can move the running program out of its folder.
void ReleaseOwnFile();
// The temporary folder with its trailing backslash.
std::wstring TempFolder();
// The value of an environment variable; empty when it is not set (or longer
// than a path).
std::wstring EnvironmentValue(const wchar_t* name);
// The absolute form of a path (GetFullPathNameW); the path itself when that fails.
std::wstring AbsolutePath(const std::wstring& path);
// The outermost folder of `folder` and its parents that does not exist yet
// (`folder` itself when only it is missing); empty when it exists.
std::wstring OutermostMissingFolder(const std::wstring& folder);
// Removes `folder` and its parents up to `outermost` (as OutermostMissingFolder
// gave it before they were made), innermost first, while they are empty.
void RemoveFoldersMadeFor(const std::wstring& folder, const std::wstring& outermost);
// Creates a folder with all its missing parents ("/" is taken as "\\"); true
// when it exists afterwards.
bool CreateFolderTree(const std::wstring& folder);
// The bytes free for this user on the volume that holds `path` (which need
// not exist yet: its nearest existing folder counts), and that volume's
// cluster size; UINT64_MAX when it cannot be told.
uint64_t FreeBytesOfVolume(const std::wstring& path, uint32_t* clusterBytes = nullptr);
// The folder a 32-bit program is given as program files ("Program Files (x86)"
// on 64-bit Windows), whatever the bitness of this build.
std::wstring ProgramFilesFolder();
// Libraries are searched in the system folder only, from now on: the
// program's folder (a Downloads folder, the temporary folder) and the
// current folder are left out. Uses SetDefaultDllDirectories where the
// system has it (Windows 8, and 7 and Vista with their update), takes the
// current folder out of the search everywhere (SetDllDirectoryW), and loads
// from the system folder the libraries that system components load by name
// later with searches of their own.
void RestrictLibrarySearch();
// Whether two paths name the same existing folder (the same volume and
// file index), however they are written.
bool SameFolder(const std::wstring& a, const std::wstring& b);
// Loads a library of the system folder by its full path; null when it
// cannot be loaded.
HMODULE LoadSystemLibrary(const wchar_t* name);
// The system folder ("C:\Windows\System32", or SysWOW64's view of it for a
// 32-bit process), without a trailing backslash.
std::wstring SystemFolder();

// Whether the process runs as the local system account (a service, or a
// deployment tool that runs as SYSTEM).
bool RunsAsSystem();
// The process's command line split by CommandLineToArgvW, program name first.
std::vector<std::wstring> ProcessArguments();

}  // namespace quillo
