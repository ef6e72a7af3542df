// quillo-drive: finds and drives the skinned top-level windows (class "CHWindow")
// of a program that runs in the same wineserver (same WINEPREFIX), for the
// end-to-end tests and the demo. HWNDs are hex, as list and wait print them.
//   quillo-drive list [--class C]
//       one line per window: HWND OWNER VISIBLE X Y W H EXSTYLE PID CAPTION
//   quillo-drive wait [--title T | --owned-by HWND | --depth N] [--class C]
//                     [--visible] [--size WxH] [--timeout-ms N]   prints the first match
//       depth 0: no CHWindow owner, 1: owned by a depth-0 window, 2: by a depth-1 one
//   quillo-drive wait-gone HWND [--timeout-ms N]     until destroyed or hidden
//   quillo-drive command HWND ID     posts WM_COMMAND(ID): a click on element ID
//   quillo-drive close HWND          posts WM_CLOSE
//   quillo-drive click HWND X Y      mouse move, down and up at client coordinates
//   quillo-drive type HWND TEXT      one WM_CHAR per UTF-16 unit of TEXT
//   quillo-drive key HWND VK [COUNT] WM_KEYDOWN and WM_KEYUP, COUNT times (8 Back, 35 End, 36 Home, 46 Delete)
//   quillo-drive rect HWND           X Y W H on the screen
//   quillo-drive shot HWND OUT.png [--print | --screen]
//       the window into a PNG by PrintWindow, or when that comes out one colour
//       (Wine 8 prints neither another process's window nor a layered one's pixels)
//       by a copy of the screen under it, which needs the x11 driver and shows
//       whatever covers the window; prints "OUT W H COLOURS print|screen" and
//       fails when the image is still one colour
// --class defaults to CHWindow; "#32770" finds message boxes. The time-out is
// 10000 ms unless given. Exit code: 0 done, 1 time-out or failure, 2 usage.
// Build: x86_64-w64-mingw32-g++-posix -O2 -static -municode QuilloDrive.cpp -o quillo-drive.exe -lgdiplus -lgdi32
#include <windows.h>
#include <objidl.h>
#include <ole2.h>
#include <gdiplus.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#ifndef PW_RENDERFULLCONTENT
#define PW_RENDERFULLCONTENT 2
#endif

namespace {

constexpr int kUsage = 2, kFailed = 1;
const wchar_t kSkinClass[] = L"CHWindow";

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring ClassOf(HWND hwnd) {
    wchar_t name[256] = {};
    ::GetClassNameW(hwnd, name, 256);
    return name;
}

std::wstring CaptionOf(HWND hwnd) {
    wchar_t text[512] = {};
    ::InternalGetWindowText(hwnd, text, 512);  // does not send WM_GETTEXT to a busy window
    return text;
}

int DepthOf(HWND hwnd) {
    int depth = 0;
    for (HWND owner = ::GetWindow(hwnd, GW_OWNER); owner && depth < 32; owner = ::GetWindow(owner, GW_OWNER)) {
        if (ClassOf(owner) != kSkinClass) break;
        ++depth;
    }
    return depth;
}

struct Found { const std::wstring* cls; std::vector<HWND> list; };

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM param) {
    auto* found = reinterpret_cast<Found*>(param);
    if (ClassOf(hwnd) == *found->cls) found->list.push_back(hwnd);
    return TRUE;
}

std::vector<HWND> TopLevel(const std::wstring& cls) {
    Found found = {&cls, {}};
    ::EnumWindows(&CollectWindow, reinterpret_cast<LPARAM>(&found));
    return found.list;
}

bool ParseHwnd(const wchar_t* text, HWND* out) {
    wchar_t* end = nullptr;
    const unsigned long long value = std::wcstoull(text, &end, 16);
    if (!*text || *end) return false;
    *out = reinterpret_cast<HWND>(static_cast<uintptr_t>(value));
    return true;
}

bool ParseInt(const wchar_t* text, long* out) {
    wchar_t* end = nullptr;
    *out = std::wcstol(text, &end, 10);
    return *text && !*end;
}

struct Rect { long x, y, w, h; };
Rect RectOf(HWND hwnd) {
    RECT r = {};
    ::GetWindowRect(hwnd, &r);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

int List(const std::wstring& cls) {
    for (HWND hwnd : TopLevel(cls)) {
        const Rect r = RectOf(hwnd);
        DWORD pid = 0;
        ::GetWindowThreadProcessId(hwnd, &pid);
        std::printf("0x%llx 0x%llx %d %ld %ld %ld %ld 0x%08lx %lu %s\n",
                    static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(hwnd)),
                    static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(::GetWindow(hwnd, GW_OWNER))),
                    ::IsWindowVisible(hwnd) ? 1 : 0, r.x, r.y, r.w, r.h,
                    static_cast<unsigned long>(::GetWindowLongW(hwnd, GWL_EXSTYLE)), pid, Utf8(CaptionOf(hwnd)).c_str());
    }
    return 0;
}

