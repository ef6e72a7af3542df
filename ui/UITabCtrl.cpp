#include "ui/UITabCtrl.h"

#include <algorithm>

#include "ui/SkinDraw.h"

namespace quillo {

namespace {
constexpr int kTitlePadding = 35;
constexpr int kMinTabWidth = 80;
constexpr int kVerticalTabHeight = 30;
constexpr int kCentred = DT_CENTER | DT_VCENTER | DT_SINGLELINE;  // 37
}  // namespace

UITabCtrl::UITabCtrl() { kind_ = kKindTabCtrl; }

int UITabCtrl::LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) {
    const JValue* node = resource ? resource->GetNode(path, parentNode) : nullptr;
    if (!node) return 0;
    if (resource->GetNode("id", node)) id_ = resource->GetInt("id", node);
    if (resource->GetNode("size", node)) size_ = resource->GetRect("size", node);
    bkgnd_ = resource->GetImageStyle("bkgnd", node);
    itemNormal_ = resource->GetImageStyle("Item/normal", node);
    itemPressed_ = resource->GetImageStyle("Item/pressed", node);
    textNormal_ = resource->GetTextStyle("Text/normal", node);
    textPressed_ = resource->GetTextStyle("Text/pressed", node);
    ArrangeTabs();
    return 1;
}

void UITabCtrl::Layout() {
    UIObject::Layout();
    ArrangeTabs();
}

int UITabCtrl::TitleWidth(const std::wstring& title) const {
    HDC dc = ::CreateCompatibleDC(nullptr);
    HGDIOBJ old = ::SelectObject(dc, textNormal_.font ? textNormal_.font : ToolkitDefaultFont());
    SIZE extent = {};
    ::GetTextExtentPoint32W(dc, title.c_str(), static_cast<int>(title.size()), &extent);
    ::SelectObject(dc, old);
    ::DeleteDC(dc);
    return extent.cx;
}

void UITabCtrl::ArrangeTabs() {
    int x = rect_.left, y = rect_.top;
    for (Tab& tab : tabs_) {
        if (!tab.visible) {
            tab.rect = RECT{};
            continue;
        }
        if (vertical_) {
            tab.rect = RECT{rect_.left, y, rect_.right, y + kVerticalTabHeight};
            y += kVerticalTabHeight;
        } else {
            const int width = std::max(kMinTabWidth, TitleWidth(tab.title) + kTitlePadding);
            tab.rect = RECT{x, rect_.top, x + width, rect_.bottom};
            x += width;
        }
    }
}

int UITabCtrl::AddTab(int id, const std::wstring& title) {
    Tab tab;
    tab.id = id;
    tab.title = title;
    tabs_.push_back(tab);
    ArrangeTabs();
    Invalidate(nullptr);
    return static_cast<int>(tabs_.size()) - 1;
}

void UITabCtrl::SetTabVisible(int index, bool visible) {
    if (index < 0 || index >= static_cast<int>(tabs_.size())) return;
    tabs_[static_cast<size_t>(index)].visible = visible;
    ArrangeTabs();
    Invalidate(nullptr);
}

void UITabCtrl::SetVertical(bool vertical) {
    vertical_ = vertical;
    ArrangeTabs();
    Invalidate(nullptr);
}

void UITabCtrl::Select(int index) {
    selected_ = index >= 0 && index < static_cast<int>(tabs_.size()) ? index : -1;
    Invalidate(nullptr);
}

int UITabCtrl::TabAt(POINT point) const {
    for (size_t i = 0; i < tabs_.size(); ++i)
        if (tabs_[i].visible && ::PtInRect(&tabs_[i].rect, point)) return static_cast<int>(i);
    return -1;
}

void UITabCtrl::Draw(HDC hdc, const RECT& rect, const RECT&) {
    DrawImageStyle(hdc, rect, bkgnd_);
    for (size_t i = 0; i < tabs_.size(); ++i) {
        const Tab& tab = tabs_[i];
        if (!tab.visible) continue;
        const bool chosen = static_cast<int>(i) == selected_;
        DrawImageStyle(hdc, tab.rect, chosen ? itemPressed_ : itemNormal_);
        TextStyle style = chosen ? textPressed_ : textNormal_;
        style.align = kCentred;
        DrawTextStyle(hdc, tab.rect, tab.title.c_str(), style);
    }
}

LRESULT UITabCtrl::HandleLButtonDown(UINT, POINT point) {
    const int index = TabAt(point);
    if (index < 0 || index == selected_) return 0;
    selected_ = index;
    Invalidate(nullptr);
    const int tabId = tabs_[static_cast<size_t>(index)].id;
    if (parent_) parent_->OnChildCommand(this, WM_COMMAND, static_cast<WPARAM>(tabId), reinterpret_cast<LPARAM>(this));
    SendToHost(WM_COMMAND, LOWORD(tabId), reinterpret_cast<LPARAM>(GetHostWindow()));
    return 0;
}

}  // namespace quillo
