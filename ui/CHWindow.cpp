#include "ui/CHWindow.h"

#include <commctrl.h>

namespace quillo {

CHWindow::CHWindow() : prevProc_(DefWindowProcW) {}

CHWindow::~CHWindow() {
    HWND hwnd = Detach();
    if (hwnd && ::IsWindow(hwnd)) ::DestroyWindow(hwnd);
}

#define QUILLO_PASS_ON(Handler, Message) \
    LRESULT CHWindow::Handler(WPARAM wParam, LPARAM lParam) { return DefProc(Message, wParam, lParam); }

QUILLO_PASS_ON(OnPaint, WM_PAINT)
QUILLO_PASS_ON(OnNcPaint, WM_NCPAINT)
QUILLO_PASS_ON(OnEraseBkgnd, WM_ERASEBKGND)
QUILLO_PASS_ON(OnMouseMove, WM_MOUSEMOVE)
QUILLO_PASS_ON(OnNcHitTest, WM_NCHITTEST)
QUILLO_PASS_ON(OnNcMouseMove, WM_NCMOUSEMOVE)
QUILLO_PASS_ON(OnSetCursor, WM_SETCURSOR)
QUILLO_PASS_ON(OnNcLButtonUp, WM_NCLBUTTONUP)
QUILLO_PASS_ON(OnNcLButtonDown, WM_NCLBUTTONDOWN)
QUILLO_PASS_ON(OnNcLButtonDblClk, WM_NCLBUTTONDBLCLK)
QUILLO_PASS_ON(OnNcRButtonUp, WM_NCRBUTTONUP)
QUILLO_PASS_ON(OnNcRButtonDown, WM_NCRBUTTONDOWN)
QUILLO_PASS_ON(OnNcRButtonDblClk, WM_NCRBUTTONDBLCLK)
QUILLO_PASS_ON(OnNcCalcSize, WM_NCCALCSIZE)
QUILLO_PASS_ON(OnWindowPosChanged, WM_WINDOWPOSCHANGED)
QUILLO_PASS_ON(OnLButtonUp, WM_LBUTTONUP)
QUILLO_PASS_ON(OnLButtonDown, WM_LBUTTONDOWN)
QUILLO_PASS_ON(OnLButtonDblClk, WM_LBUTTONDBLCLK)
QUILLO_PASS_ON(OnRButtonUp, WM_RBUTTONUP)
QUILLO_PASS_ON(OnRButtonDown, WM_RBUTTONDOWN)
QUILLO_PASS_ON(OnRButtonDblClk, WM_RBUTTONDBLCLK)
QUILLO_PASS_ON(OnCommand, WM_COMMAND)
QUILLO_PASS_ON(OnKeyUp, WM_KEYUP)
QUILLO_PASS_ON(OnKeyDown, WM_KEYDOWN)
QUILLO_PASS_ON(OnSize, WM_SIZE)
QUILLO_PASS_ON(OnNotify, WM_NOTIFY)
QUILLO_PASS_ON(OnHotKey, WM_HOTKEY)
QUILLO_PASS_ON(OnTimer, WM_TIMER)
QUILLO_PASS_ON(OnHScroll, WM_HSCROLL)
QUILLO_PASS_ON(OnVScroll, WM_VSCROLL)
QUILLO_PASS_ON(OnDrawItem, WM_DRAWITEM)
QUILLO_PASS_ON(OnMeasureItem, WM_MEASUREITEM)
QUILLO_PASS_ON(OnChar, WM_CHAR)
QUILLO_PASS_ON(OnDropFiles, WM_DROPFILES)
QUILLO_PASS_ON(OnSetFocus, WM_SETFOCUS)
QUILLO_PASS_ON(OnKillFocus, WM_KILLFOCUS)
QUILLO_PASS_ON(OnMouseWheel, WM_MOUSEWHEEL)
QUILLO_PASS_ON(OnMouseHover, WM_MOUSEHOVER)
QUILLO_PASS_ON(OnMouseLeave, WM_MOUSELEAVE)
QUILLO_PASS_ON(OnGetMinMaxInfo, WM_GETMINMAXINFO)
QUILLO_PASS_ON(OnShowWindow, WM_SHOWWINDOW)
QUILLO_PASS_ON(OnSysCommand, WM_SYSCOMMAND)
QUILLO_PASS_ON(OnNcActivate, WM_NCACTIVATE)
QUILLO_PASS_ON(OnCreate, WM_CREATE)
QUILLO_PASS_ON(OnDestroy, WM_DESTROY)
QUILLO_PASS_ON(OnClose, WM_CLOSE)
QUILLO_PASS_ON(OnNcCreate, WM_NCCREATE)
QUILLO_PASS_ON(OnNcDestroy, WM_NCDESTROY)

#undef QUILLO_PASS_ON

void CHWindow::OnAttach() {}
void CHWindow::OnDetach() {}
void CHWindow::OnSizeChanged() {}
LRESULT CHWindow::OnReflectNotify(NMHDR*) { return 0; }

void CHWindow::SetLastModal(HWND dialog) {
    if (hwnd_) ::SetPropW(hwnd_, kLastModalProp, dialog);
}

void CHWindow::ClearLastModal() {
    if (hwnd_) ::RemovePropW(hwnd_, kLastModalProp);
}

BOOL CHWindow::PreTranslateMessage(MSG*) { return FALSE; }

LRESULT CHWindow::DefProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::CallWindowProcW(prevProc_, hwnd_, message, wParam, lParam);
}

