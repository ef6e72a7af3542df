// CXEditCtrl: a skinned box that, while it has the keyboard focus, places a
// native "Edit" window (CXEditWnd) over itself and takes the text back when
// that window loses the focus.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "ui/CHWindow.h"
#include "ui/UIEditBox.h"

namespace quillo {

class CXEditCtrl;

// The native "Edit" window of an active CXEditCtrl, subclassed through
// Attach so that the Edit class's procedure does the editing.
class CXEditWnd : public CHWindow {
public:
    explicit CXEditWnd(CXEditCtrl* owner) : owner_(owner) {}

    // Copies the text back to the box and closes the window.
    LRESULT OnKillFocus(WPARAM wParam, LPARAM lParam) override;
    void OnDetach() override;

    bool active() const { return active_; }
    void SetActive(bool active) { active_ = active; }
    void Disown() { owner_ = nullptr; }

private:
    CXEditCtrl* owner_;
    bool active_ = false;
};

class CXEditCtrl : public UIEditBox {
public:
    static constexpr int kDefaultMaxLength = 255;

    CXEditCtrl();
    // Closes a native window that is still open.
    ~CXEditCtrl() override;

    void Draw(HDC hdc, const RECT& rect, const RECT& clip) override;
    LRESULT HandleSetFocus(UIObject* oldFocus) override;
    LRESULT HandleKillFocus(UIObject* newFocus) override;
    LRESULT HandleLButtonDown(UINT flags, POINT point) override;
    int UpdateCursor() override;
    // Accessibility: read-only as set; a password box is protected and
    // tells no value.
    DWORD AccessibleState() override;
    bool AccessibleValue(std::wstring& value) override;

    // Reads the text typed so far in an open native window into the box.
    void SyncText() override;
    // Stores the text, and shows it in an open native window too.
    void SetText(const std::wstring& text) override;

    // Settings used when the native window is made.
    void SetControlId(int id) { controlId_ = id; }
    int controlId() const { return controlId_; }
    void SetMaxLength(int maxLength) { maxLength_ = maxLength; }
    int maxLength() const { return maxLength_; }
    void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
    void SetPassword(bool password, wchar_t passwordChar = L'*') {
        password_ = password;
        passwordChar_ = passwordChar;
    }
    void SetExtraStyle(DWORD style) { extraStyle_ = style; }
    void SetFont(HFONT font) { font_ = font; }
    bool focused() const { return focused_; }

    // The open native window, or null while the box draws itself.
    CXEditWnd* nativeWindow() const { return native_.get(); }
    HWND nativeHandle() const { return native_ ? native_->hwnd() : nullptr; }

    // Where the native window goes, in host client coordinates.
    RECT NativeRect() const;
    DWORD NativeStyle() const;

private:
    friend class CXEditWnd;

    bool CreateNative();
    // Called by the native window when it is detached from its handle.
    void NativeDetached(CXEditWnd* wnd);

    std::unique_ptr<CXEditWnd> native_;
    // A native window object whose handle is gone; deleted on the next
    // creation or with the box (it may still be on the call stack when it
    // is retired).
    std::unique_ptr<CXEditWnd> retired_;
    int controlId_ = 0;
    int maxLength_ = kDefaultMaxLength;
    bool readOnly_ = false;
    bool password_ = false;
    wchar_t passwordChar_ = L'*';
    DWORD extraStyle_ = 0;
    HFONT font_ = nullptr;
    bool focused_ = false;
};

}  // namespace quillo
