// UIEditBox (element kind 15): the read-only text view with a skinned
// vertical scroll bar, and the base of the two editors CXEdit (drawn by the
// toolkit) and CXEditCtrl (a native "Edit" window while focused).
#pragma once

#include <windows.h>

#include <string>

#include "ui/EditModel.h"
#include "ui/UIObject.h"
#include "ui/UIResource.h"

namespace quillo {

class UIScrollBar;

class UIEditBox : public UIObject {
public:
    UIEditBox();
    ~UIEditBox() override;

    // "id", "size", "bkgnd", "Text/margin", "Text/normal", "Text/grayed" and
    // the scroll bar's "ScrollBar/thumb", "ScrollBar/trackbar".
    int LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) override;
    // After the element layout: the text area, and for a multi-line box the
    // scroll bar's place and range from the measured text height.
    void Layout() override;
    void Draw(HDC hdc, const RECT& rect, const RECT& clip) override;
    // WM_VSCROLL from the scroll bar moves the text.
    LRESULT OnChildCommand(UIObject* child, UINT message, WPARAM wParam, LPARAM lParam) override;
    LRESULT HandleMouseWheel(UINT keys, int delta, POINT point) override;
    // Accessibility: editable text whose value is the text; this box is
    // read-only.
    DWORD AccessibleRole() override;
    DWORD AccessibleState() override;
    bool AccessibleValue(std::wstring& value) override;

    virtual std::wstring GetText();
    // Brings the stored text up to date with text still being typed
    // elsewhere; nothing here.
    virtual void SyncText();
    virtual void SetText(const std::wstring& text);

    // Multi-line boxes scroll (bar and wheel); false by default.
    void SetMultiLine(bool multiLine);
    bool multiLine() const { return multiLine_; }

    UIScrollBar* scrollBar() const { return scrollBar_; }
    const RECT& textArea() const { return textArea_; }
    const RECT& textMargin() const { return margin_; }
    int scrollOffset() const { return scrollOffset_; }
    const TextStyle& normalStyle() const { return normal_; }
    const ImageStyle& background() const { return bkgnd_; }

protected:
    // The text area and, for a multi-line box, the scroll bar.
    void LayoutTextArea();
    // The text area without the margin.
    RECT InnerTextArea();
    // Measures the text and sets the scroll bar's range (multi-line boxes).
    void UpdateScrollRange();
    ScrollRange CurrentRange() const;
    void ScrollTo(int pos);

    TextStyle normal_;
    TextStyle grayed_;
    ImageStyle bkgnd_;
    std::wstring text_;
    bool multiLine_ = false;
    UIScrollBar* scrollBar_ = nullptr;  // owned as a child
    RECT margin_ = {};
    RECT textArea_ = {};
    int scrollOffset_ = 0;
};

// Makes CreateControl build a UIEditBox for kind 15. Runs by itself when
// this unit is linked in; calling it again is harmless.
void RegisterEditBoxKind();

}  // namespace quillo