struct Match {
    const wchar_t* title = nullptr;
    HWND owner = nullptr;
    long depth = -1, width = -1, height = -1;
    bool visible = false;
    bool Fits(HWND hwnd) const {
        if (title && CaptionOf(hwnd) != title) return false;
        if (owner && ::GetWindow(hwnd, GW_OWNER) != owner) return false;
        if (depth >= 0 && DepthOf(hwnd) != depth) return false;
        if (visible && !::IsWindowVisible(hwnd)) return false;
        const Rect r = RectOf(hwnd);
        return width < 0 || (r.w == width && r.h == height);
    }
};

template <typename Done>
bool Poll(long timeoutMs, Done done) {
    const ULONGLONG until = ::GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    for (;;) {
        if (done()) return true;
        if (::GetTickCount64() >= until) return false;
        ::Sleep(50);
    }
}

bool SavePng(HBITMAP bitmap, const wchar_t* path) {
    static const CLSID kPngEncoder = {0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return false;
    Gdiplus::GpBitmap* image = nullptr;
    bool ok = Gdiplus::DllExports::GdipCreateBitmapFromHBITMAP(bitmap, nullptr, &image) == Gdiplus::Ok;
    if (ok) ok = Gdiplus::DllExports::GdipSaveImageToFile(image, path, &kPngEncoder, nullptr) == Gdiplus::Ok;
    if (image) Gdiplus::DllExports::GdipDisposeImage(image);
    Gdiplus::GdiplusShutdown(token);
    return ok;
}

// 'p' PrintWindow only, 's' the screen only, 'a' PrintWindow, then the screen.
int Shot(HWND hwnd, const wchar_t* path, char how) {
    const Rect r = RectOf(hwnd);
    if (r.w <= 0 || r.h <= 0) return kFailed;
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), r.w, -r.h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    HDC screen = ::GetDC(nullptr);
    HDC dc = ::CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap) {
        std::fprintf(stderr, "quillo-drive: no %ldx%ld bitmap\n", r.w, r.h);
        return kFailed;
    }
    HGDIOBJ old = ::SelectObject(dc, bitmap);
    const DWORD* pixel = static_cast<const DWORD*>(bits);
    std::set<DWORD> colours;
    BOOL drawn = FALSE;
    for (char step : how == 'a' ? std::string("ps") : std::string(1, how)) {
        how = step;
        drawn = step == 's' ? ::BitBlt(dc, 0, 0, r.w, r.h, screen, r.x, r.y, SRCCOPY)
                            : ::PrintWindow(hwnd, dc, PW_RENDERFULLCONTENT);
        ::GdiFlush();
        colours.clear();
        for (long i = 0; i < r.w * r.h && colours.size() < 100000; ++i) colours.insert(pixel[i] & 0xFFFFFF);
        if (drawn && colours.size() > 1) break;
    }
    ::SelectObject(dc, old);
    const unsigned long first = pixel[0] & 0xFFFFFF;
    const bool saved = SavePng(bitmap, path);
    ::DeleteObject(bitmap);
    ::DeleteDC(dc);
    ::ReleaseDC(nullptr, screen);
    const char* method = how == 's' ? "screen" : "print";
    if (!drawn) std::fprintf(stderr, "quillo-drive: %s failed\n", how == 's' ? "BitBlt" : "PrintWindow");
    if (!saved) std::fprintf(stderr, "quillo-drive: cannot write %ls\n", path);
    std::printf("%s %ld %ld %zu %s\n", Utf8(path).c_str(), r.w, r.h, colours.size(), method);
    if (colours.size() == 1)
        std::fprintf(stderr, "quillo-drive: blank capture, every pixel is #%06lx\n", first);
    return drawn && saved && colours.size() > 1 ? 0 : kFailed;
}

