// The window base and the host side of the element tree against real USER32
// and GDI: binding and subclassing, dispatch, the message loop, layout,
// painting (plain and layered), input routing, timers and the skinned frame.
#include <gtest/gtest.h>

#include <windows.h>
#include <zlib.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "tests/windows/TestImages.h"
#include "ui/CHWindow.h"
#include "ui/SkinData.h"
#include "ui/UIButton.h"
#include "ui/UIFrameWindow.h"
#include "ui/UILabel.h"
#include "ui/UIObject.h"
#include "ui/UIPane.h"
#include "ui/UIResource.h"

namespace quillo {
namespace {

using test::Png;
using test::Rgba;
using test::SolidPng;

// ---- Test support -------------------------------------------------------------------

const Rgba kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kYellow{255, 255, 0}, kCyan{0, 255, 255},
    kPurple{128, 0, 128}, kOlive{128, 128, 0}, kNavy{0, 0, 128}, kGrey{200, 200, 200}, kWhite{255, 255, 255};

// 6x6 with 2x2 corners red, green, blue, yellow; cyan top edge, grey centre.
std::string NineGridPng() {
    std::vector<Rgba> p(36);
    const Rgba grid[3][3] = {{kRed, kCyan, kGreen}, {kOlive, kGrey, kNavy}, {kBlue, kPurple, kYellow}};
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) p[static_cast<size_t>(y * 6 + x)] = grid[y / 2][x / 2];
    return Png(6, 6, false, p);
}

::testing::AssertionResult Near(const Rgba& actual, const Rgba& expected, int tolerance = 3) {
    return test::NearColor(actual, expected, tolerance);
}

// A top-down 32-bit DIB in a memory DC.
using test::Canvas;

// The class is registered once per process (other suites may have done it).
void EnsureWindowClass() {
    WNDCLASSEXW info = {};
    info.cbSize = sizeof info;
    if (GetClassInfoExW(GetModuleHandleW(nullptr), L"CHWindow", &info)) return;
    ASSERT_NE(RegisterWindowClass(GetModuleHandleW(nullptr)), 0);
    ASSERT_TRUE(GetClassInfoExW(GetModuleHandleW(nullptr), L"CHWindow", &info));
    EXPECT_EQ(info.style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS));
    EXPECT_EQ(info.lpfnWndProc, &CHWindow::WindowProc);
}

LPARAM ClientPoint(int x, int y) { return MAKELPARAM(x, y); }

void Move(HWND hwnd, int x, int y) { SendMessageW(hwnd, WM_MOUSEMOVE, 0, ClientPoint(x, y)); }

void Click(HWND hwnd, int x, int y) {
    Move(hwnd, x, y);
    SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, ClientPoint(x, y));
    SendMessageW(hwnd, WM_LBUTTONUP, 0, ClientPoint(x, y));
}

// Drops whatever the tests left in the thread's queue (mouse-leave
// notifications from TrackMouseEvent, timers).
void DrainQueue() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) continue;
        DispatchMessageW(&msg);
    }
}

// ---- Skin of the tests ------------------------------------------------------------------

const char kSkin[] = R"({
  "cfg": {
    "Win": {
      "Client": {"bkgnd": {"bi": 1, "bg": [0, 0, 2, 2]}},
      "Frames": {
        "Top": {"normal": {"bi": 2, "bg": [0, 0, 6, 6], "mg": [2, 2, 2, 2]}, "grayed": {"bi": 5, "bg": [0, 0, 2, 2]}},
        "Left": {"normal": {"bi": 3, "bg": [0, 0, 3, 3]}, "grayed": {"bi": 5, "bg": [0, 0, 2, 2]}},
        "Right": {"normal": {"bi": 4, "bg": [0, 0, 3, 3]}},
        "Bottom": {"normal": {"bi": 6, "bg": [0, 0, 4, 4]}}
      },
      "SysBtns": {
        "Close": {"id": 901, "size": [-20, 1, 16, 4], "normal": {"bi": 7, "bg": [0, 0, 2, 2]}},
        "Minimize": {"id": 902, "size": [-40, 1, 16, 4], "normal": {"bi": 7, "bg": [0, 0, 2, 2]}},
        "Maximize": {"id": 903, "size": [-60, 1, 16, 4], "normal": {"bi": 7, "bg": [0, 0, 2, 2]}},
        "Restore": {"id": 904, "size": [-60, 1, 16, 4], "normal": {"bi": 7, "bg": [0, 0, 2, 2]}}
      },
      "Glass": {"size": [10, 20, 8, 8], "bkgnd": {"bi": 8, "bg": [0, 0, 2, 2]}}
    },
    "Plain": {
      "Frames": {"Top": {"normal": {"bi": 2, "bg": [0, 0, 6, 6], "mg": [2, 2, 2, 2]}},
                 "Left": {"normal": {"bi": 3, "bg": [0, 0, 3, 3]}},
                 "Right": {"normal": {"bi": 4, "bg": [0, 0, 3, 3]}},
                 "Bottom": {"normal": {"bi": 6, "bg": [0, 0, 4, 4]}}},
      "SysBtns": {"Close": {"id": 901, "size": [-20, 1, 16, 4], "normal": {"bi": 7, "bg": [0, 0, 2, 2]}}}
    }
  },
  "res": {"images": [{"id": 1, "name": "client.png"}, {"id": 2, "name": "top.png"}, {"id": 3, "name": "left.png"},
                     {"id": 4, "name": "right.png"}, {"id": 5, "name": "gray.png"}, {"id": 6, "name": "bottom.png"},
                     {"id": 7, "name": "btn.png"}, {"id": 8, "name": "glass.png"}],
          "fonts": []}
})";

