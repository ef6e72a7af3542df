#include "ui/UIScrollBar.h"

#include <algorithm>

#include "ui/SkinDraw.h"

namespace quillo {

namespace {
constexpr int kSideSlack = 96;  // a drag this far beside the track is ignored
}

UIScrollBar::UIScrollBar() { kind_ = kKindScrollBar; }

int UIScrollBar::LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) {
    const JValue* node = resource ? resource->GetNode(path, parentNode) : nullptr;
    if (!node) return 0;
    thumb_ = resource->GetImageStyle("thumb", node);
    track_ = resource->GetImageStyle("trackbar", node);
    if (resource->GetNode("id", node)) id_ = resource->GetInt("id", node);
    if (resource->GetNode("size", node)) size_ = resource->GetRect("size", node);
    UpdateThumb();
    return 1;
}

void UIScrollBar::Layout() {
    UIObject::Layout();
    UpdateThumb();
}

int UIScrollBar::TrackLength() const {
    const int length = vertical_ ? RectHeight(rect_) : RectWidth(rect_);
    return std::max(0, length - 2 * Px(arrow_));
}

RECT UIScrollBar::TrackRect() const {
    RECT track = rect_;
    if (vertical_) {
        track.top += Px(arrow_);
        track.bottom -= Px(arrow_);
    } else {
        track.left += Px(arrow_);
        track.right -= Px(arrow_);
    }
    return track;
}

RECT UIScrollBar::ThumbRect() const {
    RECT thumb = TrackRect();
    if (vertical_) {
        thumb.top += thumbOffset_;
        thumb.bottom = thumb.top + thumbLength_;
    } else {
        thumb.left += thumbOffset_;
        thumb.right = thumb.left + thumbLength_;
    }
    return thumb;
}

void UIScrollBar::UpdateThumb() {
    const int track = TrackLength();
    const int span = maximum_ - minimum_ + 1;
    if (page_ <= 0 || span <= page_ || track <= 0) {
        thumbLength_ = track;
        thumbOffset_ = 0;
        return;
    }
    thumbLength_ = std::min(track, std::max(Px(minThumb_), static_cast<int>(static_cast<long long>(track) * page_ / span)));
    const int scrollable = maximum_ - page_ - minimum_ + 1;
    const int room = track - thumbLength_;
    thumbOffset_ = room > 0 && scrollable > 0
                       ? static_cast<int>(static_cast<long long>(position_ - minimum_) * room / scrollable)
                       : 0;
    thumbOffset_ = std::max(0, std::min(room, thumbOffset_));
}

void UIScrollBar::SetRange(int minimum, int maximum, int page) {
    minimum_ = minimum;
    maximum_ = maximum;
    page_ = page;
    UpdateThumb();
    Invalidate(nullptr);
}

void UIScrollBar::SetPos(int position) {
    position_ = position;
    trackPosition_ = position;
    UpdateThumb();
    Invalidate(nullptr);
}

void UIScrollBar::Draw(HDC hdc, const RECT&, const RECT&) {
    DrawImageStyle(hdc, TrackRect(), track_);
    if (thumbLength_ > 0) DrawImageStyle(hdc, ThumbRect(), thumb_);
}

void UIScrollBar::Report(WPARAM code) {
    if (parent_) parent_->OnChildCommand(this, vertical_ ? WM_VSCROLL : WM_HSCROLL, code, 0);
}

LRESULT UIScrollBar::HandleLButtonDown(UINT, POINT point) {
    if (!enabled_ || !visible_) return 0;
    const int along = vertical_ ? point.y : point.x;
    const int start = vertical_ ? rect_.top : rect_.left;
    const int end = vertical_ ? rect_.bottom : rect_.right;
    const RECT thumb = ThumbRect();
    const int thumbStart = vertical_ ? thumb.top : thumb.left;
    const int thumbEnd = vertical_ ? thumb.bottom : thumb.right;
    if (along < start + Px(arrow_))
        Report(SB_LINEUP);
    else if (along >= end - Px(arrow_))
        Report(SB_LINEDOWN);
    else if (along < thumbStart)
        Report(SB_PAGEUP);
    else if (along >= thumbEnd)
        Report(SB_PAGEDOWN);
    else
        DragThumb(point);
    return 0;
}

LRESULT UIScrollBar::HandleLButtonDblClk(UINT flags, POINT point) { return HandleLButtonDown(flags, point); }

void UIScrollBar::DragThumb(POINT start) {
    HWND host = GetHostWindow();
    if (!host) return;
    ::SetCapture(host);
    const int startOffset = thumbOffset_;
    const int room = TrackLength() - thumbLength_;
    const int scrollable = maximum_ - page_ - minimum_ + 1;
    MSG msg;
    while (::GetCapture() == host) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
            if (got == 0) ::PostQuitMessage(static_cast<int>(msg.wParam));  // leave WM_QUIT for the main loop
            break;
        }
        if (msg.message == WM_LBUTTONUP) {
            ::DispatchMessageW(&msg);
            break;
        }
        if (msg.message == WM_KEYDOWN) {
            if (msg.wParam == VK_ESCAPE) break;
            continue;
        }
        if (msg.message == WM_MOUSEMOVE && msg.hwnd == host) {
            const POINT point = PointFromLParam(msg.lParam);
            const bool beside = vertical_ ? (point.x < rect_.left - Px(kSideSlack) || point.x > rect_.right + Px(kSideSlack))
                                          : (point.y < rect_.top - Px(kSideSlack) || point.y > rect_.bottom + Px(kSideSlack));
            if (beside || room <= 0) continue;
            int offset = startOffset + (vertical_ ? point.y - start.y : point.x - start.x);
            offset = std::max(0, std::min(room, offset));
            if (offset != thumbOffset_) {
                thumbOffset_ = offset;
                Invalidate(nullptr);
            }
            const int track = static_cast<int>(static_cast<long long>(offset) * scrollable / room);
            if (track != trackPosition_) {
                trackPosition_ = track;
                Report(static_cast<WPARAM>(SB_THUMBTRACK) + 65536u * static_cast<WPARAM>(static_cast<unsigned>(track)));
            }
            continue;
        }
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    if (::GetCapture() == host) ::ReleaseCapture();
}

}  // namespace quillo
