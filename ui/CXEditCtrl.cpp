#include "ui/CXEditCtrl.h"

#include <vector>

#include "ui/SkinDraw.h"
#include "ui/UIAccessible.h"

namespace quillo {

LRESULT CXEditWnd::OnKillFocus(WPARAM wParam, LPARAM lParam) {
    if (!active_) return DefProc(WM_KILLFOCUS, wParam, lParam);
    // The Edit procedure tears down its caret first; then the text goes
    // back to the box and the window closes itself.
    const LRESULT result = DefProc(WM_KILLFOCUS, wParam, lParam);
    active_ = false;
    const int length = ::GetWindowTextLengthW(hwnd_);
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1, L'\0');
    const int copied = ::GetWindowTextW(hwnd_, buffer.data(), length + 1);
    if (owner_) owner_->SetText(std::wstring(buffer.data(), copied > 0 ? static_cast<size_t>(copied) : 0));
    ::PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    return result;
}

void CXEditWnd::OnDetach() {
    active_ = false;
    if (owner_) owner_->NativeDetached(this);
}

CXEditCtrl::CXEditCtrl() : font_(ToolkitDefaultFont()) { tabStop_ = true; }

CXEditCtrl::~CXEditCtrl() {
    if (native_) {
        if (native_->active() && native_->IsWindowValid()) ::PostMessageW(native_->hwnd(), WM_CLOSE, 0, 0);
        native_->Disown();
    }
    if (retired_) retired_->Disown();
}

void CXEditCtrl::NativeDetached(CXEditWnd* wnd) {
    if (native_.get() != wnd) return;
    // The object is still running its window procedure: keep it alive
    // until the next creation or the box's end.
    retired_ = std::move(native_);
    Invalidate();
}

RECT CXEditCtrl::NativeRect() const {
    // 4 px inside the box; one line of 12 px centred (at 96 DPI).
    const int inset = Px(4), line = Px(12);
    RECT r = {rect_.left + inset, rect_.top + inset, rect_.right - inset, rect_.bottom - inset};
    const int inner = RectHeight(rect_) - 2 * inset;
    if (!multiLine_ && inner > line) {
        r.top = rect_.top + inset + (inner - line) / 2;
        r.bottom = r.top + line;
    }
    return r;
}

DWORD CXEditCtrl::NativeStyle() const {
    DWORD style = WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL;
    if (password_) style |= ES_PASSWORD;
    if (multiLine_) style |= ES_MULTILINE | WS_VSCROLL;
    return style;
}

bool CXEditCtrl::CreateNative() {
    HWND host = GetHostWindow();
    if (!host || native_) return false;
    retired_.reset();
    const RECT r = NativeRect();
    HWND edit = ::CreateWindowExW(0, L"Edit", L"", NativeStyle(), r.left, r.top, RectWidth(r), RectHeight(r), host,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId_)),
                                  reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(host, GWLP_HINSTANCE)), nullptr);
    if (!edit) return false;
    auto wnd = std::make_unique<CXEditWnd>(this);
    if (!wnd->Attach(edit)) {
        ::DestroyWindow(edit);
        return false;
    }
    native_ = std::move(wnd);

    ::SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(FontForDpi(font_, dpi())), TRUE);
    ::SendMessageW(edit, EM_LIMITTEXT, static_cast<WPARAM>(maxLength_), 0);
    if (password_) ::SendMessageW(edit, EM_SETPASSWORDCHAR, static_cast<WPARAM>(passwordChar_), 0);
    ::SetWindowTextW(edit, text_.c_str());
    ::SendMessageW(edit, EM_SETMODIFY, FALSE, 0);
    ::SendMessageW(edit, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, 0);
    ::EnableWindow(edit, enabled_ ? TRUE : FALSE);
    ::SendMessageW(edit, EM_SETREADONLY, readOnly_ ? TRUE : FALSE, 0);
    if (extraStyle_) ::SetWindowLongW(edit, GWL_STYLE, ::GetWindowLongW(edit, GWL_STYLE) | static_cast<LONG>(extraStyle_));
    ::ShowWindow(edit, SW_SHOWNOACTIVATE);
    native_->SetActive(true);
    ::SetFocus(edit);
    return true;
}

void CXEditCtrl::SyncText() {
    if (!native_ || !native_->IsWindowValid()) return;
    HWND edit = native_->hwnd();
    const int length = ::GetWindowTextLengthW(edit);
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1, L'\0');
    const int copied = ::GetWindowTextW(edit, buffer.data(), length + 1);
    text_.assign(buffer.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
}

void CXEditCtrl::SetText(const std::wstring& text) {
    const bool changed = text != text_;
    text_ = text;
    if (changed && !password_) NotifyElementEvent(this, EVENT_OBJECT_VALUECHANGE);
    if (native_ && native_->active()) ::SetWindowTextW(native_->hwnd(), text_.c_str());
    Invalidate();
}

void CXEditCtrl::Draw(HDC hdc, const RECT&, const RECT&) {
    DrawImageStyle(hdc, rect_, bkgnd_);
    if (native_ || text_.empty()) return;
    const RECT layout = {textArea_.left + Px(2), textArea_.top + Px(2), textArea_.right, textArea_.bottom};
    // A password box does not show its text in the clear while inactive.
    const std::wstring shown = password_ ? std::wstring(text_.size(), passwordChar_) : text_;
    DrawTextStyle(hdc, layout, shown.c_str(), normal_, &textArea_);
}

LRESULT CXEditCtrl::HandleSetFocus(UIObject*) {
    if (!native_) {
        CreateNative();
        Invalidate();
    }
    focused_ = true;
    return 0;
}

LRESULT CXEditCtrl::HandleKillFocus(UIObject*) {
    focused_ = false;
    return 0;
}

LRESULT CXEditCtrl::HandleLButtonDown(UINT, POINT) {
    if (!enabled_) return 0;
    ::ReleaseCapture();
    if (native_) {
        HWND edit = native_->hwnd();
        const LRESULT length = ::GetWindowTextLengthW(edit);
        ::SendMessageW(edit, EM_SETSEL, 0, length > 0 ? length : 1);
    } else if (focused_) {
        CreateNative();
    }
    return 0;
}

int CXEditCtrl::UpdateCursor() {
    ::SetCursor(::LoadCursorW(nullptr, enabled_ ? IDC_IBEAM : IDC_ARROW));
    return 1;
}

// ---- Accessibility ----------------------------------------------------------------

DWORD CXEditCtrl::AccessibleState() {
    return (readOnly_ ? STATE_SYSTEM_READONLY : 0) | (password_ ? STATE_SYSTEM_PROTECTED : 0);
}

bool CXEditCtrl::AccessibleValue(std::wstring& value) {
    if (password_) return false;
    return UIEditBox::AccessibleValue(value);
}

}  // namespace quillo
