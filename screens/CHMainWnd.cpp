#include "screens/CHMainWnd.h"

#include <oleacc.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "app/Startup.h"
#include "base/ProtectedFolder.h"
#include "base/RunLog.h"
#include "base/SystemInfo.h"
#include "base/TextCodec.h"
#include "base/UserPrompt.h"
#include "install/EntryName.h"
#include "screens/ScreenEffects.h"
#include "screens/WebPages.h"
#include "ui/ControlFactory.h"

namespace quillo {
namespace {

template <typename T>
T* Make(int kind, UIResource* skin, UIObject* parent, const char* path) {
    return static_cast<T*>(CreateControl(kind, skin, parent, path));
}

}  // namespace

CHMainWnd::CHMainWnd() { SetCurrentSkin(&skin); }

CHMainWnd::~CHMainWnd() {
    if (CurrentSkin() == &skin) SetCurrentSkin(nullptr);
}

LRESULT CHMainWnd::OnCreate(WPARAM wParam, LPARAM lParam) {
    const LRESULT result = UIFrameWindow::OnCreate(wParam, lParam);

    const StartupState startup = RunStartup(hwnd_);
    role = startup.settings.role;
    quiet = startup.quiet;
    installPath = startup.installPath;
    processWnd.channel = startup.settings.channel;
    processWnd.driverComponents = startup.settings.driverComponents;
    processWnd.extraPack = startup.settings.extraPack;
    processWnd.selfLaunch = startup.settings.selfLaunch;
    processWnd.packageDigest = WideToUtf8(startup.settings.packageDigest);
    processWnd.manifestFile = startup.manifestFile;
    processWnd.noLaunch = startup.noLaunch ? 1 : 0;
    processWnd.asideFolder = startup.asideFolder;

    // A quiet run's screens are built (they hold its choices and carry its
    // messages) but never drawn: decoding the art would only cost time and
    // memory.
    if (quiet) skin.LeaveArtUndecoded();
    skin.LoadFromResource(GetModuleHandleW(nullptr), L"UIR", 129);
    SetCurrentSkin(&skin);

    if (role != 0) {
        BuildInstallScreen();
    } else {
        BuildUninstallScreen();
    }
    CenterWindow();
    MakeLayered();

    if (quiet) {
        SetWindowSize(1, 1);
        ShowWindow(hwnd_, SW_HIDE);
        processWnd.quiet = 1;
        if (role != 0) {
            processWnd.installDir = installPath;
            processWnd.desktopShortcut = desktopCheck && desktopCheck->checked() ? 1 : 0;
            processWnd.taskbarShortcut = taskbarCheck && taskbarCheck->checked() ? 1 : 0;
            processWnd.startMenuShortcut = startMenuCheck && startMenuCheck->checked() ? 1 : 0;
        }
        // The run starts once the window exists (CHCorvaneApp::Startup) and
        // ends the message loop itself when it is over.
    }
    return result;
}

void CHMainWnd::BuildInstallScreen() {
    UIFrameWindow::LoadSkin(&skin, "MainWindow", nullptr);
    if (auto* title = Make<UILabel>(kKindLabel, &skin, this, "MainWindow/title")) title->SetText(L"Quillo 3");
    Make<UIObject>(kKindPane, &skin, this, "MainWindow/logo");
    installButton = Make<UIButton>(kKindButton, &skin, this, "MainWindow/InStall");
    if (installButton) installButton->SetText(L"立即安装");
    SetDefaultElement(installButton);
    desktopCheck = Make<UICheckBox>(kKindCheckBox, &skin, this, "MainWindow/CheckBoxDesktop");
    if (desktopCheck) desktopCheck->SetText(L"建立桌面快捷方式");
    taskbarCheck = Make<UICheckBox>(kKindCheckBox, &skin, this, "MainWindow/CheckBoxTaskbar");
    if (taskbarCheck) taskbarCheck->SetText(L"建立任务栏快捷方式");
    startMenuCheck = Make<UICheckBox>(kKindCheckBox, &skin, this, "MainWindow/CheckBoxStartMenu");
    if (startMenuCheck) startMenuCheck->SetText(L"建立开始菜单快捷方式");
    agreeCheck = Make<UICheckBox>(kKindCheckBox, &skin, this, "MainWindow/CheckBoxAgree");
    if (agreeCheck) agreeCheck->SetText(L"我同意用户协议");
    licenceButton = Make<UIButton>(kKindButton, &skin, this, "MainWindow/LisenceButton");
    if (licenceButton) {
        licenceButton->SetText(L"《用户协议》");
        // It opens the agreement's web page.
        licenceButton->SetAccessibleRole(ROLE_SYSTEM_LINK);
    }
    for (UICheckBox* box : {desktopCheck, taskbarCheck, startMenuCheck, agreeCheck}) {
        if (box) box->SetCheck(true);
    }

    pathEdit = new CXEdit();
    pathEdit->SetAccessibleName(L"安装路径");
    pathEdit->LoadSkin(&skin, "MainWindow/EditBoxPath", nullptr);
    AddChild(pathEdit);
    pathEdit->SetText(installPath);

    browseButton = Make<UIButton>(kKindButton, &skin, this, "MainWindow/ButtonBrowser");
    if (browseButton) browseButton->SetText(L"更换目录");
    optionButton = Make<UIButton>(kKindButton, &skin, this, "MainWindow/ButtonOption");
    if (optionButton) optionButton->SetText(L"自定义安装 ▼");
    pathLabel = Make<UILabel>(kKindLabel, &skin, this, "MainWindow/LabelPath");
    if (pathLabel) pathLabel->SetText(L"安装路径:");
    optionsLabel = Make<UILabel>(kKindLabel, &skin, this, "MainWindow/LabelCheck");
    if (optionsLabel) optionsLabel->SetText(L"安装选项:");

    processWnd.installMode = 1;
    CreateProgressWindow("InstallProcessWnd");
    processWnd.failWnd.mainWnd = this;
    ShowOptions(false);
}

void CHMainWnd::BuildUninstallScreen() {
    UIFrameWindow::LoadSkin(&skin, "UninstallWindow", nullptr);
    if (auto* title = Make<UILabel>(kKindLabel, &skin, this, "UninstallWindow/Label2")) title->SetText(L"卸载");
    // The question is drawn into the panel's art: a screen reader is told it.
    if (UIObject* question = Make<UIObject>(kKindPane, &skin, this, "UninstallWindow/Panel1")) {
        question->SetAccessibleRole(ROLE_SYSTEM_STATICTEXT);
        question->SetAccessibleName(L"确定要卸载 Quillo 3 吗？卸载将删除 Quillo 3 的程序文件、快捷方式和注册信息。");
    }
    // The button's caption is drawn into its art.
    if (UIButton* confirm = Make<UIButton>(kKindButton, &skin, this, "UninstallWindow/ButtonOK")) {
        confirm->SetAccessibleName(L"确定卸载");
        SetDefaultElement(confirm);
    }
    Make<UIButton>(kKindButton, &skin, this, "UninstallWindow/ButtonCancel");
    processWnd.installMode = 0;
    CreateProgressWindow("ProcessWindow");
    SetWindowSize(656, 320);
}

void CHMainWnd::CreateProgressWindow(const char* skinPath) {
    processWnd.Create(hwnd_, 0, 0, kOptionsWidth, kFoldedHeight, WS_POPUP, 0, L"");
    processWnd.LoadSkin(&skin, skinPath, nullptr);
}

void CHMainWnd::ShowOptions(bool expand) {
    if (optionButton) optionButton->SetText(expand ? L"自定义安装 ▲" : L"自定义安装 ▼");
    SetWindowSize(kOptionsWidth, expand ? kUnfoldedHeight : kFoldedHeight);
    for (UIObject* control : std::initializer_list<UIObject*>{pathEdit, browseButton, desktopCheck, startMenuCheck,
                                                              taskbarCheck, optionsLabel, pathLabel}) {
        if (control) control->SetVisible(expand);
    }
}

LRESULT CHMainWnd::OnCommand(WPARAM wParam, LPARAM lParam) {
    const LRESULT result = UIFrameWindow::OnCommand(wParam, lParam);
    const int id = LOWORD(wParam);
    if (role == 0) {
        if (id == kCommandCloseMain || id == kCommandAgree) {
            SendMessageW(hwnd_, WM_SYSCOMMAND, SC_CLOSE, 0);
        } else if (id == kCommandInstall && !handedOver_) {
            HandOver();
            processWnd.StartWork();
        }
        return result;
    }
    switch (id) {
        case kCommandCloseMain:
            SendMessageW(hwnd_, WM_SYSCOMMAND, SC_CLOSE, 0);
            break;
        case kCommandInstall:
            if (!handedOver_) StartInstall();
            break;
        case kCommandAgree:
            if (installButton && agreeCheck) installButton->SetEnabled(agreeCheck->checked());
            break;
        case kCommandBrowse:
            Browse();
            break;
        case kCommandOptions:
            ShowOptions(pathEdit && !pathEdit->visible());
            break;
        case kCommandAgreement:
            ShellExecuteW(nullptr, L"open", kAgreementPage, nullptr, nullptr, SW_SHOWNORMAL);
            break;
        default:
            break;
    }
    return result;
}

LRESULT CHMainWnd::OnDestroy(WPARAM wParam, LPARAM lParam) {
    // Closed before the work was handed over: the user cancelled. (A quiet
    // run has ended its loop with its own code before this window goes.)
    PostQuitMessage(handedOver_ ? 0 : kExitCancelled);
    return UIFrameWindow::OnDestroy(wParam, lParam);
}

std::wstring FolderBelowPicked(const std::wstring& picked) {
    const std::wstring trimmed = TrimWhiteSpace(picked);
    if (trimmed.empty()) return trimmed;
    return trimmed.back() == L'\\' ? trimmed + L"Quillo 3" : trimmed + L"\\Quillo 3";
}

void CHMainWnd::Browse() {
    const std::wstring kept = installPath;
    installPath.clear();
    BROWSEINFOW info = {};
    info.hwndOwner = hwnd_;
    info.lpszTitle = L"";
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS | BIF_EDITBOX | BIF_NEWDIALOGSTYLE;
    PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&info);
    if (item) {
        wchar_t path[MAX_PATH] = {};
        if (SHGetPathFromIDListW(item, path)) installPath = path;
        CoTaskMemFree(item);
    }
    if (!installPath.empty()) {
        installPath = FolderBelowPicked(installPath);
        if (pathEdit) pathEdit->SetText(installPath);
    } else {
        installPath = kept;
    }
}

