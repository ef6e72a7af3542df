// A library that stands in for one an attacker plants beside a program (in
// a Downloads folder, the temporary folder, an installation folder), under
// the name of a library the program or the system loads; built as a program
// too (QUILLO_PLANTED_PROGRAM), planted under the name of a program the
// setup starts. It does nothing but leave a mark when it is loaded or run:
// "C:\planted\<its file name>".
#include <windows.h>

namespace {

void LeaveMark(HMODULE module) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    const wchar_t* name = path;
    for (const wchar_t* p = path; *p; ++p)
        if (*p == L'\\' || *p == L'/') name = p + 1;
    CreateDirectoryW(L"C:\\planted", nullptr);
    wchar_t marker[MAX_PATH + 16];
    lstrcpyW(marker, L"C:\\planted\\");
    lstrcatW(marker, name);
    HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, path, length * sizeof(wchar_t), &written, nullptr);
        CloseHandle(file);
    }
}

}  // namespace

#ifdef QUILLO_PLANTED_PROGRAM
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    LeaveMark(instance);
    return 0;
}
#else
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) LeaveMark(instance);
    return TRUE;
}
#endif
