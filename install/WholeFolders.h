// The folders of an earlier installation that can be set aside in one rename
// each instead of file by file: folders it made that hold nothing but its
// own files and folders (no file of the user's, no link). Windows only.
#pragma once

#include <string>
#include <vector>

namespace quillo {

class RemovalGuard;

// `files` and `folders`: the manifest's lists (backslashes); `rootPath`: the
// installation folder as the guard makes it comparable. The folders are
// strictly below the installation folder, outermost first, none inside
// another; their files are among `files`.
std::vector<std::wstring> WholeFolders(const std::vector<std::wstring>& files,
                                       const std::vector<std::wstring>& folders, const std::wstring& rootPath,
                                       const RemovalGuard& guard);

// Whether `path` lies inside one of `folders` (which WholeFolders gave).
bool InsideAny(const std::wstring& path, const std::vector<std::wstring>& folders);

}  // namespace quillo
