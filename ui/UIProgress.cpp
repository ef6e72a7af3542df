#include "ui/UIProgress.h"

#include "ui/SkinDraw.h"
#include "ui/UIAccessible.h"

namespace quillo {

UIProgress::UIProgress() { kind_ = kKindProgress; }

int UIProgress::LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) {
    const JValue* node = resource ? resource->GetNode(path, parentNode) : nullptr;
    if (!node) return 0;
    LoadIdAndSize(resource, node);
    bkgnd_ = resource->GetImageStyle("bkgnd", node);
    frgnd_ = resource->GetImageStyle("frgnd", node);
    return 1;
}

void UIProgress::SetRange() {
    minimum_ = 0;
    maximum_ = 100;
    Invalidate(nullptr);
}

void UIProgress::SetPos(int position) {
    const bool changed = position != position_;
    position_ = position;
    Invalidate(nullptr);
    if (changed) NotifyElementEvent(this, EVENT_OBJECT_VALUECHANGE);
}

RECT UIProgress::FilledRect(const RECT& rect) const {
    if (minimum_ >= maximum_) return RECT{rect.left, rect.top, rect.left, rect.bottom};
    // The position is not offset by the minimum.
    const long long width = rect.right - rect.left;
    const int filled = static_cast<int>(width * position_ / (maximum_ - minimum_));
    return RECT{rect.left, rect.top, rect.left + filled, rect.bottom};
}

void UIProgress::Draw(HDC hdc, const RECT& rect, const RECT&) {
    DrawImageStyle(hdc, rect, bkgnd_);
    if (minimum_ < maximum_) DrawImageStyle(hdc, FilledRect(rect), frgnd_);
}

// ---- Accessibility ----------------------------------------------------------------

DWORD UIProgress::AccessibleRole() { return accessibleRole_ ? accessibleRole_ : ROLE_SYSTEM_PROGRESSBAR; }

DWORD UIProgress::AccessibleState() { return STATE_SYSTEM_READONLY; }

bool UIProgress::AccessibleValue(std::wstring& value) {
    long long percent = position_;
    if (maximum_ > minimum_) percent = (static_cast<long long>(position_) - minimum_) * 100 / (maximum_ - minimum_);
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    value = std::to_wstring(percent) + L"%";
    return true;
}

}  // namespace quillo
