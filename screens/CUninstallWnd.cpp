#include "screens/CUninstallWnd.h"

#include <oleacc.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "install/RunEnd.h"
#include "net/Statistics.h"
#include "screens/WebPages.h"
#include "ui/ControlFactory.h"
#include "ui/UIButton.h"
#include "ui/UILabel.h"

namespace quillo {
namespace {

const wchar_t* const kReasons[5] = {L"Quillo出现问题，我需要重装", L"界面不好看", L"操作不方便", L"资源太少",
                                    L"产品不稳定，经常出错(程序崩溃，功能异常等)"};
const wchar_t* const kTextLabels[4] = {L"功能不全，没有我想要的功能:", L"无法连接/不支持我的设备，机型是:",
                                       L"我已有其它更好的同类产品，比如:", L"其它原因:"};
constexpr int kFirstEditId = 2001;

UILabel* Label(UIResource* resource, UIObject* parent, const std::string& path, const wchar_t* text) {
    auto* label = static_cast<UILabel*>(CreateControl(kKindLabel, resource, parent, path));
    if (label) label->SetText(text);
    return label;
}

}  // namespace

LRESULT CPopWnd::OnCreate(WPARAM wParam, LPARAM lParam) {
    const LRESULT result = UIFrameWindow::OnCreate(wParam, lParam);
    SetWindowSize(kFormWidth, kFormHeight);
    CenterWindow();
    SetWindowPos(hwnd_, HWND_TOPMOST, 0, 0, 0, 0, SWP_SHOWWINDOW | SWP_NOMOVE | SWP_NOSIZE);
    return result;
}

int CPopWnd::LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) {
    const int result = UIFrameWindow::LoadSkin(resource, path, parentNode);
    for (int i = 0; i < 5; ++i) {
        reasonChecks[i] = static_cast<UICheckBox*>(
            CreateControl(kKindCheckBox, resource, this, "FloatWnd/Check" + std::to_string(i + 1)));
        if (reasonChecks[i]) reasonChecks[i]->SetText(kReasons[i]);
    }
    for (int i = 0; i < 4; ++i) Label(resource, this, "FloatWnd/Labeltag" + std::to_string(i + 1), kTextLabels[i]);
    for (int i = 0; i < 4; ++i) {
        auto* edit = new CXEditCtrl();
        edit->LoadSkin(resource, "FloatWnd/EditBox" + std::to_string(i + 1), nullptr);
        AddChild(edit);
        edit->SetControlId(kFirstEditId + i);
        textEdits[i] = edit;
    }
    textEdits[3]->SetMultiLine(true);
    textEdits[3]->Invalidate(nullptr);
    return result;
}

// The form is part of the closing screen below it: Return finishes there,
// and Escape or Alt+F4 close it as its close button would.
bool CPopWnd::PressDefault() { return screen && screen->PressDefault(); }

bool CPopWnd::PressCancel() { return screen && screen->PressCancel(); }

LRESULT CPopWnd::OnClose(WPARAM, LPARAM) {
    PressCancel();
    return 0;
}

void CPopWnd::SendFeedback() {
    std::vector<int> reasons;
    if (reasonChecks[0]) {
        for (int i = 0; i < 5; ++i) {
            if (reasonChecks[i] && reasonChecks[i]->checked()) reasons.push_back(i + 1);
        }
    }
    std::vector<std::wstring> texts;
    for (CXEditCtrl* edit : textEdits) {
        if (!edit) continue;
        // A field still being typed in keeps its text in its native window
        // until that loses the focus.
        edit->SyncText();
        const std::wstring text = edit->GetText();
        if (!text.empty()) texts.push_back(text);
    }
    SendFeedbackReport(reasons, texts);
}

CUninstallWnd::~CUninstallWnd() {
    if (feedbackForm) {
        if (feedbackForm->IsWindowValid()) DestroyWindow(feedbackForm->hwnd());
        delete feedbackForm;
        feedbackForm = nullptr;
    }
}

