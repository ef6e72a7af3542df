#include "base/FolderTree.h"

#include <windows.h>

namespace quillo {

void DeleteFolderTree(const std::wstring& folder, const PathAction& deleteFile, const PathAction& folderLeft) {
    const std::wstring pattern = folder + L"\\*";
    WIN32_FIND_DATAW data;
    // Without short names and in large batches; systems before Windows 7
    // know neither and refuse the call.
    HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE && GetLastError() == ERROR_INVALID_PARAMETER)
        find = FindFirstFileW(pattern.c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
                SetFileAttributesW(path.c_str(), data.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                if (deleteFile) deleteFile(path);
                else DeleteFileW(path.c_str());
            } else if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                RemoveDirectoryW(path.c_str());
            } else {
                DeleteFolderTree(path, deleteFile, folderLeft);
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    if (!RemoveDirectoryW(folder.c_str()) && folderLeft && GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES)
        folderLeft(folder);
}

}  // namespace quillo
