// The editing state of the single-line skinned edit box (CXEdit): text, caret,
// selection, maximum length, key and character handling, hit testing and the
// geometry of one paint. No Windows API: text widths come from a callback,
// so the same code is driven by GDI measurements on Windows and by fixed
// widths in tests.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace quillo {

class EditModel {
public:
    // Width in pixels of the first `count` characters of `text`.
    using Measure = std::function<int(const wchar_t* text, size_t count)>;

    // What the box has to do after an operation (bit set).
    enum Effect : unsigned {
        kNothing = 0,
        kRepaint = 1,
        kNotify = 2,  // the text changed: send EN_UPDATE to the parent
    };

    // Virtual-key codes the box reacts to.
    static constexpr unsigned kKeyBackspace = 8;
    static constexpr unsigned kKeyEscape = 27;
    static constexpr unsigned kKeyEnd = 35;
    static constexpr unsigned kKeyHome = 36;
    static constexpr unsigned kKeyLeft = 37;
    static constexpr unsigned kKeyRight = 39;
    static constexpr unsigned kKeyDelete = 46;

    // Typed characters the box accepts: '!' to '}'.
    static constexpr unsigned kFirstAccepted = 33;
    static constexpr unsigned kLastAccepted = 125;

    // Pixels between the text origin and the caret line (at 96 DPI).
    static constexpr int kCaretInset = 2;
    // The caret line is 14 px high in the middle of a 16 px band, the
    // highlight 17 px high in the middle of an 18 px band (at 96 DPI).
    static constexpr int kCaretBand = 16, kCaretHeight = 14;
    static constexpr int kSelectionBand = 18, kSelectionHeight = 17;

    // The display's DPI: the pixel lengths above are drawn at its scale
    // (96, the initial value, keeps them as they are).
    void SetDpi(int dpi) { dpi_ = dpi; }
    int dpi() const { return dpi_; }

    const std::wstring& text() const { return text_; }
    size_t length() const { return text_.size(); }
    size_t caret() const { return caret_; }
    size_t selectionStart() const { return selStart_; }
    size_t selectionEnd() const { return selEnd_; }
    bool hasSelection() const { return selStart_ != selEnd_; }
    bool caretVisible() const { return caretVisible_; }
    void SetCaretVisible(bool visible) { caretVisible_ = visible; }

    // -1 = unlimited (the initial value); 0 or more limits typed input only.
    int maxLength() const { return maxLength_; }
    void SetMaxLength(int maxLength) { maxLength_ = maxLength < 0 ? -1 : maxLength; }

    // Pixels the text is shifted left so that the caret stays in view.
    int scrollOffset() const { return scroll_; }

    // Stores `text`; a different text moves the caret to its end and drops
    // the selection. Always notifies, as every edit does.
    unsigned SetText(const std::wstring& text);

    // Keys 8, 27, 35, 36, 37, 39 and 46; any other key does nothing.
    unsigned KeyDown(unsigned key);

    // A typed character: codes outside '!'..'}' do nothing; an accepted one
    // replaces the selection, then goes in at the caret when the maximum
    // length allows it.
    unsigned Char(unsigned code);

    // Selects everything; the caret goes to the end.
    void SelectAll();

    // Start of a mouse selection: caret and both selection ends at `anchor`.
    void BeginDrag(size_t anchor);

    // Selects between the drag anchor and `index` (either order). The caret
    // stays at the anchor. Returns whether the selection changed.
    bool DragTo(size_t anchor, size_t index);

    // Character index under a point `dx` pixels right of the text origin.
    // `withinRows` tells whether the point is vertically inside the box.
    // Inside the text the nearer character boundary wins (ties go left); a
    // point right of the text gives the length, anything else 0.
    size_t HitTest(int dx, bool withinRows, const Measure& measure) const;

    // Adjusts the scroll offset so that the caret lies within `viewWidth`
    // pixels; a text that fits is never scrolled.
    void KeepCaretVisible(int viewWidth, const Measure& measure);

    // Where one paint puts things, for a text area from `left` (unscrolled
    // origin is left - scrollOffset) between `top` and `bottom`.
    struct Run {
        size_t begin = 0, end = 0;  // character range
        int x = 0;                  // left edge of the run
        bool selected = false;
    };
    struct Geometry {
        Run runs[3];
        int runCount = 0;
        bool caretShown = false;
        int caretX = 0, caretTop = 0, caretBottom = 0;  // vertical line, bottom exclusive
        bool selectionShown = false;
        int selX = 0, selY = 0, selW = 0, selH = 0;     // highlight rectangle
    };
    Geometry Layout(int left, int top, int bottom, const Measure& measure) const;

private:
    void Collapse(size_t index) { caret_ = selStart_ = selEnd_ = index; }
    // Removes the selected characters; the caret and both ends go to the
    // selection start.
    void DeleteSelection();

    std::wstring text_;
    size_t caret_ = 0;
    size_t selStart_ = 0;
    size_t selEnd_ = 0;
    int maxLength_ = -1;
    bool caretVisible_ = false;
    int scroll_ = 0;
    int dpi_ = 96;
};

// Scroll arithmetic of the multi-line text view (UIEditBox) and its bar.
struct ScrollRange {
    int min = 0;
    int max = 0;
    int page = 0;
};

// The position after a WM_VSCROLL request code (SB_LINEUP .. SB_BOTTOM) from
// `pos`; SB_THUMBPOSITION and SB_THUMBTRACK go to `trackPos`, unknown codes
// keep `pos`. Moving down stops at max - page - 1.
int ScrollPositionFor(int code, int pos, int trackPos, const ScrollRange& range);

// The position after a wheel turn of `delta` (the signed 16-bit wheel
// delta; negative = towards the user = down). False when the range spans
// 100 pixels or less and nothing scrolls.
bool WheelScrollPosition(int delta, int pos, const ScrollRange& range, int& newPos);

}  // namespace quillo
