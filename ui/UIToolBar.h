// UIToolBar (kind 3): a row of icon items drawn from one image strip (columns
// are icons; rows are the looks normal, hot, pressed, disabled), with
// separators and per-item tooltips shown by the bar's own CHTooltip.
#pragma once

#include <string>
#include <vector>

#include "ui/CHBitmap.h"
#include "ui/CHWindow.h"
#include "ui/UIObject.h"

namespace quillo {

// A native tooltip control driven through CHWindow.
class CHTooltip : public CHWindow {
public:
    bool Create(HWND owner);
    // Adds or updates the tool `id` of `owner` covering `rect`.
    void SetTool(HWND owner, UINT_PTR id, const RECT& rect, const std::wstring& text);
    void RemoveTool(HWND owner, UINT_PTR id);
    bool HasTool(HWND owner, UINT_PTR id) const;
};

class UIToolBar : public UIObject {
public:
    struct Item {
        int id = 0;
        int icon = 0;
        RECT rect = {};
        bool visible = true;
        bool enabled = true;
        bool actionable = true;
        bool sticky = false;
        bool separator = false;
        std::wstring tooltip;
    };

    // Rows of the icon strip.
    enum Look { kLookNormal = 0, kLookHot = 1, kLookPressed = 2, kLookDisabled = 3 };

    UIToolBar();

    // "id", "size", "bkgnd", "seperator".
    int LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) override;
    void Layout() override;
    void Draw(HDC hdc, const RECT& rect, const RECT& clip) override;
    LRESULT HandleMouseMove(UINT flags, POINT point) override;
    LRESULT HandleMouseLeave(UINT flags, POINT point) override;
    LRESULT HandleLButtonDown(UINT flags, POINT point) override;
    LRESULT HandleLButtonUp(UINT flags, POINT point) override;
    int UpdateCursor() override;
    void RelayTooltipMessage(MSG* msg) override;

    // The strip (borrowed) and the size of one icon in it.
    void SetIcons(CHBitmap* strip, int iconWidth, int iconHeight);
    void SetMetrics(int itemWidth, int spacing, int separatorWidth);
    int AddItem(int id, int icon, const std::wstring& tooltip = std::wstring(), bool actionable = true,
                bool sticky = false);
    int AddSeparator();
    void SetItemVisible(int index, bool visible);
    void SetItemEnabled(int index, bool enabled);
    const std::vector<Item>& items() const { return items_; }
    int hotItem() const { return hot_; }
    bool pressed() const { return pressed_; }
    // Index of the enabled, visible, non-separator item at `point`, or -1.
    int ItemAt(POINT point) const;

private:
    void ArrangeItems();
    void SyncTooltips();

    ImageStyle bkgnd_;
    ImageStyle separatorStyle_;
    CHBitmap* strip_ = nullptr;
    int iconWidth_ = 16;
    int iconHeight_ = 16;
    int itemWidth_ = 24;
    int spacing_ = 2;
    int separatorWidth_ = 6;
    std::vector<Item> items_;
    int hot_ = -1;
    bool pressed_ = false;
    CHTooltip tooltip_;
};

}  // namespace quillo
