// Process entry of the setup program and the uninstaller.
#include <windows.h>

#include "app/Startup.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    // The screens build on these settings; until they exist the program ends
    // once the startup decisions are taken.
    quillo::RunStartup(nullptr);
    return 0;
}
