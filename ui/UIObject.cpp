#include "ui/UIObject.h"

#include <windowsx.h>

#include <vector>

#include "ui/FocusOrder.h"
#include "ui/UIAccessible.h"
#include "ui/DpiScale.h"
#include "ui/SkinDraw.h"
#include "ui/WindowDpi.h"

namespace quillo {

namespace {

bool PositiveSize(const RECT& size) { return size.right > 0 && size.bottom > 0; }

void SelectClip(HDC hdc, const RECT& clip) {
    HRGN region = ::CreateRectRgnIndirect(&clip);
    ::SelectClipRgn(hdc, region);
    ::DeleteObject(region);
}

// The element of the tree below `root` whose address is `id`, or null.
UIObject* FindElement(UIObject* root, UINT_PTR id) {
    if (reinterpret_cast<UINT_PTR>(root) == id) return root;
    for (const auto& child : root->children())
        if (UIObject* found = FindElement(child.get(), id)) return found;
    return nullptr;
}

}  // namespace

UIObject::UIObject() = default;

UIObject::~UIObject() {
    // Unbind first so that nothing reaches this half-destroyed object.
    ReleaseAccessible();
    HWND hwnd = Detach();
    hoverChild_ = nullptr;
    focusChild_ = nullptr;
    for (auto& child : children_) child.reset();  // in list order
    children_.clear();
    ReleaseBackBuffer();
    if (hwnd && ::IsWindow(hwnd)) ::DestroyWindow(hwnd);
}

// ---- Host side --------------------------------------------------------------

LRESULT UIObject::OnCreate(WPARAM wParam, LPARAM lParam) {
    ::GetClientRect(hwnd_, &rect_);
    return DefProc(WM_CREATE, wParam, lParam);
}

void UIObject::OnAttach() { ::GetClientRect(hwnd_, &rect_); }

LRESULT UIObject::OnEraseBkgnd(WPARAM, LPARAM) { return 1; }

LRESULT UIObject::OnPaint(WPARAM, LPARAM) {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(hwnd_, &ps);
    if (!layered_ && !RectEmpty(ps.rcPaint) && EnsureBackBuffer()) {
        const int saved = ::SaveDC(bufferDC_);
        SelectClip(bufferDC_, ps.rcPaint);
        if (background_) {
            ::SelectObject(bufferDC_, background_);
            ::PatBlt(bufferDC_, ps.rcPaint.left, ps.rcPaint.top, RectWidth(ps.rcPaint), RectHeight(ps.rcPaint),
                     PATCOPY);
        }
        Render(bufferDC_, ps.rcPaint);
        ::RestoreDC(bufferDC_, saved);
        ::BitBlt(dc, ps.rcPaint.left, ps.rcPaint.top, RectWidth(ps.rcPaint), RectHeight(ps.rcPaint), bufferDC_,
                 ps.rcPaint.left, ps.rcPaint.top, SRCCOPY);
    }
    ::EndPaint(hwnd_, &ps);
    return 0;
}

LRESULT UIObject::OnMouseMove(WPARAM wParam, LPARAM lParam) {
    if (!tracking_) {
        TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, hwnd_, 0};
        tracking_ = ::TrackMouseEvent(&track) != FALSE;
    }
    RouteHover(this, static_cast<UINT>(wParam), PointFromLParam(lParam));
    return DefProc(WM_MOUSEMOVE, wParam, lParam);
}

LRESULT UIObject::OnMouseLeave(WPARAM wParam, LPARAM lParam) {
    tracking_ = false;
    if (hovered_) {
        hovered_ = false;
        const POINT outside = {-1, -1};
        HandleMouseLeave(0, outside);
        for (UIObject* element = hoverChild_; element; element = element->hoverChild_) {
            element->hovered_ = false;
            element->HandleMouseLeave(0, outside);
        }
        // Nothing is under the pointer any more: releases go to the window.
        for (UIObject* element = this; element;) {
            UIObject* next = element->hoverChild_;
            element->hoverChild_ = nullptr;
            element = next;
        }
    }
    return DefProc(WM_MOUSELEAVE, wParam, lParam);
}

