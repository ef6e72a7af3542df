#include "screens/CHSuccessWnd.h"

#include <shellapi.h>

#include <vector>

#include "base/CHThread.h"
#include "base/PrivateFolder.h"
#include "base/SystemInfo.h"
#include "base/TempFile.h"
#include "install/PackageExtractor.h"
#include "install/RunEnd.h"
#include "net/ResumableDownload.h"
#include "net/Statistics.h"
#include "screens/ScreenEffects.h"
#include "ui/ControlFactory.h"

namespace quillo {
namespace {

constexpr int kScreenWidth = 610;
constexpr int kScreenHeight = 430;
constexpr int kDetectorTextChars = 260;

}  // namespace

LRESULT CHSuccessWnd::OnCreate(WPARAM wParam, LPARAM lParam) {
    SetWindowSize(kScreenWidth, kScreenHeight);
    CenterWindow();
    MakeLayered();
    return UIFrameWindow::OnCreate(wParam, lParam);
}

int CHSuccessWnd::LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) {
    if (auto* title = static_cast<UILabel*>(CreateControl(kKindLabel, resource, this, "MainWindow/title")))
        title->SetText(L"Quillo 3");
    CreateControl(kKindPane, resource, this, "InstallSuccessWnd/logo");
    CreateControl(kKindPane, resource, this, "InstallSuccessWnd/qrcode");
    if (auto* logo = static_cast<UILabel*>(CreateControl(kKindLabel, resource, this, "InstallSuccessWnd/L_logo")))
        logo->SetText(L"Quillo 3 安装成功");
    if (auto* qr = static_cast<UILabel*>(CreateControl(kKindLabel, resource, this, "InstallSuccessWnd/L_qr")))
        qr->SetText(L"微信扫一扫关注Quillo公众号");
    recommendTitle = static_cast<UILabel*>(CreateControl(kKindLabel, resource, this, "InstallSuccessWnd/L_softtitle"));
    if (recommendTitle) {
        recommendTitle->SetText(L"推荐安装以下软件，让您的电脑更加流畅");
        recommendTitle->SetVisible(false);
    }
    startButton = static_cast<UIButton*>(CreateControl(kKindButton, resource, this, "MainWindow/InStall"));
    if (startButton) {
        startButton->SetText(L"立即体验");
        startButton->SetId(kCommandStartProduct);
    }
    SetDefaultElement(startButton);
    return UIFrameWindow::LoadSkin(resource, path, parentNode);
}

LRESULT CHSuccessWnd::OnCommand(WPARAM wParam, LPARAM) {
    switch (LOWORD(wParam)) {
        case kCommandClose:
            recommendations.clear();
            Finish();
        case kCommandStartProduct:
            if (!startPath.empty()) Launch();
            Finish();
        default:
            return 0;
    }
}

LRESULT CHSuccessWnd::OnClose(WPARAM, LPARAM) { Finish(); }

LRESULT CHSuccessWnd::OnLButtonDown(WPARAM wParam, LPARAM lParam) {
    // The body of the window drags it; presses on a control go to the control.
    if (!OnHitTarget(PointFromLParam(lParam))) {
        PostMessageW(hwnd_, WM_NCLBUTTONDOWN, HTCAPTION, lParam);
        return 0;
    }
    return UIFrameWindow::OnLButtonDown(wParam, lParam);
}

LRESULT CHSuccessWnd::HandleTimer(UINT_PTR id) {
    if (id != countdownTimerId || countdownTimerId == 0) return UIFrameWindow::HandleTimer(id);
    --countdown;
    if (countdown <= 0) {
        KillTimer(hwnd_, countdownTimerId);
        countdownTimerId = 0;
        SendMessageW(hwnd_, WM_COMMAND, kCommandStartProduct, 0);
        return 0;
    }
    if (startButton) {
        wchar_t text[64];
        swprintf(text, 64, L"立即体验(%dS)", countdown);
        startButton->SetText(text);
    }
    return 0;
}

