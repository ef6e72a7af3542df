// UIObject: the skinned element. Elements form a tree under a window; an
// element that owns a native window (a "host") paints the tree into its back
// buffer (or, for a layered window, into a 32-bit DIB given to
// UpdateLayeredWindow), routes mouse and keyboard input to the windowless
// elements inside, runs their timers and relays tooltip messages.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "json/JValue.h"
#include "ui/CHWindow.h"
#include "ui/UIResource.h"

namespace quillo {

class UIAccessible;

// Element kinds (the factory's numbers).
enum UIKind : int {
    kKindNone = 0,
    kKindPane = 1,
    kKindButton = 2,
    kKindToolBar = 3,
    kKindTabCtrl = 4,
    kKindFrameWindow = 5,
    kKindListView = 6,
    kKindScrollBar = 7,
    kKindHeader = 8,
    kKindLabel = 9,
    kKindCheckBox = 10,
    kKindCheckBoxEx = 11,
    kKindRadioBox = 12,
    kKindProgress = 13,
    kKindDropButton = 14,
    kKindEditBox = 15,
};

// Private message of a layered host: repaint the rectangle that wParam
// points to (null = everything).
constexpr UINT kLayeredRepaintMessage = 0x6400;

class UIObject : public CHWindow {
public:
    UIObject();
    ~UIObject() override;