LRESULT UIObject::RouteHover(UIObject* element, UINT flags, POINT point) {
    if (!::PtInRect(&element->rect_, point)) {
        if (element->hovered_) {
            element->hovered_ = false;
            element->HandleMouseLeave(flags, point);
            if (element->hoverChild_) LeaveHover(element->hoverChild_);
            element->hoverChild_ = nullptr;
        }
        return 0;
    }
    if (!element->hovered_) {
        element->hovered_ = true;
        element->HandleMouseEnter(flags, point);
    }
    if (element->hoverChild_) RouteHover(element->hoverChild_, flags, point);

    UIObject* found = nullptr;
    for (auto it = element->children_.rbegin(); it != element->children_.rend(); ++it) {
        UIObject* child = it->get();
        if (child->visible_ && ::PtInRect(&child->rect_, point)) {
            found = child;
            break;
        }
    }
    if (found && found == element->hoverChild_) return 1;
    // The previous hover child may still contain the point while a later
    // sibling covers it: it is left, so that one element is hovered per level.
    if (element->hoverChild_ && element->hoverChild_->hovered_) LeaveHover(element->hoverChild_);
    if (found) RouteHover(found, flags, point);
    element->hoverChild_ = found;
    return element->HandleMouseMove(flags, point);
}

void UIObject::LeaveHover(UIObject* element) {
    if (element->hovered_) {
        element->hovered_ = false;
        element->HandleMouseLeave(0, POINT{-1, -1});
    }
    if (element->hoverChild_) LeaveHover(element->hoverChild_);
    element->hoverChild_ = nullptr;
}

UIObject* UIObject::DeepestHovered() const {
    UIObject* deepest = nullptr;
    for (UIObject* element = hoverChild_; element; element = element->hoverChild_) deepest = element;
    return deepest;
}

UIObject* UIObject::RoutingTarget(bool& anyHovered) const {
    UIObject* deepest = DeepestHovered();
    anyHovered = deepest != nullptr;
    return deepest && deepest->enabled_ && deepest->visible_ ? deepest : nullptr;
}

LRESULT UIObject::OnLButtonDown(WPARAM wParam, LPARAM lParam) {
    const LRESULT result = DefProc(WM_LBUTTONDOWN, wParam, lParam);
    ::SetFocus(hwnd_);
    const UINT flags = static_cast<UINT>(wParam);
    const POINT point = PointFromLParam(lParam);
    UIObject* target = DeepestHovered();
    if (!target) {
        SetFocusElement(nullptr);
        HandleLButtonDown(flags, point);
    } else if (target->enabled_ && target->visible_) {
        SetFocusElement(target);
        target->HandleLButtonDown(flags, point);
    }
    return result;
}

#define QUILLO_ROUTE_BUTTON(Handler, Message, ElementHandler)                          \
    LRESULT UIObject::Handler(WPARAM wParam, LPARAM lParam) {                           \
        const LRESULT result = DefProc(Message, wParam, lParam);                        \
        const POINT point = PointFromLParam(lParam);                                    \
        bool anyHovered = false;                                                        \
        if (UIObject* target = RoutingTarget(anyHovered))                               \
            target->ElementHandler(static_cast<UINT>(wParam), point);                   \
        else if (!anyHovered)                                                           \
            ElementHandler(static_cast<UINT>(wParam), point);                           \
        return result;                                                                  \
    }

QUILLO_ROUTE_BUTTON(OnLButtonUp, WM_LBUTTONUP, HandleLButtonUp)
QUILLO_ROUTE_BUTTON(OnLButtonDblClk, WM_LBUTTONDBLCLK, HandleLButtonDblClk)
QUILLO_ROUTE_BUTTON(OnRButtonUp, WM_RBUTTONUP, HandleRButtonUp)
QUILLO_ROUTE_BUTTON(OnRButtonDown, WM_RBUTTONDOWN, HandleRButtonDown)

#undef QUILLO_ROUTE_BUTTON

LRESULT UIObject::OnMouseWheel(WPARAM wParam, LPARAM lParam) {
    POINT point = PointFromLParam(lParam);  // screen coordinates
    ::ScreenToClient(hwnd_, &point);
    const UINT keys = GET_KEYSTATE_WPARAM(wParam);
    const int delta = GET_WHEEL_DELTA_WPARAM(wParam);
    bool anyHovered = false;
    if (UIObject* target = RoutingTarget(anyHovered)) {
        if (target->parent_) target->parent_->HandleMouseWheel(keys, delta, point);
        target->HandleMouseWheel(keys, delta, point);
    } else if (!anyHovered) {
        HandleMouseWheel(keys, delta, point);
    }
    return DefProc(WM_MOUSEWHEEL, wParam, lParam);
}

LRESULT UIObject::OnKeyDown(WPARAM wParam, LPARAM lParam) {
    const LRESULT result = DefProc(WM_KEYDOWN, wParam, lParam);
    if (!HandleNavigationKey(static_cast<UINT>(wParam), lParam))
        (focusChild_ ? focusChild_ : this)->HandleKeyDown(static_cast<UINT>(wParam), static_cast<UINT>(lParam));
    return result;
}

// ---- Keyboard ----------------------------------------------------------------------

