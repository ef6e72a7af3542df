#include "ui/UICheckBox.h"

#include "ui/SkinDraw.h"
#include "ui/UIAccessible.h"

namespace quillo {

UICheckBox::UICheckBox() {
    kind_ = kKindCheckBox;
    tabStop_ = true;
}

int UICheckBox::LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) {
    const JValue* node = look_.Load(resource, path, parentNode);
    if (!node) return 0;
    LoadIdAndSize(resource, node);
    return 1;
}

int UICheckBox::LookIndex() const {
    if (!enabled_) return kStateGrayed;
    if (state_ == kStateLighted) return kStateLighted;
    if (state_ == kStatePressed || checked_) return kStatePressed;
    return kStateNormal;
}

void UICheckBox::DrawText(HDC hdc, const RECT& rect, int index) const {
    if (text_.empty()) return;
    const RECT margin = PxRect(look_.margin);
    const RECT textRect = {rect.left + margin.left, rect.top + margin.top, rect.right - margin.right,
                           rect.bottom - margin.bottom};
    DrawTextStyle(hdc, textRect, text_.c_str(), look_.text[index]);
}

int UICheckBox::FocusIndex(int index) const {
    return enabled_ && ShowsFocus() && index == kStateNormal ? kStateFocused : index;
}

void UICheckBox::Draw(HDC hdc, const RECT& rect, const RECT&) {
    const int index = LookIndex();
    DrawImageStyle(hdc, rect, look_.image[FocusIndex(index)]);
    // The text shows the focus whether the box is ticked or not.
    DrawText(hdc, rect, enabled_ && ShowsFocus() ? kStateFocused : index);
}

bool UICheckBox::Press() {
    if (!Usable()) return false;
    checked_ = !checked_;
    Invalidate(nullptr);
    NotifyElementEvent(this, EVENT_OBJECT_STATECHANGE);
    SendToHost(WM_COMMAND, LOWORD(id_), reinterpret_cast<LPARAM>(GetHostWindow()));
    return true;
}

LRESULT UICheckBox::HandleMouseEnter(UINT, POINT) {
    if (enabled_ && visible_ && state_ != kStateLighted) {
        state_ = checked_ ? kStatePressed : kStateLighted;
        Invalidate(nullptr);
    }
    return 0;
}

LRESULT UICheckBox::HandleMouseLeave(UINT, POINT) {
    if (enabled_ && visible_ && state_ != kStateNormal) {
        state_ = kStateNormal;
        Invalidate(nullptr);
    }
    return 0;
}

LRESULT UICheckBox::HandleLButtonDown(UINT, POINT) {
    if (enabled_ && visible_ && state_ != kStatePressed) {
        state_ = kStatePressed;
        Invalidate(nullptr);
    }
    return 0;
}

LRESULT UICheckBox::HandleLButtonDblClk(UINT flags, POINT point) { return UICheckBox::HandleLButtonDown(flags, point); }

LRESULT UICheckBox::HandleLButtonUp(UINT, POINT) {
    if (!enabled_ || !visible_ || state_ == kStateLighted) return 0;
    state_ = kStateLighted;
    checked_ = !checked_;
    if (checked_) state_ = kStatePressed;
    Invalidate(nullptr);
    NotifyElementEvent(this, EVENT_OBJECT_STATECHANGE);
    SendToHost(WM_COMMAND, LOWORD(id_), reinterpret_cast<LPARAM>(GetHostWindow()));
    return 0;
}

LRESULT UICheckBox::HandleShow(bool) {
    state_ = kStateNormal;
    return 1;
}

void UICheckBox::SetCheck(bool checked) {
    const bool changed = checked != checked_;
    checked_ = checked;
    state_ = kStateNormal;
    Invalidate(nullptr);
    if (changed) NotifyElementEvent(this, EVENT_OBJECT_STATECHANGE);
}

void UICheckBox::SetText(const std::wstring& text) {
    const bool renamed = accessibleName_.empty() && text != text_;
    text_ = text;
    Invalidate(nullptr);
    if (renamed) NotifyElementEvent(this, EVENT_OBJECT_NAMECHANGE);
}

// ---- UICheckBoxEx ---------------------------------------------------------------