const Rgba kHalfRed{255, 0, 0, 128};

class SkinFixture : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureWindowClass();
        const std::string package = BuildSkinPackage(
            kSkin, {{1, SolidPng(2, 2, kWhite)},
                    {2, NineGridPng()},
                    {3, SolidPng(3, 3, kOlive)},
                    {4, SolidPng(3, 3, kNavy)},
                    {5, SolidPng(2, 2, kYellow)},
                    {6, SolidPng(4, 4, kPurple)},
                    {7, SolidPng(2, 2, kBlue)},
                    {8, SolidPng(2, 2, kHalfRed, true)}});
        ASSERT_TRUE(skin_.LoadFromMemory(package.data(), package.size()));
    }
    void TearDown() override { DrainQueue(); }

    UIResource skin_;
};

// ---- CHWindow ---------------------------------------------------------------------------

// Records which handlers ran.
class Recorder : public CHWindow {
public:
    std::vector<UINT> seen;
    int sizeChanges = 0, attaches = 0, detaches = 0;
    LRESULT reflectResult = 0;
    UINT consume = 0;  // message that PreTranslateMessage swallows

    LRESULT OnCommand(WPARAM wParam, LPARAM lParam) override {
        seen.push_back(WM_COMMAND);
        return CHWindow::OnCommand(wParam, lParam);
    }
    LRESULT OnNotify(WPARAM, LPARAM) override {
        seen.push_back(WM_NOTIFY);
        return 11;
    }
    LRESULT OnKeyUp(WPARAM wParam, LPARAM lParam) override {
        seen.push_back(WM_KEYUP);
        return CHWindow::OnKeyUp(wParam, lParam);
    }
    LRESULT OnMessage(UINT message, WPARAM, LPARAM, bool& handled) override {
        seen.push_back(message);
        handled = message == WM_APP + 1;
        return handled ? 42 : 0;
    }
    LRESULT OnNcDestroy(WPARAM wParam, LPARAM lParam) override {
        seen.push_back(WM_NCDESTROY);
        return CHWindow::OnNcDestroy(wParam, lParam);
    }
    void OnSizeChanged() override { ++sizeChanges; }
    void OnAttach() override { ++attaches; }
    void OnDetach() override { ++detaches; }
    LRESULT OnReflectNotify(NMHDR*) override { return reflectResult; }
    BOOL PreTranslateMessage(MSG* msg) override { return consume && msg->message == consume; }

    bool Saw(UINT message) const {
        for (UINT m : seen)
            if (m == message) return true;
        return false;
    }
};

TEST(UIWindowTest, BindsDuringCreateDispatchesAndUnbindsAtDestroy) {
    EnsureWindowClass();
    Recorder window;
    ASSERT_TRUE(window.Create(nullptr, 0, 0, 100, 80, WS_POPUP, 0, L"t"));
    HWND hwnd = window.hwnd();
    EXPECT_EQ(CHWindow::FromHandle(hwnd), &window);
    EXPECT_EQ(GetPropW(hwnd, L"CHWindow"), &window);

    EXPECT_EQ(SendMessageW(hwnd, WM_APP + 1, 0, 0), 42) << "handled by OnMessage";
    EXPECT_EQ(SendMessageW(hwnd, WM_APP + 2, 0, 0), 0) << "not handled: DefWindowProc";
    EXPECT_TRUE(window.Saw(WM_APP + 2));
    SendMessageW(hwnd, WM_COMMAND, 5, 0);
    EXPECT_TRUE(window.Saw(WM_COMMAND));
    EXPECT_FALSE(window.Saw(WM_KEYDOWN));

    // Only a size change reaches OnSizeChanged.
    SetWindowPos(hwnd, nullptr, 10, 10, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ(window.sizeChanges, 0);
    SetWindowPos(hwnd, nullptr, 0, 0, 120, 90, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    EXPECT_EQ(window.sizeChanges, 1);

    DestroyWindow(hwnd);
    EXPECT_TRUE(window.Saw(WM_NCDESTROY));
    EXPECT_EQ(window.hwnd(), nullptr) << "detached after WM_NCDESTROY";
    EXPECT_EQ(window.detaches, 0) << "a window of the own class is not subclassed";
}

LRESULT CALLBACK CountingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP + 7) return 77;
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

TEST(UIWindowTest, AttachSubclassesOnceAndDetachRestoresTheProcedure) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = CountingProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QuilloAttachTest";
    RegisterClassW(&wc);
    HWND hwnd = CreateWindowExW(0, L"QuilloAttachTest", L"", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(hwnd, nullptr);

    Recorder first, second;
    ASSERT_TRUE(first.Attach(hwnd));
    EXPECT_EQ(first.attaches, 1);
    EXPECT_FALSE(second.Attach(hwnd)) << "already bound";
    EXPECT_FALSE(second.Attach(nullptr));
    EXPECT_EQ(SendMessageW(hwnd, WM_APP + 7, 0, 0), 77) << "unhandled messages reach the former procedure";
    EXPECT_TRUE(first.Saw(WM_APP + 7));
    SendMessageW(hwnd, WM_KEYUP, 'A', 0);
    EXPECT_TRUE(first.Saw(WM_KEYUP));

    // A modal dialog recorded on the window is closed by Detach.
    first.SetLastModal(reinterpret_cast<HWND>(0x1234));
    EXPECT_NE(GetPropW(hwnd, L"PropLastModal"), nullptr);
    first.ClearLastModal();
    EXPECT_EQ(GetPropW(hwnd, L"PropLastModal"), nullptr);

    EXPECT_EQ(first.Detach(), hwnd);
    EXPECT_EQ(first.detaches, 1);
    EXPECT_EQ(GetPropW(hwnd, L"CHWindow"), nullptr);
    EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd, GWLP_WNDPROC)), &CountingProc);
    const size_t before = first.seen.size();
    SendMessageW(hwnd, WM_APP + 7, 0, 0);
    EXPECT_EQ(first.seen.size(), before) << "no longer routed through the object";
    EXPECT_TRUE(second.Attach(hwnd)) << "free again";
    second.Detach();
    DestroyWindow(hwnd);
}