LRESULT CHWindow::OnMessage(UINT, WPARAM, LPARAM, bool& handled) {
    handled = false;
    return 0;
}

bool CHWindow::Create(HWND parent, int x, int y, int width, int height, DWORD style, DWORD exStyle,
                      const wchar_t* title, const wchar_t* className) {
    if (!className) className = kWindowClassName;
    HWND hwnd = ::CreateWindowExW(exStyle, className, title ? title : L"", style, x, y, width, height, parent, nullptr,
                                  ::GetModuleHandleW(nullptr), this);
    if (!hwnd) {
        (void)::GetLastError();
        return false;
    }
    if (::lstrcmpiW(className, kWindowClassName) != 0) return Attach(hwnd);
    return true;
}

bool CHWindow::Attach(HWND hwnd) {
    if (!hwnd || !::IsWindow(hwnd) || ::GetPropW(hwnd, kWindowObjectProp)) return false;
    hwnd_ = hwnd;
    ::SetPropW(hwnd, kWindowObjectProp, this);
    prevProc_ = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CHWindow::WindowProc)));
    subclassed_ = true;
    OnAttach();
    return true;
}

HWND CHWindow::Detach() {
    HWND hwnd = hwnd_;
    if (!hwnd) return nullptr;
    if (::IsWindow(hwnd)) {
        ::RemovePropW(hwnd, kWindowObjectProp);
        if (HWND dialog = static_cast<HWND>(::GetPropW(hwnd, kLastModalProp))) {
            ::EndDialog(dialog, IDCANCEL);
            ::RemovePropW(hwnd, kLastModalProp);
        }
        if (subclassed_) {
            ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(prevProc_));
            OnDetach();
        }
    } else if (subclassed_) {
        OnDetach();
    }
    subclassed_ = false;
    prevProc_ = DefWindowProcW;
    hwnd_ = nullptr;
    return hwnd;
}

CHWindow* CHWindow::FromHandle(HWND hwnd) {
    return hwnd ? static_cast<CHWindow*>(::GetPropW(hwnd, kWindowObjectProp)) : nullptr;
}

LRESULT CALLBACK CHWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CHWindow* self = FromHandle(hwnd);
    if (!self) {
        if (message != WM_NCCREATE && message != WM_CREATE) return ::DefWindowProcW(hwnd, message, wParam, lParam);
        const CREATESTRUCTW* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        self = create ? static_cast<CHWindow*>(create->lpCreateParams) : nullptr;
        if (!self) return ::DefWindowProcW(hwnd, message, wParam, lParam);
        self->hwnd_ = hwnd;
        ::SetPropW(hwnd, kWindowObjectProp, self);
    }
    return self->Dispatch(message, wParam, lParam);
}

