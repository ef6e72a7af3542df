#include "screens/CHProcessWnd.h"

#include "base/RunLog.h"
#include "base/SystemInfo.h"
#include "base/UserPrompt.h"
#include "install/DriverComponents.h"
#include "install/InstallError.h"
#include "install/InstallSequence.h"
#include "install/ProductRegistration.h"
#include "install/RunEnd.h"
#include "screens/ScreenEffects.h"
#include "ui/ControlFactory.h"
#include "uninstall/UninstallSequence.h"

namespace quillo {

CHProcessWnd::CHProcessWnd() {
    for (int code = 1; code <= 8; ++code) errorTexts[code] = InstallErrorText(code);
    buildNumber = ReadBuildNumber(ModuleFilePath());
    drivers64 = InitialDrivers64();
    statusSink = [this](const std::wstring& text) {
        if (statusLabel) statusLabel->SetText(text);
    };
}

CHProcessWnd::~CHProcessWnd() {
    // Workers still running are ended before the windows they report to go.
    installThread.Terminate();
    driverThread.Terminate();
}

LRESULT CHProcessWnd::OnCreate(WPARAM wParam, LPARAM lParam) {
    const LRESULT result = UIFrameWindow::OnCreate(wParam, lParam);
    window = hwnd_;
    if (installMode == 1) {
        SetWindowSize(610, 430);
    } else {
        SetWindowSize(656, 320);
    }
    CenterWindow();
    MakeLayered();
    if (installMode == 1) {
        successWnd.Create(hwnd_, 0, 0, 610, 430, WS_POPUP, 0, L"");
        failWnd.Create(hwnd_, 0, 0, 610, 430, WS_POPUP, 0, L"");
        failWnd.Show(false);
    } else {
        uninstalledWnd.Create(hwnd_, 0, 0, 656, 460, WS_POPUP, 0, L"");
    }
    return result;
}

int CHProcessWnd::LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) {
    if (installMode == 1) {
        successWnd.LoadSkin(resource, "InstallSuccessWnd", nullptr);
        if (auto* title = static_cast<UILabel*>(CreateControl(kKindLabel, resource, this, "MainWindow/title")))
            title->SetText(L"Quillo 3");
        CreateControl(kKindPane, resource, this, "InstallProcessWnd/hot");
        statusLabel = static_cast<UILabel*>(CreateControl(kKindLabel, resource, this, "InstallProcessWnd/tip"));
        percentLabel =
            static_cast<UILabel*>(CreateControl(kKindLabel, resource, this, "InstallProcessWnd/tipprocesswnd"));
        progressBar =
            static_cast<UIProgress*>(CreateControl(kKindProgress, resource, this, "InstallProcessWnd/setupprocess"));
        failWnd.LoadSkin(resource, "InstallFailWnd", nullptr);
    } else {
        uninstalledWnd.LoadSkin(resource, "UninstalledWindow", nullptr);
        if (auto* title = static_cast<UILabel*>(CreateControl(kKindLabel, resource, this, "ProcessWindow/Label2")))
            title->SetText(L"卸载");
        CreateControl(kKindPane, resource, this, "ProcessWindow/Panel1");
        statusLabel = static_cast<UILabel*>(CreateControl(kKindLabel, resource, this, "ProcessWindow/Label1"));
        progressBar = static_cast<UIProgress*>(CreateControl(kKindProgress, resource, this, "ProcessWindow/Progress1"));
        cancelButton = static_cast<UIButton*>(CreateControl(kKindButton, resource, this, "ProcessWindow/ButtonCancel"));
        if (cancelButton) {
            cancelButton->SetText(L"取消");
            cancelButton->SetVisible(false);
        }
    }
    if (progressBar) {
        progressBar->SetRange();
        progressBar->SetPos(0);
    }
    if (statusLabel) statusLabel->SetText(installMode == 1 ? L"准备安装..." : L"准备卸载...");
    return UIFrameWindow::LoadSkin(resource, path, parentNode);
}

LRESULT CHProcessWnd::OnClose(WPARAM, LPARAM) { return 0; }

LRESULT CHProcessWnd::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (LOWORD(wParam) == kCommandStopDriver) {
        driverThread.stopRequested = 1;
        if (cancelButton) cancelButton->SetEnabled(false);
        return 0;
    }
    return UIFrameWindow::OnCommand(wParam, lParam);
}

