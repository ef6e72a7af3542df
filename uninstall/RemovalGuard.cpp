#include "uninstall/RemovalGuard.h"

#include <windows.h>
#include <shlobj.h>

#include <cwctype>

#include "base/PathText.h"
#include "base/SystemInfo.h"
#include "base/TextCodec.h"
#include "install/Shortcuts.h"

namespace quillo {
namespace {

// Folders of the system and of the user that an installation folder may lie
// in but must never be.
const int kProtectedFolders[] = {
    CSIDL_WINDOWS,          CSIDL_SYSTEM,           CSIDL_SYSTEMX86,        CSIDL_FONTS,
    CSIDL_PROGRAM_FILES,    CSIDL_PROGRAM_FILESX86, CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROGRAM_FILES_COMMONX86,
    CSIDL_PROFILE,          CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_PERSONAL,
    CSIDL_COMMON_DOCUMENTS, CSIDL_APPDATA,          CSIDL_LOCAL_APPDATA,    CSIDL_COMMON_APPDATA,
    CSIDL_STARTMENU,        CSIDL_COMMON_STARTMENU, CSIDL_PROGRAMS,         CSIDL_COMMON_PROGRAMS,
    CSIDL_STARTUP,          CSIDL_COMMON_STARTUP,   CSIDL_MYMUSIC,          CSIDL_MYPICTURES,
    CSIDL_MYVIDEO,          CSIDL_COMMON_MUSIC,     CSIDL_COMMON_PICTURES,  CSIDL_COMMON_VIDEO,
    CSIDL_FAVORITES,        CSIDL_COMMON_FAVORITES, CSIDL_TEMPLATES,        CSIDL_COMMON_TEMPLATES,
    CSIDL_SENDTO,           CSIDL_RECENT,           CSIDL_NETHOOD,          CSIDL_PRINTHOOD,
    CSIDL_INTERNET_CACHE,   CSIDL_COOKIES,          CSIDL_HISTORY,          CSIDL_ADMINTOOLS,
    CSIDL_COMMON_ADMINTOOLS, CSIDL_RESOURCES,       CSIDL_CDBURN_AREA,
};

const wchar_t* const kProtectedVariables[] = {L"SystemRoot", L"windir", L"ProgramFiles", L"ProgramFiles(x86)",
                                              L"ProgramW6432", L"CommonProgramFiles", L"USERPROFILE",
                                              L"ALLUSERSPROFILE", L"PUBLIC", L"ProgramData"};

}  // namespace

namespace {

// "/" turned into "\", made absolute with "." and ".." resolved; empty when
// it cannot be.
std::wstring FullPath(const std::wstring& path) {
    if (path.empty()) return {};
    std::wstring slashes = path;
    for (wchar_t& c : slashes)
        if (c == L'/') c = L'\\';
    const DWORD needed = GetFullPathNameW(slashes.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return {};
    std::wstring full(needed, L'\0');
    const DWORD n = GetFullPathNameW(slashes.c_str(), needed, &full[0], nullptr);
    if (n == 0 || n >= needed) return {};
    full.resize(n);
    return full;
}

bool OnADrive(const std::wstring& full) {
    return full.size() >= 3 && full[1] == L':' && full[2] == L'\\' && std::iswalpha(full[0]);
}

// A full path with the system's long names, without a trailing backslash.
std::wstring SystemLongNames(std::wstring full) {
    if (full.empty()) return {};
    const DWORD longNeeded = GetLongPathNameW(full.c_str(), nullptr, 0);
    if (longNeeded > 0) {
        std::wstring longPath(longNeeded, L'\0');
        const DWORD m = GetLongPathNameW(full.c_str(), &longPath[0], longNeeded);
        if (m > 0 && m < longNeeded) full.assign(longPath.c_str(), m);
    }
    while (full.size() > 3 && full.back() == L'\\') full.pop_back();
    return full;
}

}  // namespace

std::wstring ComparablePath(const std::wstring& path) { return SystemLongNames(FullPath(path)); }


bool IsLink(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool LinkOnTheWay(const std::wstring& path, const std::wstring& root) {
    if (!IsSameOrBelow(path, root)) return false;
    std::wstring folder = path;
    for (;;) {
        const size_t cut = folder.rfind(L'\\');
        if (cut == std::wstring::npos || cut < root.size()) return false;
        folder.resize(cut);
        if (folder.size() <= root.size()) return false;
        if (IsLink(folder)) return true;
    }
}

RootCheck CheckRemovalRoot(const std::wstring& root, HANDLE& held, std::wstring& opened) {
    held = INVALID_HANDLE_VALUE;
    opened.clear();
    if (root.size() < 3 || root[0] == L'\\' || root[1] != L':') return RootCheck::NotLocal;
    const DWORD attributes = GetFileAttributesW(root.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return RootCheck::Missing;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return RootCheck::Link;
    HANDLE folder = CreateFileW(root.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return RootCheck::Missing;
    // The folder the system opened, after every link on the way: it must be
    // the one listed.
    using FinalPathFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
    static const auto finalPath = reinterpret_cast<FinalPathFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW")));
    bool same = true;
    if (finalPath) {
        std::wstring path(32768, L'\0');
        const DWORD n = finalPath(folder, &path[0], static_cast<DWORD>(path.size()), 0);
        path.resize(n < path.size() ? n : 0);
        if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) path = L"\\" + path.substr(7);
        else if (path.compare(0, 4, L"\\\\?\\") == 0) path = path.substr(4);
        opened = path;
        same = EqualsIgnoreCase(ComparablePath(path), root);
    } else {
        // Without it (Windows XP) every folder on the way is looked at.
        for (std::wstring up = root; same && up.size() > 3; up.resize(up.rfind(L'\\')))
            same = !IsLink(up);
    }
    if (!same) {
        CloseHandle(folder);
        return RootCheck::Elsewhere;
    }
    held = folder;
    return RootCheck::Usable;
}

RemovalGuard::RemovalGuard() {
    auto add = [this](const std::wstring& folder) {
        if (folder.empty()) return;
        const std::wstring& comparable = Comparable(folder);
        if (!comparable.empty()) folders_.push_back(comparable);
    };
    for (int csidl : kProtectedFolders) add(SpecialFolder(csidl));
    for (const wchar_t* name : kProtectedVariables) add(EnvironmentValue(name));
    add(TempFolder());
    // Every user's profile: the folder that holds the current one is kept,
    // and so is each profile in it (IsProtected).
    const std::wstring profile = Comparable(SpecialFolder(CSIDL_PROFILE));
    const size_t cut = profile.rfind(L'\\');
    if (cut != std::wstring::npos && cut > 2) {
        profiles_ = profile.substr(0, cut);
        folders_.push_back(profiles_);
    }
}

const std::wstring& RemovalGuard::Comparable(const std::wstring& path) const {
    auto known = comparable_.find(path);
    if (known != comparable_.end()) return known->second;
    const std::wstring full = FullPath(path);
    // Network and device paths are left to the system.
    std::wstring comparable = OnADrive(full) ? LongNames(full) : SystemLongNames(full);
    return comparable_.emplace(path, std::move(comparable)).first->second;
}

const std::wstring& RemovalGuard::LongNames(const std::wstring& full) const {
    auto known = longNames_.find(full);
    if (known != longNames_.end()) return known->second;
    std::wstring trimmed = full;
    while (trimmed.size() > 3 && trimmed.back() == L'\\') trimmed.pop_back();
    std::wstring result;
    if (trimmed.size() <= 3) {
        result = trimmed;  // "C:\"
    } else {
        const size_t cut = trimmed.rfind(L'\\');
        const std::wstring name = trimmed.substr(cut + 1);
        result = LongNames(trimmed.substr(0, cut < 3 ? 3 : cut));
        if (result.back() != L'\\') result += L'\\';
        // The name as the folder holds it: a short name found gives its long one.
        WIN32_FIND_DATAW data;
        HANDLE find = INVALID_HANDLE_VALUE;
        if (!name.empty() && name.find_first_of(L"*?") == std::wstring::npos)
            find = FindFirstFileW((result + name).c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            result += data.cFileName;
            FindClose(find);
        } else {
            result += name;
        }
    }
    return longNames_.emplace(full, std::move(result)).first->second;
}

bool RemovalGuard::IsProtected(const std::wstring& folder) const {
    if (folder.size() <= 3 || !IsDeletablePath(folder)) return true;
    const std::wstring& path = Comparable(folder);
    if (path.size() <= 3) return true;
    for (const std::wstring& kept : folders_) {
        if (IsSameOrBelow(kept, path)) return true;
    }
    // A profile of another user: a direct child of the profiles folder.
    return !profiles_.empty() && path.size() > profiles_.size() + 1 && IsSameOrBelow(path, profiles_) &&
           path.rfind(L'\\') == profiles_.size();
}

}  // namespace quillo
