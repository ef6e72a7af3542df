#include "ui/UIAccessible.h"

#include "ui/UIObject.h"

namespace quillo {

namespace {

// Calls `visit` for the exposed elements below `root` in tree order until it
// returns true. An element with a window of its own answers for its tree.
template <typename Visit>
bool ForEachExposed(UIObject* root, Visit& visit) {
    for (const auto& owned : root->children()) {
        UIObject* child = owned.get();
        if (child->hwnd()) continue;
        if (child->AccessibleRole() != 0 && visit(child)) return true;
        if (ForEachExposed(child, visit)) return true;
    }
    return false;
}

bool InTree(UIObject* root, UIObject* element) {
    for (const auto& owned : root->children()) {
        if (owned.get() == element || (!owned->hwnd() && InTree(owned.get(), element))) return true;
    }
    return false;
}

bool ShownBelow(UIObject* host, UIObject* element) {
    for (UIObject* at = element; at && at != host; at = at->parent())
        if (!at->visible()) return false;
    return true;
}

bool EnabledBelow(UIObject* host, UIObject* element) {
    for (UIObject* at = element; at && at != host; at = at->parent())
        if (!at->enabled()) return false;
    return true;
}

// The window or one of its child windows (an element's native editor) has
// the keyboard.
bool HasFocus(HWND hwnd) {
    const HWND focus = ::GetFocus();
    return focus && (focus == hwnd || ::IsChild(hwnd, focus));
}

HRESULT ToBstr(const std::wstring& text, BSTR* out) {
    *out = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : E_OUTOFMEMORY;
}

void SetEmpty(VARIANT* variant) {
    variant->vt = VT_EMPTY;
    variant->lVal = 0;
}

void SetI4(VARIANT* variant, long value) {
    variant->vt = VT_I4;
    variant->lVal = value;
}

// The element under `point` (host client coordinates): the last drawn of the
// visible exposed elements that contain it.
UIObject* ExposedAt(UIObject* host, POINT point) {
    UIObject* found = nullptr;
    auto visit = [&](UIObject* element) {
        if (ShownBelow(host, element) && ::PtInRect(&element->rect(), point)) found = element;
        return false;
    };
    ForEachExposed(host, visit);
    return found;
}

void RaiseEvent(UIObject* host, UIObject* element, DWORD event) {
    long id = CHILDID_SELF;
    if (element != host) {
        id = AccessibleChildId(host, element);
        if (id == 0 && event != EVENT_OBJECT_FOCUS) return;
    }
    ::NotifyWinEvent(event, host->hwnd(), OBJID_CLIENT, id);
}

}  // namespace

long AccessibleChildId(UIObject* host, UIObject* element) {
    long id = 0, at = 0;
    auto visit = [&](UIObject* candidate) {
        ++at;
        if (candidate != element) return false;
        id = at;
        return true;
    };
    if (host && element) ForEachExposed(host, visit);
    return id;
}

UIObject* AccessibleChildAt(UIObject* host, long childId) {
    UIObject* found = nullptr;
    long at = 0;
    auto visit = [&](UIObject* candidate) {
        if (++at != childId) return false;
        found = candidate;
        return true;
    };
    if (host && childId > 0) ForEachExposed(host, visit);
    return found;
}

long AccessibleChildCount(UIObject* host) {
    long count = 0;
    auto visit = [&](UIObject*) {
        ++count;
        return false;
    };
    if (host) ForEachExposed(host, visit);
    return count;
}

void NotifyElementEvent(UIObject* element, DWORD event) {
    UIObject* host = element ? element->HostObject() : nullptr;
    const HWND hwnd = host ? host->hwnd() : nullptr;
    if (!hwnd || !::IsWindow(hwnd)) return;
    if (::GetWindowThreadProcessId(hwnd, nullptr) != ::GetCurrentThreadId()) {
        // Only the window's thread walks the tree (it may be changing it).
        ::PostMessageW(hwnd, kAccessibleEventMessage, event, reinterpret_cast<LPARAM>(element));
        return;
    }
    RaiseEvent(host, element, event);
}

// ---- The accessible object ------------------------------------------------------

UIAccessible::UIAccessible(UIObject* host) : host_(host), hwnd_(host->hwnd()) {}

void UIAccessible::Disconnect() {
    if (!host_) return;
    host_ = nullptr;
    hwnd_ = nullptr;
    // Releases the stubs that clients in other processes call through.
    ::CoDisconnectObject(static_cast<IAccessible*>(this), 0);
}

HRESULT UIAccessible::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (riid == __uuidof(IUnknown) || riid == __uuidof(IDispatch) || riid == __uuidof(IAccessible)) {
        *object = static_cast<IAccessible*>(this);
    } else if (riid == __uuidof(IOleWindow)) {
        *object = static_cast<IOleWindow*>(this);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG UIAccessible::AddRef() { return static_cast<ULONG>(::InterlockedIncrement(&references_)); }

ULONG UIAccessible::Release() {
    const LONG left = ::InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

HRESULT UIAccessible::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT UIAccessible::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return E_NOTIMPL;
}

HRESULT UIAccessible::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

HRESULT UIAccessible::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
    return E_NOTIMPL;
}

UIObject* UIAccessible::Resolve(const VARIANT& child, HRESULT& result) const {
    if (!host_) {
        result = RPC_E_DISCONNECTED;
        return nullptr;
    }
    if (child.vt != VT_I4) {
        result = E_INVALIDARG;
        return nullptr;
    }
    if (child.lVal == CHILDID_SELF) return host_;
    UIObject* element = AccessibleChildAt(host_, child.lVal);
    if (!element) result = E_INVALIDARG;
    return element;
}

HRESULT UIAccessible::get_accParent(IDispatch** parent) {
    if (!parent) return E_POINTER;
    *parent = nullptr;
    if (!host_) return RPC_E_DISCONNECTED;
    const HRESULT result =
        ::CreateStdAccessibleObject(hwnd_, OBJID_WINDOW, __uuidof(IDispatch), reinterpret_cast<void**>(parent));
    if (SUCCEEDED(result) && !*parent) return E_FAIL;
    return result;
}

HRESULT UIAccessible::get_accChildCount(long* count) {
    if (!count) return E_POINTER;
    *count = 0;
    if (!host_) return RPC_E_DISCONNECTED;
    *count = AccessibleChildCount(host_);
    return S_OK;
}

HRESULT UIAccessible::get_accChild(VARIANT child, IDispatch** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    HRESULT result = S_OK;
    UIObject* element = Resolve(child, result);
    if (!element) return result;
    // The elements are simple children of this object.
    return element == host_ ? E_INVALIDARG : S_FALSE;
}

HRESULT UIAccessible::get_accName(VARIANT child, BSTR* name) {
    if (!name) return E_POINTER;
    *name = nullptr;
    HRESULT result = S_OK;
    UIObject* element = Resolve(child, result);
    if (!element) return result;
    std::wstring text;
    if (element != host_) {
        text = element->AccessibleName();
    } else {
        // The window's title, or the title drawn by the first label.
        const int length = ::GetWindowTextLengthW(hwnd_);
        if (length > 0) {
            text.resize(static_cast<size_t>(length) + 1);
            text.resize(static_cast<size_t>(::GetWindowTextW(hwnd_, &text[0], length + 1)));
        }
        auto visit = [&](UIObject* candidate) {
            if (candidate->AccessibleRole() != ROLE_SYSTEM_STATICTEXT) return false;
            text = candidate->AccessibleName();
            return !text.empty();
        };
        if (text.empty()) ForEachExposed(host_, visit);
    }
    if (text.empty()) return S_FALSE;
    return ToBstr(text, name);
}

HRESULT UIAccessible::get_accValue(VARIANT child, BSTR* value) {
    if (!value) return E_POINTER;
    *value = nullptr;
    HRESULT result = S_OK;
    UIObject* element = Resolve(child, result);
    if (!element) return result;
    std::wstring text;
    if (element == host_ || !element->AccessibleValue(text)) return DISP_E_MEMBERNOTFOUND;
    return ToBstr(text, value);
}

HRESULT UIAccessible::get_accDescription(VARIANT child, BSTR* description) {
    if (!description) return E_POINTER;
    *description = nullptr;
    HRESULT result = S_OK;
    return Resolve(child, result) ? S_FALSE : result;
}

HRESULT UIAccessible::get_accRole(VARIANT child, VARIANT* role) {
    if (!role) return E_POINTER;
    SetEmpty(role);
    HRESULT result = S_OK;
    UIObject* element = Resolve(child, result);
    if (!element) return result;
    SetI4(role, element == host_ ? ROLE_SYSTEM_CLIENT : static_cast<long>(element->AccessibleRole()));
    return S_OK;
}

HRESULT UIAccessible::get_accState(VARIANT child, VARIANT* state) {
    if (!state) return E_POINTER;
    SetEmpty(state);
    HRESULT result = S_OK;
    UIObject* element = Resolve(child, result);
    if (!element) return result;
    const bool windowShown = ::IsWindowVisible(hwnd_) != FALSE;
    const bool windowEnabled = ::IsWindowEnabled(hwnd_) != FALSE;
    const bool focused = HasFocus(hwnd_);
    UIObject* focusElement = host_->focusChild();
    if (focusElement && AccessibleChildId(host_, focusElement) == 0) focusElement = nullptr;
    DWORD flags = 0;
    if (element == host_) {
        flags = STATE_SYSTEM_FOCUSABLE;
        if (focused && !focusElement) flags |= STATE_SYSTEM_FOCUSED;
    } else {
        flags = element->AccessibleState();
        if (!ShownBelow(host_, element)) flags |= STATE_SYSTEM_INVISIBLE;
        if (!EnabledBelow(host_, element)) flags |= STATE_SYSTEM_UNAVAILABLE;
        if (element->IsTabStop()) flags |= STATE_SYSTEM_FOCUSABLE;
        if (focused && focusElement == element) flags |= STATE_SYSTEM_FOCUSED;
    }
    if (!windowShown) flags |= STATE_SYSTEM_INVISIBLE;
    if (!windowEnabled) flags |= STATE_SYSTEM_UNAVAILABLE;
    SetI4(state, static_cast<long>(flags));
    return S_OK;
}

HRESULT UIAccessible::get_accHelp(VARIANT child, BSTR* help) {
    if (!help) return E_POINTER;
    *help = nullptr;
    HRESULT result = S_OK;
    return Resolve(child, result) ? S_FALSE : result;
}

HRESULT UIAccessible::get_accHelpTopic(BSTR* file, VARIANT child, long* topic) {
    if (file) *file = nullptr;
    if (topic) *topic = 0;
    HRESULT result = S_OK;
    return Resolve(child, result) ? DISP_E_MEMBERNOTFOUND : result;
}

HRESULT UIAccessible::get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) {
    if (!shortcut) return E_POINTER;
    *shortcut = nullptr;
    HRESULT result = S_OK;
    return Resolve(child, result) ? S_FALSE : result;
}

