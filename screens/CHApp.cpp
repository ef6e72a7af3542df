#include "screens/CHApp.h"

#include <objbase.h>

#include "screens/CHMainWnd.h"
#include "ui/CHWindow.h"

namespace quillo {

CHCorvaneApp& TheApp() {
    static CHCorvaneApp app;
    return app;
}

bool CHCorvaneApp::Startup() {
    CoInitialize(nullptr);
    mainWindow = new CHMainWnd();
    // WS_POPUP | WS_CLIPCHILDREN | WS_SYSMENU | WS_MINIMIZEBOX, and
    // WS_EX_CONTROLPARENT | WS_EX_APPWINDOW.
    mainWindow->Create(nullptr, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, 0x820A0000, 0x50000,
                       L"Corvane");
    if (!mainWindow->IsWindowValid()) {
        delete mainWindow;
        mainWindow = nullptr;
        return false;
    }
    // A quiet run keeps the window hidden.
    if (!mainWindow->quiet) {
        ShowWindow(mainWindow->hwnd(), showCommand);
        UpdateWindow(mainWindow->hwnd());
    }
    return true;
}

bool CHCorvaneApp::Shutdown() {
    delete mainWindow;
    mainWindow = nullptr;
    CoUninitialize();
    return true;
}

int RunApplication(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand) {
    CHCorvaneApp& app = TheApp();
    app.showCommand = showCommand;
    app.commandLine = commandLine;
    app.instance = instance;
    app.previousInstance = previous;
    if (!RegisterWindowClass(instance)) return 0;
    if (!app.Startup()) return 0;
    const int code = RunMessageLoop();
    app.Shutdown();
    return code;
}

}  // namespace quillo