LRESULT CUninstallWnd::OnCreate(WPARAM wParam, LPARAM lParam) {
    const LRESULT result = UIFrameWindow::OnCreate(wParam, lParam);
    MakeLayered();
    SetWindowSize(656, 460);
    CenterWindow();
    if (!feedbackForm) {
        feedbackForm = new CPopWnd();
        feedbackForm->screen = this;
        feedbackForm->Create(hwnd_, 0, 0, kFormWidth, kFormHeight, WS_POPUP | WS_VISIBLE, 0, L"");
        feedbackForm->Show(false);
    }
    return result;
}

int CUninstallWnd::LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) {
    const int result = UIFrameWindow::LoadSkin(resource, path, parentNode);
    Label(resource, this, "UninstalledWindow/Label2", L"卸载");
    // The statement is drawn into the panel's art: a screen reader is told it.
    if (UIObject* statement = CreateControl(kKindPane, resource, this, "UninstalledWindow/Panel1")) {
        statement->SetAccessibleRole(ROLE_SYSTEM_STATICTEXT);
        statement->SetAccessibleName(L"Quillo 3 已成功卸载。感谢您一直以来的使用！请告诉我们卸载的原因，帮助我们做得更好。");
    }
    CreateControl(kKindPane, resource, this, "UninstalledWindow/Panel2");
    if (auto* ok = static_cast<UIButton*>(CreateControl(kKindButton, resource, this, "UninstalledWindow/ButtonOK"))) {
        ok->SetText(L"完成");
        SetDefaultElement(ok);
    }
    Label(resource, this, "UninstalledWindow/LabelTKS", L"感谢您宝贵的建议");
    if (feedbackForm) feedbackForm->LoadSkin(resource, "FloatWnd", nullptr);
    return result;
}

LRESULT CUninstallWnd::OnShowWindow(WPARAM wParam, LPARAM lParam) {
    if (feedbackForm && feedbackForm->IsWindowValid()) {
        if (wParam) {
            feedbackForm->Show(true);
            SetWindowPos(feedbackForm->hwnd(), HWND_TOPMOST, 0, 0, 0, 0, SWP_SHOWWINDOW | SWP_NOMOVE | SWP_NOSIZE);
        } else {
            feedbackForm->Show(false);
        }
    }
    return UIFrameWindow::OnShowWindow(wParam, lParam);
}

LRESULT CUninstallWnd::OnWindowPosChanged(WPARAM wParam, LPARAM lParam) {
    const LRESULT result = UIFrameWindow::OnWindowPosChanged(wParam, lParam);
    if (feedbackForm && feedbackForm->IsWindowValid()) {
        RECT window;
        GetWindowRect(hwnd_, &window);
        const HWND form = feedbackForm->hwnd();
        const auto* pos = reinterpret_cast<const WINDOWPOS*>(lParam);
        // When this screen is raised (made top-most to be shown), the form
        // is shown again on top of it: some window systems keep the raised
        // screen above a form that was already the top-most window.
        const bool raised = pos && !(pos->flags & SWP_NOZORDER) && IsWindowVisible(form);
        if (raised) ShowWindow(form, SW_HIDE);
        SetWindowPos(form, HWND_TOPMOST, window.left + Px(kFormOffsetX), window.top + Px(kFormOffsetY),
                     Px(kFormWidth), Px(kFormHeight), SWP_NOACTIVATE | (raised ? SWP_SHOWWINDOW : 0));
    }
    return result;
}

LRESULT CUninstallWnd::OnCommand(WPARAM wParam, LPARAM) {
    switch (LOWORD(wParam)) {
        case 1000:
        case kCommandUninstalledDone:
            Finish();
        case kCommandFeedbackPage:
            ShellExecuteW(nullptr, L"open", kUninstallFeedbackPage, nullptr, nullptr, SW_SHOW);
            return 0;
        default:
            return 0;
    }
}

LRESULT CUninstallWnd::OnClose(WPARAM, LPARAM) { Finish(); }

void CUninstallWnd::Finish() {
    Show(false);
    if (feedbackForm) feedbackForm->SendFeedback();
    const UINT code = static_cast<UINT>(SuccessExitCode());
    TerminateProcess(GetCurrentProcess(), code);
    ExitProcess(code);
}

}  // namespace quillo
