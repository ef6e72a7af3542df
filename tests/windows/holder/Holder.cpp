// Stand-in for a program that holds a file of the product: it loads the
// library given (or opens any other file without sharing deletion), says
// "ready" on its standard output and keeps the file until it is ended or
// the seconds given have passed.
// Usage: quillo-hold FILE [SECONDS]
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: quillo-hold FILE [SECONDS]\n");
        return 2;
    }
    const size_t n = wcslen(argv[1]);
    const bool library = n > 4 && _wcsicmp(argv[1] + n - 4, L".dll") == 0;
    if (library) {
        if (!LoadLibraryW(argv[1])) {
            std::fprintf(stderr, "quillo-hold: cannot load (%lu)\n", GetLastError());
            return 1;
        }
    } else if (CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr) ==
               INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "quillo-hold: cannot open (%lu)\n", GetLastError());
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(argc > 2 ? _wtoi(argv[2]) : 120) * 1000);
    return 0;
}
