// The uninstaller's closing screen and the feedback form shown over it: why
// the product was removed, sent to the statistics server on the way out.
// Windows only.
#pragma once

#include "ui/CXEditCtrl.h"
#include "ui/UICheckBox.h"
#include "ui/UIFrameWindow.h"

namespace quillo {

constexpr int kCommandUninstalledDone = 1002;
constexpr int kCommandFeedbackPage = 3001;
// Where the form sits inside the closing screen (at 96 DPI).
constexpr int kFormOffsetX = 7;
constexpr int kFormOffsetY = 160;
constexpr int kFormWidth = 642;
constexpr int kFormHeight = 240;

class CPopWnd : public UIFrameWindow {
public:
    LRESULT OnCreate(WPARAM wParam, LPARAM lParam) override;
    int LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) override;

    LRESULT OnClose(WPARAM wParam, LPARAM lParam) override;
    bool PressDefault() override;
    bool PressCancel() override;

    // Sends the ticked reasons and the typed texts; nothing when both are empty.
    void SendFeedback();

    // The closing screen the form sits on.
    UIObject* screen = nullptr;
    UICheckBox* reasonChecks[5] = {};
    CXEditCtrl* textEdits[4] = {};
};

class CUninstallWnd : public UIFrameWindow {
public:
    ~CUninstallWnd() override;

    LRESULT OnCreate(WPARAM wParam, LPARAM lParam) override;
    int LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) override;
    LRESULT OnShowWindow(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnWindowPosChanged(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnCommand(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnClose(WPARAM wParam, LPARAM lParam) override;

    // Hides the screen, sends the feedback and ends the process (exit code 0).
    [[noreturn]] void Finish();

    CPopWnd* feedbackForm = nullptr;
};

}  // namespace quillo
