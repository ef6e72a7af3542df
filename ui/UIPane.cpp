#include "ui/UIPane.h"

#include "ui/SkinDraw.h"

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

}  // namespace quillo
