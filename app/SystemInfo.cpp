#include "app/SystemInfo.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include "install/ProductRegistration.h"

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

std::wstring TempFolder() {
    wchar_t buffer[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
    return n && n <= MAX_PATH ? std::wstring(buffer, n) : std::wstring();
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

std::vector<std::wstring> ProcessArguments() {
    std::vector<std::wstring> args;
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!argv) return args;
    for (int i = 0; i < count; ++i) args.emplace_back(argv[i]);
    LocalFree(argv);
    return args;
}

bool RunsFilteredAdministrator() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    DWORD size = 0;
    bool admin = false;
    if (GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size) &&
        static_cast<int>(type) == kTokenElevationTypeLimited) {
        TOKEN_LINKED_TOKEN linked = {};
        if (GetTokenInformation(token, TokenLinkedToken, &linked, sizeof linked, &size)) {
            BYTE sid[SECURITY_MAX_SID_SIZE];
            DWORD sidSize = sizeof sid;
            BOOL member = FALSE;
            if (CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sidSize) &&
                CheckTokenMembership(linked.LinkedToken, sid, &member)) {
                admin = member != FALSE;
            }
            CloseHandle(linked.LinkedToken);
        }
    }
    CloseHandle(token);
    return ShouldRelaunchElevated(IsNt6OrLater(), admin ? kTokenElevationTypeLimited : 0, admin);
}

EarlierInstallation ReadEarlierInstallation() { return FindEarlierInstallation(); }

}  // namespace quillo
