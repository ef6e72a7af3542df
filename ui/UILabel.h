// UILabel (kind 9): static text. Its text may be set from any thread.
#pragma once

#include <string>

#include "ui/UIObject.h"

namespace quillo {

class UILabel : public UIObject {
public:
    UILabel();
    ~UILabel() override;

    int LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) override;
    void Draw(HDC hdc, const RECT& rect, const RECT& clip) override;
    // Accessibility: static text named by its text.
    DWORD AccessibleRole() override;
    std::wstring AccessibleName() override;
    DWORD AccessibleState() override;

    // Thread-safe: stores a copy under the label's lock, then asks the host
    // window for a repaint.
    void SetText(const std::wstring& text);
    std::wstring GetText() const;
    const TextStyle& style() const { return style_; }

private:
    mutable CRITICAL_SECTION lock_;
    std::wstring text_;
    TextStyle style_;
};

}  // namespace quillo
