// UIScrollBar (kind 7): a skinned scroll bar (vertical unless told
// otherwise). Presses report SB_* codes to the parent through
// OnChildCommand(self, WM_VSCROLL, code, 0) (WM_HSCROLL for a horizontal
// bar); dragging the thumb runs a local message loop that reports
// SB_THUMBTRACK with the track position in the high word.
#pragma once

#include <string>

#include "ui/UIObject.h"

namespace quillo {

class UIScrollBar : public UIObject {
public:
    UIScrollBar();

    // "thumb" and "trackbar"; also "id" and "size" when the node has them.
    int LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) override;
    void Layout() override;
    void Draw(HDC hdc, const RECT& rect, const RECT& clip) override;
    LRESULT HandleLButtonDown(UINT flags, POINT point) override;
    LRESULT HandleLButtonDblClk(UINT flags, POINT point) override;

    void SetRange(int minimum, int maximum, int page);
    void SetPos(int position);
    int pos() const { return position_; }
    int trackPos() const { return trackPosition_; }
    int minimum() const { return minimum_; }
    int maximum() const { return maximum_; }
    int page() const { return page_; }
    void SetVertical(bool vertical) { vertical_ = vertical; UpdateThumb(); }
    bool vertical() const { return vertical_; }
    // Both lengths below are at 96 DPI, drawn at the host's scale.
    void SetMinThumbLength(int length) { minThumb_ = length; UpdateThumb(); }
    int minThumbLength() const { return minThumb_; }
    // Length of the line-up / line-down zones at the two ends (0: none).
    void SetArrowLength(int length) { arrow_ = length; UpdateThumb(); }
    const ImageStyle& thumbStyle() const { return thumb_; }
    const ImageStyle& trackStyle() const { return track_; }

    // Geometry in host client coordinates.
    RECT TrackRect() const;
    RECT ThumbRect() const;

protected:
    void UpdateThumb();
    int TrackLength() const;
    // Runs the drag loop from a press at `start` on the thumb.
    void DragThumb(POINT start);
    void Report(WPARAM code);

    ImageStyle thumb_;
    ImageStyle track_;
    bool vertical_ = true;
    int minThumb_ = 16;
    int arrow_ = 0;
    int minimum_ = 0;
    int maximum_ = 0;
    int page_ = 0;
    int position_ = 0;
    int trackPosition_ = 0;
    int thumbOffset_ = 0;
    int thumbLength_ = 0;
};

}  // namespace quillo
