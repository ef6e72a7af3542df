#include "screens/CHApp.h"

#include <objbase.h>
#include <shellapi.h>

#include "base/RunLog.h"
#include "install/InstallSequence.h"
#include "install/RunEnd.h"
#include "screens/CHMainWnd.h"
#include "ui/CHWindow.h"
#include "uninstall/UninstallSequence.h"

namespace quillo {
namespace {

// The run state of a quiet run that has no windows to report to: the
// removal's end sends its report here instead of showing a screen.
class WindowlessRun : public RunState {
public:
    void FinishWork() override { EndCompletedRun(*this); }
};

// A quiet run where no window can be made (no window station, or a system
// without a display driver): the same work as with windows, on this thread,
// ending with its code instead of with nothing done.
int RunQuietWithoutWindows(CHMainWnd& main) {
    LogLine(std::string("no window can be created; the quiet run goes on without windows"));
    // The main window's end posted a quit; here it would cut short every
    // wait that pumps messages.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
    const CHProcessWnd& from = main.processWnd;
    WindowlessRun state;
    state.installMode = main.role != 0 ? 1 : 0;
    state.quiet = 1;
    state.installDir = main.installPath;
    state.channel = from.channel;
    state.driverComponents = from.driverComponents;
    state.extraPack = from.extraPack;
    state.selfLaunch = from.selfLaunch;
    state.packageDigest = from.packageDigest;
    state.drivers64 = from.drivers64;
    state.buildNumber = from.buildNumber;
    state.manifestFile = from.manifestFile;
    state.noLaunch = from.noLaunch;
    state.asideFolder = from.asideFolder;
    if (state.installMode == 0) {
        state.operation = 2;
        return RunUninstall(state, std::wstring()) ? SuccessExitCode() : 1;
    }
    std::string digest;
    const int code = RunInstall(state, digest);
    if (code != 0) {
        EndFailedInstall(state, code, digest);
        return code;
    }
    // The driver step, when there is one, runs the commands and reports.
    if (state.driverStepStarted) {
        state.driverThread.WaitPumpingMessages();
        return SuccessExitCode();
    }
    state.FinishWork();
    return SuccessExitCode();
}

}  // namespace

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
    const bool windows = mainWindow->IsWindowValid() && mainWindow->processWnd.IsWindowValid();
    if (!windows) {
        // Only a quiet run has a way on; it must not end as if it had
        // succeeded.
        if (mainWindow->quiet) windowlessExitCode = RunQuietWithoutWindows(*mainWindow);
        delete mainWindow;
        mainWindow = nullptr;
        return false;
    }
    // A quiet run keeps the window hidden and starts at once; it ends the
    // message loop itself when it is over (the installation on its thread,
    // the uninstallation right here).
    if (mainWindow->quiet) {
        mainWindow->processWnd.StartWork();
    } else {
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
    if (!app.Startup()) {
        LogLinef("exit code %d", app.windowlessExitCode);
        CloseRunLog();
        return app.windowlessExitCode;
    }
    const int code = RunMessageLoop();
    app.Shutdown();
    LogLinef("exit code %d", code);
    CloseRunLog();
    return code;
}

}  // namespace quillo
