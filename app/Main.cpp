// Process entry of the setup program and the uninstaller.
#include <windows.h>

#include "screens/CHApp.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand) {
    return quillo::RunApplication(instance, previous, commandLine, showCommand);
}
