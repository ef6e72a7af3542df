// UIAccessible: what a screen reader sees of a host window's elements. The
// host answers WM_GETOBJECT (OBJID_CLIENT) with one such object, the window's
// client area, whose simple children (child ids 1..N) are the host's elements
// that have a role, in tree order. Each call walks the host's tree afresh, so
// no element pointer is kept between calls; when the host window goes the
// object is disconnected and answers RPC_E_DISCONNECTED from then on.
#pragma once

#include <windows.h>
#include <oleacc.h>

#include <string>

namespace quillo {

class UIObject;

// Private messages of a host: an element event raised on another thread
// (wParam the event, lParam the element), and a default action to perform
// (lParam the element). The element is looked for in the tree first.
constexpr UINT kAccessibleEventMessage = 0x6401;
constexpr UINT kAccessibleActionMessage = 0x6402;

class UIAccessible final : public IAccessible, public IOleWindow {
public:
    explicit UIAccessible(UIObject* host);
    UIAccessible(const UIAccessible&) = delete;
    UIAccessible& operator=(const UIAccessible&) = delete;

    // Forgets the host and cuts off clients in other processes.
    void Disconnect();
    bool connected() const { return host_ != nullptr; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

    // IAccessible
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override;
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override;
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override;
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override;
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override;
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override;
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override;
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override;
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override;
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override;
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override;
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override;
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override;
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override;
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override;
    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height, VARIANT child) override;
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override;
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* child) override;
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override;
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override;
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override;

    // IOleWindow
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL enterMode) override;

private:
    ~UIAccessible() = default;

    // The element that `child` names: the host for CHILDID_SELF, null (with
    // `result` set) when the object is disconnected or the id is not valid.
    UIObject* Resolve(const VARIANT& child, HRESULT& result) const;

    LONG references_ = 1;
    UIObject* host_;
    HWND hwnd_;
};

// The host's elements with a role, in tree order, are its children 1..N:
// the id of `element` (0 when it is not one of them), the element of an id
// (null when none), and N.
long AccessibleChildId(UIObject* host, UIObject* element);
UIObject* AccessibleChildAt(UIObject* host, long childId);
long AccessibleChildCount(UIObject* host);

// Announces `event` (EVENT_OBJECT_*) of `element` to screen readers: for the
// host itself, or a focus event of an element that is not exposed, as the
// client object (CHILDID_SELF). Callable from any thread: off the host's
// thread the event is posted to the host and raised there if the element is
// still in its tree.
void NotifyElementEvent(UIObject* element, DWORD event);

}  // namespace quillo
