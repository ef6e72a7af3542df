#include "ui/UIToolBar.h"

#include <commctrl.h>

#include <algorithm>

#include "ui/SkinDraw.h"

namespace quillo {

// ---- CHTooltip ---------------------------------------------------------------------

bool CHTooltip::Create(HWND owner) {
    if (hwnd_) return true;
    return CHWindow::Create(owner, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                            WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, WS_EX_TOPMOST, L"", TOOLTIPS_CLASSW);
}

void CHTooltip::SetTool(HWND owner, UINT_PTR id, const RECT& rect, const std::wstring& text) {
    if (!hwnd_) return;
    TOOLINFOW info = {};
    info.cbSize = TTTOOLINFOW_V2_SIZE;
    info.hwnd = owner;
    info.uId = id;
    info.rect = rect;
    info.lpszText = const_cast<wchar_t*>(text.c_str());
    if (HasTool(owner, id))
        ::SendMessageW(hwnd_, TTM_SETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&info));
    else
        ::SendMessageW(hwnd_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
}

void CHTooltip::RemoveTool(HWND owner, UINT_PTR id) {
    if (!hwnd_) return;
    TOOLINFOW info = {};
    info.cbSize = TTTOOLINFOW_V2_SIZE;
    info.hwnd = owner;
    info.uId = id;
    ::SendMessageW(hwnd_, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&info));
}

bool CHTooltip::HasTool(HWND owner, UINT_PTR id) const {
    if (!hwnd_) return false;
    TOOLINFOW info = {};
    info.cbSize = TTTOOLINFOW_V2_SIZE;
    info.hwnd = owner;
    info.uId = id;
    return ::SendMessageW(hwnd_, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&info)) != 0;
}

// ---- UIToolBar -----------------------------------------------------------------------

UIToolBar::UIToolBar() { kind_ = kKindToolBar; }

int UIToolBar::LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) {
    const JValue* node = resource ? resource->GetNode(path, parentNode) : nullptr;
    if (!node) return 0;
    LoadIdAndSize(resource, node);
    bkgnd_ = resource->GetImageStyle("bkgnd", node);
    separatorStyle_ = resource->GetImageStyle("seperator", node);
    return 1;
}

void UIToolBar::Layout() {
    UIObject::Layout();
    ArrangeItems();
}

void UIToolBar::SetIcons(CHBitmap* strip, int iconWidth, int iconHeight) {
    strip_ = strip;
    iconWidth_ = iconWidth;
    iconHeight_ = iconHeight;
    ArrangeItems();
    Invalidate(nullptr);
}

void UIToolBar::SetMetrics(int itemWidth, int spacing, int separatorWidth) {
    itemWidth_ = itemWidth;
    spacing_ = spacing;
    separatorWidth_ = separatorWidth;
    ArrangeItems();
    Invalidate(nullptr);
}

int UIToolBar::AddItem(int id, int icon, const std::wstring& tooltip, bool actionable, bool sticky) {
    Item item;
    item.id = id;
    item.icon = icon;
    item.tooltip = tooltip;
    item.actionable = actionable;
    item.sticky = sticky;
    items_.push_back(item);
    ArrangeItems();
    Invalidate(nullptr);
    return static_cast<int>(items_.size()) - 1;
}

int UIToolBar::AddSeparator() {
    Item item;
    item.separator = true;
    item.actionable = false;
    items_.push_back(item);
    ArrangeItems();
    Invalidate(nullptr);
    return static_cast<int>(items_.size()) - 1;
}

void UIToolBar::SetItemVisible(int index, bool visible) {
    if (index < 0 || index >= static_cast<int>(items_.size())) return;
    items_[static_cast<size_t>(index)].visible = visible;
    if (!visible && hot_ == index) hot_ = -1;
    ArrangeItems();
    Invalidate(nullptr);
}

void UIToolBar::SetItemEnabled(int index, bool enabled) {
    if (index < 0 || index >= static_cast<int>(items_.size())) return;
    items_[static_cast<size_t>(index)].enabled = enabled;
    if (!enabled && hot_ == index) hot_ = -1;
    Invalidate(nullptr);
}

void UIToolBar::ArrangeItems() {
    const int itemHeight = std::max(iconHeight_, 1);
    const int top = rect_.top + (RectHeight(rect_) - itemHeight) / 2;
    int x = rect_.left;
    for (Item& item : items_) {
        if (!item.visible) {
            item.rect = RECT{};
            continue;
        }
        const int width = item.separator ? separatorWidth_ : itemWidth_;
        item.rect = RECT{x, top, x + width, top + itemHeight};
        x += width + spacing_;
    }
    SyncTooltips();
}