namespace {

// The tab stops of the tree below `element` in tree order. A child that owns
// a window of its own keeps its own focus and is not entered.
void CollectTabStops(UIObject* element, std::vector<UIObject*>& stops) {
    for (const auto& owned : element->children()) {
        UIObject* child = owned.get();
        if (!child->visible() || child->hwnd()) continue;
        if (child->IsTabStop() && child->Usable()) stops.push_back(child);
        CollectTabStops(child, stops);
    }
}

bool IsPushButton(const UIObject* element) {
    return element && (element->kind() == kKindButton || element->kind() == kKindDropButton);
}

}  // namespace

bool UIObject::Usable() const {
    if (!enabled_ || RectEmpty(rect_)) return false;
    for (const UIObject* element = this; element; element = element->parent_)
        if (!element->visible_) return false;
    return true;
}

void UIObject::SetFocusElement(UIObject* element) {
    if (element == focusChild_) return;
    UIObject* old = focusChild_;
    if (old) old->HandleKillFocus(element);
    focusChild_ = element;
    if (element) element->HandleSetFocus(old);
    // Screen readers follow the focus, to the window itself too.
    NotifyElementEvent(element ? element : this, EVENT_OBJECT_FOCUS);
    if (focusCues_) {
        if (old) old->Invalidate(nullptr);
        if (element) element->Invalidate(nullptr);
    }
}

bool UIObject::MoveFocus(bool backwards) {
    std::vector<UIObject*> stops;
    CollectTabStops(this, stops);
    if (stops.empty()) return false;
    std::vector<FocusBox> boxes;
    boxes.reserve(stops.size());
    for (UIObject* stop : stops)
        boxes.push_back(FocusBox{stop->rect_.left, stop->rect_.top, stop->rect_.right, stop->rect_.bottom});
    std::vector<UIObject*> ordered;
    ordered.reserve(stops.size());
    for (size_t index : ReadingOrder(boxes)) ordered.push_back(stops[index]);
    size_t current = ordered.size();
    for (size_t i = 0; i < ordered.size(); ++i)
        if (ordered[i] == focusChild_) current = i;
    UIObject* next = ordered[NextStop(current, ordered.size(), backwards)];
    // The window takes the keyboard back from a native edit first, so that
    // the edit hands its text over before the next element is focused.
    if (IsWindowValid() && ::GetFocus() != hwnd_) ::SetFocus(hwnd_);
    SetFocusElement(next);
    return true;
}

bool UIObject::ShowsFocus() const {
    const UIObject* host = this;
    while (host && !host->hwnd_) host = host->parent_;
    return host && host->focusCues_ && host->focusChild_ == this;
}

void UIObject::ShowFocusCues() {
    if (focusCues_) return;
    focusCues_ = true;
    if (focusChild_) focusChild_->Invalidate(nullptr);
}

bool UIObject::PressDefault() { return defaultElement_ && defaultElement_->Usable() && defaultElement_->Press(); }

bool UIObject::PressCancel() { return cancelElement_ && cancelElement_->Usable() && cancelElement_->Press(); }

bool UIObject::HandleNavigationKey(UINT key, LPARAM lParam) {
    const bool repeat = (lParam & (1 << 30)) != 0;
    switch (key) {
        case VK_TAB:
            ShowFocusCues();
            MoveFocus(::GetKeyState(VK_SHIFT) < 0);
            return true;
        case VK_SPACE:
            if (!focusChild_ || !focusChild_->IsTabStop() || !focusChild_->Usable()) return false;
            ShowFocusCues();
            if (repeat) return true;
            return focusChild_->Press();
        case VK_RETURN:
            ShowFocusCues();
            if (repeat) return true;
            // A focused push button is pressed itself, as in a dialog.
            if (IsPushButton(focusChild_) && focusChild_->Usable()) return focusChild_->Press();
            PressDefault();
            return true;
        case VK_ESCAPE:
            if (repeat) return true;
            PressCancel();
            return true;
        default:
            return false;
    }
}

LRESULT UIObject::OnKeyUp(WPARAM wParam, LPARAM lParam) {
    const LRESULT result = DefProc(WM_KEYUP, wParam, lParam);
    (focusChild_ ? focusChild_ : this)->HandleKeyUp(static_cast<UINT>(wParam), static_cast<UINT>(lParam));
    return result;
}

LRESULT UIObject::OnChar(WPARAM wParam, LPARAM lParam) {
    const LRESULT result = DefProc(WM_CHAR, wParam, lParam);
    (focusChild_ ? focusChild_ : this)->HandleChar(static_cast<UINT>(wParam), static_cast<UINT>(lParam));
    return result;
}

LRESULT UIObject::OnSetCursor(WPARAM wParam, LPARAM lParam) {
    if (UpdateCursor()) return TRUE;
    return DefProc(WM_SETCURSOR, wParam, lParam);
}

