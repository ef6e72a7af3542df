// The edit controls inside a real host window: typing and keys through
// WM_CHAR / WM_KEYDOWN, mouse selection with real GDI extents, the caret
// timer, drawing, the native "Edit" window of CXEditCtrl and the scrolling
// text view made by the factory.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>

#include "tests/windows/TestImages.h"
#include "ui/CXEdit.h"
#include "ui/CXEditCtrl.h"
#include "ui/ControlFactory.h"
#include "ui/SkinData.h"
#include "ui/SkinDraw.h"
#include "ui/UIScrollBar.h"

namespace quillo {
namespace {

// A grey 24-bit BMP for the scroll bar's pieces.
std::string GreyBmp(int width, int height) {
    const int stride = (width * 3 + 3) & ~3;
    const BITMAPFILEHEADER file = {0x4D42, static_cast<DWORD>(54 + stride * height), 0, 0, 54};
    const BITMAPINFOHEADER info = {40, width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    return std::string(reinterpret_cast<const char*>(&file), 14) + std::string(reinterpret_cast<const char*>(&info), 40) +
           std::string(static_cast<size_t>(stride * height), char(90));
}

// The editor's normal text colour is red so that the black it must draw
// with instead can be told apart.
const char kSkin[] = R"({
  "cfg": {"Form": {
    "Path": {"id": 31, "size": [10, 10, 200, 24], "Text": {"margin": [3, 0, 3, 0], "normal": {"cr": 255, "al": 36}}},
    "Notes": {"id": 32, "size": [10, 50, 200, 100], "Text": {"margin": [2, 2, 2, 2], "normal": {}},
              "ScrollBar": {"thumb": {"bi": 2, "bg": [0, 0, 12, 20]}, "trackbar": {"bi": 2, "bg": [0, 0, 12, 60]}}},
    "Field": {"id": 33, "size": [10, 160, 200, 28], "Text": {"margin": [0, 0, 0, 0], "normal": {}}}
  }},
  "res": {"images": [{"id": 2, "name": "bar.bmp"}], "fonts": []}
})";

constexpr UINT_PTR kNoTimer = static_cast<UINT_PTR>(-1);

// A host window that counts the EN_UPDATE notifications of its elements.
class Host : public UIObject {
public:
    int updates = 0;
    LRESULT OnChildCommand(UIObject*, UINT message, WPARAM wParam, LPARAM) override {
        updates += message == WM_COMMAND && wParam == 0x04000000;
        return 0;
    }
};

// A white 420 x 300 canvas.
class Canvas : public test::Canvas {
public:
    Canvas() : test::Canvas(420, 300, {255, 255, 255, 0}) {}
};

bool Dark(COLORREF c) { return GetRValue(c) + GetGValue(c) + GetBValue(c) < 3 * 100; }
bool Reddish(COLORREF c) { return GetRValue(c) > 150 && GetGValue(c) < 100 && GetBValue(c) < 100; }
bool Highlight(COLORREF c) { return GetRValue(c) < 0x60 && GetGValue(c) > 0x80 && GetBValue(c) > 0xD0; }

class EditWinTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterWindowClass(GetModuleHandleW(nullptr));
        const std::string package = BuildSkinPackage(kSkin, {{2, GreyBmp(12, 60)}});
        ASSERT_TRUE(skin_.LoadFromMemory(package.data(), package.size()));
        ASSERT_TRUE(host_.Create(nullptr, 50, 50, 420, 300, WS_POPUP | WS_VISIBLE, 0, L"edit test"));
    }
    void TearDown() override { Pump(); }

    template <typename Box>
    Box* Add(const char* path) {
        auto* box = new Box();
        EXPECT_EQ(1, box->LoadSkin(&skin_, path, nullptr));
        host_.AddChild(box);
        return box;
    }
    HWND hwnd() const { return host_.hwnd(); }
    static LPARAM At(POINT p) { return MAKELPARAM(p.x, p.y); }
    static POINT Centre(const RECT& r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }
    void Pump() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    void MoveTo(POINT p) { SendMessageW(hwnd(), WM_MOUSEMOVE, 0, At(p)); }
    // A press at `from` dragged to `to` and released there: the move and the
    // release wait in the queue for the editor's own loop.
    void Drag(POINT from, POINT to) {
        MoveTo(from);
        PostMessageW(hwnd(), WM_MOUSEMOVE, MK_LBUTTON, At(to));
        PostMessageW(hwnd(), WM_LBUTTONUP, 0, At(to));
        SendMessageW(hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, At(from));
        Pump();
    }
    void Click(POINT p) { Drag(p, p); }
    void Type(const std::wstring& text) {
        for (wchar_t c : text) SendMessageW(hwnd(), WM_CHAR, c, 0);
    }
    void Key(UINT vk) { SendMessageW(hwnd(), WM_KEYDOWN, vk, 0); }
    // The point on the boundary before character `index` of the editor's text.
    static POINT Boundary(CXEdit* edit, size_t index) {
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, ToolkitDefaultFont());
        SIZE size = {};
        GetTextExtentPoint32W(dc, edit->GetText().c_str(), static_cast<int>(index), &size);
        SelectObject(dc, old);
        DeleteDC(dc);
        return {edit->rect().left + edit->textMargin().left + size.cx, Centre(edit->rect()).y};
    }

    UIResource skin_;
    Host host_;
};

