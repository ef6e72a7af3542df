// The main window: the options screen of an installation (folder, shortcut
// choices, user agreement) or the confirmation screen of an uninstallation.
// It owns the skin and the progress window with every screen that follows.
// Windows only.
#pragma once

#include <string>

#include "screens/CHProcessWnd.h"
#include "ui/CXEdit.h"
#include "ui/UIButton.h"
#include "ui/UICheckBox.h"
#include "ui/UIFrameWindow.h"
#include "ui/UILabel.h"
#include "ui/UIResource.h"

namespace quillo {

// Commands of the options and confirmation screens.
constexpr int kCommandCloseMain = 1000;
constexpr int kCommandInstall = 1001;
constexpr int kCommandAgree = 1002;
constexpr int kCommandBrowse = 1005;
constexpr int kCommandOptions = 1009;
constexpr int kCommandAgreement = 1010;

constexpr int kOptionsWidth = 610;
constexpr int kFoldedHeight = 430;
constexpr int kUnfoldedHeight = 630;

class CHMainWnd : public UIFrameWindow {
public:
    CHMainWnd();
    ~CHMainWnd() override;

    LRESULT OnCreate(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnCommand(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnDestroy(WPARAM wParam, LPARAM lParam) override;

    // Folds or unfolds the custom-install area.
    void ShowOptions(bool expand);
    // Shows the folded options again after a failed installation; the
    // install button starts a new one.
    void ReturnToOptions();

    // The skin lives longest: every window below draws from it.
    UIResource skin;
    CHProcessWnd processWnd;
    std::wstring installPath;
    int role = 1;
    bool quiet = false;

    UIButton* installButton = nullptr;
    UIButton* browseButton = nullptr;
    UIButton* optionButton = nullptr;
    UIButton* licenceButton = nullptr;
    UICheckBox* agreeCheck = nullptr;
    UICheckBox* desktopCheck = nullptr;
    UICheckBox* taskbarCheck = nullptr;
    UICheckBox* startMenuCheck = nullptr;
    UILabel* pathLabel = nullptr;
    UILabel* optionsLabel = nullptr;
    CXEdit* pathEdit = nullptr;

private:
    void BuildInstallScreen();
    void BuildUninstallScreen();
    void CreateProgressWindow(const char* skinPath);
    void Browse();
    void StartInstall();
    void HandOver();

    // Set when the hand-over to the progress window starts: a second 1001
    // (a double click, or one that arrives while the uninstallation pumps
    // messages) must neither start another run nor change the run state
    // the install thread reads.
    bool handedOver_ = false;
};

// Whether a typed installation folder can be used: not empty, with a root of
// at least two characters ("C:", "\\server\share"), and creatable (it is
// created with its missing parents).
bool ValidateInstallFolder(const std::wstring& folder);

// The folder proposed for a folder picked in the browser: "Quillo 3" below it.
std::wstring FolderBelowPicked(const std::wstring& picked);

}  // namespace quillo
