// CXEdit: a single-line editor drawn entirely by the toolkit (text, caret,
// selection) without a native window. The editing rules live in EditModel;
// this class measures with GDI, paints, blinks the caret and turns mouse and
// keyboard events into model operations.
#pragma once

#include <windows.h>

#include <string>

#include "ui/EditModel.h"
#include "ui/UIEditBox.h"

namespace quillo {

class CXEdit : public UIEditBox {
public:
    // Blink period of the caret.
    static constexpr UINT kCaretBlinkMs = 500;
    // Highlight behind the selected characters.
    static constexpr DWORD kSelectionArgb = 0xFF3399FF;
    // The caret line.
    static constexpr DWORD kCaretArgb = 0xFE000000;

    CXEdit();
    ~CXEdit() override;

    void Draw(HDC hdc, const RECT& rect, const RECT& clip) override;
    LRESULT HandleSetFocus(UIObject* oldFocus) override;
    LRESULT HandleKillFocus(UIObject* newFocus) override;
    LRESULT HandleTimer(UINT_PTR id) override;
    int UpdateCursor() override;
    // Places the caret and drags a selection until the button is released.
    LRESULT HandleLButtonDown(UINT flags, POINT point) override;
    LRESULT HandleLButtonDblClk(UINT flags, POINT point) override;
    LRESULT HandleLButtonUp(UINT flags, POINT point) override;
    LRESULT HandleMouseMove(UINT flags, POINT point) override;
    LRESULT HandleKeyDown(UINT key, UINT flags) override;
    LRESULT HandleChar(UINT code, UINT flags) override;
    // Accessibility: editable (not read-only) text.
    DWORD AccessibleState() override;

    std::wstring GetText() override;
    // A different text puts the caret at its end; always notifies the parent.
    void SetText(const std::wstring& text) override;

    // -1 (the initial value) = unlimited.
    void SetMaxLength(int maxLength) { model_.SetMaxLength(maxLength); }
    int maxLength() const { return model_.maxLength(); }

    const EditModel& model() const { return model_; }
    // Character index under a point in host client coordinates.
    size_t HitTest(POINT point);
    // Where the text was at the last paint.
    const RECT& lastTextRect() const { return lastTextRect_; }
    UINT_PTR caretTimer() const { return timer_; }

private:
    // Sends EN_UPDATE to the parent and repaints, as `effect` asks.
    void Apply(unsigned effect);
    void Notify();

    EditModel model_;
    RECT lastTextRect_ = {};
    UINT_PTR timer_ = static_cast<UINT_PTR>(-1);
};

}  // namespace quillo
