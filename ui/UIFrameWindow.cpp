#include "ui/UIFrameWindow.h"

#include "ui/SkinDraw.h"

namespace quillo {

namespace {

const char* const kPieceNames[4] = {"Top", "Left", "Right", "Bottom"};
constexpr int kCornerSize = 4;   // sizing corner squares (at 96 DPI)
constexpr int kTopEdgeRows = 2;  // rows of the top piece that size the window (at 96 DPI)

bool Inside(const RECT& r, POINT p) { return p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom; }

}  // namespace

UIFrameWindow::UIFrameWindow() { kind_ = kKindFrameWindow; }

LRESULT UIFrameWindow::OnCreate(WPARAM, LPARAM) {
    const LONG style = ::GetWindowLongW(hwnd_, GWL_STYLE);
    if (style & WS_CAPTION) ::SetWindowLongW(hwnd_, GWL_STYLE, style & ~WS_CAPTION);
    ::GetClientRect(hwnd_, &rect_);
    return 0;
}

LRESULT UIFrameWindow::OnNcCalcSize(WPARAM wParam, LPARAM lParam) {
    // While the window is created the question comes with wParam FALSE and a
    // plain rectangle: answer it the same way.
    RECT* proposed = wParam ? nullptr : reinterpret_cast<RECT*>(lParam);
    const RECT whole = proposed ? *proposed : RECT{};
    const LRESULT result = DefProc(WM_NCCALCSIZE, wParam, lParam);
    if (proposed) *proposed = whole;
    if (wParam) {
        NCCALCSIZE_PARAMS* params = reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam);
        if (params && params->lppos) {
            const WINDOWPOS& pos = *params->lppos;
            params->rgrc[0] = RECT{pos.x, pos.y, pos.x + pos.cx, pos.y + pos.cy};
        }
    }
    return result;
}

LRESULT UIFrameWindow::OnNcPaint(WPARAM, LPARAM) { return 0; }
LRESULT UIFrameWindow::OnNcActivate(WPARAM, LPARAM) { return 1; }

int UIFrameWindow::LoadSkin(UIResource* resource, const std::string& path, const JValue* parentNode) {
    const JValue* node = resource ? resource->GetNode(path, parentNode) : nullptr;
    if (!node) return 0;
    clientBkgnd_ = resource->GetImageStyle("Client/bkgnd", node);
    for (int i = 0; i < 4; ++i) {
        const std::string frame = std::string("Frames/") + kPieceNames[i];
        normal_[i] = resource->GetImageStyle(frame + "/normal", node);
        grayed_[i] = resource->GetImageStyle(frame + "/grayed", node);
    }
    struct {
        const char* name;
        UIButton** slot;
        const wchar_t* accessibleName;  // the buttons show images only
    } const buttons[] = {{"SysBtns/Close", &close_, L"关闭"},
                         {"SysBtns/Restore", &restore_, L"还原"},
                         {"SysBtns/Maximize", &maximize_, L"最大化"},
                         {"SysBtns/Minimize", &minimize_, L"最小化"}};
    for (const auto& entry : buttons) {
        if (!resource->GetNode(entry.name, node)) continue;
        UIButton* button = new UIButton();
        button->LoadSkin(resource, entry.name, node);
        button->SetAccessibleName(entry.accessibleName);
        // Reached by Escape and Alt+F4 rather than by Tab.
        button->SetTabStop(false);
        AddChild(button);
        *entry.slot = button;
    }
    if (restore_) restore_->SetVisible(false);
    if (close_ && !cancelElement_) SetCancelElement(close_);
    OnLayoutChanged();
    return 1;
}

