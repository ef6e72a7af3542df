#include "ui/UIButton.h"

#include "ui/SkinDraw.h"
#include "ui/UIAccessible.h"

namespace quillo {

namespace {

const char* const kStateNames[5] = {"normal", "grayed", "lighted", "pressed", "focused"};

RECT Shrink(const RECT& rect, const RECT& margin) {
    return RECT{rect.left + margin.left, rect.top + margin.top, rect.right - margin.right, rect.bottom - margin.bottom};
}

}  // namespace

void ButtonLook::LoadImages(UIResource* resource, const JValue* node, const std::string& prefix) {
    for (int i = 0; i < 5; ++i) image[i] = resource->GetImageStyle(prefix + kStateNames[i], node);
}

void ButtonLook::LoadText(UIResource* resource, const JValue* node) {
    const JValue* textNode = resource->GetNode("Text", node);
    if (!textNode) return;
    margin = resource->GetRect("margin", textNode);
    for (int i = 0; i < 5; ++i) text[i] = resource->GetTextStyle(kStateNames[i], textNode);
}

const JValue* ButtonLook::Load(UIResource* resource, const std::string& path, const JValue* parentNode) {
    const JValue* node = resource ? resource->GetNode(path, parentNode) : nullptr;
    if (!node) return nullptr;
    LoadImages(resource, node);
    LoadText(resource, node);
    return node;
}

UIButton::UIButton() {
    kind_ = kKindButton;
    tabStop_ = true;
}

int UIButton::LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) {
    const JValue* node = look_.Load(resource, path, parentNode);
    if (!node) return 0;
    LoadIdAndSize(resource, node);
    return 1;
}

int UIButton::LookIndex() const {
    if (!enabled_) return kStateGrayed;
    if (state_ == kStateLighted) return kStateLighted;
    if (state_ == kStatePressed) return kStatePressed;
    // Focus shows only once the keyboard is used in the window.
    if (ShowsFocus()) return kStateFocused;
    return kStateNormal;
}

void UIButton::Draw(HDC hdc, const RECT& rect, const RECT&) {
    const int index = LookIndex();
    DrawImageStyle(hdc, rect, look_.image[index]);
    if (text_.empty()) return;
    RECT textRect = Shrink(rect, PxRect(look_.margin));
    if (index == kStatePressed) ::OffsetRect(&textRect, Px(1), Px(1));
    DrawTextStyle(hdc, textRect, text_.c_str(), look_.text[index]);
}

LRESULT UIButton::HandleMouseEnter(UINT, POINT) {
    if (enabled_ && visible_ && state_ != kStateLighted) {
        state_ = kStateLighted;
        Invalidate(nullptr);
    }
    return 0;
}

LRESULT UIButton::HandleMouseLeave(UINT, POINT) {
    if (state_ != kStateNormal) {
        state_ = kStateNormal;
        Invalidate(nullptr);
    }
    return 0;
}

LRESULT UIButton::HandleLButtonDown(UINT, POINT) {
    if (state_ != kStatePressed) {
        state_ = kStatePressed;
        Invalidate(nullptr);
    }
    return 0;
}

LRESULT UIButton::HandleLButtonDblClk(UINT flags, POINT point) { return UIButton::HandleLButtonDown(flags, point); }

LRESULT UIButton::HandleLButtonUp(UINT, POINT) {
    if (state_ != kStateLighted) {
        state_ = kStateLighted;
        Invalidate(nullptr);
    }
    NotifyClick();
    return 0;
}

bool UIButton::Press() {
    if (!Usable()) return false;
    NotifyClick();
    return true;
}

LRESULT UIButton::HandleShow(bool) {
    state_ = kStateNormal;
    return 1;
}

void UIButton::NotifyClick() {
    if (parent_) parent_->OnChildCommand(this, WM_COMMAND, static_cast<WPARAM>(id_), reinterpret_cast<LPARAM>(this));
    SendToHost(WM_COMMAND, LOWORD(id_), reinterpret_cast<LPARAM>(GetHostWindow()));
}

void UIButton::SetText(const std::wstring& text) {
    const bool renamed = accessibleName_.empty() && text != text_;
    text_ = text;
    Invalidate(nullptr);
    if (renamed) NotifyElementEvent(this, EVENT_OBJECT_NAMECHANGE);
}

UIDropButton::UIDropButton() { kind_ = kKindDropButton; }

LRESULT UIDropButton::HandleMouseLeave(UINT flags, POINT point) {
    if (dropping_) return 0;  // the drop-down took the pointer; keep the look
    return UIButton::HandleMouseLeave(flags, point);
}

LRESULT UIDropButton::HandleLButtonUp(UINT, POINT) {
    dropping_ = true;
    ShowDropDown();
    dropping_ = false;
    POINT cursor = {-1, -1};
    bool over = false;
    if (HWND host = GetHostWindow()) {
        if (::GetCursorPos(&cursor) && ::ScreenToClient(host, &cursor)) over = ::PtInRect(&rect_, cursor) != FALSE;
    }
    state_ = over ? kStateLighted : kStateNormal;
    Invalidate(nullptr);
    return 0;
}

bool UIDropButton::Press() {
    if (!Usable()) return false;
    dropping_ = true;
    ShowDropDown();
    dropping_ = false;
    return true;
}

void UIDropButton::ShowDropDown() { SendToHost(WM_COMMAND, LOWORD(id_), 0); }

// ---- Accessibility ----------------------------------------------------------------

DWORD UIButton::AccessibleRole() { return accessibleRole_ ? accessibleRole_ : ROLE_SYSTEM_PUSHBUTTON; }

std::wstring UIButton::AccessibleName() { return accessibleName_.empty() ? text_ : accessibleName_; }

std::wstring UIButton::AccessibleAction() { return L"按下"; }

}  // namespace quillo