void CHSuccessWnd::SetupDetector(const std::wstring& libraryPath) {
    if (!detector) detector = std::make_shared<CQQPCDetector>();
    if (!detector->Load(libraryPath)) return;
    if (detector->runDetector(1, kDetectorProduct, 0) == 0) return;
    int result = 0;
    wchar_t text[kDetectorTextChars] = {};
    wchar_t text2[kDetectorTextChars] = {};
    if (detector->getResult(&result, text, kDetectorTextChars - 1, text2, kDetectorTextChars - 1, 0) == 0) return;
    text[kDetectorTextChars - 1] = L'\0';
    const std::wstring offer(text);
    if (!offer.empty()) AddRecommendation(true, offer, std::wstring());
}

void CHSuccessWnd::AddRecommendation(bool ticked, const std::wstring& text, const std::wstring& downloadAddress) {
    const int n = static_cast<int>(recommendations.size());
    auto* box = static_cast<UICheckBox*>(CreateControl(kKindCheckBox, CurrentSkin(), this, "InstallSuccessWnd/check"));
    if (!box) return;
    box->SetText(text);
    // Two columns of two rows above the start button; later ones keep the
    // skin's place.
    static const POINT kPlaces[] = {{30, -150}, {-300, -150}, {30, -120}, {-300, -120}};
    if (n < 4) box->SetPosition(kPlaces[n].x, kPlaces[n].y, 250, 22);
    if (recommendTitle) recommendTitle->SetVisible(true);
    box->SetCheck(ticked);
    if (startButton) startButton->SetPosition(215, n < 3 ? -100 : -80, 180, 48);
    recommendations[box] = downloadAddress;
}

void CHSuccessWnd::Launch() { StartProduct(startPath); }

void CHSuccessWnd::Finish() {
    const HWND owner = hwnd_ ? GetWindow(hwnd_, GW_OWNER) : nullptr;
    const HWND optionsWindow = owner ? GetWindow(owner, GW_OWNER) : nullptr;
    if (optionsWindow) ShowWindow(optionsWindow, SW_HIDE);
    Show(false);
    for (const auto& [box, address] : recommendations) {
        if (!box->checked()) continue;
        ModifyExStyle(WS_EX_APPWINDOW, WS_EX_TOOLWINDOW);
        if (!address.empty()) {
            auto* download = new CHThread();
            const uint32_t build = buildNumber;
            const int channelCopy = channel, l = reportL;
            const std::wstring copy = address;
            download->Start([copy, build, channelCopy, l](CHThread*) { DownloadAndRun(copy, build, channelCopy, l); });
            download->WaitPumpingMessages();
            delete download;
        } else if (detector && detector->module && detector->runDetector) {
            if (detector->runDetector(2, kDetectorProduct, 0) != 0) {
                detector->waitComplete(0, -1);
                detector->Unload();
            }
        }
    }
    recommendations.clear();
    TerminateProcess(GetCurrentProcess(), 0);
    ExitProcess(static_cast<UINT>(SuccessExitCode()));
}

void DownloadAndRun(std::wstring address, uint32_t buildNumber, int channel, int reportL) {
    // The program is downloaded into a folder of this run's own and held
    // until it has been started; the folder stays, the program runs from it.
    PrivateFolder folder;
    HINSTANCE started = nullptr;
    if (folder.Create()) {
        const std::wstring target = folder.path() + L"\\Quillo_Temp_" + UniqueHex16() + L".exe";
        {
            ResumableDownload download;
            download.url = download.realUrl = address;
            download.destPath = target;
            if (download.Start()) download.Wait();
        }
        HeldFile held;
        if (held.Hold(target)) {
            started = ShellExecuteW(nullptr, L"open", target.c_str(), nullptr, SystemFolder().c_str(), SW_SHOWNORMAL);
            if (reinterpret_cast<INT_PTR>(started) > 32) folder.Keep();
        }
    }
    SendOfferLaunchReport(static_cast<int32_t>(buildNumber), channel, reportL,
                          reinterpret_cast<INT_PTR>(started) > 32);
}

}  // namespace quillo