LRESULT UIObject::OnTimer(WPARAM wParam, LPARAM) {
    const UINT_PTR id = wParam;
    auto it = timers_.find(id);
    if (it != timers_.end())
        it->second->HandleTimer(id);
    else
        ::KillTimer(hwnd_, id);
    return 0;
}

LRESULT UIObject::OnNotify(WPARAM wParam, LPARAM lParam) {
    NMHDR* header = reinterpret_cast<NMHDR*>(lParam);
    if (header && header->code == TTN_GETDISPINFOW) {
        UIObject* element = FindElement(this, header->idFrom);
        (element ? element : this)->HandleTooltipText(reinterpret_cast<NMTTDISPINFOW*>(lParam));
    }
    return DefProc(WM_NOTIFY, wParam, lParam);
}

LRESULT UIObject::OnCommand(WPARAM wParam, LPARAM lParam) {
    const LRESULT result = DefProc(WM_COMMAND, wParam, lParam);
    if (HWND parent = ::GetParent(hwnd_)) ::SendMessageW(parent, WM_COMMAND, wParam, lParam);
    return result;
}

LRESULT UIObject::OnWindowPosChanged(WPARAM wParam, LPARAM lParam) {
    const WINDOWPOS* pos = reinterpret_cast<const WINDOWPOS*>(lParam);
    if (pos && (pos->flags & (SWP_NOSIZE | SWP_NOCOPYBITS)) == 0) {
        RECT client;
        ::GetClientRect(hwnd_, &client);
        if (!::EqualRect(&client, &rect_)) {
            rect_ = client;
            resizing_ = true;
            LayoutChildren();
            OnLayoutChanged();
        }
    }
    const LRESULT result = DefProc(WM_WINDOWPOSCHANGED, wParam, lParam);
    if (resizing_) {
        resizing_ = false;
        if (layered_) Invalidate(nullptr);
    }
    return result;
}

LRESULT UIObject::OnShowWindow(WPARAM wParam, LPARAM lParam) {
    // Changes made while the window was hidden were not drawn (Invalidate
    // skips hidden windows), so a layered window is drawn afresh on every show.
    if (wParam && layered_) {
        layeredPainted_ = true;
        ::SendMessageTimeoutW(hwnd_, kLayeredRepaintMessage, 0, 0, SMTO_BLOCK, 0, nullptr);
    }
    return DefProc(WM_SHOWWINDOW, wParam, lParam);
}

LRESULT UIObject::DefProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kLayeredRepaintMessage) {
        LayeredRepaint(reinterpret_cast<const RECT*>(wParam));
        return 0;
    }
    if (message == kDpiChangedMessage) return OnDpiChanged(wParam, lParam);
    return CHWindow::DefProc(message, wParam, lParam);
}

BOOL UIObject::PreTranslateMessage(MSG* msg) {
    RelayTooltipMessage(msg);
    // A native edit inside the window (the feedback form's fields) keeps
    // Tab, Escape and, when it has a single line, Return for the window.
    if (msg->message == WM_KEYDOWN && hwnd_ && msg->hwnd != hwnd_ && ::IsChild(hwnd_, msg->hwnd)) {
        const UINT key = static_cast<UINT>(msg->wParam);
        const bool multiLine = (::GetWindowLongW(msg->hwnd, GWL_STYLE) & ES_MULTILINE) != 0;
        if (key == VK_TAB || key == VK_ESCAPE || (key == VK_RETURN && !multiLine))
            return HandleNavigationKey(key, msg->lParam) ? TRUE : FALSE;
    }
    return FALSE;
}

// ---- Back buffer and painting -------------------------------------------------

bool UIObject::EnsureBackBuffer() {
    if (!IsWindowValid()) return false;
    const int width = RectWidth(rect_), height = RectHeight(rect_);
    if (width <= 0 || height <= 0) return false;
    if (bufferDC_ && bufferBitmap_ && width == bufferWidth_ && height == bufferHeight_ && bufferLayered_ == layered_)
        return true;
    HDC screen = ::GetDC(hwnd_);
    if (bufferDC_) {
        ::SelectObject(bufferDC_, bufferOldBitmap_);
        if (bufferBitmap_) ::DeleteObject(bufferBitmap_);
        bufferBitmap_ = nullptr;
    } else {
        bufferDC_ = ::CreateCompatibleDC(screen);
        ::SetBkMode(bufferDC_, TRANSPARENT);
        ::SelectObject(bufferDC_, ToolkitDefaultFont(dpi()));
        if (background_) ::SelectObject(bufferDC_, background_);
    }
    bufferWidth_ = width;
    bufferHeight_ = height;
    bufferLayered_ = layered_;
    bufferBits_ = nullptr;
    bufferStride_ = 0;
    bufferSize_ = 0;
    if (layered_) {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = height;  // bottom-up
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        bufferBitmap_ = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (bufferBitmap_) {
            bufferBits_ = static_cast<uint8_t*>(bits);
            bufferStride_ = width * 4;
            bufferSize_ = static_cast<size_t>(bufferStride_) * static_cast<size_t>(height);
        }
    } else {
        bufferBitmap_ = ::CreateCompatibleBitmap(screen, width, height);
    }
    bufferOldBitmap_ = bufferBitmap_ ? ::SelectObject(bufferDC_, bufferBitmap_) : nullptr;
    ::ReleaseDC(hwnd_, screen);
    return bufferBitmap_ != nullptr;
}