bool posted = true;
void Post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!::PostMessageW(hwnd, message, wParam, lParam)) posted = false;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: quillo-drive list [--class C]\n"
                 "       quillo-drive wait [--title T | --owned-by HWND | --depth N] [--class C] [--visible] [--size WxH] [--timeout-ms N]\n"
                 "       quillo-drive wait-gone HWND [--timeout-ms N]\n"
                 "       quillo-drive command HWND ID | close HWND | click HWND X Y | type HWND TEXT | key HWND VK\n"
                 "       quillo-drive rect HWND | shot HWND OUT.png [--print | --screen]\n");
    return kUsage;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);  // "\n" stays "\n" for bash
    if (argc < 2) return Usage();
    const std::wstring verb = argv[1];
    std::vector<const wchar_t*> args(argv + 2, argv + argc);

    // Options shared by list, wait and wait-gone; the rest stay positional.
    std::wstring cls = kSkinClass;
    Match match;
    long timeoutMs = 10000;
    char shotHow = 'a';
    std::vector<const wchar_t*> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == L"--visible") match.visible = true;
        else if (a == L"--screen") shotHow = 's';
        else if (a == L"--print") shotHow = 'p';
        else if (a == L"--title" && hasValue) match.title = args[++i];
        else if (a == L"--class" && hasValue) cls = args[++i];
        else if (a == L"--owned-by" && hasValue) { if (!ParseHwnd(args[++i], &match.owner)) return Usage(); }
        else if (a == L"--depth" && hasValue) { if (!ParseInt(args[++i], &match.depth)) return Usage(); }
        else if (a == L"--timeout-ms" && hasValue) { if (!ParseInt(args[++i], &timeoutMs)) return Usage(); }
        else if (a == L"--size" && hasValue) {
            if (std::swscanf(args[++i], L"%ldx%ld", &match.width, &match.height) != 2) return Usage();
        } else if (a.size() > 2 && a.compare(0, 2, L"--") == 0) return Usage();
        else positional.push_back(args[i]);
    }
    const size_t n = positional.size();
    if (timeoutMs < 0) return Usage();

    if (verb == L"list" && n == 0) return List(cls);
    if (verb == L"wait" && n == 0) {
        HWND found = nullptr;
        const bool ok = Poll(timeoutMs, [&] {
            for (HWND hwnd : TopLevel(cls))
                if (match.Fits(hwnd)) { found = hwnd; return true; }
            return false;
        });
        if (!ok) {
            std::fprintf(stderr, "quillo-drive: no matching window within %ld ms\n", timeoutMs);
            return kFailed;
        }
        std::printf("0x%llx\n", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(found)));
        return 0;
    }
    if (n == 0) return Usage();
    HWND hwnd = nullptr;
    if (!ParseHwnd(positional[0], &hwnd)) return Usage();
    if (verb == L"wait-gone" && n == 1) {
        if (Poll(timeoutMs, [&] { return !::IsWindow(hwnd) || !::IsWindowVisible(hwnd); })) return 0;
        std::fprintf(stderr, "quillo-drive: window still shown after %ld ms\n", timeoutMs);
        return kFailed;
    }
    if (!::IsWindow(hwnd)) {
        std::fprintf(stderr, "quillo-drive: no window %ls\n", positional[0]);
        return kFailed;
    }
    long a = 0, b = 0;
    if (verb == L"command" && n == 2 && ParseInt(positional[1], &a)) {
        Post(hwnd, WM_COMMAND, MAKEWPARAM(a, 0), 0);
    } else if (verb == L"close" && n == 1) {
        Post(hwnd, WM_CLOSE, 0, 0);
    } else if (verb == L"click" && n == 3 && ParseInt(positional[1], &a) && ParseInt(positional[2], &b)) {
        const LPARAM at = MAKELPARAM(a, b);
        Post(hwnd, WM_MOUSEMOVE, 0, at);
        Post(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, at);
        Post(hwnd, WM_LBUTTONUP, 0, at);
    } else if (verb == L"type" && n == 2) {
        for (const wchar_t* c = positional[1]; *c; ++c) Post(hwnd, WM_CHAR, *c, 1);
    } else if (verb == L"key" && (n == 2 || n == 3) && ParseInt(positional[1], &a) &&
               (n == 2 || (ParseInt(positional[2], &b) && b > 0))) {
        const LPARAM scan = static_cast<LPARAM>(::MapVirtualKeyW(static_cast<UINT>(a), MAPVK_VK_TO_VSC)) << 16;
        const bool extended = (a >= VK_PRIOR && a <= VK_DOWN) || a == VK_INSERT || a == VK_DELETE;
        const LPARAM flags = scan | (extended ? (1 << 24) : 0) | 1;
        for (long i = 0; i < (n == 3 ? b : 1); ++i) {
            Post(hwnd, WM_KEYDOWN, static_cast<WPARAM>(a), flags);
            Post(hwnd, WM_KEYUP, static_cast<WPARAM>(a), flags | (3u << 30));
        }
    } else if (verb == L"rect" && n == 1) {
        const Rect r = RectOf(hwnd);
        std::printf("%ld %ld %ld %ld\n", r.x, r.y, r.w, r.h);
    } else if (verb == L"shot" && n == 2) {
        return Shot(hwnd, positional[1], shotHow);
    } else {
        return Usage();
    }
    if (!posted) std::fprintf(stderr, "quillo-drive: PostMessage failed (%lu)\n", ::GetLastError());
    return posted ? 0 : kFailed;
}
