// Facts about the running system and process that the startup needs. Windows only.
#pragma once

#include <cstdint>
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
// The temporary folder with its trailing backslash.
std::wstring TempFolder();
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
// Whether the process runs as the local system account (a service, or a
// deployment tool that runs as SYSTEM).
bool RunsAsSystem();
// The process's command line split by CommandLineToArgvW, program name first.
std::vector<std::wstring> ProcessArguments();

}  // namespace quillo
