// Stand-in for the product's programs in the sample package. Each start is
// recorded as one line (program name and arguments) in
// %TEMP%\quillo-sample-runs.txt, so that tests can tell what the installer ran.
#include <windows.h>

#include <cstdio>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int) {
    wchar_t temp[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH - 32) return 1;
    lstrcatW(temp, L"quillo-sample-runs.txt");
    HANDLE file = CreateFileW(temp, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    char line[2048];
    const int len = std::snprintf(line, sizeof line, "%ls %ls\r\n", QUILLO_SAMPLE_NAME, commandLine);
    DWORD written = 0;
    if (len > 0) WriteFile(file, line, static_cast<DWORD>(len < static_cast<int>(sizeof line) ? len : sizeof line - 1), &written, nullptr);
    CloseHandle(file);
    return 0;
}