LRESULT CHWindow::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: return OnPaint(wParam, lParam);
    case WM_NCPAINT: return OnNcPaint(wParam, lParam);
    case WM_ERASEBKGND: return OnEraseBkgnd(wParam, lParam);
    case WM_MOUSEMOVE: return OnMouseMove(wParam, lParam);
    case WM_NCHITTEST: return OnNcHitTest(wParam, lParam);
    case WM_NCMOUSEMOVE: return OnNcMouseMove(wParam, lParam);
    case WM_SETCURSOR: return OnSetCursor(wParam, lParam);
    case WM_NCLBUTTONUP: return OnNcLButtonUp(wParam, lParam);
    case WM_NCLBUTTONDOWN: return OnNcLButtonDown(wParam, lParam);
    case WM_NCLBUTTONDBLCLK: return OnNcLButtonDblClk(wParam, lParam);
    case WM_NCRBUTTONUP: return OnNcRButtonUp(wParam, lParam);
    case WM_NCRBUTTONDOWN: return OnNcRButtonDown(wParam, lParam);
    case WM_NCRBUTTONDBLCLK: return OnNcRButtonDblClk(wParam, lParam);
    case WM_NCCALCSIZE: return OnNcCalcSize(wParam, lParam);
    case WM_WINDOWPOSCHANGED: {
        const LRESULT result = OnWindowPosChanged(wParam, lParam);
        const WINDOWPOS* pos = reinterpret_cast<const WINDOWPOS*>(lParam);
        if (pos && (pos->flags & (SWP_NOSIZE | SWP_NOCOPYBITS)) == 0) OnSizeChanged();
        return result;
    }
    case WM_LBUTTONUP: return OnLButtonUp(wParam, lParam);
    case WM_LBUTTONDOWN: return OnLButtonDown(wParam, lParam);
    case WM_LBUTTONDBLCLK: return OnLButtonDblClk(wParam, lParam);
    case WM_RBUTTONUP: return OnRButtonUp(wParam, lParam);
    case WM_RBUTTONDOWN: return OnRButtonDown(wParam, lParam);
    case WM_RBUTTONDBLCLK: return OnRButtonDblClk(wParam, lParam);
    case WM_COMMAND: return OnCommand(wParam, lParam);
    case WM_KEYUP: return OnKeyUp(wParam, lParam);
    case WM_KEYDOWN: return OnKeyDown(wParam, lParam);
    case WM_SIZE: return OnSize(wParam, lParam);
    case WM_NOTIFY: {
        NMHDR* header = reinterpret_cast<NMHDR*>(lParam);
        if (header) {
            if (CHWindow* sender = FromHandle(header->hwndFrom)) {
                const LRESULT reflected = sender->OnReflectNotify(header);
                if (reflected) return reflected;
            }
        }
        return OnNotify(wParam, lParam);
    }
    case WM_HOTKEY: return OnHotKey(wParam, lParam);
    case WM_TIMER: return OnTimer(wParam, lParam);
    case WM_HSCROLL: return OnHScroll(wParam, lParam);
    case WM_VSCROLL: return OnVScroll(wParam, lParam);
    case WM_DRAWITEM: return OnDrawItem(wParam, lParam);
    case WM_MEASUREITEM: return OnMeasureItem(wParam, lParam);
    case WM_CHAR: return OnChar(wParam, lParam);
    case WM_DROPFILES: return OnDropFiles(wParam, lParam);
    case WM_SETFOCUS: return OnSetFocus(wParam, lParam);
    case WM_KILLFOCUS: return OnKillFocus(wParam, lParam);
    case WM_MOUSEWHEEL: return OnMouseWheel(wParam, lParam);
    case WM_MOUSEHOVER: return OnMouseHover(wParam, lParam);
    case WM_MOUSELEAVE: return OnMouseLeave(wParam, lParam);
    case WM_GETMINMAXINFO: return OnGetMinMaxInfo(wParam, lParam);
    case WM_SHOWWINDOW: return OnShowWindow(wParam, lParam);
    case WM_SYSCOMMAND: return OnSysCommand(wParam, lParam);
    case WM_NCACTIVATE: return OnNcActivate(wParam, lParam);
    case WM_CREATE: return OnCreate(wParam, lParam);
    case WM_DESTROY: return OnDestroy(wParam, lParam);
    case WM_CLOSE: return OnClose(wParam, lParam);
    case WM_NCCREATE: return OnNcCreate(wParam, lParam);
    case WM_NCDESTROY: {
        const LRESULT result = OnNcDestroy(wParam, lParam);
        Detach();
        return result;
    }
    default: {
        bool handled = false;
        const LRESULT result = OnMessage(message, wParam, lParam, handled);
        return handled ? result : DefProc(message, wParam, lParam);
    }
    }
}

ATOM RegisterWindowClass(HINSTANCE instance) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, 0x4FF};
    ::InitCommonControlsEx(&controls);
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    wc.lpfnWndProc = &CHWindow::WindowProc;
    wc.hInstance = instance;
    wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_MENU + 1));
    wc.lpszClassName = kWindowClassName;
    return ::RegisterClassExW(&wc);
}

int RunMessageLoop(const std::function<void()>& onExit) {
    MSG msg = {};
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        bool consumed = false;
        for (HWND hwnd = msg.hwnd; hwnd && !consumed; hwnd = ::GetParent(hwnd)) {
            CHWindow* object = CHWindow::FromHandle(hwnd);
            if (object && object->IsWindowValid() && object->PreTranslateMessage(&msg)) consumed = true;
        }
        if (consumed) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    if (onExit) onExit();
    return static_cast<int>(msg.wParam);
}

}  // namespace quillo