void UIObject::ReleaseBackBuffer() {
    if (bufferDC_) {
        if (bufferOldBitmap_) ::SelectObject(bufferDC_, bufferOldBitmap_);
        ::DeleteDC(bufferDC_);
    }
    if (bufferBitmap_) ::DeleteObject(bufferBitmap_);
    bufferDC_ = nullptr;
    bufferBitmap_ = nullptr;
    bufferOldBitmap_ = nullptr;
    bufferBits_ = nullptr;
    bufferSize_ = 0;
    bufferStride_ = 0;
    bufferWidth_ = bufferHeight_ = 0;
}

void UIObject::LayeredRepaint(const RECT* rect) {
    if (!layered_ || !IsWindowValid()) return;
    RECT client;
    ::GetClientRect(hwnd_, &client);
    RECT dirty = client;
    if (rect && !::IntersectRect(&dirty, &client, rect)) return;
    if (RectEmpty(dirty)) return;
    const HBITMAP before = bufferBitmap_;
    if (!EnsureBackBuffer() || !bufferBits_) return;
    // A fresh buffer holds nothing yet: paint all of it.
    if (bufferBitmap_ != before) dirty = client;
    const RECT bounds = {0, 0, bufferWidth_, bufferHeight_};
    if (!::IntersectRect(&dirty, &dirty, &bounds)) return;

    ::GdiFlush();
    for (int y = dirty.top; y < dirty.bottom; ++y) {
        uint8_t* row = bufferBits_ + bufferSize_ - static_cast<size_t>(bufferStride_) * static_cast<size_t>(y + 1);
        for (int x = dirty.left; x < dirty.right; ++x) row[4 * x + 3] = 0;
    }
    const int saved = ::SaveDC(bufferDC_);
    SelectClip(bufferDC_, dirty);
    if (background_) {
        ::SelectObject(bufferDC_, background_);
        ::PatBlt(bufferDC_, dirty.left, dirty.top, RectWidth(dirty), RectHeight(dirty), PATCOPY);
    }
    Render(bufferDC_, dirty);
    ::GdiFlush();

    RECT window;
    ::GetWindowRect(hwnd_, &window);
    POINT position = {window.left, window.top};
    SIZE size = {RectWidth(window), RectHeight(window)};
    POINT source = {0, 0};
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    ::UpdateLayeredWindow(hwnd_, nullptr, &position, &size, bufferDC_, &source, 0, &blend, ULW_ALPHA);
    ::RestoreDC(bufferDC_, saved);
}

void UIObject::Render(HDC hdc, const RECT& clip) {
    const DrawingDpiScope scale(dpi());
    Draw(hdc, rect_, clip);
    DrawChildren(hdc, clip);
}

void UIObject::DrawChildren(HDC hdc, const RECT& clip) {
    for (const auto& owned : children_) {
        UIObject* child = owned.get();
        if (!child->visible_) continue;
        RECT area;
        if (!::IntersectRect(&area, &child->rect_, &rect_) || !::IntersectRect(&area, &area, &clip)) continue;
        const int saved = ::SaveDC(hdc);
        SelectClip(hdc, area);
        child->Draw(hdc, child->rect_, area);
        ::RestoreDC(hdc, saved);
        child->DrawChildren(hdc, area);
    }
}

// ---- Element operations -------------------------------------------------------

HDC UIObject::GetPaintDC() {
    UIObject* host = HostObject();
    if (!host || !host->EnsureBackBuffer()) return nullptr;
    return host->bufferDC_;
}

UIObject* UIObject::HostObject() {
    for (UIObject* element = this; element; element = element->parent_)
        if (element->hwnd_) return element;
    return nullptr;
}

