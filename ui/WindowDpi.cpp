#include "ui/WindowDpi.h"

#include "ui/DpiScale.h"

namespace quillo {

namespace {

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);

// Looked up at run time: user32 of Windows XP to 8.1 does not have it.
GetDpiForWindowFn DpiForWindowFunction() {
    static const GetDpiForWindowFn fn = [] {
        HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
        return user32 ? reinterpret_cast<GetDpiForWindowFn>(
                            reinterpret_cast<void*>(::GetProcAddress(user32, "GetDpiForWindow")))
                      : nullptr;
    }();
    return fn;
}

int DeviceDpi(HWND hwnd) {
    HDC dc = ::GetDC(hwnd);
    if (!dc) return kBaseDpi;
    const int dpi = ::GetDeviceCaps(dc, LOGPIXELSY);
    ::ReleaseDC(hwnd, dc);
    return dpi > 0 ? dpi : kBaseDpi;
}

}  // namespace

int WindowDpi(HWND hwnd) {
    if (!hwnd || !::IsWindow(hwnd)) return kBaseDpi;
    if (GetDpiForWindowFn fn = DpiForWindowFunction()) {
        const UINT dpi = fn(hwnd);
        if (dpi > 0) return static_cast<int>(dpi);
    }
    return DeviceDpi(nullptr);
}

int SystemDpi() { return DeviceDpi(nullptr); }

}  // namespace quillo
