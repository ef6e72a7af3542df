// The progress window in this process, with the product's skin: the worker
// messages turned into the bar, the percentage and the status line, and a
// failure into the failure screen with its error text and button.
#include <gtest/gtest.h>

#include <windows.h>

#include "install/InstallError.h"
#include "screens/CHProcessWnd.h"
#include "tests/windows/TestInstallFiles.h"
#include "ui/CHWindow.h"
#include "ui/UIResource.h"

namespace quillo {
namespace {

void Pump() {
    MSG msg;
    for (int i = 0; i < 5; ++i) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(10);
    }
}

class ProgressWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterWindowClass(GetModuleHandleW(nullptr));
        ASSERT_TRUE(skin_.LoadFromFile(test::EnvPath("QUILLO_SKIN_PACKAGE").c_str())) << "QUILLO_SKIN_PACKAGE";
        SetCurrentSkin(&skin_);
        window_.installMode = 1;
        ASSERT_TRUE(window_.Create(nullptr, 0, 0, 610, 430, WS_POPUP, 0, L""));
        window_.LoadSkin(&skin_, "InstallProcessWnd", nullptr);
        window_.Show(true);
    }
    void TearDown() override { SetCurrentSkin(nullptr); }

    UIResource skin_;
    CHProcessWnd window_;
};

TEST_F(ProgressWindowTest, ProgressMessagesFillTheBar) {
    ASSERT_TRUE(window_.progressBar && window_.percentLabel && window_.statusLabel);
    EXPECT_EQ(window_.statusLabel->GetText(), L"准备安装...");
    PostMessageW(window_.hwnd(), WM_SETUP_PROGRESS, 1, 42);
    Pump();
    EXPECT_EQ(window_.progressBar->pos(), 42);
    const RECT bar = window_.progressBar->rect();
    const RECT filled = window_.progressBar->FilledRect(bar);
    EXPECT_EQ(filled.right - filled.left, (bar.right - bar.left) * 42 / 100) << "the bar runs from 0 to 100";
    EXPECT_EQ(window_.percentLabel->GetText(), L"42%");
    // Only wParam 1 counts.
    PostMessageW(window_.hwnd(), WM_SETUP_PROGRESS, 0, 90);
    Pump();
    EXPECT_EQ(window_.progressBar->pos(), 42);
    EXPECT_EQ(window_.percentLabel->GetText(), L"42%");
}

TEST_F(ProgressWindowTest, AFailureOpensTheFailureScreenWithItsText) {
    PostMessageW(window_.hwnd(), WM_SETUP_FAILED, 1, 8);
    Pump();
    EXPECT_FALSE(IsWindowVisible(window_.hwnd()));
    EXPECT_TRUE(IsWindowVisible(window_.failWnd.hwnd()));
    EXPECT_EQ(window_.failWnd.errorInfoLabel->GetText(), InstallErrorText(8));
    EXPECT_EQ(window_.failWnd.retryButton->text(), L"重新安装");
    EXPECT_EQ(window_.progressBar->pos(), 0);

    PostMessageW(window_.hwnd(), WM_SETUP_FAILED, 1, 5);
    Pump();
    EXPECT_EQ(window_.failWnd.retryButton->text(), L"重新下载");
    PostMessageW(window_.hwnd(), WM_SETUP_FAILED, 1, 9);
    Pump();
    EXPECT_EQ(window_.failWnd.errorInfoLabel->GetText(), L"") << "code 9 has no text";
    EXPECT_EQ(window_.failWnd.retryButton->text(), L"重新安装");
}

}  // namespace
}  // namespace quillo
