#include "ui/CXEdit.h"

#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>

#include "ui/CHBitmap.h"
#include "ui/SkinDraw.h"
#include "ui/UIAccessible.h"

namespace quillo {

namespace {

namespace gp = Gdiplus::DllExports;

// GetTextExtentPoint32W in a DC with the text's font selected for as long as
// the object lives. Without a DC it measures in a screen-compatible one.
class GdiMeasure {
public:
    GdiMeasure(HDC hdc, HFONT font) : dc_(hdc) {
        if (!dc_) {
            owned_ = ::CreateCompatibleDC(nullptr);
            dc_ = owned_;
        }
        if (dc_) old_ = ::SelectObject(dc_, font ? font : ToolkitDefaultFont());
    }
    ~GdiMeasure() {
        if (dc_ && old_) ::SelectObject(dc_, old_);
        if (owned_) ::DeleteDC(owned_);
    }
    GdiMeasure(const GdiMeasure&) = delete;
    GdiMeasure& operator=(const GdiMeasure&) = delete;

    EditModel::Measure fn() const {
        HDC dc = dc_;
        return [dc](const wchar_t* text, size_t count) {
            SIZE size = {};
            if (!dc || count == 0 || !::GetTextExtentPoint32W(dc, text, static_cast<int>(count), &size)) return 0;
            return static_cast<int>(size.cx);
        };
    }

private:
    HDC dc_;
    HDC owned_ = nullptr;
    HGDIOBJ old_ = nullptr;
};

// The normal style in `color`, left-aligned on one line: the caret and the
// selection are placed from GDI extents counted from the left edge.
TextStyle RunStyle(const TextStyle& normal, COLORREF color) {
    TextStyle style = normal;
    style.color = color;
    style.align = (style.align & ~(DT_CENTER | DT_RIGHT)) | DT_SINGLELINE;
    return style;
}

// GDI+ drawing of the highlight and the caret, so that a layered host's
// back buffer gets opaque pixels.
class Shapes {
public:
    Shapes(HDC hdc, const RECT& clip) {
        if (!scope_.ok() || gp::GdipCreateFromHDC(hdc, &graphics_) != Gdiplus::Ok) {
            graphics_ = nullptr;
            return;
        }
        gp::GdipSetClipRectI(graphics_, clip.left, clip.top, clip.right - clip.left, clip.bottom - clip.top,
                             Gdiplus::CombineModeReplace);
    }
    ~Shapes() {
        if (graphics_) gp::GdipDeleteGraphics(graphics_);
    }
    Shapes(const Shapes&) = delete;
    Shapes& operator=(const Shapes&) = delete;

