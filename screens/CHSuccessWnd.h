// The last screen of a successful installation: the product's name, the QR
// code of its official account, the recommended software as check boxes, and
// the start button. Leaving it installs the ticked recommendations and ends
// the process. Windows only.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "screens/CQQPCDetector.h"
#include "ui/UIButton.h"
#include "ui/UICheckBox.h"
#include "ui/UIFrameWindow.h"
#include "ui/UILabel.h"

namespace quillo {

// Commands of the screen.
constexpr int kCommandClose = 1000;
constexpr int kCommandStartProduct = 2001;
// The product number the detector is asked about.
constexpr int kDetectorProduct = 71721;

class CHSuccessWnd : public UIFrameWindow {
public:
    CHSuccessWnd() = default;

    LRESULT OnCreate(WPARAM wParam, LPARAM lParam) override;
    int LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) override;
    LRESULT OnCommand(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnClose(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnLButtonDown(WPARAM wParam, LPARAM lParam) override;
    LRESULT HandleTimer(UINT_PTR id) override;

    // Loads the detector library written by the installation and offers
    // what it detects. Runs on the install thread while the window is hidden.
    void SetupDetector(const std::wstring& libraryPath);
    // One more check box; an empty download address stands for the
    // detector's own offer.
    void AddRecommendation(bool ticked, const std::wstring& text, const std::wstring& downloadAddress);
    // Starts the installed product.
    void Launch();
    // Installs the ticked recommendations and ends the process with exit code 0.
    [[noreturn]] void Finish();

    // A countdown to an automatic start; the screen never starts its timer.
    UILabel* countdownLabel = nullptr;
    UINT_PTR countdownTimerId = 0;
    std::wstring startPath;
    int countdown = 15;
    std::map<UICheckBox*, std::wstring> recommendations;
    UILabel* recommendTitle = nullptr;
    UIButton* startButton = nullptr;
    uint32_t buildNumber = 0;
    int channel = 0;
    int reportL = 1;
    std::shared_ptr<CQQPCDetector> detector;
};

// Downloads an offered installer to "<temp>Quillo_Temp_<16 hex>.exe", starts
// it and reports whether it started.
void DownloadAndRun(std::wstring address, uint32_t buildNumber, int channel, int reportL);

}  // namespace quillo