TEST(UIWindowTest, NotifyIsOfferedToTheSendersObjectFirst) {
    EnsureWindowClass();
    Recorder parent, child;
    ASSERT_TRUE(parent.Create(nullptr, 0, 0, 100, 100, WS_POPUP, 0, L""));
    ASSERT_TRUE(child.Create(parent.hwnd(), 0, 0, 10, 10, WS_CHILD, 0, L""));
    NMHDR header = {child.hwnd(), 1, 123};

    child.reflectResult = 9;
    EXPECT_EQ(SendMessageW(parent.hwnd(), WM_NOTIFY, 1, reinterpret_cast<LPARAM>(&header)), 9);
    EXPECT_FALSE(parent.Saw(WM_NOTIFY));
    child.reflectResult = 0;
    EXPECT_EQ(SendMessageW(parent.hwnd(), WM_NOTIFY, 1, reinterpret_cast<LPARAM>(&header)), 11);
    EXPECT_TRUE(parent.Saw(WM_NOTIFY));
}

TEST(UIWindowTest, MessageLoopPreTranslatesUpTheParentChainAndReturnsTheQuitCode) {
    EnsureWindowClass();
    DrainQueue();
    Recorder parent, child;
    ASSERT_TRUE(parent.Create(nullptr, 0, 0, 100, 100, WS_POPUP, 0, L""));
    ASSERT_TRUE(child.Create(parent.hwnd(), 0, 0, 10, 10, WS_CHILD, 0, L""));
    parent.consume = WM_APP + 3;

    PostMessageW(child.hwnd(), WM_APP + 3, 0, 0);  // swallowed by the parent
    PostMessageW(child.hwnd(), WM_APP + 4, 0, 0);  // dispatched to the child
    PostQuitMessage(7);
    bool exited = false;
    EXPECT_EQ(RunMessageLoop([&] { exited = true; }), 7);
    EXPECT_TRUE(exited);
    EXPECT_FALSE(child.Saw(WM_APP + 3));
    EXPECT_TRUE(child.Saw(WM_APP + 4));
}

// ---- UIObject: layout and drawing -----------------------------------------------------

// A host window with a white background pane filling it.
class Host : public UIObject {
public:
    std::vector<std::pair<WPARAM, LPARAM>> commands;
    LRESULT OnCommand(WPARAM wParam, LPARAM lParam) override {
        commands.emplace_back(wParam, lParam);
        return UIObject::OnCommand(wParam, lParam);
    }
};

UIPane* AddPane(UIObject* parent, int x, int y, int w, int h, const ImageStyle& style = ImageStyle()) {
    UIPane* pane = new UIPane();
    pane->SetPosition(x, y, w, h);
    pane->SetBackground(style);
    parent->AddChild(pane);
    return pane;
}

::testing::AssertionResult RectIs(const RECT& r, int left, int top, int right, int bottom) {
    if (r.left == left && r.top == top && r.right == right && r.bottom == bottom) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << r.left << "," << r.top << "," << r.right << "," << r.bottom << ")";
}

TEST(UIObjectTest, LayoutCountsNegativeCoordinatesFromTheFarEdges) {
    EnsureWindowClass();
    Host host;
    ASSERT_TRUE(host.Create(nullptr, 0, 0, 610, 430, WS_POPUP, 0, L""));
    ASSERT_TRUE(RectIs(host.rect(), 0, 0, 610, 430)) << "a window's rectangle is its client area";

    UIPane* corner = AddPane(&host, -145, -177, 93, 38);
    EXPECT_TRUE(RectIs(corner->rect(), 465, 253, 558, 291));
    UIPane* inner = AddPane(corner, -13, 5, 10, 10);
    EXPECT_TRUE(RectIs(inner->rect(), 545, 258, 555, 268)) << "relative to the parent element";
    UIPane* fixed = new UIPane();
    fixed->SetFixedOffset(true);
    fixed->SetPosition(-5, -5, 4, 4);
    corner->AddChild(fixed);
    EXPECT_TRUE(RectIs(fixed->rect(), 460, 248, 464, 252)) << "fixed offsets count from the top-left";

    UIPane* flat = AddPane(&host, 10, 10, 0, 20);
    EXPECT_TRUE(RectEmpty(flat->rect())) << "w = 0 is never laid out";

    corner->SetPosition(10, 20, -1, -1);
    EXPECT_TRUE(RectIs(corner->rect(), 10, 20, 103, 58)) << "negative w and h keep the size";
    EXPECT_TRUE(RectIs(inner->rect(), 90, 25, 100, 35)) << "children follow";

    AddPane(&host, -50, -50, 40, 40);
    host.SetWindowSize(400, 300);
    ASSERT_TRUE(RectIs(host.rect(), 0, 0, 400, 300));
    EXPECT_TRUE(RectIs(host.children().back()->rect(), 350, 250, 390, 290)) << "re-laid out on resize";
}

