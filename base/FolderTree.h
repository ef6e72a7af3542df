// Deleting a folder with everything in it. Windows only.
#pragma once

#include <functional>
#include <string>

namespace quillo {

using PathAction = std::function<void(const std::wstring&)>;

// Deletes what is in `folder` and the folder itself, as far as it can. A
// link inside is removed as a link: what it points to is never entered.
// Read-only files are made writable first. `deleteFile` deletes one file
// (DeleteFileW when empty); `folderLeft` hears of each folder that could not
// be removed, innermost first.
void DeleteFolderTree(const std::wstring& folder, const PathAction& deleteFile = nullptr,
                      const PathAction& folderLeft = nullptr);

}  // namespace quillo
