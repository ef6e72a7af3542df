#include "screens/CInstallFailWnd.h"

#include <shellapi.h>

#include "screens/CHMainWnd.h"
#include "screens/WebPages.h"
#include "ui/ControlFactory.h"

namespace quillo {

LRESULT CInstallFailWnd::OnCreate(WPARAM wParam, LPARAM lParam) {
    SetWindowSize(610, 430);
    CenterWindow();
    MakeLayered();
    return UIFrameWindow::OnCreate(wParam, lParam);
}

int CInstallFailWnd::LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) {
    CreateControl(kKindPane, resource, this, "InstallFailWnd/errorlogo");
    if (auto* title = static_cast<UILabel*>(CreateControl(kKindLabel, resource, this, "MainWindow/title")))
        title->SetText(L"Quillo 3");
    if (auto* heading = static_cast<UILabel*>(CreateControl(kKindLabel, resource, this, "InstallFailWnd/L_error")))
        heading->SetText(L"安装失败!");
    errorInfoLabel = static_cast<UILabel*>(CreateControl(kKindLabel, resource, this, "InstallFailWnd/L_errorinfo"));
    if (errorInfoLabel) errorInfoLabel->SetText(L"info");
    retryButton = static_cast<UIButton*>(CreateControl(kKindButton, resource, this, "MainWindow/InStall"));
    if (retryButton) {
        retryButton->SetText(L"重新安装");
        retryButton->SetId(kCommandRetry);
    }
    SetDefaultElement(retryButton);
    return UIFrameWindow::LoadSkin(resource, path, parentNode);
}

void CInstallFailWnd::SetError(int code, const std::wstring& text) {
    errorCode = code;
    if (errorInfoLabel) errorInfoLabel->SetText(text);
    if (retryButton) retryButton->SetText(code == kDownloadAgainCode ? L"重新下载" : L"重新安装");
}

LRESULT CInstallFailWnd::OnCommand(WPARAM wParam, LPARAM lParam) {
    UIFrameWindow::OnCommand(wParam, lParam);
    switch (LOWORD(wParam)) {
        case kCommandRetry:
            if (!mainWnd) break;
            if (errorCode == kDownloadAgainCode) {
                ShellExecuteW(nullptr, L"open", kDownloadPage, nullptr, nullptr, SW_SHOWNORMAL);
                // The installation did not happen: the run ends with its code.
                PostQuitMessage(errorCode);
            } else {
                Show(false);
                mainWnd->ReturnToOptions();
            }
            break;
        case kCommandFailClose:
            PostQuitMessage(1);
            break;
        default:
            break;
    }
    return 0;
}

LRESULT CInstallFailWnd::OnClose(WPARAM, LPARAM) {
    PostQuitMessage(1);
    return 0;
}

LRESULT CInstallFailWnd::OnNcDestroy(WPARAM wParam, LPARAM lParam) {
    PostQuitMessage(0);
    return UIFrameWindow::OnNcDestroy(wParam, lParam);
}

}  // namespace quillo
