// Stand-in for the product's programs in the sample package. Each start is
// recorded as one UTF-8 line (program name and arguments) in
// %TEMP%\quillo-sample-runs.txt, so that tests can tell what the installer ran.
// The clean-up commands ("/u...") take a moment, as real ones would: they
// record "(begins)" first and their own line when they end, so a caller that
// does not wait for one before starting the next is caught.
#include <windows.h>

#include <cstdio>

namespace {

void Record(const wchar_t* commandLine, const char* suffix) {
    wchar_t temp[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH - 32) return;
    lstrcatW(temp, L"quillo-sample-runs.txt");
    HANDLE file = CreateFileW(temp, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    wchar_t wide[1024];
    const int count =
        _snwprintf(wide, sizeof wide / sizeof wide[0] - 1, L"%ls %ls", QUILLO_SAMPLE_NAME, commandLine);
    wide[count < 0 ? sizeof wide / sizeof wide[0] - 1 : count] = L'\0';
    char line[4096];
    int len = WideCharToMultiByte(CP_UTF8, 0, wide, -1, line, sizeof line - 8, nullptr, nullptr);
    len = len > 0 ? len - 1 : 0;
    len += std::snprintf(line + len, sizeof line - static_cast<size_t>(len), "%s\r\n", suffix);
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(len), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int) {
    if (commandLine[0] == L'/' && commandLine[1] == L'u') {
        Record(commandLine, " (begins)");
        Sleep(300);
    }
    Record(commandLine, "");
    return 0;
}