    void Fill(DWORD argb, int x, int y, int w, int h) {
        Gdiplus::GpSolidFill* brush = nullptr;
        if (!graphics_ || gp::GdipCreateSolidFill(argb, &brush) != Gdiplus::Ok) return;
        gp::GdipFillRectangleI(graphics_, brush, x, y, w, h);
        gp::GdipDeleteBrush(brush);
    }
    void Line(DWORD argb, int x1, int y1, int x2, int y2) {
        Gdiplus::GpPen* pen = nullptr;
        if (!graphics_ || gp::GdipCreatePen1(argb, 1.0f, Gdiplus::UnitPixel, &pen) != Gdiplus::Ok) return;
        gp::GdipDrawLineI(graphics_, pen, x1, y1, x2, y2);
        gp::GdipDeletePen(pen);
    }

private:
    GdiplusScope scope_;
    Gdiplus::GpGraphics* graphics_ = nullptr;
};

constexpr COLORREF kTextBlack = 0;
constexpr COLORREF kTextWhite = RGB(255, 255, 255);

}  // namespace

CXEdit::CXEdit() { tabStop_ = true; }

CXEdit::~CXEdit() = default;

std::wstring CXEdit::GetText() { return model_.text(); }

void CXEdit::SetText(const std::wstring& text) { Apply(model_.SetText(text)); }

void CXEdit::Notify() {
    if (parent_) parent_->OnChildCommand(this, WM_COMMAND, MAKEWPARAM(0, EN_UPDATE), 0);
}

void CXEdit::Apply(unsigned effect) {
    if (effect & EditModel::kNotify) {
        text_ = model_.text();
        Notify();
        NotifyElementEvent(this, EVENT_OBJECT_VALUECHANGE);
    }
    if (effect & (EditModel::kRepaint | EditModel::kNotify)) Invalidate();
}

size_t CXEdit::HitTest(POINT point) {
    const int textLeft = rect_.left + Px(margin_.left) - model_.scrollOffset();
    const bool withinRows = point.y >= rect_.top && point.y < rect_.bottom;
    model_.SetDpi(dpi());
    GdiMeasure measure(GetPaintDC(), FontForDpi(normal_.font, dpi()));
    return model_.HitTest(point.x - textLeft, withinRows, measure.fn());
}

void CXEdit::Draw(HDC hdc, const RECT&, const RECT&) {
    DrawImageStyle(hdc, rect_, bkgnd_);
    const RECT area = InnerTextArea();
    if (RectEmpty(area)) return;

    model_.SetDpi(dpi());
    GdiMeasure measure(hdc, FontForDpi(normal_.font, dpi()));
    const EditModel::Measure fn = measure.fn();
    model_.KeepCaretVisible(RectWidth(area), fn);
    const EditModel::Geometry g = model_.Layout(area.left, area.top, area.bottom, fn);
    const std::wstring& text = model_.text();

    const int origin = area.left - model_.scrollOffset();
    lastTextRect_ = {origin, area.top, origin + fn(text.c_str(), text.size()), area.bottom};

    const TextStyle black = RunStyle(normal_, kTextBlack);
    const TextStyle white = RunStyle(normal_, kTextWhite);
    for (int i = 0; i < g.runCount; ++i) {
        const EditModel::Run& run = g.runs[i];
        const std::wstring part = text.substr(run.begin, run.end - run.begin);
        if (run.selected) {
            Shapes(hdc, area).Fill(kSelectionArgb, g.selX, g.selY, g.selW, g.selH);
        }
        // Wide enough never to cut the run; the clip keeps it in the box.
        const int width = fn(part.c_str(), part.size());
        const RECT layout = {run.x, area.top, std::max<LONG>(area.right, run.x + width + 32), area.bottom};
        DrawTextStyle(hdc, layout, part.c_str(), run.selected ? white : black, &area);
    }
    if (g.caretShown) Shapes(hdc, area).Line(kCaretArgb, g.caretX, g.caretTop, g.caretX, g.caretBottom);
}

LRESULT CXEdit::HandleSetFocus(UIObject*) {
    model_.SetCaretVisible(true);
    const UINT_PTR id = SetElementTimer(this, kCaretBlinkMs);
    timer_ = id ? id : static_cast<UINT_PTR>(-1);
    Invalidate();
    return 0;
}

LRESULT CXEdit::HandleKillFocus(UIObject*) {
    model_.SetCaretVisible(false);
    if (timer_ != static_cast<UINT_PTR>(-1)) KillElementTimer(this, timer_);
    timer_ = static_cast<UINT_PTR>(-1);
    Invalidate();
    return 0;
}

LRESULT CXEdit::HandleTimer(UINT_PTR id) {
    if (id == timer_) {
        model_.SetCaretVisible(!model_.caretVisible());
        Invalidate();
    } else {
        KillElementTimer(this, id);
    }
    return 0;
}

int CXEdit::UpdateCursor() {
    ::SetCursor(::LoadCursorW(nullptr, IDC_IBEAM));
    return 1;
}

LRESULT CXEdit::HandleLButtonDown(UINT, POINT point) {
    HWND host = GetHostWindow();
    if (!host) return 0;
    ::SetCapture(host);
    const size_t anchor = HitTest(point);
    model_.BeginDrag(anchor);
    Invalidate();

    // Own loop while the button is held: moves extend the selection from
    // the anchor; the release is still delivered to the host.
    size_t last = anchor;
    MSG msg;
    while (::GetCapture() == host) {
        const BOOL got = ::GetMessageW(&msg, nullptr, 0, 0);
        if (got == -1) break;
        if (got == 0) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (msg.message == WM_MOUSEMOVE) {
            const size_t index = HitTest(PointFromLParam(msg.lParam));
            if (index != last) {
                last = index;
                if (model_.DragTo(anchor, index)) Invalidate();
            }
            continue;
        }
        if (msg.message == WM_LBUTTONUP) {
            ::DispatchMessageW(&msg);
            break;
        }
        if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) break;
        ::DispatchMessageW(&msg);
    }
    if (::GetCapture() == host) ::ReleaseCapture();
    model_.SetCaretVisible(true);
    Invalidate();
    return 0;
}

LRESULT CXEdit::HandleLButtonDblClk(UINT, POINT) {
    model_.SelectAll();
    model_.SetCaretVisible(true);
    Invalidate();
    return 0;
}

LRESULT CXEdit::HandleLButtonUp(UINT, POINT) { return 1; }

LRESULT CXEdit::HandleMouseMove(UINT, POINT) { return 1; }

LRESULT CXEdit::HandleKeyDown(UINT key, UINT) {
    Apply(model_.KeyDown(key));
    return 0;
}

LRESULT CXEdit::HandleChar(UINT code, UINT) {
    Apply(model_.Char(code));
    return 0;
}

DWORD CXEdit::AccessibleState() { return 0; }

}  // namespace quillo