// WM_DPICHANGED (the window moved to a display of another scale): the window
// takes the suggested rectangle and every element its place at the new scale;
// places given in pixels stay; back at 96 DPI everything is where it was.
TEST(UIObjectTest, DpiChangeLaysEverythingOutAtTheNewScale) {
    EnsureWindowClass();
    Host host;
    ASSERT_TRUE(host.Create(nullptr, 0, 0, 610, 430, WS_POPUP, 0, L""));
    ASSERT_EQ(host.dpi(), 96) << "the test prefix's display is at 96 DPI";
    UIPane* corner = AddPane(&host, -145, -177, 93, 38);
    UIPane* inner = AddPane(corner, 4, 5, 10, 10);
    UIPane* pixels = new UIPane();
    pixels->SetPixelPosition(3, 4, 50, 60);
    host.AddChild(pixels);
    struct Row {
        int dpi;
        RECT suggested, client, corner, inner;
        int width;  // of SetWindowSize(400, 300)
    };
    const Row rows[] = {
        {144, {10, 20, 925, 665}, {0, 0, 915, 645}, {697, 379, 837, 436}, {703, 387, 718, 402}, 600},
        {192, {0, 0, 1220, 860}, {0, 0, 1220, 860}, {930, 506, 1116, 582}, {938, 516, 958, 536}, 800},
        {96, {5, 5, 615, 435}, {0, 0, 610, 430}, {465, 253, 558, 291}, {469, 258, 479, 268}, 400},
    };
    for (const Row& row : rows) {
        SendMessageW(host.hwnd(), 0x02E0, MAKEWPARAM(row.dpi, row.dpi), reinterpret_cast<LPARAM>(&row.suggested));
        EXPECT_EQ(host.dpi(), row.dpi);
        EXPECT_EQ(corner->dpi(), row.dpi) << "elements answer their host's";
        RECT window;
        GetWindowRect(host.hwnd(), &window);
        EXPECT_TRUE(RectIs(window, row.suggested.left, row.suggested.top, row.suggested.right, row.suggested.bottom))
            << row.dpi;
        const RECT& c = row.client;
        EXPECT_TRUE(RectIs(host.rect(), c.left, c.top, c.right, c.bottom)) << row.dpi;
        EXPECT_TRUE(RectIs(corner->rect(), row.corner.left, row.corner.top, row.corner.right, row.corner.bottom))
            << row.dpi;
        EXPECT_TRUE(RectIs(inner->rect(), row.inner.left, row.inner.top, row.inner.right, row.inner.bottom)) << row.dpi;
        EXPECT_TRUE(RectIs(pixels->rect(), 3, 4, 53, 64)) << "pixel places are not scaled";
        EXPECT_EQ(host.Px(36), (36 * row.dpi + 48) / 96);
        host.SetWindowSize(400, 300);
        GetWindowRect(host.hwnd(), &window);
        EXPECT_EQ(RectWidth(window), row.width) << "window sizes are at 96 DPI";
        MoveWindow(host.hwnd(), row.suggested.left, row.suggested.top, RectWidth(row.suggested),
                   RectHeight(row.suggested), FALSE);
    }
}

TEST_F(SkinFixture, UIObjectRenderPaintsChildrenInOrderClippedToTheirParent) {
    Host host;
    ASSERT_TRUE(host.Create(nullptr, 0, 0, 60, 40, WS_POPUP, 0, L""));
    UIPane* back = AddPane(&host, 0, 0, 60, 40, skin_.GetImageStyle("Win/Client/bkgnd"));
    AddPane(back, 5, 5, 20, 20, skin_.GetImageStyle("Win/Frames/Left/normal"));
    UIPane* navy = AddPane(back, 15, 15, 20, 20, skin_.GetImageStyle("Win/Frames/Right/normal"));
    AddPane(navy, 15, 15, 30, 30, skin_.GetImageStyle("Win/Frames/Bottom/normal"));
    UIPane* hidden = AddPane(back, 40, 0, 20, 40, skin_.GetImageStyle("Win/SysBtns/Close/normal"));
    hidden->SetVisible(false);
    AddPane(back, 10, 20, 8, 8, skin_.GetImageStyle("Win/Glass/bkgnd"));

    Canvas canvas(60, 40);
    host.Render(canvas.dc(), host.rect());
    EXPECT_TRUE(Near(canvas.At(1, 1), kWhite));
    EXPECT_TRUE(Near(canvas.At(6, 6), kOlive));
    EXPECT_TRUE(Near(canvas.At(22, 22), kNavy)) << "the later sibling paints over the earlier one";
    EXPECT_TRUE(Near(canvas.At(33, 33), kPurple)) << "children paint over their parent";
    EXPECT_TRUE(Near(canvas.At(37, 33), kWhite)) << "the grandchild is clipped to its parent";
    EXPECT_TRUE(Near(canvas.At(21, 10), kOlive));
    EXPECT_TRUE(Near(canvas.At(50, 20), kWhite)) << "hidden elements are not drawn";
    EXPECT_TRUE(Near(canvas.At(12, 26), {255, 128, 128}, 4)) << "alpha images blend over what is below";

    Canvas part(60, 40);
    const RECT clip = {0, 0, 10, 40};
    host.Render(part.dc(), clip);
    EXPECT_TRUE(Near(part.At(6, 6), kOlive));
    EXPECT_TRUE(Near(part.At(22, 22), {0, 0, 0})) << "outside the clip nothing is painted";
}

