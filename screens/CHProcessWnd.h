// The progress window: the screen shown while the product is installed or
// removed. It holds the run state the workers share, starts the install or
// uninstall sequence, turns the workers' messages into progress and decides
// which screen follows. Windows only.
#pragma once

#include <map>
#include <string>

#include "install/RunState.h"
#include "screens/CHSuccessWnd.h"
#include "screens/CInstallFailWnd.h"
#include "screens/CUninstallWnd.h"
#include "ui/UIButton.h"
#include "ui/UIFrameWindow.h"
#include "ui/UILabel.h"
#include "ui/UIProgress.h"

namespace quillo {

constexpr int kCommandStopDriver = 2002;
// Posted by the driver thread of a quiet installation when it has ended.
constexpr UINT WM_QUIET_DRIVER_DONE = WM_APP + 0x101;
// Ends a quiet run once its workers have returned; wParam is the exit code.
constexpr UINT WM_QUIET_END = WM_APP + 0x102;

class CHProcessWnd : public UIFrameWindow, public RunState {
public:
    CHProcessWnd();
    ~CHProcessWnd() override;

    LRESULT OnCreate(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnClose(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnCommand(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;
    int LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) override;

    // Starts the installation on the install thread, or runs the
    // uninstallation on this thread.
    void StartWork();
    void FinishWork() override;
    void HandOverDetector(const std::wstring& libraryPath) override;

    // What a quiet run ends with: 0, or the install error code.
    int quietExitCode = 0;

    UILabel* percentLabel = nullptr;
    UILabel* statusLabel = nullptr;
    UIProgress* progressBar = nullptr;
    UIButton* cancelButton = nullptr;
    CHSuccessWnd successWnd;
    CUninstallWnd uninstalledWnd;
    CInstallFailWnd failWnd;
    std::map<int, std::wstring> errorTexts;

private:
    static void InstallThreadRoutine(CHThread* thread, void* userData);
    void OnSetupProgress(int percent);
    void OnSetupDone();
    void OnSetupFailed(int code);
    void EndQuietRun(int exitCode);
    void OnQuietEnd(int exitCode);
};

}  // namespace quillo
