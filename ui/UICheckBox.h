// Check boxes: UICheckBox (kind 10), UICheckBoxEx (kind 11, separate image
// sets for the checked and unchecked sides) and UIRadioBox (kind 12).
#pragma once

#include <string>

#include "ui/UIButton.h"

namespace quillo {

class UICheckBox : public UIObject {
public:
    UICheckBox();

    int LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) override;
    void Draw(HDC hdc, const RECT& rect, const RECT& clip) override;
    LRESULT HandleMouseEnter(UINT flags, POINT point) override;
    LRESULT HandleMouseLeave(UINT flags, POINT point) override;
    LRESULT HandleLButtonDown(UINT flags, POINT point) override;
    LRESULT HandleLButtonDblClk(UINT flags, POINT point) override;
    LRESULT HandleLButtonUp(UINT flags, POINT point) override;
    LRESULT HandleShow(bool visible) override;
    bool Press() override;
    // Accessibility: a check box named by its text.
    DWORD AccessibleRole() override;
    std::wstring AccessibleName() override;
    DWORD AccessibleState() override;
    std::wstring AccessibleAction() override;

    // Sets the box without telling anyone but screen readers.
    void SetCheck(bool checked);
    bool checked() const { return checked_; }
    void SetText(const std::wstring& text);
    const std::wstring& text() const { return text_; }
    int state() const { return state_; }

protected:
    // Image index for the current state; a checked box shows "pressed"
    // except while lighted.
    virtual int LookIndex() const;
    void DrawText(HDC hdc, const RECT& rect, int index) const;
    // The focused look in place of the normal one while the box shows the focus.
    int FocusIndex(int index) const;

    ButtonLook look_;
    std::wstring text_;
    bool checked_ = false;
    int state_ = kStateNormal;
};

class UICheckBoxEx : public UICheckBox {
public:
    UICheckBoxEx();

    int LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) override;
    void Draw(HDC hdc, const RECT& rect, const RECT& clip) override;

protected:
    int LookIndex() const override;

    ButtonLook checkedLook_;  // images only; texts are in look_
};

class UIRadioBox : public UICheckBox {
public:
    UIRadioBox();

    LRESULT HandleMouseEnter(UINT flags, POINT point) override;
    LRESULT HandleMouseLeave(UINT flags, POINT point) override;
    LRESULT HandleLButtonDown(UINT flags, POINT point) override;
    LRESULT HandleLButtonDblClk(UINT flags, POINT point) override;
    LRESULT HandleLButtonUp(UINT flags, POINT point) override;
    bool Press() override;
    DWORD AccessibleRole() override;
    std::wstring AccessibleAction() override;
    // Clears every sibling radio box.
    virtual void UncheckSiblings();

    // A locked box ignores the mouse.
    void SetLocked(bool locked) { locked_ = locked; }
    bool locked() const { return locked_; }

private:
    // Checks the box, clears its siblings and reports the click.
    void Select();
    bool locked_ = false;
};

}  // namespace quillo