TEST_F(SkinFixture, UIObjectPaintsThroughTheBackBufferAndLayeredWindowsKeepAlpha) {
    Host plain;
    ASSERT_TRUE(plain.Create(nullptr, 0, 0, 40, 30, WS_POPUP | WS_VISIBLE, 0, L""));
    AddPane(&plain, 0, 0, 40, 30, skin_.GetImageStyle("Win/Frames/Right/normal"));
    EXPECT_EQ(SendMessageW(plain.hwnd(), WM_ERASEBKGND, 0, 0), 1);
    InvalidateRect(plain.hwnd(), nullptr, FALSE);
    UpdateWindow(plain.hwnd());
    ASSERT_NE(plain.bufferDC(), nullptr);
    EXPECT_EQ(plain.bufferBits(), nullptr) << "a plain window has a compatible bitmap";
    const COLORREF painted = GetPixel(plain.bufferDC(), 20, 15);
    EXPECT_EQ(painted, RGB(0, 0, 128));
    EXPECT_FALSE(plain.SetLayeredAlpha(128)) << "never made layered";

    Host layered;
    ASSERT_TRUE(layered.Create(nullptr, 0, 0, 40, 30, WS_POPUP, 0, L""));
    AddPane(&layered, 10, 20, 8, 8, skin_.GetImageStyle("Win/Glass/bkgnd"));
    AddPane(&layered, 0, 0, 10, 10, skin_.GetImageStyle("Win/Frames/Left/normal"));
    EXPECT_TRUE(layered.MakeLayered());
    EXPECT_TRUE(GetWindowLongW(layered.hwnd(), GWL_EXSTYLE) & WS_EX_LAYERED);
    ShowWindow(layered.hwnd(), SW_SHOWNOACTIVATE);  // the first show paints
    ASSERT_NE(layered.bufferBits(), nullptr);
    const auto alphaAt = [&](int x, int y) {
        const uint8_t* bits = layered.bufferBits();
        return bits[(layered.bufferHeight() - 1 - y) * layered.bufferWidth() * 4 + x * 4 + 3];
    };
    EXPECT_NEAR(alphaAt(12, 22), 128, 2) << "per-pixel alpha survives";
    EXPECT_EQ(alphaAt(30, 5), 0) << "unpainted pixels are transparent";
    EXPECT_TRUE(layered.SetLayeredAlpha(200));

    // What changes while the window is hidden is drawn when it shows again.
    ShowWindow(layered.hwnd(), SW_HIDE);
    AddPane(&layered, 24, 2, 8, 8, skin_.GetImageStyle("Win/Glass/bkgnd"));
    EXPECT_EQ(alphaAt(26, 4), 0);
    ShowWindow(layered.hwnd(), SW_SHOWNOACTIVATE);
    EXPECT_NEAR(alphaAt(26, 4), 128, 2) << "the element added while hidden is painted";
}

// ---- UIObject: input ----------------------------------------------------------------------

// An element that logs what reaches it.
class Probe : public UIObject {
public:
    Probe(std::vector<std::string>* log, const char* name) : log_(log), name_(name) {}
    LRESULT HandleMouseEnter(UINT, POINT) override { return Note("enter"); }
    LRESULT HandleMouseLeave(UINT, POINT) override { return Note("leave"); }
    LRESULT HandleLButtonDown(UINT, POINT) override { return Note("down"); }
    LRESULT HandleLButtonUp(UINT, POINT) override { return Note("up"); }
    LRESULT HandleRButtonUp(UINT, POINT) override { return Note("rup"); }
    LRESULT HandleKeyUp(UINT, UINT) override { return Note("keyup"); }
    LRESULT HandleSetFocus(UIObject*) override { return Note("focus"); }
    LRESULT HandleKillFocus(UIObject*) override { return Note("blur"); }
    LRESULT HandleTimer(UINT_PTR id) override {
        timerIds.push_back(id);
        return 0;
    }
    std::vector<UINT_PTR> timerIds;

private:
    LRESULT Note(const char* what) {
        log_->push_back(name_ + ":" + what);
        return 0;
    }
    std::vector<std::string>* log_;
    std::string name_;
};

Probe* AddProbe(UIObject* parent, std::vector<std::string>* log, const char* name, int x, int y, int w, int h) {
    Probe* probe = new Probe(log, name);
    probe->SetPosition(x, y, w, h);
    parent->AddChild(probe);
    return probe;
}