void UIObject::Layout() {
    if (!parent_ || !PositiveSize(size_)) return;
    const RECT& p = parent_->rect_;
    if (::EqualRect(&rect_, &p)) return;
    const int scale = pixelSize_ ? kBaseDpi : dpi();
    const int x = ScaleToDpi(size_.left, scale), y = ScaleToDpi(size_.top, scale);
    if (fixedOffset_) {
        rect_.top = p.top + y;
        rect_.left = p.left + x;
    } else {
        rect_.top = y + (size_.top < 0 ? p.bottom : p.top);
        rect_.left = x + (size_.left < 0 ? p.right : p.left);
    }
    rect_.right = rect_.left + ScaleToDpi(size_.right, scale);
    rect_.bottom = rect_.top + ScaleToDpi(size_.bottom, scale);
    LayoutChildren();
    UpdateTooltipRect();
}

void UIObject::LayoutChildren() {
    for (const auto& child : children_)
        if (PositiveSize(child->size_)) child->Layout();
}

HWND UIObject::GetHostWindow() {
    if (hwnd_) return hwnd_;
    return parent_ ? parent_->GetHostWindow() : nullptr;
}

void UIObject::Draw(HDC, const RECT&, const RECT&) {}

void UIObject::Invalidate(const RECT* rect, bool erase) {
    if (!hwnd_) {
        if (parent_) parent_->Invalidate(rect ? rect : &rect_, erase);
        return;
    }
    if (!::IsWindowVisible(hwnd_) || resizing_) return;
    if (layered_) {
        if (::GetWindowThreadProcessId(hwnd_, nullptr) != ::GetCurrentThreadId()) {
            // The rectangle lives on the caller's stack: from another thread
            // ask for a full repaint instead of pointing at it.
            ::PostMessageW(hwnd_, kLayeredRepaintMessage, 0, 0);
            return;
        }
        ::SendMessageTimeoutW(hwnd_, kLayeredRepaintMessage, reinterpret_cast<WPARAM>(rect), 0, SMTO_BLOCK, 0,
                              nullptr);
        return;
    }
    ::InvalidateRect(hwnd_, rect, erase ? TRUE : FALSE);
}

int UIObject::LoadSkin(UIResource*, const std::string&, const JValue*) { return 0; }

void UIObject::LoadIdAndSize(UIResource* resource, const JValue* node) {
    id_ = resource->GetInt("id", node);
    size_ = resource->GetRect("size", node);
}

#define QUILLO_FORWARD(Handler)                                   \
    LRESULT UIObject::Handler(UINT flags, POINT point) {          \
        bool anyHovered = false;                                  \
        if (UIObject* target = RoutingTarget(anyHovered))         \
            return target->Handler(flags, point);                 \
        return 0;                                                 \
    }

QUILLO_FORWARD(HandleLButtonUp)
QUILLO_FORWARD(HandleLButtonDblClk)
QUILLO_FORWARD(HandleRButtonUp)
QUILLO_FORWARD(HandleRButtonDown)

#undef QUILLO_FORWARD

LRESULT UIObject::HandleKeyUp(UINT key, UINT flags) {
    bool anyHovered = false;
    if (UIObject* target = RoutingTarget(anyHovered)) return target->HandleKeyUp(key, flags);
    return 0;
}

LRESULT UIObject::HandleLButtonDown(UINT, POINT) { return 0; }
bool UIObject::IsTabStop() const { return tabStop_; }
bool UIObject::Press() { return false; }
LRESULT UIObject::HandleMouseMove(UINT, POINT) { return 0; }
LRESULT UIObject::HandleMouseEnter(UINT, POINT) { return 0; }
LRESULT UIObject::HandleMouseLeave(UINT, POINT) { return 0; }
LRESULT UIObject::HandleMouseWheel(UINT, int, POINT) { return 0; }
LRESULT UIObject::HandleShow(bool) { return 1; }
LRESULT UIObject::HandleTooltipText(NMTTDISPINFOW*) { return 0; }
LRESULT UIObject::HandleTimer(UINT_PTR) { return 0; }
LRESULT UIObject::HandleKeyDown(UINT, UINT) { return 0; }
LRESULT UIObject::HandleChar(UINT, UINT) { return 0; }
LRESULT UIObject::HandleKillFocus(UIObject*) { return 0; }
LRESULT UIObject::HandleSetFocus(UIObject*) { return 0; }

int UIObject::UpdateCursor() {
    UIObject* deepest = DeepestHovered();
    if (!deepest) return 0;
    if (deepest->UpdateCursor()) return 1;
    if (!deepest->enabled_ || !deepest->visible_ || !deepest->cursor_) return 0;
    if (::GetCursor() != deepest->cursor_) ::SetCursor(deepest->cursor_);
    return 1;
}

