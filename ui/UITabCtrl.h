// UITabCtrl (kind 4): a strip of tabs, horizontal unless told otherwise.
#pragma once

#include <string>
#include <vector>

#include "ui/UIObject.h"

namespace quillo {

class UITabCtrl : public UIObject {
public:
    struct Tab {
        int id = 0;
        std::wstring title;
        bool visible = true;
        RECT rect = {};
    };

    UITabCtrl();

    // "bkgnd", "Item/normal", "Item/pressed", "Text/normal", "Text/pressed";
    // also "id" and "size" when the node has them.
    int LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) override;
    void Layout() override;
    void Draw(HDC hdc, const RECT& rect, const RECT& clip) override;
    LRESULT HandleLButtonDown(UINT flags, POINT point) override;

    int AddTab(int id, const std::wstring& title);
    void SetTabVisible(int index, bool visible);
    void SetVertical(bool vertical);
    // Selects without notifying; -1 selects nothing.
    void Select(int index);
    int selected() const { return selected_; }
    const std::vector<Tab>& tabs() const { return tabs_; }
    // Index of the visible tab at `point`, or -1.
    int TabAt(POINT point) const;

private:
    void ArrangeTabs();
    int TitleWidth(const std::wstring& title) const;

    ImageStyle bkgnd_;
    ImageStyle itemNormal_;
    ImageStyle itemPressed_;
    TextStyle textNormal_;
    TextStyle textPressed_;
    std::vector<Tab> tabs_;
    int selected_ = -1;
    bool vertical_ = false;
};

}  // namespace quillo
