// The screen of a failed installation: the error text of the install error
// code and one button, install again (back to the options) or, when the
// package content was wrong, download again. Windows only.
#pragma once

#include "ui/UIButton.h"
#include "ui/UIFrameWindow.h"
#include "ui/UILabel.h"

namespace quillo {

class CHMainWnd;

constexpr int kCommandRetry = 4561;
constexpr int kCommandFailClose = 4563;
// The install error code whose remedy is a new download.
constexpr int kDownloadAgainCode = 5;

class CInstallFailWnd : public UIFrameWindow {
public:
    LRESULT OnCreate(WPARAM wParam, LPARAM lParam) override;
    int LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) override;
    LRESULT OnCommand(WPARAM wParam, LPARAM lParam) override;
    // A close request (the close element's, or Alt+F4) ends the program with
    // exit code 1, as the close element's command 4563 does; the window
    // stays until the program ends.
    LRESULT OnClose(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnNcDestroy(WPARAM wParam, LPARAM lParam) override;

    void SetError(int code, const std::wstring& text);

    UILabel* errorInfoLabel = nullptr;
    UIButton* retryButton = nullptr;
    int errorCode = 0;
    CHMainWnd* mainWnd = nullptr;
};

}  // namespace quillo