TEST(UIObjectTest, HoverFollowsThePointerAndLeavesTheWholeChain) {
    EnsureWindowClass();
    Host host;
    ASSERT_TRUE(host.Create(nullptr, 0, 0, 200, 100, WS_POPUP, 0, L""));
    std::vector<std::string> log;
    Probe* a = AddProbe(&host, &log, "a", 10, 10, 50, 50);
    Probe* inner = AddProbe(a, &log, "inner", 5, 5, 10, 10);
    Probe* b = AddProbe(&host, &log, "b", 100, 10, 50, 50);

    Move(host.hwnd(), 20, 20);
    EXPECT_EQ(log, (std::vector<std::string>{"a:enter", "inner:enter"}));
    EXPECT_TRUE(a->hovered() && inner->hovered());
    EXPECT_EQ(host.DeepestHovered(), inner);
    log.clear();
    Move(host.hwnd(), 40, 40);
    EXPECT_EQ(log, (std::vector<std::string>{"inner:leave"}));
    EXPECT_EQ(host.DeepestHovered(), a);
    log.clear();
    Move(host.hwnd(), 120, 20);
    EXPECT_EQ(log, (std::vector<std::string>{"a:leave", "b:enter"}));
    log.clear();
    SendMessageW(host.hwnd(), WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(log, (std::vector<std::string>{"b:leave"}));
    EXPECT_FALSE(b->hovered());
    EXPECT_FALSE(host.hovered());
    EXPECT_EQ(host.DeepestHovered(), nullptr);
}

TEST(UIObjectTest, ClicksGoToTheTopmostEnabledElementAndMoveTheFocus) {
    EnsureWindowClass();
    Host host;
    ASSERT_TRUE(host.Create(nullptr, 0, 0, 200, 100, WS_POPUP, 0, L""));
    std::vector<std::string> log;
    AddProbe(&host, &log, "under", 10, 10, 50, 50);
    AddProbe(&host, &log, "over", 30, 10, 50, 50);
    Probe* off = AddProbe(&host, &log, "off", 100, 10, 50, 50);
    off->SetEnabled(false);

    Click(host.hwnd(), 40, 20);
    EXPECT_EQ(log, (std::vector<std::string>{"over:enter", "over:focus", "over:down", "over:up"}));
    log.clear();
    Click(host.hwnd(), 20, 20);
    EXPECT_EQ(log, (std::vector<std::string>{"over:leave", "under:enter", "over:blur", "under:focus", "under:down",
                                             "under:up"}));
    log.clear();
    Click(host.hwnd(), 120, 20);
    EXPECT_EQ(log, (std::vector<std::string>{"under:leave", "off:enter"})) << "a disabled element gets no buttons";
    log.clear();
    SendMessageW(host.hwnd(), WM_RBUTTONUP, 0, ClientPoint(120, 20));
    EXPECT_TRUE(log.empty());
    Move(host.hwnd(), 180, 80);
    log.clear();
    SendMessageW(host.hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, ClientPoint(180, 80));
    EXPECT_EQ(log, (std::vector<std::string>{"under:blur"})) << "a press on nothing clears the focus";
    EXPECT_EQ(host.focusChild(), nullptr);
}

// Remembers which message reached the previous procedure before the element saw a key.
class KeyHost : public Host {
public:
    std::vector<std::string>* log = nullptr;
    LRESULT DefProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_KEYUP) log->push_back("DefProc:WM_KEYUP");
        if (message == WM_KEYDOWN) log->push_back("DefProc:WM_KEYDOWN");
        return Host::DefProc(message, wParam, lParam);
    }
};

TEST(UIObjectTest, KeyReleasePassesOnBeforeTheFocusElementSeesIt) {
    EnsureWindowClass();
    KeyHost host;
    std::vector<std::string> log;
    host.log = &log;
    ASSERT_TRUE(host.Create(nullptr, 0, 0, 100, 100, WS_POPUP, 0, L""));
    AddProbe(&host, &log, "field", 10, 10, 20, 20);
    Click(host.hwnd(), 15, 15);
    log.clear();
    SendMessageW(host.hwnd(), WM_KEYUP, 'A', 0);
    EXPECT_EQ(log, (std::vector<std::string>{"DefProc:WM_KEYUP", "field:keyup"}));
}

TEST(UIObjectTest, ElementTimersTakeTheNextIdAndReachTheirElement) {
    EnsureWindowClass();
    Host host;
    ASSERT_TRUE(host.Create(nullptr, 0, 0, 100, 100, WS_POPUP | WS_VISIBLE, 0, L""));
    std::vector<std::string> log;
    Probe* probe = AddProbe(&host, &log, "p", 0, 0, 10, 10);
    Probe orphan(&log, "orphan");
    EXPECT_EQ(host.SetElementTimer(&orphan, 1000), 0u) << "no host window";

    for (UINT_PTR expected = 1; expected <= 5; ++expected) EXPECT_EQ(host.SetElementTimer(probe, 100000), expected);
    for (UINT_PTR id : {2, 3, 4}) EXPECT_EQ(host.KillElementTimer(probe, id), 1);
    EXPECT_EQ(probe->SetElementTimer(probe, 100000), 6u) << "one more than the largest id";

    SendMessageW(host.hwnd(), WM_TIMER, 5, 0);
    SendMessageW(host.hwnd(), WM_TIMER, 3, 0);  // killed: not delivered
    EXPECT_EQ(probe->timerIds, (std::vector<UINT_PTR>{5}));

    ShowWindow(host.hwnd(), SW_HIDE);
    EXPECT_EQ(host.KillElementTimer(probe, 6), 0) << "a hidden host keeps its timers";
    EXPECT_EQ(host.timers().count(6), 1u);
}