LRESULT CHProcessWnd::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
    switch (message) {
        case WM_SETUP_PROGRESS:
            if (wParam != 1) break;
            handled = true;
            OnSetupProgress(static_cast<int>(lParam));
            return 0;
        case WM_SETUP_DONE:
            handled = true;
            OnSetupDone();
            return 0;
        case WM_SETUP_FAILED:
            if (wParam != 1) break;
            handled = true;
            OnSetupFailed(static_cast<int>(lParam));
            return 0;
        case WM_QUIET_DRIVER_DONE:
            handled = true;
            EndQuietRun(SuccessExitCode());
            return 0;
        case WM_QUIET_END:
            handled = true;
            OnQuietEnd(static_cast<int>(wParam));
            return 0;
        default:
            break;
    }
    return UIFrameWindow::OnMessage(message, wParam, lParam, handled);
}

void CHProcessWnd::StartWork() {
    if (installMode == 1) {
        operation = 1;
        if (installThread.Running()) return;
        if (quiet) {
            // A quiet run whose driver step reports nothing to this window
            // ends when that thread does.
            const HWND self = hwnd_;
            driverThread.onExit = [self] { PostMessageW(self, WM_QUIET_DRIVER_DONE, 0, 0); };
        }
        installThread.Start(&CHProcessWnd::InstallThreadRoutine, this);
        return;
    }
    operation = 2;
    if (!RunUninstall(*this, std::wstring())) {
        if (!quiet) TellUser(hwnd_, L"卸载出现错误, 操作中止.", L"", MB_ICONERROR);
        LogLine(std::string("uninstallation failed; exit code 1"));
        TerminateProcess(GetCurrentProcess(), 1);
        ExitProcess(1);
    }
}

void CHProcessWnd::InstallThreadRoutine(CHThread*, void* userData) {
    auto* self = static_cast<CHProcessWnd*>(userData);
    std::string digest;
    const int code = RunInstall(*self, digest);
    if (code == 0) return;
    EndFailedInstall(*self, code, digest);
    self->ReportFailed(code);
}

void CHProcessWnd::OnSetupProgress(int percent) {
    if (progressBar) {
        progressBar->SetPos(percent);
        progressBar->Invalidate(nullptr);
    }
    if (percentLabel) {
        wchar_t text[32];
        swprintf(text, 32, L"%d%%", percent);
        percentLabel->SetText(text);
    }
}

void CHProcessWnd::OnSetupDone() {
    SetStatusText(L"安装完毕: 100%%");
    PostMessageW(hwnd_, WM_SETUP_PROGRESS, 1, 100);
    FinishWork();
}

void CHProcessWnd::OnSetupFailed(int code) {
    if (quiet) {
        EndQuietRun(code);
        return;
    }
    Show(false);
    PostMessageW(hwnd_, WM_SETUP_PROGRESS, 1, 0);
    const std::wstring text = errorTexts[code];  // an unknown code enters the table with an empty text
    failWnd.SetError(code, text);
    failWnd.Show(true);
}

void CHProcessWnd::FinishWork() {
    EndCompletedRun(*this);
    if (quiet) {
        EndQuietRun(SuccessExitCode());
        return;
    }
    if (installMode == 1) successWnd.startPath = lastRunPath;
    FadeOutAndShrink(*this);
    if (installMode == 1) {
        successWnd.buildNumber = buildNumber;
        successWnd.channel = channel;
        successWnd.reportL = reportL;
        Show(false);
        ShowTopMost(successWnd);
        if (successWnd.startButton) successWnd.startButton->SetText(L"立即体验");
    } else {
        ShowTopMost(uninstalledWnd);
    }
}

void CHProcessWnd::HandOverDetector(const std::wstring& libraryPath) { successWnd.SetupDetector(libraryPath); }

void CHProcessWnd::EndQuietRun(int exitCode) {
    // Reports arrive just before the worker returns, the completion even as a
    // sent message its sender waits on; the end is taken up from the queue.
    PostMessageW(hwnd_, WM_QUIET_END, static_cast<WPARAM>(exitCode), 0);
}

void CHProcessWnd::OnQuietEnd(int exitCode) {
    quietExitCode = exitCode;
    // The workers are let finish: ending the loop now would end them
    // forcibly in the teardown, possibly inside the heap with its lock held.
    installThread.WaitPumpingMessages();
    driverThread.WaitPumpingMessages();
    PostQuitMessage(exitCode);
}

}  // namespace quillo
