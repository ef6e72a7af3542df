#include "base/SystemInfo.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "base/PathText.h"

namespace quillo {

bool IsNt6OrLater() {
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(&info)) return false;
#pragma GCC diagnostic pop
    return info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion > 5;
}

bool Is64BitWindows() {
#ifdef _WIN64
    return true;
#else
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    auto isWow64 = reinterpret_cast<IsWow64ProcessFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process")));
    BOOL wow64 = FALSE;
    return isWow64 && isWow64(GetCurrentProcess(), &wow64) && wow64;
#endif
}

uint16_t NativeProcessorArchitecture() {
    // Available from Windows XP on; unlike GetSystemInfo it tells a 32-bit
    // program the real processor under WOW64.
    SYSTEM_INFO info = {};
    GetNativeSystemInfo(&info);
    return info.wProcessorArchitecture;
}

std::wstring ModuleFilePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0) return std::wstring();
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::wstring SpecialFolder(int csidl, bool create) {
    wchar_t buffer[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathW(nullptr, buffer, csidl, create ? TRUE : FALSE)) return std::wstring();
    return buffer;
}

namespace {

std::shared_ptr<FileSource>& OwnFileSlot() {
    static std::shared_ptr<FileSource>* file = [] {
        auto* opened = new std::shared_ptr<FileSource>(std::make_shared<FileSource>());  // lives until the process ends
        if (!(*opened)->open(ModuleFilePath())) opened->reset();
        return opened;
    }();
    return *file;
}

}  // namespace

std::shared_ptr<FileSource> OwnFile() { return OwnFileSlot(); }

void ReleaseOwnFile() { OwnFileSlot().reset(); }

std::wstring TempFolder() {
    wchar_t buffer[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
    return n && n <= MAX_PATH ? std::wstring(buffer, n) : std::wstring();
}

std::wstring EnvironmentValue(const wchar_t* name) {
    wchar_t buffer[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(name, buffer, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(buffer, n) : std::wstring();
}

std::wstring AbsolutePath(const std::wstring& path) {
    const DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0) return path;
    std::wstring full(n, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), n, &full[0], nullptr);
    if (written == 0 || written >= n) return path;
    full.resize(written);
    return full;
}

std::wstring OutermostMissingFolder(const std::wstring& folder) {
    std::wstring missing;
    std::wstring path = AbsolutePath(folder);
    while (!path.empty() && GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        missing = path;
        const size_t slash = path.find_last_of(L"\\/");
        if (slash == std::wstring::npos || slash < 3) break;  // never above "X:\"
        path.resize(slash);
    }
    return missing;
}

void RemoveFoldersMadeFor(const std::wstring& folder, const std::wstring& outermost) {
    if (outermost.empty()) return;
    std::wstring path = AbsolutePath(folder);
    while (path.size() >= outermost.size()) {
        if (!RemoveDirectoryW(path.c_str())) return;  // not empty, or not there
        if (path.size() == outermost.size()) return;
        const size_t slash = path.find_last_of(L"\\/");
        if (slash == std::wstring::npos) return;
        path.resize(slash);
    }
}

uint64_t FreeBytesOfVolume(const std::wstring& path, uint32_t* clusterBytes) {
    // The nearest folder that exists stands for the volume the path is on.
    std::wstring folder = AbsolutePath(path);
    for (;;) {
        const DWORD attributes = GetFileAttributesW(folder.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) break;
        const size_t slash = folder.find_last_of(L"\\/");
        if (slash == std::wstring::npos) return UINT64_MAX;
        std::wstring parent = folder.substr(0, slash);
        if (parent.size() == 2 && parent[1] == L':') parent += L'\\';  // "C:" is the root "C:\"
        if (parent.empty() || parent == folder) return UINT64_MAX;
        folder = parent;
    }
    if (folder.back() != L'\\') folder += L'\\';
    ULARGE_INTEGER available = {};
    if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return UINT64_MAX;
    if (clusterBytes) {
        *clusterBytes = 4096;
        DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
        std::wstring root = folder;
        root.resize(MAX_PATH + 1);
        if (GetVolumePathNameW(folder.c_str(), &root[0], MAX_PATH + 1)) {
            root.resize(wcslen(root.c_str()));
            if (GetDiskFreeSpaceW(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters) &&
                sectorsPerCluster && bytesPerSector && sectorsPerCluster * bytesPerSector <= (1u << 24)) {
                *clusterBytes = sectorsPerCluster * bytesPerSector;
            }
        }
    }
    return available.QuadPart;
}

std::wstring ProgramFilesFolder() {
    wchar_t buffer[MAX_PATH] = {};
#ifdef _WIN64
    const int folder = CSIDL_PROGRAM_FILESX86;  // what a 32-bit process gets for CSIDL_PROGRAM_FILES
#else
    const int folder = CSIDL_PROGRAM_FILES;
#endif
    if (!SHGetSpecialFolderPathW(nullptr, buffer, folder, FALSE)) return std::wstring();
    return buffer;
}

std::wstring SystemFolder() {
    wchar_t buffer[MAX_PATH];
    const UINT length = GetSystemDirectoryW(buffer, MAX_PATH);
    return length && length < MAX_PATH ? std::wstring(buffer, length) : std::wstring(L"C:\\Windows\\System32");
}

void RestrictLibrarySearch() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
    if (setDefault) setDefault(kSearchSystem32);
    using SetDllDirectoryFn = BOOL(WINAPI*)(LPCWSTR);
    const auto setDirectory = reinterpret_cast<SetDllDirectoryFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryW")));
    if (setDirectory) setDirectory(L"");
    // Libraries that the system's own components (the image codecs behind
    // GDI+, the window theming) load by name later on, some with a search
    // of their own that does not follow the default above: loaded now from
    // the system folder, they are the ones found by name from then on.
    for (const wchar_t* name : {L"propsys.dll", L"windowscodecs.dll", L"uxtheme.dll"}) LoadSystemLibrary(name);
}