HRESULT UIAccessible::get_accFocus(VARIANT* child) {
    if (!child) return E_POINTER;
    SetEmpty(child);
    if (!host_) return RPC_E_DISCONNECTED;
    if (!HasFocus(hwnd_)) return S_FALSE;
    SetI4(child, AccessibleChildId(host_, host_->focusChild()));
    return S_OK;
}

HRESULT UIAccessible::get_accSelection(VARIANT* children) {
    if (!children) return E_POINTER;
    SetEmpty(children);
    return host_ ? S_FALSE : RPC_E_DISCONNECTED;
}

HRESULT UIAccessible::get_accDefaultAction(VARIANT child, BSTR* action) {
    if (!action) return E_POINTER;
    *action = nullptr;
    HRESULT result = S_OK;
    UIObject* element = Resolve(child, result);
    if (!element) return result;
    const std::wstring name = element == host_ ? std::wstring() : element->AccessibleAction();
    if (name.empty()) return S_FALSE;
    return ToBstr(name, action);
}

HRESULT UIAccessible::accSelect(long flags, VARIANT child) {
    HRESULT result = S_OK;
    UIObject* element = Resolve(child, result);
    if (!element) return result;
    if (flags != SELFLAG_TAKEFOCUS) return DISP_E_MEMBERNOTFOUND;
    if (element != host_ && (!element->IsTabStop() || !element->Usable())) return E_FAIL;
    if (::GetFocus() != hwnd_) ::SetFocus(hwnd_);
    if (host_) host_->SetFocusElement(element == host_ ? nullptr : element);
    return S_OK;
}

