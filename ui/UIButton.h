// Push buttons: UIButton (kind 2) and UIDropButton (kind 14), plus the
// per-state look (five image and text styles with a text margin) that the
// button and check-box families share.
#pragma once

#include <string>

#include "ui/UIObject.h"

namespace quillo {

// Visual states of the button family.
enum ButtonState : int { kStateNormal = 0, kStateGrayed = 1, kStateLighted = 2, kStatePressed = 3, kStateFocused = 4 };

// Image and text styles by state: 0 normal, 1 grayed, 2 lighted, 3 pressed,
// 4 focused.
struct ButtonLook {
    ImageStyle image[5];
    TextStyle text[5];
    RECT margin = {};

    // Image styles "<prefix>normal" ... "<prefix>focused" of `node`.
    void LoadImages(UIResource* resource, const JValue* node, const std::string& prefix = std::string());
    // The margin and text styles under "Text", when present.
    void LoadText(UIResource* resource, const JValue* node);
    // The element node at `path` with its five image styles and its text
    // styles loaded; null (nothing loaded) when the path is missing.
    const JValue* Load(UIResource* resource, const std::string& path, const JValue* parentNode);
};

class UIButton : public UIObject {
public:
    UIButton();

    int LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) override;
    void Draw(HDC hdc, const RECT& rect, const RECT& clip) override;
    LRESULT HandleMouseEnter(UINT flags, POINT point) override;
    LRESULT HandleMouseLeave(UINT flags, POINT point) override;
    LRESULT HandleLButtonDown(UINT flags, POINT point) override;
    LRESULT HandleLButtonDblClk(UINT flags, POINT point) override;
    LRESULT HandleLButtonUp(UINT flags, POINT point) override;
    LRESULT HandleShow(bool visible) override;
    bool Press() override;
    // Accessibility: a push button named by its text.
    DWORD AccessibleRole() override;
    std::wstring AccessibleName() override;
    std::wstring AccessibleAction() override;

    void SetText(const std::wstring& text);
    const std::wstring& text() const { return text_; }
    int state() const { return state_; }
    const ButtonLook& look() const { return look_; }

protected:
    // The style index Draw uses for the current state.
    int LookIndex() const;
    // Tells the parent chain, then the host window, that the button was clicked.
    void NotifyClick();

    ButtonLook look_;
    std::wstring text_;
    int state_ = kStateNormal;
};

// A button that opens a drop-down: the host shows it while handling the
// button's WM_COMMAND (lParam 0).
class UIDropButton : public UIButton {
public:
    UIDropButton();

    LRESULT HandleMouseLeave(UINT flags, POINT point) override;
    LRESULT HandleLButtonUp(UINT flags, POINT point) override;
    virtual void ShowDropDown();
    bool Press() override;

    bool dropping() const { return dropping_; }

private:
    bool dropping_ = false;
};

}  // namespace quillo