bool SameFolder(const std::wstring& a, const std::wstring& b) {
    auto identify = [](const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info) {
        HANDLE h = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        const bool ok = GetFileInformationByHandle(h, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
        CloseHandle(h);
        return ok;
    };
    BY_HANDLE_FILE_INFORMATION x = {}, y = {};
    return identify(a, x) && identify(b, y) && x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
           x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
    const std::wstring path = SystemFolder() + L"\\" + name;
    // The library's own dependencies are looked for beside it.
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

bool RunsAsSystem() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } info;
    DWORD size = 0;
    const bool system = GetTokenInformation(token, TokenUser, &info, sizeof info, &size) &&
                        IsWellKnownSid(info.user.User.Sid, WinLocalSystemSid);
    CloseHandle(token);
    return system;
}

std::vector<std::wstring> ProcessArguments() {
    std::vector<std::wstring> args;
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!argv) return args;
    for (int i = 0; i < count; ++i) args.emplace_back(argv[i]);
    LocalFree(argv);
    return args;
}

namespace {

// Makes `path`, first its missing parents; the result is the system error
// of the last attempt (ERROR_SUCCESS when the folder was made).
DWORD MakeFolder(const std::wstring& path, int depth) {
    if (CreateDirectoryW(path.c_str(), nullptr)) return ERROR_SUCCESS;
    const DWORD error = GetLastError();
    if (error != ERROR_PATH_NOT_FOUND || depth > 128) return error;
    const std::wstring parent = ParentPath(path);
    if (parent.empty() || parent.size() >= path.size()) return error;
    const DWORD made = MakeFolder(parent, depth + 1);
    if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS) return made;
    return CreateDirectoryW(path.c_str(), nullptr) ? ERROR_SUCCESS : GetLastError();
}

}  // namespace

bool CreateFolderTree(const std::wstring& folder) {
    // Entry names separate with "/"; the system wants backslashes throughout.
    std::wstring path = WithBackslashes(folder);
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    // What the shell's SHCreateDirectoryExW does, parents first and an
    // existing folder counting as made, without its change notifications
    // and its look at each parent's desktop.ini: under Wine those cost many
    // server round trips for every folder.
    if (PathIsRelativeW(path.c_str())) return false;
    const DWORD r = MakeFolder(path, 0);
    return r == ERROR_SUCCESS || r == ERROR_ALREADY_EXISTS;
}

}  // namespace quillo
