#include "screens/ScreenEffects.h"

namespace quillo {

void FadeOutAndShrink(UIObject& window) {
    int alpha = 254;
    window.SetLayeredAlpha(static_cast<BYTE>(alpha));
    while (alpha > 25) {
        alpha -= 25;
        Sleep(30);
        window.SetLayeredAlpha(static_cast<BYTE>(alpha));
    }
    window.SetWindowSize(1, 1);
    if (window.IsWindowValid()) RedrawWindow(window.hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

void ShowTopMost(UIObject& window) {
    if (window.IsWindowValid()) {
        ShowWindow(window.hwnd(), SW_SHOW);
        SetWindowPos(window.hwnd(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_SHOWWINDOW);
    }
}

}  // namespace quillo
