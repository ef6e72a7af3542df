// UIProgress (kind 13): a bar whose foreground covers the share of the
// position in the range.
#pragma once

#include <string>

#include "ui/UIObject.h"

namespace quillo {

class UIProgress : public UIObject {
public:
    UIProgress();

    int LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) override;
    void Draw(HDC hdc, const RECT& rect, const RECT& clip) override;
    // Accessibility: a progress bar whose value is the percentage.
    DWORD AccessibleRole() override;
    DWORD AccessibleState() override;
    bool AccessibleValue(std::wstring& value) override;

    // Minimum 0, maximum 100.
    void SetRange();
    void SetPos(int position);
    int pos() const { return position_; }
    int minimum() const { return minimum_; }
    int maximum() const { return maximum_; }
    // The part of `rect` the foreground covers (empty while the range is empty).
    RECT FilledRect(const RECT& rect) const;

private:
    ImageStyle bkgnd_;
    ImageStyle frgnd_;
    int position_ = 0;
    int maximum_ = 0;
    int minimum_ = 0;
};

}  // namespace quillo
