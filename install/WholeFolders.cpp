#include "install/WholeFolders.h"

#include <windows.h>

#include <algorithm>

#include "base/PathText.h"
#include "base/TextCodec.h"
#include "uninstall/RemovalGuard.h"

namespace quillo {
namespace {

// Sorted, for a binary search: a hash set would bring its own machinery
// into the program for this one use.
using NameSet = std::vector<std::wstring>;

bool Listed(const NameSet& names, const std::wstring& name) {
    return std::binary_search(names.begin(), names.end(), name);
}

// Names compared as the file system compares them: without case.
std::wstring Folded(std::wstring path) {
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    if (!path.empty()) CharUpperBuffW(&path[0], static_cast<DWORD>(path.size()));
    return path;
}

// Everything below `folder` is listed: each file in `files`, each folder in
// `folders`, and nothing is a link.
bool HoldsOnlyListed(const std::wstring& folder, const NameSet& files, const NameSet& folders) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    bool only = true;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = folder + L"\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            only = false;
        else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            only = Listed(folders, Folded(path)) && HoldsOnlyListed(path, files, folders);
        else
            only = Listed(files, Folded(path));
    } while (only && FindNextFileW(find, &data));
    FindClose(find);
    return only;
}

}  // namespace

bool InsideAny(const std::wstring& path, const std::vector<std::wstring>& folders) {
    for (const std::wstring& folder : folders)
        if (path.size() > folder.size() && IsSameOrBelow(path, folder)) return true;
    return false;
}

std::vector<std::wstring> WholeFolders(const std::vector<std::wstring>& files,
                                       const std::vector<std::wstring>& folders, const std::wstring& rootPath,
                                       const RemovalGuard& guard) {
    NameSet listedFiles, listedFolders;
    for (const std::wstring& file : files) listedFiles.push_back(Folded(WithBackslashes(file)));
    std::vector<std::wstring> candidates;
    for (const std::wstring& listed : folders) {
        std::wstring folder = WithBackslashes(listed);
        while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
        listedFolders.push_back(Folded(folder));
        const std::wstring& comparable = guard.Comparable(folder);
        if (comparable.size() > rootPath.size() && IsSameOrBelow(comparable, rootPath)) candidates.push_back(folder);
    }
    std::sort(listedFiles.begin(), listedFiles.end());
    std::sort(listedFolders.begin(), listedFolders.end());
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const std::wstring& a, const std::wstring& b) { return a.size() < b.size(); });
    std::vector<std::wstring> whole;
    for (const std::wstring& folder : candidates) {
        bool taken = false;
        for (const std::wstring& chosen : whole) taken = taken || IsSameOrBelow(folder, chosen);
        if (taken) continue;
        const DWORD attributes = GetFileAttributesW(folder.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        if (LinkOnTheWay(guard.Comparable(folder), rootPath)) continue;
        if (HoldsOnlyListed(folder, listedFiles, listedFolders)) whole.push_back(folder);
    }
    return whole;
}

}  // namespace quillo