void UIToolBar::SyncTooltips() {
    HWND host = GetHostWindow();
    if (!host) return;
    bool wanted = false;
    for (const Item& item : items_) wanted = wanted || (!item.tooltip.empty() && item.visible);
    if (!wanted && !tooltip_.hwnd()) return;
    if (!tooltip_.Create(host)) return;
    for (size_t i = 0; i < items_.size(); ++i) {
        const Item& item = items_[i];
        const UINT_PTR toolId = i + 1;
        if (item.visible && !item.tooltip.empty())
            tooltip_.SetTool(host, toolId, item.rect, item.tooltip);
        else
            tooltip_.RemoveTool(host, toolId);
    }
}

int UIToolBar::ItemAt(POINT point) const {
    for (size_t i = 0; i < items_.size(); ++i) {
        const Item& item = items_[i];
        if (item.visible && item.enabled && !item.separator && ::PtInRect(&item.rect, point))
            return static_cast<int>(i);
    }
    return -1;
}

void UIToolBar::Draw(HDC hdc, const RECT& rect, const RECT&) {
    DrawImageStyle(hdc, rect, bkgnd_);
    for (size_t i = 0; i < items_.size(); ++i) {
        const Item& item = items_[i];
        if (!item.visible) continue;
        if (item.separator) {
            DrawImageStyle(hdc, item.rect, separatorStyle_);
            continue;
        }
        if (!strip_) continue;
        int look = kLookNormal;
        if (!item.enabled)
            look = kLookDisabled;
        else if (static_cast<int>(i) == hot_)
            look = pressed_ ? kLookPressed : kLookHot;
        ImageStyle icon;
        icon.image = strip_;
        icon.srcX = item.icon * iconWidth_;
        icon.srcY = look * iconHeight_;
        icon.srcW = iconWidth_;
        icon.srcH = iconHeight_;
        const int left = item.rect.left + (RectWidth(item.rect) - iconWidth_) / 2;
        const int top = item.rect.top + (RectHeight(item.rect) - iconHeight_) / 2;
        DrawImageStyle(hdc, RECT{left, top, left + iconWidth_, top + iconHeight_}, icon);
    }
}

LRESULT UIToolBar::HandleMouseMove(UINT, POINT point) {
    const int hot = ItemAt(point);
    if (hot != hot_ && !(hot < 0 && hot_ >= 0 && items_[static_cast<size_t>(hot_)].sticky)) {
        hot_ = hot;
        pressed_ = false;
        Invalidate(nullptr);
    }
    return 0;
}

LRESULT UIToolBar::HandleMouseLeave(UINT, POINT) {
    if (hot_ >= 0 && !items_[static_cast<size_t>(hot_)].sticky) {
        hot_ = -1;
        Invalidate(nullptr);
    }
    pressed_ = false;
    return 0;
}

LRESULT UIToolBar::HandleLButtonDown(UINT, POINT point) {
    const int hot = ItemAt(point);
    if (hot >= 0) {
        hot_ = hot;
        pressed_ = true;
        Invalidate(nullptr);
    }
    return 0;
}

LRESULT UIToolBar::HandleLButtonUp(UINT, POINT point) {
    pressed_ = false;
    const int hot = ItemAt(point);
    if (hot < 0 || hot != hot_) return 0;
    Invalidate(nullptr);
    const Item& item = items_[static_cast<size_t>(hot)];
    if (!item.actionable) return 0;
    const LPARAM host = reinterpret_cast<LPARAM>(GetHostWindow());
    if (parent_) parent_->OnChildCommand(this, WM_COMMAND, static_cast<WPARAM>(item.id), host);
    SendToHost(WM_COMMAND, LOWORD(item.id), host);
    return 0;
}

int UIToolBar::UpdateCursor() {
    const bool hand = hot_ >= 0 && items_[static_cast<size_t>(hot_)].actionable;
    ::SetCursor(::LoadCursorW(nullptr, hand ? IDC_HAND : IDC_ARROW));
    return 1;
}

void UIToolBar::RelayTooltipMessage(MSG* msg) {
    if (tooltip_.hwnd()) ::SendMessageW(tooltip_.hwnd(), TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(msg));
    UIObject::RelayTooltipMessage(msg);
}

}  // namespace quillo