HRESULT UIAccessible::accLocation(long* left, long* top, long* width, long* height, VARIANT child) {
    if (!left || !top || !width || !height) return E_POINTER;
    *left = *top = *width = *height = 0;
    HRESULT result = S_OK;
    UIObject* element = Resolve(child, result);
    if (!element) return result;
    RECT rect = element->rect();
    if (element == host_) ::GetClientRect(hwnd_, &rect);
    POINT origin = {rect.left, rect.top};
    ::ClientToScreen(hwnd_, &origin);
    *left = origin.x;
    *top = origin.y;
    *width = RectWidth(rect);
    *height = RectHeight(rect);
    return S_OK;
}

HRESULT UIAccessible::accNavigate(long direction, VARIANT start, VARIANT* end) {
    if (!end) return E_POINTER;
    SetEmpty(end);
    HRESULT result = S_OK;
    UIObject* from = Resolve(start, result);
    if (!from) return result;
    // The elements in tree order, hidden ones left out.
    long first = 0, last = 0, previous = 0, next = 0, at = 0;
    bool passed = false;
    auto visit = [&](UIObject* element) {
        ++at;
        if (element == from) {
            passed = true;
            return false;
        }
        if (!ShownBelow(host_, element)) return false;
        if (!first) first = at;
        last = at;
        if (!passed) previous = at;
        if (passed && !next) next = at;
        return false;
    };
    ForEachExposed(host_, visit);
    long found = 0;
    switch (direction) {
        case NAVDIR_FIRSTCHILD:
        case NAVDIR_LASTCHILD:
            if (from != host_) return E_INVALIDARG;
            found = direction == NAVDIR_FIRSTCHILD ? first : last;
            break;
        case NAVDIR_NEXT:
        case NAVDIR_PREVIOUS:
            // The client area's own siblings are the window's business.
            if (from == host_) return S_FALSE;
            found = direction == NAVDIR_NEXT ? next : previous;
            break;
        default:
            return DISP_E_MEMBERNOTFOUND;
    }
    if (!found) return S_FALSE;
    SetI4(end, found);
    return S_OK;
}

