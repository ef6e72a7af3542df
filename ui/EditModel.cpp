#include "ui/EditModel.h"

#include <algorithm>

#include "ui/DpiScale.h"

namespace quillo {

unsigned EditModel::SetText(const std::wstring& text) {
    if (text != text_) {
        text_ = text;
        Collapse(text_.size());
    }
    return kNotify | kRepaint;
}

void EditModel::DeleteSelection() {
    text_.erase(selStart_, selEnd_ - selStart_);
    Collapse(selStart_);
}

unsigned EditModel::KeyDown(unsigned key) {
    switch (key) {
    case kKeyBackspace:
        if (caret_ == 0) return kNothing;
        if (hasSelection()) {
            DeleteSelection();
        } else {
            text_.erase(caret_ - 1, 1);
            Collapse(caret_ - 1);
        }
        return kNotify | kRepaint;
    case kKeyDelete:
        if (hasSelection()) {
            DeleteSelection();
        } else {
            if (caret_ >= text_.size()) return kNothing;
            text_.erase(caret_, 1);
        }
        return kNotify | kRepaint;
    case kKeyEscape:
        caretVisible_ = false;
        return kNothing;
    case kKeyEnd:
        Collapse(text_.size());
        return kRepaint;
    case kKeyHome:
        Collapse(0);
        return kRepaint;
    case kKeyLeft:
        // A selection is dropped by going to the end first.
        if (hasSelection()) Collapse(text_.size());
        if (caret_ > 0) --caret_;
        return kRepaint;
    case kKeyRight:
        // A selection collapses onto its start, then the caret moves on.
        if (hasSelection()) Collapse(selStart_);
        if (caret_ < text_.size()) ++caret_;
        return kRepaint;
    default:
        return kNothing;
    }
}

unsigned EditModel::Char(unsigned code) {
    // Anything else (space, tilde, control codes such as Ctrl+C, non-ASCII)
    // is dropped before the selection is touched.
    if (code < kFirstAccepted || code > kLastAccepted) return kNothing;
    unsigned effect = kNothing;
    if (hasSelection()) {
        DeleteSelection();
        effect = kNotify | kRepaint;
    }
    if (maxLength_ >= 0 && text_.size() >= static_cast<size_t>(maxLength_)) return effect;
    text_.insert(caret_, 1, static_cast<wchar_t>(code));
    Collapse(caret_ + 1);
    return kNotify | kRepaint;
}

void EditModel::SelectAll() {
    selStart_ = 0;
    selEnd_ = caret_ = text_.size();
}

void EditModel::BeginDrag(size_t anchor) { Collapse(std::min(anchor, text_.size())); }

bool EditModel::DragTo(size_t anchor, size_t index) {
    anchor = std::min(anchor, text_.size());
    index = std::min(index, text_.size());
    const size_t start = std::min(anchor, index);
    const size_t end = std::max(anchor, index);
    if (start == selStart_ && end == selEnd_) return false;
    selStart_ = start;
    selEnd_ = end;
    caret_ = anchor;
    return true;
}

size_t EditModel::HitTest(int dx, bool withinRows, const Measure& measure) const {
    const int width = measure(text_.c_str(), text_.size());
    if (withinRows && dx >= 0 && dx < width) {
        int previous = 0;
        for (size_t i = 1; i <= text_.size(); ++i) {
            const int extent = measure(text_.c_str(), i);
            if (extent > dx) return extent - dx < dx - previous ? i : i - 1;
            previous = extent;
        }
    }
    return dx >= width ? text_.size() : 0;
}

void EditModel::KeepCaretVisible(int viewWidth, const Measure& measure) {
    if (viewWidth <= 0) {
        scroll_ = 0;
        return;
    }
    const int caretX = measure(text_.c_str(), caret_);
    const int inset = ScaleToDpi(kCaretInset, dpi_);
    // The caret line sits kCaretInset pixels right of its character boundary.
    if (caretX + inset - scroll_ > viewWidth - 1) scroll_ = caretX + inset - (viewWidth - 1);
    if (caretX < scroll_) scroll_ = caretX;
    // Never leave empty room on the right while text is hidden on the left.
    const int total = measure(text_.c_str(), text_.size()) + inset + 1;
    if (total - scroll_ < viewWidth) scroll_ = std::max(0, total - viewWidth);
}

EditModel::Geometry EditModel::Layout(int left, int top, int bottom, const Measure& measure) const {
    Geometry g;
    const int origin = left - scroll_;
    const int inset = ScaleToDpi(kCaretInset, dpi_);
    if (!hasSelection()) {
        if (!text_.empty()) g.runs[g.runCount++] = {0, text_.size(), origin, false};
        if (caretVisible_) {
            g.caretShown = true;
            g.caretX = origin + measure(text_.c_str(), caret_) + inset;
            g.caretTop = top + (bottom - top - ScaleToDpi(kCaretBand, dpi_)) / 2;
            g.caretBottom = g.caretTop + ScaleToDpi(kCaretHeight, dpi_);
        }
        return g;
    }
    const int before = measure(text_.c_str(), selStart_);
    const int selected = measure(text_.c_str() + selStart_, selEnd_ - selStart_);
    if (selStart_ > 0) g.runs[g.runCount++] = {0, selStart_, origin, false};
    const int x = origin + before;
    g.runs[g.runCount++] = {selStart_, selEnd_, x, true};
    if (selEnd_ < text_.size()) g.runs[g.runCount++] = {selEnd_, text_.size(), x + selected, false};
    g.selectionShown = true;
    g.selX = x + inset;
    g.selY = top + (bottom - top - ScaleToDpi(kSelectionBand, dpi_)) / 2;
    g.selW = selected;
    g.selH = ScaleToDpi(kSelectionHeight, dpi_);
    return g;
}

int ScrollPositionFor(int code, int pos, int trackPos, const ScrollRange& range) {
    const int last = range.max - range.page - 1;
    switch (code) {
    case 0:  // SB_LINEUP
        return std::max(pos - 1, range.min);
    case 1:  // SB_LINEDOWN
        return std::min(pos + 1, last);
    case 2:  // SB_PAGEUP
        return std::max(pos - range.page, range.min);
    case 3:  // SB_PAGEDOWN
        return std::min(pos + range.page, last);
    case 4:  // SB_THUMBPOSITION
    case 5:  // SB_THUMBTRACK
        return trackPos;
    case 6:  // SB_TOP
        return range.min;
    case 7:  // SB_BOTTOM
        return last;
    default:
        return pos;
    }
}

bool WheelScrollPosition(int delta, int pos, const ScrollRange& range, int& newPos) {
    newPos = pos;
    if (range.max - range.min <= 100) return false;
    const int step = range.page / 8;
    if (delta & 0x8000)
        newPos = std::min(pos + step, range.max - range.page + 1);
    else
        newPos = std::max(pos - step, range.min);
    return true;
}

}  // namespace quillo
