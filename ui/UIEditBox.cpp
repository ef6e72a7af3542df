#include "ui/UIEditBox.h"

#include <objidl.h>
#include <gdiplus.h>

#include <cmath>

#include "ui/CHBitmap.h"
#include "ui/ControlFactory.h"
#include "ui/SkinDraw.h"
#include "ui/UIAccessible.h"
#include "ui/UIScrollBar.h"

namespace quillo {

namespace {

namespace gp = Gdiplus::DllExports;

// Smallest thumb of the text view's scroll bar.
constexpr int kEditThumbMin = 30;

RECT Shrink(const RECT& r, const RECT& margin) {
    return {r.left + margin.left, r.top + margin.top, r.right - margin.right, r.bottom - margin.bottom};
}

// Height in pixels of `text` wrapped into `width` with the style's font.
int MeasureTextHeight(HDC hdc, const std::wstring& text, const TextStyle& style, int width, int dpi) {
    if (text.empty() || width <= 0) return 0;
    GdiplusScope scope;
    if (!scope.ok()) return 0;
    HDC dc = hdc ? hdc : ::CreateCompatibleDC(nullptr);
    if (!dc) return 0;
    int height = 0;
    Gdiplus::GpGraphics* graphics = nullptr;
    Gdiplus::GpFont* font = nullptr;
    Gdiplus::GpStringFormat* format = nullptr;
    LOGFONTW logFont = {};
    HFONT source = FontForDpi(style.font, dpi);
    if (gp::GdipCreateFromHDC(dc, &graphics) == Gdiplus::Ok && source &&
        ::GetObjectW(source, sizeof logFont, &logFont) != 0 &&
        gp::GdipCreateFontFromLogfontW(dc, &logFont, &font) == Gdiplus::Ok &&
        gp::GdipCreateStringFormat(0, LANG_NEUTRAL, &format) == Gdiplus::Ok) {
        const Gdiplus::RectF layout(0, 0, static_cast<Gdiplus::REAL>(width), 1.0e6f);
        Gdiplus::RectF box;
        if (gp::GdipMeasureString(graphics, text.c_str(), -1, font, &layout, format, &box, nullptr, nullptr) ==
            Gdiplus::Ok)
            height = static_cast<int>(std::ceil(box.Height));
    }
    if (format) gp::GdipDeleteStringFormat(format);
    if (font) gp::GdipDeleteFont(font);
    if (graphics) gp::GdipDeleteGraphics(graphics);
    if (dc != hdc) ::DeleteDC(dc);
    return height;
}

UIObject* MakeEditBox() { return new UIEditBox(); }

// Kind 15 of the factory, plugged in as soon as this unit is part of the
// program (the editors and screens that use edit boxes pull it in).
[[maybe_unused]] const bool kFactoryRegistered = (RegisterEditBoxKind(), true);

}  // namespace

void RegisterEditBoxKind() { RegisterEditBoxFactory(&MakeEditBox); }

UIEditBox::UIEditBox() {
    kind_ = kKindEditBox;
    auto bar = std::make_unique<UIScrollBar>();
    bar->SetMinThumbLength(kEditThumbMin);
    scrollBar_ = bar.get();
    AddChild(bar.release());
}

UIEditBox::~UIEditBox() = default;

int UIEditBox::LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) {
    const JValue* node = resource ? resource->GetNode(path, parentNode) : nullptr;
    if (!node) return 0;
    LoadIdAndSize(resource, node);
    bkgnd_ = resource->GetImageStyle("bkgnd", node);
    if (resource->GetNode("Text", node)) {
        margin_ = resource->GetRect("Text/margin", node);
        normal_ = resource->GetTextStyle("Text/normal", node);
        grayed_ = resource->GetTextStyle("Text/grayed", node);
    }
    if (resource->GetNode("ScrollBar", node)) scrollBar_->LoadSkin(resource, "ScrollBar", node);
    return 1;
}

RECT UIEditBox::InnerTextArea() {
    const RECT margin = {Px(margin_.left), Px(margin_.top), Px(margin_.right), Px(margin_.bottom)};
    return Shrink(textArea_, margin);
}

void UIEditBox::Layout() {
    UIObject::Layout();
    LayoutTextArea();
}

void UIEditBox::LayoutTextArea() {
    if (RectEmpty(rect_)) return;
    if (!multiLine_ || !scrollBar_->visible()) {
        textArea_ = rect_;
        return;
    }
    const int barWidth = Px(scrollBar_->trackStyle().srcW);
    textArea_ = rect_;
    textArea_.right -= barWidth;
    scrollBar_->SetPixelPosition(textArea_.right - rect_.left, 0, barWidth, RectHeight(rect_));
    UpdateScrollRange();
}

void UIEditBox::UpdateScrollRange() {
    const RECT inner = InnerTextArea();
    const int height = MeasureTextHeight(GetPaintDC(), text_, normal_, RectWidth(inner), dpi());
    scrollBar_->SetRange(0, height, RectHeight(inner));
    scrollBar_->Invalidate();
}

ScrollRange UIEditBox::CurrentRange() const {
    return ScrollRange{scrollBar_->minimum(), scrollBar_->maximum(), scrollBar_->page()};
}

void UIEditBox::ScrollTo(int pos) {
    scrollBar_->SetPos(pos);
    scrollBar_->Invalidate();
    scrollOffset_ = pos;
    Invalidate();
}

void UIEditBox::Draw(HDC hdc, const RECT&, const RECT&) {
    DrawImageStyle(hdc, rect_, bkgnd_);
    if (text_.empty()) return;
    const RECT clip = InnerTextArea();
    // The text starts above the area by the offset; the bottom edge stays,
    // or GDI+ would cut the lines that scrolled into view.
    RECT layout = clip;
    layout.top -= scrollOffset_;
    DrawTextStyle(hdc, layout, text_.c_str(), normal_, &clip);
}

LRESULT UIEditBox::OnChildCommand(UIObject* child, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_VSCROLL || child != scrollBar_) return 0;
    const int pos = ScrollPositionFor(LOWORD(wParam), scrollBar_->pos(), scrollBar_->trackPos(),
                                      CurrentRange());
    ScrollTo(pos);
    return 0;
}

LRESULT UIEditBox::HandleMouseWheel(UINT, int delta, POINT) {
    if (!multiLine_) return 0;
    int pos = 0;
    if (WheelScrollPosition(delta, scrollBar_->pos(), CurrentRange(), pos)) ScrollTo(pos);
    return 1;
}

std::wstring UIEditBox::GetText() { return text_; }

void UIEditBox::SyncText() {}

void UIEditBox::SetText(const std::wstring& text) {
    const bool changed = text != text_;
    text_ = text;
    if (changed) NotifyElementEvent(this, EVENT_OBJECT_VALUECHANGE);
    if (multiLine_ && !RectEmpty(rect_) && scrollBar_->visible()) UpdateScrollRange();
    Invalidate();
}

void UIEditBox::SetMultiLine(bool multiLine) {
    multiLine_ = multiLine;
    LayoutTextArea();
    Invalidate();
}

// ---- Accessibility ----------------------------------------------------------------

DWORD UIEditBox::AccessibleRole() { return accessibleRole_ ? accessibleRole_ : ROLE_SYSTEM_TEXT; }

DWORD UIEditBox::AccessibleState() { return STATE_SYSTEM_READONLY; }

bool UIEditBox::AccessibleValue(std::wstring& value) {
    SyncText();
    value = GetText();
    return true;
}

}  // namespace quillo