LRESULT UIObject::SendToHost(UINT message, WPARAM wParam, LPARAM lParam) {
    if (hwnd_) return ::SendMessageW(hwnd_, message, wParam, lParam);
    return parent_ ? parent_->SendToHost(message, wParam, lParam) : 0;
}

BOOL UIObject::PostToHost(UINT message, WPARAM wParam, LPARAM lParam) {
    if (hwnd_) return ::PostMessageW(hwnd_, message, wParam, lParam);
    return parent_ ? parent_->PostToHost(message, wParam, lParam) : FALSE;
}

LRESULT UIObject::OnChildCommand(UIObject* child, UINT message, WPARAM wParam, LPARAM lParam) {
    return parent_ ? parent_->OnChildCommand(child, message, wParam, lParam) : 0;
}

void UIObject::OnLayoutChanged() {}

void UIObject::RelayTooltipMessage(MSG* msg) {
    if (tooltip_) ::SendMessageW(tooltip_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(msg));
    for (const auto& child : children_) child->RelayTooltipMessage(msg);
}

// ---- Tree and state -------------------------------------------------------------

void UIObject::AddChild(UIObject* child) {
    if (!child) return;
    child->parent_ = this;
    children_.emplace_back(child);
    if (PositiveSize(child->size_)) child->Layout();
    for (const auto& grandchild : child->children_)
        if (PositiveSize(grandchild->size_)) grandchild->Layout();
}

void UIObject::SetVisible(bool visible) {
    if (visible_ == visible) return;
    visible_ = visible;
    HandleShow(visible);
    Invalidate(nullptr);
    UpdateTooltipRect();
    if (!visible) DropFocusWithin();
}

void UIObject::SetEnabled(bool enabled) {
    enabled_ = enabled;
    Invalidate(nullptr);
    if (!enabled) DropFocusWithin();
}

void UIObject::DropFocusWithin() {
    UIObject* host = HostObject();
    if (!host || host == this) return;
    for (UIObject* element = host->focusChild_; element; element = element->parent_) {
        if (element == this) {
            // Keys must not reach an element nobody can see or use.
            host->SetFocusElement(nullptr);
            return;
        }
    }
}

int UIObject::dpi() const {
    const UIObject* host = this;
    while (host && !host->hwnd_) host = host->parent_;
    if (!host) return kBaseDpi;
    if (host->dpi_ == 0 && host->IsWindowValid()) host->dpi_ = WindowDpi(host->hwnd_);
    return host->dpi_ > 0 ? host->dpi_ : kBaseDpi;
}

int UIObject::Px(int length) const { return ScaleToDpi(length, dpi()); }

void UIObject::SetPixelPosition(int x, int y, int w, int h) { Place(x, y, w, h, true); }

void UIObject::SetPosition(int x, int y, int w, int h) { Place(x, y, w, h, false); }

void UIObject::Place(int x, int y, int w, int h, bool pixels) {
    pixelSize_ = pixels;
    const RECT before = rect_;
    size_.left = x;
    size_.top = y;
    if (w >= 0) size_.right = w;
    if (h >= 0) size_.bottom = h;
    if (PositiveSize(size_)) Layout();
    if (!RectEmpty(before) && !::EqualRect(&before, &rect_)) Invalidate(&before);
    Invalidate(nullptr);
}

LRESULT UIObject::OnDpiChanged(WPARAM wParam, LPARAM lParam) {
    const int newDpi = HIWORD(wParam);
    dpi_ = newDpi > 0 ? newDpi : WindowDpi(hwnd_);
    // The buffer's DC holds the default font of the old scale.
    ReleaseBackBuffer();
    if (const RECT* suggested = reinterpret_cast<const RECT*>(lParam))
        ::SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, RectWidth(*suggested), RectHeight(*suggested),
                       SWP_NOZORDER | SWP_NOACTIVATE);
    // Every place is computed again at the new scale, whether or not the
    // window's size changed with it.
    ::GetClientRect(hwnd_, &rect_);
    LayoutChildren();
    OnLayoutChanged();
    Invalidate(nullptr);
    return 0;
}

// ---- Window helpers -------------------------------------------------------------

void UIObject::CenterWindow() {
    if (!IsWindowValid()) return;
    RECT window;
    ::GetWindowRect(hwnd_, &window);
    const int width = RectWidth(window), height = RectHeight(window);
    RECT area;
    const bool child = (::GetWindowLongW(hwnd_, GWL_STYLE) & WS_CHILD) != 0;
    if (child)
        ::GetClientRect(::GetParent(hwnd_), &area);
    else
        ::GetWindowRect(::GetDesktopWindow(), &area);
    const int left = area.left + (RectWidth(area) - width) / 2;
    const int top = area.top + (RectHeight(area) - height) / 2;
    ::MoveWindow(hwnd_, left, top, width, height, ::IsWindowVisible(hwnd_));
}

