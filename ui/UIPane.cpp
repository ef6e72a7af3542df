#include "ui/UIPane.h"

#include "ui/SkinDraw.h"
#include "ui/UIAccessible.h"

namespace quillo {

UIPane::UIPane() { kind_ = kKindPane; }

int UIPane::LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) {
    const JValue* node = resource ? resource->GetNode(path, parentNode) : nullptr;
    if (!node) return 0;
    LoadIdAndSize(resource, node);
    bkgnd_ = resource->GetImageStyle("bkgnd", node);
    return 1;
}

void UIPane::Draw(HDC hdc, const RECT& rect, const RECT&) { DrawImageStyle(hdc, rect, bkgnd_); }

// ---- Accessibility ----------------------------------------------------------------

DWORD UIPane::AccessibleRole() {
    if (accessibleRole_) return accessibleRole_;
    return accessibleName_.empty() ? 0 : ROLE_SYSTEM_GRAPHIC;
}

DWORD UIPane::AccessibleState() { return STATE_SYSTEM_READONLY; }

}  // namespace quillo
