// Process entry of the setup program and the uninstaller.
#include <windows.h>

#include <cstdlib>

#include "base/SystemInfo.h"
#include "screens/CHApp.h"

// An exception that escapes ends the program quietly. The library's default
// handler prints the demangled type name first, which would link the whole
// symbol demangler into a program that has no console to print to.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand) {
    // Before anything loads a library: only the system folder is searched.
    quillo::RestrictLibrarySearch();
    return quillo::RunApplication(instance, previous, commandLine, showCommand);
}