TEST(UIObjectTest, WindowHelpersCentreResizeAndChangeStyles) {
    EnsureWindowClass();
    Host parent;
    ASSERT_TRUE(parent.Create(nullptr, 100, 50, 300, 200, WS_POPUP, 0, L""));
    Host child;
    ASSERT_TRUE(child.Create(parent.hwnd(), 0, 0, 101, 51, WS_CHILD, 0, L""));
    child.CenterWindow();
    RECT placed;
    GetWindowRect(child.hwnd(), &placed);
    EXPECT_TRUE(RectIs(placed, 100 + 99, 50 + 74, 100 + 99 + 101, 50 + 74 + 51)) << "centred in the parent's client area";
    child.SetWindowSize(30, 20);
    GetWindowRect(child.hwnd(), &placed);
    EXPECT_TRUE(RectIs(placed, 199, 124, 229, 144)) << "the top-left corner stays";

    RECT desktop;
    GetWindowRect(GetDesktopWindow(), &desktop);
    parent.CenterWindow();
    GetWindowRect(parent.hwnd(), &placed);
    EXPECT_EQ(placed.left, desktop.left + (RectWidth(desktop) - 300) / 2);
    EXPECT_EQ(placed.top, desktop.top + (RectHeight(desktop) - 200) / 2);

    EXPECT_TRUE(parent.ModifyExStyle(0, WS_EX_TOOLWINDOW));
    EXPECT_FALSE(parent.ModifyExStyle(0, WS_EX_TOOLWINDOW)) << "unchanged";
    EXPECT_TRUE(parent.ModifyExStyle(WS_EX_TOOLWINDOW, 0));
    EXPECT_FALSE(child.MakeLayered()) << "child windows are never layered";
}

// ---- UIFrameWindow -----------------------------------------------------------------------

class Frame : public UIFrameWindow {
public:
    std::vector<WPARAM> sysCommands;
    std::vector<WPARAM> commands;
    LRESULT OnSysCommand(WPARAM wParam, LPARAM lParam) override {
        sysCommands.push_back(wParam);
        if ((wParam & 0xFFF0) == SC_CLOSE || (wParam & 0xFFF0) == SC_MINIMIZE) return 0;
        return UIFrameWindow::OnSysCommand(wParam, lParam);
    }
    LRESULT OnCommand(WPARAM wParam, LPARAM lParam) override {
        commands.push_back(wParam);
        return UIFrameWindow::OnCommand(wParam, lParam);
    }
};

TEST_F(SkinFixture, UIFrameDrawsItsBorderPiecesAroundTheClient) {
    Frame frame;
    ASSERT_TRUE(frame.Create(nullptr, 0, 0, 80, 50, WS_POPUP | WS_CAPTION, 0, L""));
    EXPECT_FALSE(GetWindowLongW(frame.hwnd(), GWL_STYLE) & WS_CAPTION) << "the system caption is removed";
    ASSERT_EQ(frame.LoadSkin(&skin_, "Win", nullptr), 1);
    EXPECT_TRUE(RectIs(frame.clientRect(), 3, 6, 77, 46));
    EXPECT_TRUE(RectIs(frame.pieceRect(UIFrameWindow::kTop), 0, 0, 80, 6));
    EXPECT_TRUE(RectIs(frame.pieceRect(UIFrameWindow::kLeft), 0, 6, 3, 46));
    EXPECT_TRUE(RectIs(frame.pieceRect(UIFrameWindow::kRight), 77, 6, 80, 46));
    EXPECT_TRUE(RectIs(frame.pieceRect(UIFrameWindow::kBottom), 0, 46, 80, 50));

    ASSERT_NE(frame.closeButton(), nullptr);
    frame.closeButton()->SetVisible(false);
    frame.maximizeButton()->SetVisible(false);
    frame.minimizeButton()->SetVisible(false);
    Canvas canvas(80, 50);
    frame.Render(canvas.dc(), frame.rect());
    EXPECT_TRUE(Near(canvas.At(0, 0), kRed)) << "nine-grid corners keep their size";
    EXPECT_TRUE(Near(canvas.At(1, 1), kRed));
    EXPECT_TRUE(Near(canvas.At(79, 0), kGreen));
    EXPECT_TRUE(Near(canvas.At(40, 0), kCyan)) << "the top edge stretches";
    EXPECT_TRUE(Near(canvas.At(40, 3), kGrey));
    EXPECT_TRUE(Near(canvas.At(0, 4), kBlue));
    EXPECT_TRUE(Near(canvas.At(1, 20), kOlive));
    EXPECT_TRUE(Near(canvas.At(78, 20), kNavy));
    EXPECT_TRUE(Near(canvas.At(40, 48), kPurple));
    EXPECT_TRUE(Near(canvas.At(40, 25), kWhite)) << "client background";
    EXPECT_FALSE(Near(canvas.At(40, 25), kYellow)) << "the grayed pieces are not drawn";

    // The window region is the plain rectangle one pixel larger.
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(GetWindowRgn(frame.hwnd(), region), ERROR);
    RECT box;
    GetRgnBox(region, &box);
    DeleteObject(region);
    EXPECT_TRUE(RectIs(box, 0, 0, 81, 51));
}

