#include "ui/UIListView.h"

#include <algorithm>

#include "ui/SkinDraw.h"

namespace quillo {

namespace {
constexpr int kSplitterWidth = 2;
constexpr UINT kCellFormat = DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_WORD_ELLIPSIS;  // 262181
}  // namespace

// ---- UIHeader -------------------------------------------------------------------

UIHeader::UIHeader() { kind_ = kKindHeader; }

int UIHeader::LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) {
    const JValue* node = resource ? resource->GetNode(path, parentNode) : nullptr;
    if (!node) return 0;
    if (resource->GetNode("id", node)) id_ = resource->GetInt("id", node);
    if (resource->GetNode("size", node)) size_ = resource->GetRect("size", node);
    text_ = resource->GetTextStyle("text", node);
    bkgnd_ = resource->GetImageStyle("bkgnd", node);
    splitter_ = resource->GetImageStyle("splitter", node);
    const int height = resource->GetInt("height", node);
    if (height > 0) height_ = height;
    return 1;
}

void UIHeader::AddColumn(const std::wstring& title, int width) {
    columns_.push_back(Column{title, width});
    Invalidate(nullptr);
}

void UIHeader::Draw(HDC hdc, const RECT& rect, const RECT&) {
    DrawImageStyle(hdc, rect, bkgnd_);
    int x = rect.left;
    for (size_t i = 0; i < columns_.size(); ++i) {
        if (i > 0)
            DrawImageStyle(hdc, RECT{x - kSplitterWidth / 2, rect.top, x + kSplitterWidth / 2, rect.bottom}, splitter_);
        const RECT cell = {x, rect.top, x + columns_[i].width, rect.bottom};
        DrawTextStyle(hdc, cell, columns_[i].title.c_str(), text_);
        x += columns_[i].width;
    }
}

// ---- UIListView ---------------------------------------------------------------------

UIListView::UIListView() {
    kind_ = kKindListView;
    size_ = RECT{0, 0, 200, 200};
    header_ = new UIHeader();
    AddChild(header_);
    scroll_ = new UIScrollBar();
    AddChild(scroll_);
    scroll_->SetVisible(false);
}

int UIListView::LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) {
    const JValue* node = resource ? resource->GetNode(path, parentNode) : nullptr;
    size_ = RECT{0, 0, 200, 200};
    if (!node) return 0;
    if (resource->GetNode("id", node)) id_ = resource->GetInt("id", node);
    if (resource->GetNode("Header", node)) header_->LoadSkin(resource, "Header", node);
    if (resource->GetNode("ScrollBar", node)) scroll_->LoadSkin(resource, "ScrollBar", node);
    odd_ = resource->GetImageStyle("Item/odd", node);
    even_ = resource->GetImageStyle("Item/even", node);
    selectedStyle_ = resource->GetImageStyle("Item/selected", node);
    const int height = resource->GetInt("Item/height", node);
    rowHeight_ = height > 0 ? height : 28;
    Arrange();
    return 1;
}

void UIListView::Layout() {
    UIObject::Layout();
    Arrange();
}

RECT UIListView::ListArea() const {
    RECT area = rect_;
    area.top = std::min(area.bottom, area.top + header_->height());
    if (scroll_->visible()) area.right -= std::max(0, scroll_->trackStyle().srcW);
    return area;
}

void UIListView::Arrange() {
    const int width = RectWidth(rect_), height = RectHeight(rect_);
    if (width <= 0 || height <= 0) return;
    header_->SetFixedOffset(true);
    header_->SetPixelPosition(0, 0, width, std::min(height, header_->height()));
    UpdateScroll();
}

void UIListView::UpdateScroll() {
    const int width = RectWidth(rect_), height = RectHeight(rect_);
    const int top = std::min(height, header_->height());
    const int areaHeight = height - top;
    const int total = rowHeight_ * static_cast<int>(rows_.size());
    if (total > areaHeight && areaHeight > 0) {
        const int barWidth = std::max(1, Px(scroll_->trackStyle().srcW));
        scroll_->SetFixedOffset(true);
        scroll_->SetPixelPosition(width - barWidth, top, barWidth, areaHeight);
        scroll_->SetRange(0, total, areaHeight);
        scroll_->SetVisible(true);
    } else {
        scroll_->SetVisible(false);
        offset_ = 0;
        scroll_->SetPos(0);
    }
}