UICheckBoxEx::UICheckBoxEx() { kind_ = kKindCheckBoxEx; }

int UICheckBoxEx::LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) {
    const JValue* node = resource ? resource->GetNode(path, parentNode) : nullptr;
    if (!node) return 0;
    LoadIdAndSize(resource, node);
    look_.LoadImages(resource, node, "Unchecked/");
    checkedLook_.LoadImages(resource, node, "Checked/");
    look_.LoadText(resource, node);
    return 1;
}

int UICheckBoxEx::LookIndex() const {
    if (!enabled_) return kStateGrayed;
    if (state_ == kStateLighted) return kStateLighted;
    if (state_ == kStatePressed) return kStatePressed;
    return kStateNormal;
}

void UICheckBoxEx::Draw(HDC hdc, const RECT& rect, const RECT&) {
    const int index = LookIndex();
    DrawImageStyle(hdc, rect, (checked_ ? checkedLook_ : look_).image[FocusIndex(index)]);
    DrawText(hdc, rect, enabled_ && ShowsFocus() ? kStateFocused : index);
}

// ---- UIRadioBox ---------------------------------------------------------------------

UIRadioBox::UIRadioBox() { kind_ = kKindRadioBox; }

LRESULT UIRadioBox::HandleMouseEnter(UINT flags, POINT point) {
    return locked_ ? 0 : UICheckBox::HandleMouseEnter(flags, point);
}

LRESULT UIRadioBox::HandleMouseLeave(UINT flags, POINT point) {
    return locked_ ? 0 : UICheckBox::HandleMouseLeave(flags, point);
}

LRESULT UIRadioBox::HandleLButtonDown(UINT flags, POINT point) {
    return locked_ ? 0 : UICheckBox::HandleLButtonDown(flags, point);
}

LRESULT UIRadioBox::HandleLButtonDblClk(UINT flags, POINT point) {
    return locked_ ? 0 : UICheckBox::HandleLButtonDown(flags, point);
}

LRESULT UIRadioBox::HandleLButtonUp(UINT, POINT) {
    if (locked_ || !enabled_ || !visible_ || checked_) return 0;
    state_ = kStatePressed;
    Select();
    return 0;
}

bool UIRadioBox::Press() {
    if (locked_ || !Usable()) return false;
    if (!checked_) Select();
    return true;
}

void UIRadioBox::Select() {
    checked_ = true;
    UncheckSiblings();
    Invalidate(nullptr);
    NotifyElementEvent(this, EVENT_OBJECT_STATECHANGE);
    if (parent_) parent_->OnChildCommand(this, WM_COMMAND, static_cast<WPARAM>(id_), reinterpret_cast<LPARAM>(this));
    SendToHost(WM_COMMAND, LOWORD(id_), reinterpret_cast<LPARAM>(GetHostWindow()));
}

void UIRadioBox::UncheckSiblings() {
    if (!parent_) return;
    for (const auto& sibling : parent_->children()) {
        if (sibling.get() == this || sibling->kind() != kKindRadioBox) continue;
        UIRadioBox* radio = static_cast<UIRadioBox*>(sibling.get());
        const bool changed = radio->checked_;
        radio->checked_ = false;
        radio->state_ = kStateNormal;
        radio->Invalidate(nullptr);
        if (changed) NotifyElementEvent(radio, EVENT_OBJECT_STATECHANGE);
    }
}

// ---- Accessibility ----------------------------------------------------------------

DWORD UICheckBox::AccessibleRole() { return accessibleRole_ ? accessibleRole_ : ROLE_SYSTEM_CHECKBUTTON; }

std::wstring UICheckBox::AccessibleName() { return accessibleName_.empty() ? text_ : accessibleName_; }

DWORD UICheckBox::AccessibleState() { return checked_ ? STATE_SYSTEM_CHECKED : 0; }

std::wstring UICheckBox::AccessibleAction() { return checked_ ? L"清除" : L"选中"; }

DWORD UIRadioBox::AccessibleRole() { return accessibleRole_ ? accessibleRole_ : ROLE_SYSTEM_RADIOBUTTON; }

std::wstring UIRadioBox::AccessibleAction() { return L"选中"; }

}  // namespace quillo