void UIObject::SetWindowSize(int width, int height) {
    if (!IsWindowValid()) return;
    RECT window;
    ::GetWindowRect(hwnd_, &window);
    POINT topLeft = {window.left, window.top};
    if (::GetWindowLongW(hwnd_, GWL_STYLE) & WS_CHILD) ::MapWindowPoints(nullptr, ::GetParent(hwnd_), &topLeft, 1);
    ::MoveWindow(hwnd_, topLeft.x, topLeft.y, Px(width), Px(height), ::IsWindowVisible(hwnd_));
}

void UIObject::SetWindowRect(int x, int y, int width, int height) {
    // The place is where the window goes on the screen (or in its parent);
    // the size is the layout's and is scaled.
    if (IsWindowValid()) ::MoveWindow(hwnd_, x, y, Px(width), Px(height), ::IsWindowVisible(hwnd_));
}

void UIObject::Show(bool visible) {
    if (IsWindowValid()) ::ShowWindow(hwnd_, visible ? SW_SHOW : SW_HIDE);
}

bool UIObject::ModifyExStyle(DWORD remove, DWORD add) {
    if (!IsWindowValid()) return false;
    const DWORD old = static_cast<DWORD>(::GetWindowLongW(hwnd_, GWL_EXSTYLE));
    const DWORD wanted = (old & ~remove) | add;
    if (wanted == old) return false;
    ::SetWindowLongW(hwnd_, GWL_EXSTYLE, static_cast<LONG>(wanted));
    return true;
}

bool UIObject::MakeLayered() {
    if (!IsWindowValid() || (::GetWindowLongW(hwnd_, GWL_STYLE) & WS_CHILD)) return layered_;
    const DWORD ex = static_cast<DWORD>(::GetWindowLongW(hwnd_, GWL_EXSTYLE));
    if (layered_ || (ex & WS_EX_LAYERED)) return layered_;
    ::SetWindowLongW(hwnd_, GWL_EXSTYLE, static_cast<LONG>(ex | WS_EX_LAYERED));
    layered_ = (::GetWindowLongW(hwnd_, GWL_EXSTYLE) & WS_EX_LAYERED) != 0;
    Invalidate(nullptr);
    return layered_;
}

bool UIObject::SetLayeredAlpha(BYTE alpha) {
    if (!layered_ || resizing_ || !IsWindowValid()) return false;
    BLENDFUNCTION blend = {AC_SRC_OVER, 0, alpha, AC_SRC_ALPHA};
    return ::UpdateLayeredWindow(hwnd_, nullptr, nullptr, nullptr, nullptr, nullptr, 0, &blend, ULW_ALPHA) != FALSE;
}

UINT_PTR UIObject::SetElementTimer(UIObject* element, UINT elapse) {
    UIObject* host = element ? element->HostObject() : nullptr;
    if (!host || !host->IsWindowValid()) return 0;
    const UINT_PTR id = host->timers_.empty() ? 1 : host->timers_.rbegin()->first + 1;
    host->timers_[id] = element;
    ::SetTimer(host->hwnd_, id, elapse, nullptr);
    return id;
}

int UIObject::KillElementTimer(UIObject* element, UINT_PTR id) {
    UIObject* host = element ? element->HostObject() : nullptr;
    if (!host || !host->IsWindowValid() || !::IsWindowVisible(host->hwnd_)) return 0;
    host->timers_.erase(id);
    ::KillTimer(host->hwnd_, id);
    return 1;
}

bool UIObject::RegisterTooltip() {
    UIObject* host = HostObject();
    if (!host || !host->tooltip_) return false;
    TOOLINFOW info = {};
    info.cbSize = TTTOOLINFOW_V2_SIZE;
    info.hwnd = host->hwnd_;
    info.uId = reinterpret_cast<UINT_PTR>(this);
    info.rect = visible_ ? rect_ : RECT{-1, -1, 0, 0};
    info.lpszText = LPSTR_TEXTCALLBACKW;
    tooltipRegistered_ = ::SendMessageW(host->tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info)) != 0;
    return tooltipRegistered_;
}

void UIObject::UpdateTooltipRect() {
    if (!tooltipRegistered_) return;
    UIObject* host = HostObject();
    if (!host || !host->tooltip_) return;
    TOOLINFOW info = {};
    info.cbSize = TTTOOLINFOW_V2_SIZE;
    info.hwnd = host->hwnd_;
    info.uId = reinterpret_cast<UINT_PTR>(this);
    info.rect = visible_ ? rect_ : RECT{-1, -1, 0, 0};
    ::SendMessageW(host->tooltip_, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&info));
}

}  // namespace quillo