HRESULT UIAccessible::accHitTest(long x, long y, VARIANT* child) {
    if (!child) return E_POINTER;
    SetEmpty(child);
    if (!host_) return RPC_E_DISCONNECTED;
    POINT point = {x, y};
    ::ScreenToClient(hwnd_, &point);
    RECT client;
    ::GetClientRect(hwnd_, &client);
    if (!::PtInRect(&client, point)) return S_FALSE;
    SetI4(child, AccessibleChildId(host_, ExposedAt(host_, point)));
    return S_OK;
}

HRESULT UIAccessible::accDoDefaultAction(VARIANT child) {
    HRESULT result = S_OK;
    UIObject* element = Resolve(child, result);
    if (!element) return result;
    if (element == host_ || element->AccessibleAction().empty()) return DISP_E_MEMBERNOTFOUND;
    if (!element->Usable()) return E_FAIL;
    // Performed from the window's queue: the caller is answered first, and
    // an action that opens a dialog or closes the window does not run
    // inside this call.
    return ::PostMessageW(hwnd_, kAccessibleActionMessage, 0, reinterpret_cast<LPARAM>(element)) ? S_OK : E_FAIL;
}

HRESULT UIAccessible::put_accName(VARIANT, BSTR) { return host_ ? E_NOTIMPL : RPC_E_DISCONNECTED; }

HRESULT UIAccessible::put_accValue(VARIANT, BSTR) { return host_ ? E_NOTIMPL : RPC_E_DISCONNECTED; }

HRESULT UIAccessible::GetWindow(HWND* window) {
    if (!window) return E_POINTER;
    *window = hwnd_;
    return host_ ? S_OK : RPC_E_DISCONNECTED;
}

HRESULT UIAccessible::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

// ---- The host's side ------------------------------------------------------------

LRESULT UIObject::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
    switch (message) {
        case WM_GETOBJECT:
            if (static_cast<LONG>(static_cast<DWORD>(lParam)) != OBJID_CLIENT || !hwnd_) break;
            if (!accessible_) accessible_ = new UIAccessible(this);
            handled = true;
            return ::LresultFromObject(__uuidof(IAccessible), wParam, static_cast<IAccessible*>(accessible_));
        case kAccessibleEventMessage: {
            handled = true;
            UIObject* element = reinterpret_cast<UIObject*>(lParam);
            if (element == this || InTree(this, element)) RaiseEvent(this, element, static_cast<DWORD>(wParam));
            return 0;
        }
        case kAccessibleActionMessage: {
            handled = true;
            UIObject* element = reinterpret_cast<UIObject*>(lParam);
            if (InTree(this, element) && element->Usable()) element->Press();
            return 0;
        }
        default:
            break;
    }
    return CHWindow::OnMessage(message, wParam, lParam, handled);
}

LRESULT UIObject::OnNcDestroy(WPARAM wParam, LPARAM lParam) {
    ReleaseAccessible();
    return CHWindow::OnNcDestroy(wParam, lParam);
}

void UIObject::ReleaseAccessible() {
    if (!accessible_) return;
    accessible_->Disconnect();
    accessible_->Release();
    accessible_ = nullptr;
}

// ---- What the base element tells ------------------------------------------------

DWORD UIObject::AccessibleRole() { return accessibleRole_; }

std::wstring UIObject::AccessibleName() { return accessibleName_; }

DWORD UIObject::AccessibleState() { return 0; }

bool UIObject::AccessibleValue(std::wstring&) { return false; }

std::wstring UIObject::AccessibleAction() { return std::wstring(); }

}  // namespace quillo
