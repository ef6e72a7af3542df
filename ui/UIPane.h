// UIPane (kind 1): an image panel without events.
#pragma once

#include <string>

#include "ui/UIObject.h"

namespace quillo {

class UIPane : public UIObject {
public:
    UIPane();

    int LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) override;
    void Draw(HDC hdc, const RECT& rect, const RECT& clip) override;
    // Accessibility: a graphic once a screen names it; not exposed otherwise.
    DWORD AccessibleRole() override;
    DWORD AccessibleState() override;

    void SetBackground(const ImageStyle& style) { bkgnd_ = style; }
    const ImageStyle& background() const { return bkgnd_; }

private:
    ImageStyle bkgnd_;
};

}  // namespace quillo
