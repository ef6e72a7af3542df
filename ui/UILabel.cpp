#include "ui/UILabel.h"

#include "ui/SkinDraw.h"
#include "ui/UIAccessible.h"

namespace quillo {

UILabel::UILabel() {
    kind_ = kKindLabel;
    notHitTarget_ = true;
    style_.align = DT_CENTER | DT_VCENTER | DT_SINGLELINE;
    ::InitializeCriticalSection(&lock_);
}

UILabel::~UILabel() { ::DeleteCriticalSection(&lock_); }

int UILabel::LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) {
    const JValue* node = resource ? resource->GetNode(path, parentNode) : nullptr;
    if (!node) return 0;
    size_ = resource->GetRect("size", node);
    style_ = resource->GetTextStyle("text", node);
    return 1;
}

void UILabel::Draw(HDC hdc, const RECT& rect, const RECT&) {
    const std::wstring text = GetText();
    if (!text.empty()) DrawTextStyle(hdc, rect, text.c_str(), style_);
}

void UILabel::SetText(const std::wstring& text) {
    ::EnterCriticalSection(&lock_);
    const bool changed = text != text_;
    text_ = text;
    ::LeaveCriticalSection(&lock_);
    Invalidate(nullptr);
    // Raised on the window's thread when called from another.
    if (changed && accessibleName_.empty()) NotifyElementEvent(this, EVENT_OBJECT_NAMECHANGE);
}

std::wstring UILabel::GetText() const {
    ::EnterCriticalSection(&lock_);
    std::wstring copy = text_;
    ::LeaveCriticalSection(&lock_);
    return copy;
}

// ---- Accessibility ----------------------------------------------------------------

DWORD UILabel::AccessibleRole() { return accessibleRole_ ? accessibleRole_ : ROLE_SYSTEM_STATICTEXT; }

std::wstring UILabel::AccessibleName() { return accessibleName_.empty() ? GetText() : accessibleName_; }

DWORD UILabel::AccessibleState() { return STATE_SYSTEM_READONLY; }

}  // namespace quillo