bool ValidateInstallFolder(const std::wstring& folder) {
    if (folder.empty()) return false;
    std::wstring path = folder;
    // The shell wants backslashes throughout.
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    std::wstring root = path;
    root.push_back(L'\0');
    root.resize(MAX_PATH > root.size() ? MAX_PATH : root.size());
    PathStripToRootW(&root[0]);
    if (wcslen(root.c_str()) < 2) return false;
    switch (MakeInstallFolder(path)) {
        case InstallFolderOrigin::Failed:
            return false;
        case InstallFolderOrigin::Protected:
            LogLine(L"installation folder made, changeable by administrators only: " + path);
            break;
        case InstallFolderOrigin::Inherited:
            LogLine(L"installation folder made with the permissions of its parent: " + path);
            break;
        case InstallFolderOrigin::Existing:
            LogLine(L"the installation folder exists; its permissions are used as they are: " + path);
            break;
    }
    return true;
}

void CHMainWnd::StartInstall() {
    installPath = pathEdit ? pathEdit->GetText() : installPath;
    // What the check below makes of the folder is taken back if the
    // installation fails.
    const std::wstring firstNewFolder = OutermostMissingFolder(installPath);
    if (!ValidateInstallFolder(installPath)) {
        TellUser(hwnd_, L"安装目录有误, 请重新输入.", L"", MB_ICONERROR);
        return;
    }
    processWnd.firstNewFolder = firstNewFolder;
    HandOver();
    processWnd.installDir = installPath;
    processWnd.desktopShortcut = desktopCheck && desktopCheck->checked() ? 1 : 0;
    processWnd.taskbarShortcut = taskbarCheck && taskbarCheck->checked() ? 1 : 0;
    processWnd.startMenuShortcut = startMenuCheck && startMenuCheck->checked() ? 1 : 0;
    processWnd.StartWork();
}

void CHMainWnd::ReturnToOptions() {
    handedOver_ = false;
    Show(true);
    ShowOptions(false);
}

void CHMainWnd::HandOver() {
    handedOver_ = true;
    FadeOutAndShrink(*this);
    ShowTopMost(processWnd);
}

}  // namespace quillo
