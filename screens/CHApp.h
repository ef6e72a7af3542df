// The application object: process entry settings, the main window's
// creation and the teardown when the message loop ends. Windows only.
#pragma once

#include <windows.h>

namespace quillo {

class CHMainWnd;

class CHApp {
public:
    virtual ~CHApp() = default;
    virtual bool Startup() = 0;
    virtual bool Shutdown() = 0;
};

class CHCorvaneApp : public CHApp {
public:
    bool Startup() override;
    bool Shutdown() override;

    int showCommand = SW_SHOWNORMAL;
    const wchar_t* commandLine = nullptr;
    HINSTANCE instance = nullptr;
    HINSTANCE previousInstance = nullptr;
    CHMainWnd* mainWindow = nullptr;
    // What a quiet run that could make no window ended with (0 otherwise).
    int windowlessExitCode = 0;
};

// The process-wide application object.
CHCorvaneApp& TheApp();

// The body of the process entry: window class, Startup, the message loop,
// Shutdown; returns the exit code of the quit message (0 when the program
// could not start).
int RunApplication(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand);

}  // namespace quillo
