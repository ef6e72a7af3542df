// CHWindow: one native window and the table of virtual handlers that its
// messages are turned into. Windows of the class "CHWindow" are bound while
// they are created; windows of other classes (native controls) are bound by
// Attach, which subclasses them.
#pragma once

#include <windows.h>

#include <functional>

namespace quillo {

// Window property that holds the bound object.
constexpr wchar_t kWindowObjectProp[] = L"CHWindow";
// Window property that holds a modal dialog shown over the window.
constexpr wchar_t kLastModalProp[] = L"PropLastModal";
// The toolkit's window class.
constexpr wchar_t kWindowClassName[] = L"CHWindow";

class CHWindow {
public:
    CHWindow();
    CHWindow(const CHWindow&) = delete;
    CHWindow& operator=(const CHWindow&) = delete;

    // Detaches, then destroys a native window that still exists.
    virtual ~CHWindow();

    // Message handlers. The base versions pass the message unchanged to the
    // previous window procedure and return its result.
    virtual LRESULT OnPaint(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnNcPaint(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnEraseBkgnd(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnMouseMove(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnNcHitTest(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnNcMouseMove(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnSetCursor(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnNcLButtonUp(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnNcLButtonDown(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnNcLButtonDblClk(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnNcRButtonUp(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnNcRButtonDown(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnNcRButtonDblClk(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnNcCalcSize(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnWindowPosChanged(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnLButtonUp(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnLButtonDown(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnLButtonDblClk(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnRButtonUp(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnRButtonDown(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnRButtonDblClk(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnCommand(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnKeyUp(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnKeyDown(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnSize(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnNotify(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnHotKey(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnTimer(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnHScroll(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnVScroll(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnDrawItem(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnMeasureItem(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnChar(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnDropFiles(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnSetFocus(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnKillFocus(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnMouseWheel(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnMouseHover(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnMouseLeave(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnGetMinMaxInfo(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnShowWindow(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnSysCommand(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnNcActivate(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnCreate(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnDestroy(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnClose(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnNcCreate(WPARAM wParam, LPARAM lParam);
    virtual LRESULT OnNcDestroy(WPARAM wParam, LPARAM lParam);

    // Hooks: after Attach, inside Detach, after a WM_WINDOWPOSCHANGED that
    // changed the size. Nothing in the base.
    virtual void OnAttach();
    virtual void OnDetach();
    virtual void OnSizeChanged();
    // A WM_NOTIFY that this window sent to its parent, offered here first;
    // non-zero ends the parent's handling with that result.
    virtual LRESULT OnReflectNotify(NMHDR* header);

    virtual void SetLastModal(HWND dialog);
    virtual void ClearLastModal();
    // Called by RunMessageLoop; non-zero consumes the message.
    virtual BOOL PreTranslateMessage(MSG* msg);
    // The previous window procedure.
    virtual LRESULT DefProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Every message without a handler above; set `handled` to answer it.
    virtual LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);

    // CreateWindowExW with this object as creation parameter. Windows of other
    // classes than "CHWindow" are attached afterwards.
    bool Create(HWND parent, int x, int y, int width, int height, DWORD style, DWORD exStyle, const wchar_t* title,
                const wchar_t* className = kWindowClassName);
    bool Attach(HWND hwnd);
    HWND Detach();

    HWND hwnd() const { return hwnd_; }
    bool IsWindowValid() const { return hwnd_ && ::IsWindow(hwnd_); }

    // The object bound to a native window, or null.
    static CHWindow* FromHandle(HWND hwnd);
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

protected:
    HWND hwnd_ = nullptr;
    WNDPROC prevProc_;

private:
    LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    bool subclassed_ = false;  // prevProc_ came from Attach
};

// Common controls and the class "CHWindow". Returns the class atom, 0 on failure.
ATOM RegisterWindowClass(HINSTANCE instance);

// The application's message loop: each message is first offered to
// PreTranslateMessage of the bound objects from its window up the parent
// chain, then translated and dispatched. Runs `onExit` after WM_QUIT and
// returns the quit message's exit code.
int RunMessageLoop(const std::function<void()>& onExit = nullptr);

}  // namespace quillo