TEST_F(EditWinTest, TypingAndKeysThroughTheHost) {
    CXEdit* edit = Add<CXEdit>("Form/Path");
    EXPECT_EQ(31, edit->id());
    EXPECT_EQ(kKindEditBox, edit->kind());
    edit->SetMaxLength(6);
    Click(Centre(edit->rect()));
    ASSERT_EQ(edit, host_.focusChild());
    Type(std::wstring(L"C:/ ~Q") + wchar_t(0x4E2D) + wchar_t(3));
    EXPECT_EQ(L"C:/Q", edit->GetText());
    EXPECT_EQ(4, host_.updates);
    Key(VK_HOME);
    Key(VK_RIGHT);
    Key(VK_RIGHT);
    Type(L"xyz");  // the sixth character is dropped
    EXPECT_EQ(L"C:xy/Q", edit->GetText());
    Key(VK_BACK);
    Key(VK_DELETE);
    Key(VK_UP);
    EXPECT_EQ(L"C:xQ", edit->GetText());
    EXPECT_EQ(3u, edit->model().caret());
    EXPECT_EQ(8, host_.updates);
    edit->SetText(L"D:/Apps");
    EXPECT_EQ(9, host_.updates);
}

TEST_F(EditWinTest, MouseSelectsByRealTextExtents) {
    CXEdit* edit = Add<CXEdit>("Form/Path");
    edit->SetText(L"abcdef");
    for (size_t i = 0; i <= 6; ++i) EXPECT_EQ(i, edit->HitTest(Boundary(edit, i))) << i;
    EXPECT_EQ(6u, edit->HitTest({edit->rect().right - 2, Centre(edit->rect()).y}));

    // Press before "c", drag behind "d": the caret stays at the press.
    Drag(Boundary(edit, 2), Boundary(edit, 4));
    EXPECT_EQ(2u, edit->model().selectionStart());
    EXPECT_EQ(4u, edit->model().selectionEnd());
    EXPECT_EQ(2u, edit->model().caret());
    EXPECT_EQ(nullptr, GetCapture());
    Key(VK_DELETE);
    EXPECT_EQ(L"abef", edit->GetText());

    // Esc ends the drag: later moves and the release change nothing.
    MoveTo(Boundary(edit, 1));
    PostMessageW(hwnd(), WM_MOUSEMOVE, MK_LBUTTON, At(Boundary(edit, 3)));
    PostMessageW(hwnd(), WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageW(hwnd(), WM_MOUSEMOVE, MK_LBUTTON, At(Boundary(edit, 4)));
    PostMessageW(hwnd(), WM_LBUTTONUP, 0, At(Boundary(edit, 4)));
    SendMessageW(hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, At(Boundary(edit, 1)));
    EXPECT_EQ(nullptr, GetCapture());
    EXPECT_EQ(3u, edit->model().selectionEnd());
    Pump();

    SendMessageW(hwnd(), WM_LBUTTONDBLCLK, 0, At(Boundary(edit, 1)));
    EXPECT_EQ(0u, edit->model().selectionStart());
    EXPECT_EQ(4u, edit->model().selectionEnd());
}

TEST_F(EditWinTest, CaretBlinksWhileFocused) {
    CXEdit* edit = Add<CXEdit>("Form/Path");
    EXPECT_EQ(kNoTimer, edit->caretTimer());
    Click(Centre(edit->rect()));
    const UINT_PTR timer = edit->caretTimer();
    ASSERT_EQ(1u, host_.timers().count(timer));
    EXPECT_TRUE(edit->model().caretVisible());
    SendMessageW(hwnd(), WM_TIMER, timer, 0);
    EXPECT_FALSE(edit->model().caretVisible());
    SendMessageW(hwnd(), WM_TIMER, timer, 0);
    EXPECT_TRUE(edit->model().caretVisible());
    Click({380, 280});  // the empty window takes the focus
    EXPECT_EQ(kNoTimer, edit->caretTimer());
    EXPECT_EQ(0u, host_.timers().count(timer));
    EXPECT_FALSE(edit->model().caretVisible());
}

TEST_F(EditWinTest, DrawsBlackTextCaretAndSelection) {
    CXEdit* edit = Add<CXEdit>("Form/Path");
    const RECT box = edit->rect();
    const RECT above = {0, 0, 420, box.top};
    Click(Centre(box));
    Canvas caret;
    edit->Draw(caret.dc(), box, box);
    const int x = box.left + edit->textMargin().left + 2;
    EXPECT_GE(caret.Count({x, box.top, x + 1, box.bottom}, Dark), 12);
    EXPECT_EQ(caret.Count(box, Dark), caret.Count({x, box.top, x + 1, box.bottom}, Dark));

    // Black instead of the style's red, clipped, scrolled to the caret.
    Canvas text;
    edit->SetText(std::wstring(40, L'W'));
    edit->Draw(text.dc(), box, box);
    EXPECT_GT(text.Count(box, Dark), 50);
    EXPECT_EQ(0, text.Count(box, Reddish));
    EXPECT_EQ(0, text.Count(above, Dark) + text.Count({box.right, 0, 420, 300}, Dark));
    EXPECT_LT(edit->lastTextRect().left, box.left);

    // Highlight behind the selected letters only.
    edit->SetText(L"abc");
    SendMessageW(hwnd(), WM_LBUTTONDBLCLK, 0, At(Centre(box)));
    Canvas selected;
    edit->Draw(selected.dc(), box, box);
    EXPECT_GT(selected.Count(box, Highlight), 40);
    EXPECT_EQ(0, selected.Count({Boundary(edit, 3).x + 3, box.top, box.right, box.bottom}, Highlight));
}

TEST_F(EditWinTest, NativeEditOpensOnFocusAndHandsTheTextBack) {
    CXEditCtrl* field = Add<CXEditCtrl>("Form/Field");
    field->SetControlId(2001);
    field->SetText(L"first");
    Click(Centre(field->rect()));
    HWND edit = field->nativeHandle();
    ASSERT_NE(nullptr, edit);
    wchar_t text[32] = {};
    GetClassNameW(edit, text, 32);
    EXPECT_STREQ(L"Edit", text);
    EXPECT_EQ(2001, GetDlgCtrlID(edit));
    EXPECT_EQ(edit, GetFocus());
    EXPECT_EQ(255u, static_cast<UINT>(SendMessageW(edit, EM_GETLIMITTEXT, 0, 0)));
    EXPECT_EQ(static_cast<LONG>(WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL), GetWindowLongW(edit, GWL_STYLE) & 0x50200FFF);
    // 12 pixels high, centred in the box less 4 on every side.
    RECT placed;
    GetWindowRect(edit, &placed);
    MapWindowPoints(nullptr, hwnd(), reinterpret_cast<POINT*>(&placed), 2);
    const RECT& box = field->rect();
    EXPECT_EQ(box.left + 4, placed.left);
    EXPECT_EQ(box.right - 4, placed.right);
    EXPECT_EQ(box.top + 4 + (28 - 8 - 12) / 2, placed.top);
    EXPECT_EQ(12, placed.bottom - placed.top);

    // The click selected the stored text; typing replaces it and can be
    // read while the window is open.
    for (wchar_t c : std::wstring(L"new")) SendMessageW(edit, WM_CHAR, c, 0);
    EXPECT_EQ(L"first", field->GetText());
    field->SyncText();
    EXPECT_EQ(L"new", field->GetText());
    field->SetText(L"set");
    GetWindowTextW(edit, text, 32);
    EXPECT_STREQ(L"set", text);
    SendMessageW(edit, EM_SETSEL, 3, 3);
    SendMessageW(edit, WM_CHAR, L'!', 0);

    // Losing the focus copies the text back and closes the window; a click
    // on the still focused box opens a new one.
    SetFocus(hwnd());
    Pump();
    EXPECT_FALSE(IsWindow(edit));
    EXPECT_EQ(nullptr, field->nativeWindow());
    EXPECT_EQ(L"set!", field->GetText());
    Click(Centre(field->rect()));
    ASSERT_NE(nullptr, field->nativeHandle());
    GetWindowTextW(field->nativeHandle(), text, 32);
    EXPECT_STREQ(L"set!", text);
    SetFocus(hwnd());
    Pump();
}

// Tab walks the path editor, the text view (no stop) and the native field;
// the field's own window hands Tab back to the window, with the typed text.
TEST_F(EditWinTest, TabEntersAndLeavesTheNativeFieldWithItsText) {
    CXEdit* path = Add<CXEdit>("Form/Path");
    Add<UIEditBox>("Form/Notes");
    CXEditCtrl* field = Add<CXEditCtrl>("Form/Field");
    SetFocus(hwnd());
    Key(VK_TAB);
    EXPECT_EQ(path, host_.focusChild());
    EXPECT_NE(kNoTimer, path->caretTimer()) << "the caret blinks";
    Key(VK_TAB);
    EXPECT_EQ(field, host_.focusChild()) << "the read-only view is no stop";
    EXPECT_EQ(kNoTimer, path->caretTimer());
    const HWND edit = field->nativeHandle();
    ASSERT_NE(nullptr, edit);
    EXPECT_EQ(edit, GetFocus());
    SendMessageW(edit, WM_CHAR, L'x', 0);
    // Tab pressed in the native window: the message loop offers it to the
    // windows above it before the edit sees it.
    MSG tab = {edit, WM_KEYDOWN, VK_TAB, 0, 0, {0, 0}};
    EXPECT_TRUE(host_.PreTranslateMessage(&tab));
    Pump();
    EXPECT_EQ(path, host_.focusChild()) << "round to the first stop";
    EXPECT_EQ(hwnd(), GetFocus());
    EXPECT_FALSE(IsWindow(edit));
    EXPECT_EQ(L"x", field->GetText());
    // Keys that the edit keeps for itself are not taken.
    Key(VK_TAB);
    ASSERT_NE(nullptr, field->nativeHandle());
    MSG letter = {field->nativeHandle(), WM_KEYDOWN, 'A', 0, 0, {0, 0}};
    EXPECT_FALSE(host_.PreTranslateMessage(&letter));
    SetFocus(hwnd());
    Pump();
}

TEST_F(EditWinTest, NativeEditCarriesTheBoxSettings) {
    CXEditCtrl* field = Add<CXEditCtrl>("Form/Field");
    field->SetPassword(true, L'#');
    field->SetReadOnly(true);
    field->SetMaxLength(40);
    field->SetExtraStyle(ES_UPPERCASE);
    Click(Centre(field->rect()));
    ASSERT_NE(nullptr, field->nativeHandle());
    LONG style = GetWindowLongW(field->nativeHandle(), GWL_STYLE);
    EXPECT_EQ(static_cast<LONG>(ES_PASSWORD | ES_READONLY | ES_UPPERCASE),
              style & (ES_PASSWORD | ES_READONLY | ES_UPPERCASE | ES_MULTILINE));
    EXPECT_EQ(40u, static_cast<UINT>(SendMessageW(field->nativeHandle(), EM_GETLIMITTEXT, 0, 0)));
    EXPECT_EQ(L'#', static_cast<wchar_t>(SendMessageW(field->nativeHandle(), EM_GETPASSWORDCHAR, 0, 0)));
    SetFocus(hwnd());
    Pump();

    field->SetPassword(false);
    field->SetMultiLine(true);
    Click(Centre(field->rect()));
    ASSERT_NE(nullptr, field->nativeHandle());
    style = GetWindowLongW(field->nativeHandle(), GWL_STYLE);
    EXPECT_EQ(static_cast<LONG>(ES_MULTILINE | WS_VSCROLL), style & (ES_MULTILINE | WS_VSCROLL | ES_PASSWORD));
    RECT placed;
    GetWindowRect(field->nativeHandle(), &placed);
    EXPECT_EQ(28 - 8, placed.bottom - placed.top);
    SetFocus(hwnd());
    Pump();

    // Disabled: clicks do nothing.
    field->SetEnabled(false);
    field->HandleLButtonDown(0, Centre(field->rect()));
    EXPECT_EQ(nullptr, field->nativeWindow());
}

TEST_F(EditWinTest, TextViewScrollsByBarAndWheel) {
    auto* view = dynamic_cast<UIEditBox*>(CreateControl(kKindEditBox, &skin_, &host_, "Form/Notes"));
    ASSERT_NE(nullptr, view);
    EXPECT_EQ(32, view->id());
    EXPECT_EQ(0, view->HandleMouseWheel(0, -120, {}));  // single-line
    view->SetMultiLine(true);
    const RECT& box = view->rect();
    UIScrollBar* bar = view->scrollBar();
    EXPECT_EQ(box.right - 12, view->textArea().right);
    EXPECT_EQ(RectWidth(box) - 12, bar->rect().left - box.left);
    EXPECT_EQ(box.bottom, bar->rect().bottom);

    view->SetText(L"one\ntwo\nthree");
    EXPECT_EQ(1, view->HandleMouseWheel(0, -120, {}));
    EXPECT_EQ(0, view->scrollOffset());

    std::wstring lines = L"WWWWWWWWWWWWWWWW\n";  // a wide line over narrow ones
    for (int i = 0; i < 30; ++i) lines += L"i\n";
    view->SetText(lines);
    const int page = 100 - 4;
    EXPECT_EQ(page, bar->page());
    view->HandleMouseWheel(0, -120, {});
    EXPECT_EQ(page / 8, view->scrollOffset());
    EXPECT_EQ(page / 8, bar->pos());
    view->OnChildCommand(bar, WM_VSCROLL, SB_TOP, 0);
    EXPECT_EQ(0, view->scrollOffset());

    Canvas top, bottom;
    const RECT wideLine = {box.left + 20, box.top, box.right - 12, box.top + 14};
    view->Draw(top.dc(), box, box);
    view->OnChildCommand(bar, WM_VSCROLL, SB_BOTTOM, 0);
    EXPECT_EQ(bar->maximum() - page - 1, view->scrollOffset());
    view->Draw(bottom.dc(), box, box);
    EXPECT_GT(top.Count(wideLine, Dark), 20);
    EXPECT_EQ(0, bottom.Count(wideLine, Dark));
    EXPECT_GT(bottom.Count(view->textArea(), Dark), 20);
}

}  // namespace
}  // namespace quillo