int UIListView::AddRow(const std::vector<std::wstring>& cells) {
    rows_.push_back(cells);
    UpdateScroll();
    Invalidate(nullptr);
    return static_cast<int>(rows_.size()) - 1;
}

void UIListView::Select(int row) {
    selected_ = row >= 0 && row < rowCount() ? row : -1;
    Invalidate(nullptr);
}

int UIListView::RowAt(POINT point) const {
    const RECT area = ListArea();
    if (!::PtInRect(&area, point) || rowHeight_ <= 0) return -1;
    const int row = (point.y - area.top + offset_) / rowHeight_;
    return row < rowCount() ? row : -1;
}

void UIListView::Draw(HDC hdc, const RECT&, const RECT&) {
    const RECT area = ListArea();
    if (RectEmpty(area) || rowHeight_ <= 0) return;
    const int saved = ::SaveDC(hdc);
    ::IntersectClipRect(hdc, area.left, area.top, area.right, area.bottom);
    for (int i = 0; area.top + i * rowHeight_ < area.bottom; ++i) {
        const RECT band = {area.left, area.top + i * rowHeight_, area.right, area.top + (i + 1) * rowHeight_};
        DrawImageStyle(hdc, band, i % 2 == 0 ? odd_ : even_);
    }
    ::SetBkMode(hdc, TRANSPARENT);
    ::SetTextColor(hdc, RGB(255, 255, 255));
    const auto& columns = header_->columns();
    for (int r = 0; r < rowCount(); ++r) {
        const int y = area.top + r * rowHeight_ - offset_;
        if (y >= area.bottom || y + rowHeight_ <= area.top) continue;
        const RECT row = {area.left, y, area.right, y + rowHeight_};
        DrawImageStyle(hdc, row, r == selected_ ? selectedStyle_ : (r % 2 == 0 ? odd_ : even_));
        int x = area.left;
        const auto& cells = rows_[static_cast<size_t>(r)];
        for (size_t c = 0; c < columns.size() && c < cells.size(); ++c) {
            RECT cell = {x, y, std::min<int>(x + columns[c].width, area.right), y + rowHeight_};
            x += columns[c].width;
            if (RectEmpty(cell)) continue;
            ::DrawTextW(hdc, cells[c].c_str(), static_cast<int>(cells[c].size()), &cell, kCellFormat);
        }
    }
    ::RestoreDC(hdc, saved);
}

LRESULT UIListView::HandleLButtonDown(UINT, POINT point) {
    const int row = RowAt(point);
    if (row >= 0) Select(row);
    return 0;
}

void UIListView::ScrollTo(int position) {
    scroll_->SetPos(position);
    offset_ = position;
    Invalidate(nullptr);
}

LRESULT UIListView::OnChildCommand(UIObject* child, UINT message, WPARAM wParam, LPARAM lParam) {
    if (child != scroll_) return UIObject::OnChildCommand(child, message, wParam, lParam);
    if (message != WM_VSCROLL) return 0;
    const int minimum = scroll_->minimum(), page = scroll_->page();
    const int last = scroll_->maximum() - page - 1;
    int position = scroll_->pos();
    switch (LOWORD(wParam)) {
    case SB_LINEUP: position = std::max(minimum, position - 1); break;
    case SB_LINEDOWN: position = std::min(last, position + 1); break;
    case SB_PAGEUP: position = std::max(minimum, position - page); break;
    case SB_PAGEDOWN: position = std::min(last, position + page); break;
    case SB_TOP: position = minimum; break;
    case SB_BOTTOM: position = last; break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK: position = scroll_->trackPos(); break;
    default: break;
    }
    ScrollTo(position);
    return 0;
}

LRESULT UIListView::HandleMouseWheel(UINT, int delta, POINT) {
    if (!scroll_->visible()) return 0;
    const int minimum = scroll_->minimum(), maximum = scroll_->maximum(), page = scroll_->page();
    if (maximum - minimum <= 100) return 1;
    const int step = page / 8;
    int position = scroll_->pos();
    if (delta < 0)
        position = std::min(maximum - page + 1, position + step);
    else
        position = std::max(minimum, position - step);
    ScrollTo(position);
    return 1;
}

}  // namespace quillo