void UIFrameWindow::OnLayoutChanged() {
    const int right = rect_.right, bottom = rect_.bottom;
    // The border pieces keep their skin size at the display's scale.
    const int top = Px(normal_[kTop].srcH), left = Px(normal_[kLeft].srcW);
    const int rightWidth = Px(normal_[kRight].srcW), bottomHeight = Px(normal_[kBottom].srcH);
    client_ = RECT{left, top, right - rightWidth, bottom - bottomHeight};
    pieces_[kTop] = RECT{0, 0, right, top};
    pieces_[kLeft] = RECT{0, top, left, bottom - bottomHeight};
    pieces_[kRight] = RECT{right - rightWidth, top, right, bottom - bottomHeight};
    pieces_[kBottom] = RECT{0, bottom - bottomHeight, right, bottom};
    if (!IsWindowValid() || layered_) return;
    // The window takes ownership of the region.
    ::SetWindowRgn(hwnd_, ::CreateRectRgn(0, 0, right + 1, bottom + 1), ::IsWindowVisible(hwnd_));
}

void UIFrameWindow::Draw(HDC hdc, const RECT&, const RECT&) {
    DrawImageStyle(hdc, client_, clientBkgnd_);
    for (int i = 0; i < 4; ++i) DrawImageStyle(hdc, pieces_[i], normal_[i]);
}

bool UIFrameWindow::OnHitTarget(POINT point) const {
    for (const auto& child : children_)
        if (!child->notHitTarget() && Inside(child->rect(), point)) return true;
    return false;
}

LRESULT UIFrameWindow::HitTest(POINT p, LRESULT passedOn) const {
    const int kCorner = Px(kCornerSize), kTopEdge = Px(kTopEdgeRows);
    const RECT& top = pieces_[kTop];
    const bool sizable = IsWindowValid() && (::GetWindowLongW(hwnd_, GWL_STYLE) & WS_THICKFRAME);
    if (!sizable) return Inside(top, p) && !OnHitTarget(p) ? HTCAPTION : passedOn;

    if (Inside(top, p)) {
        if (OnHitTarget(p)) return passedOn;
        if (p.x < top.left + kCorner && p.y < top.top + kCorner) return HTTOPLEFT;
        if (p.x >= top.right - kCorner && p.y < top.top + kCorner) return HTTOPRIGHT;
        if (p.y < top.top + kTopEdge) return HTTOP;
        return HTCAPTION;
    }
    const RECT& left = pieces_[kLeft];
    if (Inside(left, p)) return p.y >= left.bottom - kCorner ? HTBOTTOMLEFT : HTLEFT;
    const RECT& right = pieces_[kRight];
    if (Inside(right, p)) return p.y >= right.bottom - kCorner ? HTBOTTOMRIGHT : HTRIGHT;
    const RECT& bottom = pieces_[kBottom];
    if (Inside(bottom, p)) {
        const bool lowest = p.y >= bottom.bottom - kCorner;
        if (lowest && p.x < bottom.left + kCorner) return HTBOTTOMLEFT;
        if (lowest && p.x >= bottom.right - kCorner) return HTBOTTOMRIGHT;
        return HTBOTTOM;
    }
    return passedOn;
}

LRESULT UIFrameWindow::OnNcHitTest(WPARAM wParam, LPARAM lParam) {
    const LRESULT passedOn = DefProc(WM_NCHITTEST, wParam, lParam);
    POINT point = PointFromLParam(lParam);
    ::ScreenToClient(hwnd_, &point);
    return HitTest(point, passedOn);
}

LRESULT UIFrameWindow::OnChildCommand(UIObject* child, UINT message, WPARAM, LPARAM) {
    if (message != WM_COMMAND || !child || !hwnd_) return 0;
    WPARAM command = 0;
    if (child == close_)
        command = SC_CLOSE;
    else if (child == maximize_)
        command = SC_MAXIMIZE;
    else if (child == minimize_)
        command = SC_MINIMIZE;
    else if (child == restore_)
        command = SC_RESTORE;
    if (command) ::SendMessageW(hwnd_, WM_SYSCOMMAND, command, 0);
    return 0;
}

LRESULT UIFrameWindow::OnSysCommand(WPARAM wParam, LPARAM lParam) {
    const LRESULT result = DefProc(WM_SYSCOMMAND, wParam, lParam);
    if (maximize_ && IsWindowValid()) {
        const bool zoomed = ::IsZoomed(hwnd_) != FALSE;
        maximize_->SetVisible(!zoomed);
        if (restore_) restore_->SetVisible(zoomed);
    }
    return result;
}

}  // namespace quillo