LRESULT HitAt(const UIFrameWindow& frame, int x, int y) {
    POINT p = {x, y};
    ClientToScreen(frame.hwnd(), &p);
    return SendMessageW(frame.hwnd(), WM_NCHITTEST, 0, MAKELPARAM(p.x, p.y));
}

TEST_F(SkinFixture, UIFrameHitTestingGivesCaptionAndSizingCodes) {
    Frame fixed;
    ASSERT_TRUE(fixed.Create(nullptr, 30, 40, 120, 60, WS_POPUP, 0, L""));
    ASSERT_EQ(fixed.LoadSkin(&skin_, "Plain", nullptr), 1);
    UILabel* label = new UILabel();
    label->SetPosition(20, 0, 30, 6);
    fixed.AddChild(label);
    EXPECT_EQ(HitAt(fixed, 1, 1), HTCAPTION);
    EXPECT_EQ(HitAt(fixed, 25, 3), HTCAPTION) << "labels do not block dragging";
    EXPECT_EQ(HitAt(fixed, 105, 2), HTCLIENT) << "the close button covers the caption";
    EXPECT_EQ(HitAt(fixed, 1, 20), HTCLIENT) << "no sizing without WS_THICKFRAME";
    EXPECT_EQ(HitAt(fixed, 60, 30), HTCLIENT);

    Frame sizable;
    ASSERT_TRUE(sizable.Create(nullptr, 30, 40, 120, 60, WS_POPUP | WS_THICKFRAME, 0, L""));
    RECT window, client;
    GetWindowRect(sizable.hwnd(), &window);
    GetClientRect(sizable.hwnd(), &client);
    EXPECT_EQ(RectWidth(client), RectWidth(window)) << "no non-client area";
    ASSERT_EQ(sizable.LoadSkin(&skin_, "Plain", nullptr), 1);
    const int w = 120, h = 60;
    EXPECT_EQ(HitAt(sizable, 1, 1), HTTOPLEFT);
    EXPECT_EQ(HitAt(sizable, w - 2, 3), HTTOPRIGHT);
    EXPECT_EQ(HitAt(sizable, 50, 1), HTTOP);
    EXPECT_EQ(HitAt(sizable, 50, 4), HTCAPTION);
    EXPECT_EQ(HitAt(sizable, 105, 2), HTCLIENT) << "over a button";
    EXPECT_EQ(HitAt(sizable, 1, 20), HTLEFT);
    EXPECT_EQ(HitAt(sizable, 1, h - 6), HTBOTTOMLEFT) << "lowest rows of the left piece";
    EXPECT_EQ(HitAt(sizable, w - 1, 20), HTRIGHT);
    EXPECT_EQ(HitAt(sizable, w - 1, h - 6), HTBOTTOMRIGHT);
    EXPECT_EQ(HitAt(sizable, 50, h - 1), HTBOTTOM);
    EXPECT_EQ(HitAt(sizable, 2, h - 1), HTBOTTOMLEFT);
    EXPECT_EQ(HitAt(sizable, w - 2, h - 1), HTBOTTOMRIGHT);
    EXPECT_EQ(HitAt(sizable, 60, 30), HTCLIENT);
}

TEST_F(SkinFixture, UIFrameSystemButtonsBecomeSystemCommands) {
    Frame frame;
    ASSERT_TRUE(frame.Create(nullptr, 0, 0, 200, 100, WS_POPUP | WS_VISIBLE, 0, L""));
    ASSERT_EQ(frame.LoadSkin(&skin_, "Win", nullptr), 1);
    ASSERT_NE(frame.restoreButton(), nullptr);
    EXPECT_FALSE(frame.restoreButton()->visible()) << "Restore starts hidden";
    EXPECT_TRUE(RectIs(frame.closeButton()->rect(), 180, 1, 196, 5));

    Click(frame.hwnd(), 185, 2);
    ASSERT_EQ(frame.sysCommands, (std::vector<WPARAM>{SC_CLOSE}));
    EXPECT_EQ(frame.commands, (std::vector<WPARAM>{901})) << "the button's own command follows";
    Click(frame.hwnd(), 165, 2);
    EXPECT_EQ(frame.sysCommands.back(), static_cast<WPARAM>(SC_MINIMIZE));

    Click(frame.hwnd(), 145, 2);
    EXPECT_EQ(frame.sysCommands.back(), static_cast<WPARAM>(SC_MAXIMIZE));
    ASSERT_TRUE(IsZoomed(frame.hwnd()));
    EXPECT_FALSE(frame.maximizeButton()->visible());
    EXPECT_TRUE(frame.restoreButton()->visible());
    SendMessageW(frame.hwnd(), WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_TRUE(frame.maximizeButton()->visible());
    EXPECT_FALSE(frame.restoreButton()->visible());

    Frame plain;  // no Maximize in its skin: no bookkeeping
    ASSERT_TRUE(plain.Create(nullptr, 0, 0, 200, 100, WS_POPUP | WS_VISIBLE, 0, L""));
    ASSERT_EQ(plain.LoadSkin(&skin_, "Plain", nullptr), 1);
    EXPECT_EQ(plain.maximizeButton(), nullptr);
    EXPECT_EQ(plain.restoreButton(), nullptr);
    SendMessageW(plain.hwnd(), WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    SendMessageW(plain.hwnd(), WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_TRUE(plain.closeButton()->visible());
}

}  // namespace
}  // namespace quillo
