// UIListView (kind 6) with its column header UIHeader (kind 8): rows of text
// cells under a header, striped, with a skinned scroll bar when the rows do
// not fit.
#pragma once

#include <string>
#include <vector>

#include "ui/UIObject.h"
#include "ui/UIScrollBar.h"

namespace quillo {

class UIHeader : public UIObject {
public:
    struct Column {
        std::wstring title;
        int width = 0;
    };

    UIHeader();

    // "text", "bkgnd", "splitter", "height"; also "id" and "size" when present.
    int LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) override;
    void Draw(HDC hdc, const RECT& rect, const RECT& clip) override;

    void AddColumn(const std::wstring& title, int width);
    const std::vector<Column>& columns() const { return columns_; }
    int height() const { return height_; }

private:
    TextStyle text_;
    ImageStyle bkgnd_;
    ImageStyle splitter_;
    int height_ = 32;
    std::vector<Column> columns_;
};

class UIListView : public UIObject {
public:
    UIListView();

    // "Header", "ScrollBar", "Item/odd", "Item/even", "Item/selected",
    // "Item/height". The size is (0, 0, 200, 200); place it with SetPosition.
    int LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) override;
    void Layout() override;
    void Draw(HDC hdc, const RECT& rect, const RECT& clip) override;
    LRESULT HandleLButtonDown(UINT flags, POINT point) override;
    LRESULT HandleMouseWheel(UINT keys, int delta, POINT point) override;
    LRESULT OnChildCommand(UIObject* child, UINT message, WPARAM wParam, LPARAM lParam) override;

    int AddRow(const std::vector<std::wstring>& cells);
    void Select(int row);
    int selected() const { return selected_; }
    int rowCount() const { return static_cast<int>(rows_.size()); }
    int rowHeight() const { return rowHeight_; }
    int offset() const { return offset_; }
    UIHeader* header() const { return header_; }
    UIScrollBar* scrollBar() const { return scroll_; }
    // The rows' area: below the header, left of a shown scroll bar.
    RECT ListArea() const;
    // Row under `point`, or -1.
    int RowAt(POINT point) const;

private:
    void Arrange();
    void UpdateScroll();
    void ScrollTo(int position);

    UIHeader* header_ = nullptr;
    UIScrollBar* scroll_ = nullptr;
    ImageStyle odd_;
    ImageStyle even_;
    ImageStyle selectedStyle_;
    int rowHeight_ = 28;
    std::vector<std::vector<std::wstring>> rows_;
    int selected_ = -1;
    int offset_ = 0;
};

}  // namespace quillo
