// Stands in for the recommended-software detector library in the success
// screen tests: the three exports, each call recorded as one line in
// %TEMP%\quillo-detector-calls.txt. The offer's text is fixed.
#include <windows.h>

#include <cstdio>

namespace {

void Record(const char* line) {
    wchar_t path[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, path);
    if (n == 0 || n > MAX_PATH - 40) return;
    lstrcatW(path, L"quillo-detector-calls.txt");
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(lstrlenA(line)), &written, nullptr);
    WriteFile(file, "\r\n", 2, &written, nullptr);
    CloseHandle(file);
}

}  // namespace

extern "C" __declspec(dllexport) int __stdcall RunDetector(int mode, int product, int reserved) {
    char line[96];
    std::snprintf(line, sizeof line, "RunDetector %d %d %d", mode, product, reserved);
    Record(line);
    return 1;
}

extern "C" __declspec(dllexport) int __stdcall GetDectectorResult(int* result, wchar_t* text, int capacity,
                                                                  wchar_t* text2, int capacity2, int reserved) {
    char line[96];
    std::snprintf(line, sizeof line, "GetDectectorResult %d %d %d", capacity, capacity2, reserved);
    Record(line);
    if (result) *result = 1;
    const wchar_t offer[] = L"推荐: 电脑管家";
    if (text && capacity > 0) lstrcpynW(text, offer, capacity);
    if (text2 && capacity2 > 0) text2[0] = L'\0';
    return 1;
}

extern "C" __declspec(dllexport) int __stdcall WaitDetectorComplete(int first, int timeout) {
    char line[96];
    std::snprintf(line, sizeof line, "WaitDetectorComplete %d %d", first, timeout);
    Record(line);
    return 0;
}
