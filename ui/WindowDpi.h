// The DPI a window is drawn at. The program declares itself per-monitor DPI
// aware: Windows then draws nothing of it scaled, and every window draws its
// own pixels at the scale of the display it is on (ui/DpiScale.h).
#pragma once

#include <windows.h>

namespace quillo {

// WM_DPICHANGED: the window's display scale changed (wParam: the new DPI in
// both words; lParam: the suggested window rectangle).
constexpr UINT kDpiChangedMessage = 0x02E0;

// The window's DPI: GetDpiForWindow where the system has it (Windows 10
// 1607 and later), else the screen's LOGPIXELSY (the system DPI; the one DPI
// of every display before Windows 8.1). 96 without a window.
int WindowDpi(HWND hwnd);
// The system DPI (the screen DC's LOGPIXELSY), which the system metrics and
// fonts of a DPI-aware process are given at.
int SystemDpi();

}  // namespace quillo