    // Host side: window messages.
    LRESULT OnPaint(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnEraseBkgnd(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnMouseMove(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnSetCursor(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnWindowPosChanged(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnLButtonUp(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnLButtonDown(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnLButtonDblClk(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnRButtonUp(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnRButtonDown(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnCommand(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnKeyUp(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnKeyDown(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnNotify(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnTimer(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnChar(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnMouseWheel(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnMouseLeave(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnShowWindow(WPARAM wParam, LPARAM lParam) override;
    LRESULT OnCreate(WPARAM wParam, LPARAM lParam) override;
    void OnAttach() override;
    BOOL PreTranslateMessage(MSG* msg) override;
    LRESULT DefProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    // Element operations.
    // The host's back-buffer DC (made if needed); null without a host window.
    virtual HDC GetPaintDC();
    // Places the element from its "size" inside its parent's rectangle:
    // negative x / y count from the parent's right / bottom edge.
    virtual void Layout();
    virtual HWND GetHostWindow();
    virtual void Draw(HDC hdc, const RECT& rect, const RECT& clip);
    // Requests a repaint of `rect` (the element's own rectangle when null).
    virtual void Invalidate(const RECT* rect = nullptr, bool erase = false);
    // Reads the element from the skin node at `path` below `parentNode`.
    virtual int LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode);
    virtual LRESULT HandleLButtonUp(UINT flags, POINT point);
    virtual LRESULT HandleLButtonDown(UINT flags, POINT point);
    virtual LRESULT HandleLButtonDblClk(UINT flags, POINT point);
    virtual LRESULT HandleRButtonUp(UINT flags, POINT point);
    virtual LRESULT HandleRButtonDown(UINT flags, POINT point);
    virtual LRESULT HandleMouseMove(UINT flags, POINT point);
    virtual LRESULT HandleMouseEnter(UINT flags, POINT point);
    virtual LRESULT HandleMouseLeave(UINT flags, POINT point);
    virtual LRESULT HandleMouseWheel(UINT keys, int delta, POINT point);
    virtual LRESULT HandleShow(bool visible);
    virtual LRESULT HandleTooltipText(NMTTDISPINFOW* info);
    virtual LRESULT HandleTimer(UINT_PTR id);
    virtual LRESULT HandleKeyDown(UINT key, UINT flags);
    virtual LRESULT HandleKeyUp(UINT key, UINT flags);
    virtual LRESULT HandleChar(UINT code, UINT flags);
    virtual LRESULT HandleKillFocus(UIObject* newFocus);
    virtual LRESULT HandleSetFocus(UIObject* oldFocus);
    // Sets the cursor of the deepest hovered element; non-zero when it did.
    virtual int UpdateCursor();
    virtual LRESULT SendToHost(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL PostToHost(UINT message, WPARAM wParam, LPARAM lParam);
    // A child reports an event; climbs to the root by default.
    virtual LRESULT OnChildCommand(UIObject* child, UINT message, WPARAM wParam, LPARAM lParam);
    virtual void OnLayoutChanged();
    // Relays `msg` to this element's tooltip control and those of its children.
    virtual void RelayTooltipMessage(MSG* msg);

    // Keyboard.
    // Whether Tab stops here (the host also asks for enabled and visible).
    virtual bool IsTabStop() const;
    void SetTabStop(bool tabStop) { tabStop_ = tabStop; }
    // Enabled, visible with every ancestor, and laid out.
    bool Usable() const;
    // Does what a click does (a button reports, a check box toggles); false
    // when the element has no such action.
    virtual bool Press();
    // Host: gives the focus to `element` (null: to the window itself), with
    // the kill/set-focus calls and the focus event for screen readers.
    void SetFocusElement(UIObject* element);
    // Host: moves the focus to the next (previous) tab stop in reading order;
    // false when there is none.
    bool MoveFocus(bool backwards);
    // Whether this element has the focus and its host shows focus cues
    // (the focused look is drawn once the keyboard is used in the window).
    bool ShowsFocus() const;
    // The element that Return presses and the one that Escape presses
    // (null: Escape closes the window as its close button would).
    void SetDefaultElement(UIObject* element) { defaultElement_ = element; }
    void SetCancelElement(UIObject* element) { cancelElement_ = element; }
    // Host: Return and Escape. Press the default (cancel) element when it
    // can be used; true when something was done.
    virtual bool PressDefault();
    virtual bool PressCancel();

    // Accessibility (screen readers, ui/UIAccessible). The base element is
    // not exposed (role 0); the element kinds answer for themselves, and a
    // screen may set the role or the name of one element.
    // ROLE_SYSTEM_* of the element, 0 when it is not exposed.
    virtual DWORD AccessibleRole();
    // The set name, otherwise what the element shows.
    virtual std::wstring AccessibleName();
    // STATE_SYSTEM_* flags of the element's own (checked, read-only); the
    // focus, availability and visibility are added by the accessible object.
    virtual DWORD AccessibleState();
    // The element's value (an editor's text, a bar's percentage); false
    // when it has none.
    virtual bool AccessibleValue(std::wstring& value);
    // The name of what Press does; empty when nothing.
    virtual std::wstring AccessibleAction();
    void SetAccessibleRole(DWORD role) { accessibleRole_ = role; }
    void SetAccessibleName(const std::wstring& name) { accessibleName_ = name; }
    // Host: WM_GETOBJECT for the client area is answered with the window's
    // accessible object, which is disconnected when the window goes.
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;
    LRESULT OnNcDestroy(WPARAM wParam, LPARAM lParam) override;

    // Tree.
    // Takes ownership of `child`, appends it and lays it out.
    void AddChild(UIObject* child);
    UIObject* parent() const { return parent_; }
    const std::vector<std::unique_ptr<UIObject>>& children() const { return children_; }
    UIObject* hoverChild() const { return hoverChild_; }
    UIObject* focusChild() const { return focusChild_; }
    // Follows the hover children from here; null when no descendant is hovered.
    UIObject* DeepestHovered() const;
    // The element that owns the host window: this or the nearest such ancestor.
    UIObject* HostObject();

    // State.
    void SetVisible(bool visible);
    void SetEnabled(bool enabled);
    // Moves the element; w and h change only when >= 0.
    void SetPosition(int x, int y, int w, int h);
    bool visible() const { return visible_; }
    bool enabled() const { return enabled_; }
    bool hovered() const { return hovered_; }
    bool notHitTarget() const { return notHitTarget_; }
    void SetFixedOffset(bool fixed) { fixedOffset_ = fixed; }
    int32_t id() const { return id_; }
    void SetId(int32_t id) { id_ = id; }
    int kind() const { return kind_; }
    const RECT& rect() const { return rect_; }
    // "size": x, y, w, h in left, top, right, bottom.
    const RECT& size() const { return size_; }
    void SetCursor(HCURSOR cursor) { cursor_ = cursor; }
    HCURSOR cursor() const { return cursor_; }

    // Paints this element and its descendants into `hdc` within `clip`
    // (client coordinates of the host).
    void Render(HDC hdc, const RECT& clip);

    // Display scale. Lengths in "size", in SetPosition and in the window
    // helpers below are at 96 DPI and are laid out at the host's DPI (read
    // from its window when first asked and again on WM_DPICHANGED); an element
    // without a host window answers 96.
    int dpi() const;
    // `length` (at 96 DPI) in the element's device pixels.
    int Px(int length) const;
    // The four members of `r` (margins, or left, top, right, bottom at 96 DPI) so.
    RECT PxRect(const RECT& r) const { return RECT{Px(r.left), Px(r.top), Px(r.right), Px(r.bottom)}; }
    // Moves the element to a place in device pixels, relative to the parent as
    // SetPosition: for places computed from rectangles already laid out.
    void SetPixelPosition(int x, int y, int w, int h);

    // Host window helpers.
    void CenterWindow();
    void SetWindowSize(int width, int height);
    void SetWindowRect(int x, int y, int width, int height);
    void Show(bool visible);
    bool ModifyExStyle(DWORD remove, DWORD add);
    bool MakeLayered();
    bool SetLayeredAlpha(BYTE alpha);
    bool layered() const { return layered_; }
    void SetBackgroundBrush(HBRUSH brush) { background_ = brush; }

    // Element timers, kept by the element's host window. 0 when the element
    // has no valid host window.
    UINT_PTR SetElementTimer(UIObject* element, UINT elapse);
    int KillElementTimer(UIObject* element, UINT_PTR id);
    const std::map<UINT_PTR, UIObject*>& timers() const { return timers_; }

    // Tooltips: the host's tooltip control and the registration of an
    // element's rectangle with it (tool id = element pointer).
    void SetTooltipWindow(HWND tooltip) { tooltip_ = tooltip; }
    HWND tooltipWindow() const { return tooltip_; }
    bool RegisterTooltip();
    void UpdateTooltipRect();

protected:
    void LayoutChildren();
    // Host: WM_DPICHANGED. Takes the new DPI, moves the window to the
    // suggested rectangle, lays everything out again and remakes the buffer.
    LRESULT OnDpiChanged(WPARAM wParam, LPARAM lParam);
    // Host: Tab, Space, Return and Escape; true when the key was used.
    bool HandleNavigationKey(UINT key, LPARAM lParam);
    void ShowFocusCues();
    // SetPosition (pixels false) and SetPixelPosition (true).
    void Place(int x, int y, int w, int h, bool pixels);
    // Takes the focus away when it lies on this element or inside it.
    void DropFocusWithin();
    // The hover walk of one element for a mouse move at `point`.
    static LRESULT RouteHover(UIObject* element, UINT flags, POINT point);
    // Leaves `element` and its whole hover chain.
    static void LeaveHover(UIObject* element);
    bool EnsureBackBuffer();
    void ReleaseBackBuffer();
    void LayeredRepaint(const RECT* rect);
    void DrawChildren(HDC hdc, const RECT& clip);
    // The enabled, visible deepest hovered element, or null.
    UIObject* RoutingTarget(bool& anyHovered) const;
    // Reads "id" and "size" of `node`.
    void LoadIdAndSize(UIResource* resource, const JValue* node);

    // Element fields.
    int32_t id_ = 0;
    int kind_ = kKindNone;
    bool enabled_ = true;
    bool visible_ = true;
    bool hovered_ = false;
    bool notHitTarget_ = false;
    bool fixedOffset_ = false;
    bool tooltipRegistered_ = false;
    bool tabStop_ = false;
    RECT rect_ = {};
    RECT size_ = {};
    HCURSOR cursor_ = nullptr;
    UIObject* parent_ = nullptr;
    UIObject* hoverChild_ = nullptr;
    UIObject* focusChild_ = nullptr;
    std::vector<std::unique_ptr<UIObject>> children_;

    // Host fields.
    HBRUSH background_ = nullptr;
    HWND tooltip_ = nullptr;
    bool layered_ = false;
    bool layeredPainted_ = false;
    bool resizing_ = false;
    bool tracking_ = false;
    HDC bufferDC_ = nullptr;
    HBITMAP bufferBitmap_ = nullptr;
    HGDIOBJ bufferOldBitmap_ = nullptr;
    uint8_t* bufferBits_ = nullptr;
    size_t bufferSize_ = 0;
    int bufferStride_ = 0;
    int bufferWidth_ = 0;
    int bufferHeight_ = 0;
    bool bufferLayered_ = false;
    mutable int dpi_ = 0;      // host: the window's DPI, 0 until read
    bool pixelSize_ = false;   // "size" is in device pixels (SetPixelPosition)
    std::map<UINT_PTR, UIObject*> timers_;
    UIObject* defaultElement_ = nullptr;
    UIObject* cancelElement_ = nullptr;
    bool focusCues_ = false;
    // Accessibility: the element's set role and name; the host's object.
    DWORD accessibleRole_ = 0;
    std::wstring accessibleName_;
    UIAccessible* accessible_ = nullptr;
    void ReleaseAccessible();

public:
    // Back buffer, for drawing checks: bits are set only for layered windows
    // (bottom-up 32-bit rows).
    HDC bufferDC() const { return bufferDC_; }
    const uint8_t* bufferBits() const { return bufferBits_; }
    int bufferWidth() const { return bufferWidth_; }
    int bufferHeight() const { return bufferHeight_; }
};

// Rectangle helpers shared by the controls.
inline bool RectEmpty(const RECT& r) { return r.right <= r.left || r.bottom <= r.top; }
inline int RectWidth(const RECT& r) { return r.right - r.left; }
inline int RectHeight(const RECT& r) { return r.bottom - r.top; }
inline POINT PointFromLParam(LPARAM lParam) {
    return POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
}

}  // namespace quillo
