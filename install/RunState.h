// What the install and uninstall workers share with the progress window: the
// run settings, the report fields, the worker threads, and the three messages
// by which a worker reports to the window. Windows only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/CHThread.h"
#include "base/TempFile.h"
#include "json/JValue.h"

namespace quillo {

// Worker messages, sent to the progress window.
constexpr UINT WM_SETUP_DONE = 0x8401;      // wParam 0, lParam 0; sent with a zero time-out
constexpr UINT WM_SETUP_PROGRESS = 0x8402;  // wParam 1, lParam percent 0..100; posted
constexpr UINT WM_SETUP_FAILED = 0x8403;    // wParam 1, lParam install error code; posted

class RunState {
public:
    RunState() = default;
    RunState(const RunState&) = delete;
    RunState& operator=(const RunState&) = delete;
    virtual ~RunState() = default;

    int installMode = 0;  // 1 install, 0 uninstall
    int desktopShortcut = 1;
    int taskbarShortcut = 1;
    int startMenuShortcut = 1;
    int quiet = 0;
    int driverComponents = 0;
    int extraPack = 1;
    std::wstring installDir;
    std::wstring lastRunPath;
    std::wstring driverArchivePath;
    // The driver archive the installation wrote: it goes when this is
    // released, or when the process ends in any way.
    std::unique_ptr<TempFile> driverArchive;
    // The outermost of the installation folder and its parents that did not
    // exist before this run made it; a failed run removes what it made.
    std::wstring firstNewFolder;
    // Set when the installation handed its end over to the driver step.
    bool driverStepStarted = false;
    std::string packageDigest;
    // The uninstaller whose manifest a removal reads when it is not the
    // running program's own file (after a cut-short installation was taken
    // back, the restored installation's uninstaller).
    std::wstring manifestFile;
    // Where the removal moves the running uninstaller that started it
    // ("/ASIDE"); empty when it runs from its own file.
    std::wstring asideFolder;
    CHThread driverThread;
    // Report fields of every statistics event.
    int operation = 1;  // 1 install, 2 uninstall, 3 install after removing an earlier installation
    uint32_t buildNumber = 0;
    int channel = 0;
    int reportL = 1;
    int noAutorunTray = 0;
    int driverResult = 0;  // 1 driver components installed, -1 not
    JValue installCommands;
    int drivers64 = 0;
    int selfLaunch = 0;
    int noLaunch = 0;  // "/NOLAUNCH"
    CHThread installThread;

    // The progress window: receives the worker messages and owns the
    // workers' message boxes. May be null (nothing is reported then).
    HWND window = nullptr;

    // Shows one line of status text; the sink must be safe to call from any
    // thread. `format` is a printf format applied to `number`.
    std::function<void(const std::wstring&)> statusSink;
    void SetStatusText(const wchar_t* format, long number = 0) const;

    // Hand-overs to the screens that follow; the progress window overrides
    // them. FinishWork ends an uninstallation that ran from the uninstaller
    // itself; HandOverDetector receives the recommended-software detector
    // library that the installation wrote to the temporary folder.
    virtual void FinishWork() {}
    virtual void HandOverDetector(const std::wstring& libraryPath) { (void)libraryPath; }

    void ReportProgress(int percent) const;
    void ReportDone() const;
    void ReportFailed(int code) const;
};

// Starts the setup block's "instrun" commands from the installation folder,
// without waiting. Anything but an array runs nothing.
void RunPostInstallCommands(const RunState& state);

// Starts one command line without waiting; false when it cannot be started.
bool StartDetached(const std::wstring& commandLine);

}  // namespace quillo
