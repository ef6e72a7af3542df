// The skinned controls inside a real host window: looks by state (checked by
// rendering into a DIB), clicks turned into WM_COMMAND, the factory, the
// thread-safe label, the progress fill and the other kinds' behaviour.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleacc.h>
#include <zlib.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/windows/TestImages.h"
#include "ui/CHWindow.h"
#include "ui/ControlFactory.h"
#include "ui/SkinData.h"
#include "ui/UIButton.h"
#include "ui/UICheckBox.h"
#include "ui/UIFrameWindow.h"
#include "ui/UILabel.h"
#include "ui/UIListView.h"
#include "ui/UIPane.h"
#include "ui/UIProgress.h"
#include "ui/UIResource.h"
#include "ui/UIScrollBar.h"
#include "ui/UITabCtrl.h"
#include "ui/UIToolBar.h"

namespace quillo {
namespace {

using test::Rgba;

const Rgba kBlue{0, 0, 255}, kGrey{128, 128, 128}, kYellow{255, 255, 0}, kGreen{0, 255, 0}, kCyan{0, 255, 255},
    kRed{255, 0, 0}, kPurple{128, 0, 128}, kOlive{128, 128, 0}, kWhite{255, 255, 255}, kNavy{0, 0, 128};

// An opaque 2x2 PNG of one colour.
std::string SolidPng(Rgba c) { return test::SolidPng(2, 2, c); }

::testing::AssertionResult Is(const Rgba& actual, const Rgba& expected) { return test::NearColor(actual, expected, 3); }

// The host's tree rendered into a top-down 32-bit DIB.
class Snapshot {
public:
    explicit Snapshot(UIObject& host) : width_(RectWidth(host.rect())), height_(RectHeight(host.rect())) {
        bitmap_ = test::CreateTopDownDib(width_, height_, reinterpret_cast<void**>(&bits_));
        dc_ = CreateCompatibleDC(nullptr);
        old_ = SelectObject(dc_, bitmap_);
        for (int i = 0; i < width_ * height_; ++i) reinterpret_cast<uint32_t*>(bits_)[i] = 0xFFFFFF;
        host.Render(dc_, host.rect());
        GdiFlush();
    }
    ~Snapshot() {
        SelectObject(dc_, old_);
        DeleteDC(dc_);
        DeleteObject(bitmap_);
    }
    Rgba At(int x, int y) const {
        const uint8_t* p = bits_ + (y * width_ + x) * 4;
        return {p[2], p[1], p[0]};
    }
    int DarkIn(const RECT& r) const {
        int n = 0;
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x) {
                const Rgba p = At(x, y);
                if (p.r + p.g + p.b < 3 * 128) ++n;
            }
        return n;
    }

private:
    int width_, height_;
    HBITMAP bitmap_ = nullptr;
    uint8_t* bits_ = nullptr;
    HDC dc_ = nullptr;
    HGDIOBJ old_ = nullptr;
};

#define STATES(n, g, l, p, f)                                                                                   \
    "\"normal\": {\"bi\": " #n ", \"bg\": [0, 0, 2, 2]}, \"grayed\": {\"bi\": " #g ", \"bg\": [0, 0, 2, 2]}, " \
    "\"lighted\": {\"bi\": " #l ", \"bg\": [0, 0, 2, 2]}, \"pressed\": {\"bi\": " #p ", \"bg\": [0, 0, 2, 2]}, " \
    "\"focused\": {\"bi\": " #f ", \"bg\": [0, 0, 2, 2]}"

const char kSkin[] = "{\"cfg\": {\"Dlg\": {"
    "\"Btn\": {\"id\": 1001, \"size\": [10, 10, 40, 20], " STATES(10, 11, 12, 13, 14) ","
    "  \"Text\": {\"margin\": [2, 2, 2, 2], \"normal\": {\"cr\": 0, \"al\": 37}}},"
    "\"Chk\": {\"id\": 1002, \"size\": [10, 40, 20, 20], " STATES(10, 11, 12, 13, 14) "},"
    "\"ChkEx\": {\"id\": 1003, \"size\": [40, 40, 20, 20],"
    "  \"Unchecked\": {" STATES(10, 11, 12, 13, 14) "}, \"Checked\": {" STATES(15, 11, 16, 17, 14) "}},"
    "\"Radio1\": {\"id\": 1011, \"size\": [10, 70, 20, 20], " STATES(10, 11, 12, 13, 14) "},"
    "\"Radio2\": {\"id\": 1012, \"size\": [40, 70, 20, 20], " STATES(10, 11, 12, 13, 14) "},"
    "\"Drop\": {\"id\": 1020, \"size\": [70, 40, 20, 20], " STATES(10, 11, 12, 13, 14) "},"
    "\"Label\": {\"size\": [100, 10, 80, 20], \"text\": {\"al\": 37, \"cr\": 0}},"
    "\"Bar\": {\"size\": [0, -10, 100, 10], \"bkgnd\": {\"bi\": 20, \"bg\": [0, 0, 2, 2]},"
    "  \"frgnd\": {\"bi\": 21, \"bg\": [0, 0, 2, 2]}},"
    "\"Pane\": {\"id\": 7, \"size\": [-30, 0, 30, 30], \"bkgnd\": {\"bi\": 15, \"bg\": [0, 0, 2, 2]}},"
    "\"Scroll\": {\"size\": [200, 10, 10, 100], \"thumb\": {\"bi\": 21, \"bg\": [0, 0, 2, 2]},"
    "  \"trackbar\": {\"bi\": 20, \"bg\": [0, 0, 2, 2]}},"
    "\"Tabs\": {\"size\": [10, 120, 250, 20], \"bkgnd\": {\"bi\": 20, \"bg\": [0, 0, 2, 2]},"
    "  \"Item\": {\"normal\": {\"bi\": 10, \"bg\": [0, 0, 2, 2]}, \"pressed\": {\"bi\": 13, \"bg\": [0, 0, 2, 2]}},"
    "  \"Text\": {\"normal\": {\"cr\": 0}, \"pressed\": {\"cr\": 0}}},"
    "\"List\": {\"Header\": {\"height\": 20, \"bkgnd\": {\"bi\": 11, \"bg\": [0, 0, 2, 2]}},"
    "  \"ScrollBar\": {\"thumb\": {\"bi\": 21, \"bg\": [0, 0, 2, 2]}, \"trackbar\": {\"bi\": 20, \"bg\": [0, 0, 8, 2]}},"
    "  \"Item\": {\"odd\": {\"bi\": 10, \"bg\": [0, 0, 2, 2]}, \"even\": {\"bi\": 12, \"bg\": [0, 0, 2, 2]},"
    "            \"selected\": {\"bi\": 13, \"bg\": [0, 0, 2, 2]}, \"height\": 10}},"
    "\"Tools\": {\"size\": [10, 150, 100, 20], \"bkgnd\": {\"bi\": 20, \"bg\": [0, 0, 2, 2]}}"
    "}},"
    "\"res\": {\"images\": [{\"id\": 10}, {\"id\": 11}, {\"id\": 12}, {\"id\": 13}, {\"id\": 14}, {\"id\": 15},"
    "  {\"id\": 16}, {\"id\": 17}, {\"id\": 20}, {\"id\": 21}], \"fonts\": []}}";

#undef STATES

// A frame window that logs commands and child reports in one sequence.
class TestHost : public UIFrameWindow {
public:
    struct Event {
        std::string what;  // "command" or "child"
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        UIObject* child;
    };
    std::vector<Event> events;
    std::function<void(WPARAM)> onCommand;

    LRESULT OnCommand(WPARAM wParam, LPARAM lParam) override {
        events.push_back({"command", WM_COMMAND, wParam, lParam, nullptr});
        if (onCommand) onCommand(wParam);
        return UIFrameWindow::OnCommand(wParam, lParam);
    }
    LRESULT OnChildCommand(UIObject* child, UINT message, WPARAM wParam, LPARAM lParam) override {
        events.push_back({"child", message, wParam, lParam, child});
        return UIFrameWindow::OnChildCommand(child, message, wParam, lParam);
    }
    std::vector<WPARAM> Commands() const {
        std::vector<WPARAM> ids;
        for (const Event& e : events)
            if (e.what == "command") ids.push_back(e.wParam);
        return ids;
    }
};

class UIControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSEXW info = {};
        info.cbSize = sizeof info;
        if (!GetClassInfoExW(GetModuleHandleW(nullptr), L"CHWindow", &info)) {
            ASSERT_NE(RegisterWindowClass(GetModuleHandleW(nullptr)), 0);
        }
        const std::string package =
            BuildSkinPackage(kSkin, {{10, SolidPng(kBlue)},
                                     {11, SolidPng(kGrey)},
                                     {12, SolidPng(kYellow)},
                                     {13, SolidPng(kGreen)},
                                     {14, SolidPng(kCyan)},
                                     {15, SolidPng(kRed)},
                                     {16, SolidPng(kPurple)},
                                     {17, SolidPng(kOlive)},
                                     {20, SolidPng(kWhite)},
                                     {21, SolidPng(kNavy)}});
        ASSERT_TRUE(skin_.LoadFromMemory(package.data(), package.size()));
        ASSERT_TRUE(host_.Create(nullptr, 300, 300, 320, 200, WS_POPUP | WS_VISIBLE, 0, L""));
    }
    void TearDown() override {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }

    template <typename T>
    T* Make(int kind, const char* path) {
        return static_cast<T*>(CreateControl(kind, &skin_, &host_, path));
    }
    void Move(int x, int y) { SendMessageW(host_.hwnd(), WM_MOUSEMOVE, 0, MAKELPARAM(x, y)); }
    void Down(int x, int y) { SendMessageW(host_.hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y)); }
    void Up(int x, int y) { SendMessageW(host_.hwnd(), WM_LBUTTONUP, 0, MAKELPARAM(x, y)); }
    void Click(int x, int y) {
        Move(x, y);
        Down(x, y);
        Up(x, y);
    }
    Rgba Pixel(int x, int y) { return Snapshot(host_).At(x, y); }
    void Key(UINT vk) {
        SendMessageW(host_.hwnd(), WM_KEYDOWN, vk, 0);
        SendMessageW(host_.hwnd(), WM_KEYUP, vk, 0xC0000000);
    }

    UIResource skin_;
    TestHost host_;
};

TEST_F(UIControlTest, ButtonLookFollowsThePointerAndAClickReportsItsId) {
    UIButton* button = Make<UIButton>(kKindButton, "Dlg/Btn");
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->id(), 1001);
    EXPECT_EQ(button->rect().left, 10);
    EXPECT_TRUE(Is(Pixel(30, 20), kBlue));
    Move(20, 20);
    EXPECT_TRUE(Is(Pixel(30, 20), kYellow)) << "lighted";
    Down(20, 20);
    EXPECT_TRUE(Is(Pixel(30, 20), kGreen)) << "pressed";
    EXPECT_TRUE(host_.events.empty()) << "nothing before the release";
    Up(20, 20);
    EXPECT_TRUE(Is(Pixel(30, 20), kYellow));
    ASSERT_EQ(host_.events.size(), 2u);
    EXPECT_EQ(host_.events[0].what, "child") << "the parent chain hears first";
    EXPECT_EQ(host_.events[0].child, button);
    EXPECT_EQ(host_.events[1].what, "command");
    EXPECT_EQ(host_.events[1].wParam, 1001u);
    EXPECT_EQ(host_.events[1].lParam, reinterpret_cast<LPARAM>(host_.hwnd()));
    Move(150, 100);
    EXPECT_TRUE(Is(Pixel(30, 20), kBlue)) << "normal after leaving";

    // A release over the button notifies even when the press started elsewhere.
    Move(20, 20);
    Up(20, 20);
    EXPECT_EQ(host_.Commands(), (std::vector<WPARAM>{1001, 1001}));

    button->SetEnabled(false);
    Move(150, 100);
    Move(20, 20);
    EXPECT_TRUE(Is(Pixel(30, 20), kGrey)) << "grayed even under the pointer";
    Click(20, 20);
    EXPECT_EQ(host_.Commands().size(), 2u) << "a disabled button sends nothing";

    button->SetEnabled(true);
    button->SetVisible(false);
    Move(150, 100);
    Click(20, 20);
    EXPECT_EQ(host_.Commands().size(), 2u) << "a hidden button is not hit";
}

// Tab visits the stops by place, not by creation, skips what cannot be
// used, and the focused look appears only once the keyboard is used.
TEST_F(UIControlTest, TabMovesTheFocusInReadingOrderAndShowsItAfterTheKeyboard) {
    auto* checkEx = Make<UICheckBoxEx>(kKindCheckBoxEx, "Dlg/ChkEx");
    auto* check = Make<UICheckBox>(kKindCheckBox, "Dlg/Chk");
    auto* button = Make<UIButton>(kKindButton, "Dlg/Btn");
    Make<UILabel>(kKindLabel, "Dlg/Label");
    host_.SetFocusElement(button);  // as a click would
    EXPECT_TRUE(Is(Pixel(30, 20), kBlue)) << "a mouse user sees no focus";
    Key(VK_TAB);
    EXPECT_EQ(check, host_.focusChild());
    EXPECT_TRUE(Is(Pixel(20, 50), kCyan)) << "the focused look";
    EXPECT_TRUE(Is(Pixel(30, 20), kBlue));
    Key(VK_TAB);
    EXPECT_EQ(checkEx, host_.focusChild());
    Key(VK_TAB);
    EXPECT_EQ(button, host_.focusChild()) << "round to the first";
    EXPECT_TRUE(Is(Pixel(30, 20), kCyan));
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = 0x80;
    SetKeyboardState(keys);
    Key(VK_TAB);
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
    EXPECT_EQ(checkEx, host_.focusChild()) << "Shift+Tab goes back";
    check->SetEnabled(false);
    Key(VK_TAB);
    Key(VK_TAB);
    EXPECT_EQ(checkEx, host_.focusChild()) << "the disabled box is skipped";
    checkEx->SetVisible(false);
    EXPECT_EQ(nullptr, host_.focusChild()) << "hiding the focused box takes the focus away";
    Key(VK_SPACE);
    EXPECT_FALSE(checkEx->checked()) << "a hidden box takes no key";
    Key(VK_TAB);
    EXPECT_EQ(button, host_.focusChild()) << "a hidden box is skipped";
    Key(VK_TAB);
    EXPECT_EQ(button, host_.focusChild());
}

// Space presses the focused element, Return the default one (or a focused
// push button), Escape the cancel one; held keys repeat nothing.
TEST_F(UIControlTest, SpaceReturnAndEscapePressWhatAClickWould) {
    auto* button = Make<UIButton>(kKindButton, "Dlg/Btn");
    auto* check = Make<UICheckBox>(kKindCheckBox, "Dlg/Chk");
    auto* cancel = Make<UIButton>(kKindButton, "Dlg/Drop");
    host_.SetDefaultElement(button);
    host_.SetCancelElement(cancel);
    Key(VK_TAB);
    Key(VK_TAB);
    ASSERT_EQ(check, host_.focusChild());
    Key(VK_SPACE);
    EXPECT_TRUE(check->checked());
    SendMessageW(host_.hwnd(), WM_KEYDOWN, VK_SPACE, 1 << 30);  // held down
    EXPECT_TRUE(check->checked());
    Key(VK_SPACE);
    EXPECT_FALSE(check->checked());
    Key(VK_RETURN);
    Key(VK_ESCAPE);
    EXPECT_EQ((std::vector<WPARAM>{1002, 1002, 1001, 1020}), host_.Commands());
    host_.events.clear();
    button->SetEnabled(false);
    Key(VK_RETURN);
    EXPECT_TRUE(host_.Commands().empty()) << "a disabled default button";
    Key(VK_TAB);
    ASSERT_EQ(cancel, host_.focusChild());
    Key(VK_RETURN);
    EXPECT_EQ((std::vector<WPARAM>{1020}), host_.Commands()) << "a focused push button takes Return";
}

TEST_F(UIControlTest, OverlappingButtonsTheLaterOneGetsTheClick) {
    UIButton* first = Make<UIButton>(kKindButton, "Dlg/Btn");
    UIButton* second = Make<UIButton>(kKindButton, "Dlg/Btn");
    second->SetId(1099);
    second->SetPosition(30, 10, 40, 20);
    Click(40, 20);
    EXPECT_EQ(host_.Commands(), (std::vector<WPARAM>{1099}));
    Click(15, 20);
    EXPECT_EQ(host_.Commands(), (std::vector<WPARAM>{1099, 1001}));
    EXPECT_EQ(first->state(), kStateLighted);
    EXPECT_EQ(second->state(), kStateNormal);
}

TEST_F(UIControlTest, CheckBoxTogglesAndShowsThePressedLookWhileChecked) {
    UICheckBox* box = Make<UICheckBox>(kKindCheckBox, "Dlg/Chk");
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(Is(Pixel(20, 50), kBlue));
    Click(15, 45);
    EXPECT_TRUE(box->checked());
    EXPECT_TRUE(Is(Pixel(20, 50), kGreen));
    Move(150, 100);
    EXPECT_EQ(box->state(), kStateNormal);
    EXPECT_TRUE(Is(Pixel(20, 50), kGreen)) << "checked shows the pressed look";
    Move(15, 45);
    EXPECT_TRUE(Is(Pixel(20, 50), kGreen)) << "entering a checked box keeps it pressed";

    Click(15, 45);
    EXPECT_FALSE(box->checked()) << "the second click unchecks";
    EXPECT_TRUE(Is(Pixel(20, 50), kYellow));
    EXPECT_EQ(host_.Commands(), (std::vector<WPARAM>{1002, 1002}));
    for (const auto& e : host_.events) {
        EXPECT_EQ(e.what, "command") << "the check box does not go through OnChildCommand";
        EXPECT_EQ(e.lParam, reinterpret_cast<LPARAM>(host_.hwnd()));
    }

    box->SetCheck(true);
    EXPECT_EQ(host_.Commands().size(), 2u) << "SetCheck tells nobody";
    Move(150, 100);
    EXPECT_TRUE(Is(Pixel(20, 50), kGreen));
    box->SetEnabled(false);
    EXPECT_TRUE(Is(Pixel(20, 50), kGrey));
    Click(15, 45);
    EXPECT_TRUE(box->checked());
    EXPECT_EQ(host_.Commands().size(), 2u);
}

TEST_F(UIControlTest, CheckBoxExDrawsFromTheSideItIsOn) {
    UICheckBoxEx* box = Make<UICheckBoxEx>(kKindCheckBoxEx, "Dlg/ChkEx");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->kind(), kKindCheckBoxEx);
    EXPECT_TRUE(Is(Pixel(50, 50), kBlue));
    Move(45, 45);
    EXPECT_TRUE(Is(Pixel(50, 50), kYellow)) << "unchecked, lighted";
    Down(45, 45);
    Up(45, 45);
    EXPECT_TRUE(box->checked());
    EXPECT_TRUE(Is(Pixel(50, 50), kOlive)) << "checked, pressed";
    Move(150, 100);
    EXPECT_TRUE(Is(Pixel(50, 50), kRed)) << "checked, normal";
    EXPECT_EQ(host_.Commands(), (std::vector<WPARAM>{1003}));
}

TEST_F(UIControlTest, RadioBoxesUncheckTheirSiblingsAndIgnoreRepeatClicks) {
    UIRadioBox* one = Make<UIRadioBox>(kKindRadioBox, "Dlg/Radio1");
    UIRadioBox* two = Make<UIRadioBox>(kKindRadioBox, "Dlg/Radio2");
    UICheckBox* other = Make<UICheckBox>(kKindCheckBox, "Dlg/Chk");
    other->SetCheck(true);
    Click(15, 75);
    EXPECT_TRUE(one->checked());
    Click(45, 75);
    EXPECT_TRUE(two->checked());
    EXPECT_FALSE(one->checked()) << "the sibling radio box is cleared";
    EXPECT_TRUE(other->checked()) << "check boxes are not radio siblings";
    Click(45, 75);
    EXPECT_TRUE(two->checked());
    EXPECT_EQ(host_.Commands(), (std::vector<WPARAM>{1011, 1012})) << "a checked radio box stays silent";
    int childReports = 0;
    for (const auto& e : host_.events) childReports += e.what == "child";
    EXPECT_EQ(childReports, 2);

    one->SetLocked(true);
    Click(15, 75);
    EXPECT_FALSE(one->checked()) << "locked";
    EXPECT_EQ(host_.Commands().size(), 2u);
}

TEST_F(UIControlTest, DropButtonReportsWithoutHandleAndKeepsItsLookWhileOpen) {
    UIDropButton* drop = Make<UIDropButton>(kKindDropButton, "Dlg/Drop");
    ASSERT_NE(drop, nullptr);
    int stateInside = -1, stateAfterLeave = -1;
    host_.onCommand = [&](WPARAM) {
        stateInside = drop->state();
        SendMessageW(host_.hwnd(), WM_MOUSELEAVE, 0, 0);  // the drop-down takes the pointer
        stateAfterLeave = drop->state();
    };
    Click(75, 45);
    ASSERT_EQ(host_.events.size(), 1u);
    EXPECT_EQ(host_.events[0].wParam, 1020u);
    EXPECT_EQ(host_.events[0].lParam, 0);
    EXPECT_EQ(stateInside, kStatePressed);
    EXPECT_EQ(stateAfterLeave, kStatePressed) << "leaving does not reset the look while the drop-down runs";
    POINT cursor;
    GetCursorPos(&cursor);
    ScreenToClient(host_.hwnd(), &cursor);
    EXPECT_EQ(drop->state(), PtInRect(&drop->rect(), cursor) ? kStateLighted : kStateNormal);
}

TEST_F(UIControlTest, LabelTextCanBeSetFromAnotherThread) {
    UILabel bare;
    EXPECT_EQ(bare.style().align, 37) << "centred single line before a skin";
    UILabel* label = Make<UILabel>(kKindLabel, "Dlg/Label");
    ASSERT_NE(label, nullptr);
    EXPECT_TRUE(label->notHitTarget());
    const RECT area = label->rect();
    EXPECT_EQ(Snapshot(host_).DarkIn(area), 0) << "an empty label draws nothing";

    ValidateRect(host_.hwnd(), nullptr);
    struct Job {
        UILabel* label;
        static DWORD WINAPI Run(void* p) {
            static_cast<Job*>(p)->label->SetText(L"Copying files");
            return 0;
        }
    } job{label};
    HANDLE thread = CreateThread(nullptr, 0, &Job::Run, &job, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_EQ(label->GetText(), L"Copying files");
    RECT dirty;
    ASSERT_TRUE(GetUpdateRect(host_.hwnd(), &dirty, FALSE)) << "the label asked for a repaint";
    RECT both;
    EXPECT_TRUE(IntersectRect(&both, &dirty, &area));
    EXPECT_GT(Snapshot(host_).DarkIn(area), 0) << "the text is drawn inside the label";

    Move(110, 15);
    Down(110, 15);
    Up(110, 15);
    EXPECT_TRUE(host_.events.empty());
}

TEST_F(UIControlTest, ProgressFillFollowsThePosition) {
    UIProgress* bar = Make<UIProgress>(kKindProgress, "Dlg/Bar");
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->rect().top, 190) << "negative y counts from the bottom";
    bar->SetPos(50);
    EXPECT_TRUE(Is(Pixel(10, 195), kWhite)) << "no range yet: no fill";
    bar->SetRange();
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_TRUE(Is(Pixel(49, 195), kNavy));
    EXPECT_TRUE(Is(Pixel(50, 195), kWhite));
    bar->SetPos(25);
    EXPECT_TRUE(Is(Pixel(24, 195), kNavy));
    EXPECT_TRUE(Is(Pixel(25, 195), kWhite));
    bar->SetPos(100);
    EXPECT_TRUE(Is(Pixel(99, 195), kNavy));
    bar->SetPos(0);
    EXPECT_TRUE(Is(Pixel(0, 195), kWhite));
    EXPECT_EQ(bar->FilledRect(RECT{10, 0, 210, 5}).right, 10);
}

TEST_F(UIControlTest, FactoryMakesEachKindAndRejectsTheRest) {
    for (int kind : {1, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}) {
        UIObject* element = CreateControl(kind, &skin_, &host_, "Dlg/Pane");
        ASSERT_NE(element, nullptr) << kind;
        EXPECT_EQ(element->kind(), kind);
        EXPECT_EQ(element->parent(), &host_);
        EXPECT_EQ(host_.children().back().get(), element);
    }
    const size_t count = host_.children().size();
    for (int kind : {0, 5, 16, -1}) EXPECT_EQ(CreateControl(kind, &skin_, &host_, "Dlg/Pane"), nullptr) << kind;
    EXPECT_EQ(host_.children().size(), count) << "nothing added for unknown kinds";

    UIPane* pane = static_cast<UIPane*>(host_.children().front().get());
    EXPECT_EQ(pane->id(), 7);
    EXPECT_EQ(pane->rect().left, 290);
    EXPECT_TRUE(Is(Pixel(300, 10), kRed));

    // The edit control's own factory takes over kind 15 once registered.
    static UIObject* made = nullptr;
    RegisterEditBoxFactory([]() -> UIObject* { return made = new UIPane(); });
    EXPECT_EQ(CreateControl(kKindEditBox, nullptr, &host_, ""), made);
    RegisterEditBoxFactory(nullptr);
    EXPECT_EQ(CreateControl(kKindEditBox, nullptr, &host_, "")->kind(), kKindEditBox);

    UIObject* missing = CreateControl(kKindButton, &skin_, &host_, "Dlg/Nothing");
    ASSERT_NE(missing, nullptr);
    EXPECT_TRUE(RectEmpty(missing->rect())) << "a missing skin path leaves the element unplaced";
}

TEST_F(UIControlTest, ScrollBarReportsZonesAndTracksTheThumb) {
    UIScrollBar* bar = Make<UIScrollBar>(kKindScrollBar, "Dlg/Scroll");
    ASSERT_NE(bar, nullptr);
    bar->SetRange(0, 199, 50);
    RECT thumb = bar->ThumbRect();
    EXPECT_EQ(thumb.top, 10);
    EXPECT_EQ(thumb.bottom, 35) << "page / range of the track";
    bar->SetRange(0, 1999, 50);
    EXPECT_EQ(RectHeight(bar->ThumbRect()), 16) << "minimum thumb length";
    bar->SetRange(0, 199, 50);

    Move(205, 80);
    Down(205, 80);
    Up(205, 80);
    bar->SetPos(75);
    thumb = bar->ThumbRect();
    EXPECT_EQ(thumb.top, 10 + 37);
    Down(205, 20);
    Up(205, 20);
    std::vector<WPARAM> codes;
    for (const auto& e : host_.events)
        if (e.what == "child" && e.message == WM_VSCROLL) codes.push_back(e.wParam);
    EXPECT_EQ(codes, (std::vector<WPARAM>{SB_PAGEDOWN, SB_PAGEUP}));
    host_.events.clear();

    // Drag: the loop reads the moves queued before the press.
    PostMessageW(host_.hwnd(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(205, 60));
    PostMessageW(host_.hwnd(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(205 + 200, 90));  // far beside: ignored
    PostMessageW(host_.hwnd(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(205, 300));
    PostMessageW(host_.hwnd(), WM_LBUTTONUP, 0, MAKELPARAM(205, 300));
    Move(205, 50);
    Down(205, 50);
    codes.clear();
    for (const auto& e : host_.events)
        if (e.what == "child" && e.message == WM_VSCROLL) codes.push_back(e.wParam);
    EXPECT_EQ(codes, (std::vector<WPARAM>{SB_THUMBTRACK + 65536 * 94, SB_THUMBTRACK + 65536 * 150}));
    EXPECT_EQ(bar->trackPos(), 150);
    EXPECT_EQ(GetCapture(), nullptr) << "the capture ends with the release";
}

TEST_F(UIControlTest, TabStripSelectsOnPressAndReportsTheTab) {
    UITabCtrl* tabs = Make<UITabCtrl>(kKindTabCtrl, "Dlg/Tabs");
    ASSERT_NE(tabs, nullptr);
    tabs->AddTab(301, L"One");
    tabs->AddTab(302, L"Second");
    EXPECT_EQ(tabs->selected(), -1);
    const RECT first = tabs->tabs()[0].rect, second = tabs->tabs()[1].rect;
    EXPECT_EQ(first.left, 10);
    EXPECT_GE(RectWidth(first), 80);
    EXPECT_EQ(second.left, first.right);
    Click(second.left + 5, 130);
    EXPECT_EQ(tabs->selected(), 1);
    Click(second.left + 5, 130);
    EXPECT_EQ(host_.Commands(), (std::vector<WPARAM>{302})) << "the selected tab does not report again";
    EXPECT_TRUE(Is(Pixel(second.left + 2, 122), kGreen)) << "selected look";
    EXPECT_TRUE(Is(Pixel(first.left + 2, 122), kBlue));
}

TEST_F(UIControlTest, ListViewScrollsWhenRowsOverflowAndSelectsOnPress) {
    UIListView* list = Make<UIListView>(kKindListView, "Dlg/List");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->size().right, 200);
    list->SetPosition(10, 10, 100, 60);
    list->header()->AddColumn(L"Name", 60);
    EXPECT_EQ(list->rowHeight(), 10);
    for (int i = 0; i < 3; ++i) list->AddRow({L"row"});
    EXPECT_FALSE(list->scrollBar()->visible());
    EXPECT_EQ(list->ListArea().top, 30);
    for (int i = 0; i < 3; ++i) list->AddRow({L"row"});
    ASSERT_TRUE(list->scrollBar()->visible()) << "60 pixels of rows in a 40-pixel area";
    EXPECT_EQ(list->ListArea().right, 110 - 8);
    EXPECT_EQ(list->scrollBar()->maximum(), 60);

    Click(20, 30 + 25);
    EXPECT_EQ(list->selected(), 2);
    EXPECT_TRUE(Is(Pixel(20, 30 + 25), kGreen));
    EXPECT_TRUE(Is(Pixel(20, 30 + 15), kYellow)) << "even rows";
    list->OnChildCommand(list->scrollBar(), WM_VSCROLL, SB_PAGEDOWN, 0);
    EXPECT_EQ(list->offset(), 19) << "at most max - page - 1";
    EXPECT_EQ(list->RowAt(POINT{20, 31}), 2) << "rows move up by the offset";
    EXPECT_TRUE(host_.Commands().empty()) << "selection is silent";
}

TEST_F(UIControlTest, ToolBarReportsActionableItems) {
    UIToolBar* bar = Make<UIToolBar>(kKindToolBar, "Dlg/Tools");
    ASSERT_NE(bar, nullptr);
    bar->AddItem(401, 0);
    bar->AddSeparator();
    bar->AddItem(402, 1);
    bar->AddItem(403, 2, L"", false);
    bar->SetItemEnabled(2, false);
    const auto& items = bar->items();
    EXPECT_EQ(items[0].rect.left, 10);
    EXPECT_EQ(items[1].rect.left, 10 + 24 + 2);
    EXPECT_EQ(items[2].rect.left, 10 + 24 + 2 + 6 + 2);

    const auto centre = [](const RECT& r) { return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2}; };
    const POINT first = centre(items[0].rect), off = centre(items[2].rect), passive = centre(items[3].rect);
    Move(first.x, first.y);
    EXPECT_EQ(bar->hotItem(), 0);
    Click(first.x, first.y);
    Click(off.x, off.y);
    EXPECT_EQ(bar->hotItem(), -1) << "disabled items are never hot";
    Click(passive.x, passive.y);
    EXPECT_EQ(host_.Commands(), (std::vector<WPARAM>{401}));
    ASSERT_EQ(host_.events.size(), 2u);
    EXPECT_EQ(host_.events[0].what, "child");
    EXPECT_EQ(host_.events[0].child, bar);
}


// ---- Screen readers ---------------------------------------------------------------

// The thread's COM apartment, for an accessibility client in the test.
struct ComApartment {
    ComApartment() : result(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComApartment() {
        if (SUCCEEDED(result)) CoUninitialize();
    }
    HRESULT result;
};

VARIANT Child(long id) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = id;
    return v;
}

// A BSTR answer as text; "<none>" when there was none.
std::wstring Text(HRESULT result, BSTR text) {
    std::wstring copy = SUCCEEDED(result) && text ? std::wstring(text, SysStringLen(text)) : L"<none>";
    SysFreeString(text);
    return copy;
}

struct Answers {
    std::wstring name, value, action;
    long role = -1;
    long state = -1;
};

Answers Read(IAccessible* object, long id) {
    Answers a;
    BSTR text = nullptr;
    HRESULT result = object->get_accName(Child(id), &text);
    a.name = Text(result, text);
    text = nullptr;
    result = object->get_accValue(Child(id), &text);
    a.value = Text(result, text);
    text = nullptr;
    result = object->get_accDefaultAction(Child(id), &text);
    a.action = Text(result, text);
    VARIANT v;
    VariantInit(&v);
    if (object->get_accRole(Child(id), &v) == S_OK && v.vt == VT_I4) a.role = v.lVal;
    VariantInit(&v);
    if (object->get_accState(Child(id), &v) == S_OK && v.vt == VT_I4) a.state = v.lVal;
    return a;
}

IAccessible* ClientObject(HWND hwnd) {
    IAccessible* object = nullptr;
    if (FAILED(AccessibleObjectFromWindow(hwnd, OBJID_CLIENT, IID_IAccessible, reinterpret_cast<void**>(&object))))
        return nullptr;
    return object;
}

void PumpWindowMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

// What a screen reader reads: each kind's role, name, state, value and
// default action, the elements in tree order (a pane without a name left
// out), places, hit tests, navigation, the focus and the default actions.
TEST_F(UIControlTest, AScreenReaderReadsEachKindByRoleNameStateValueAndAction) {
    ComApartment com;
    ASSERT_TRUE(SUCCEEDED(com.result));
    auto* button = Make<UIButton>(kKindButton, "Dlg/Btn");
    button->SetText(L"确定");
    auto* check = Make<UICheckBox>(kKindCheckBox, "Dlg/Chk");
    check->SetText(L"同意");
    check->SetCheck(true);
    auto* radio = Make<UIRadioBox>(kKindRadioBox, "Dlg/Radio1");
    radio->SetText(L"甲");
    radio->SetEnabled(false);
    Make<UILabel>(kKindLabel, "Dlg/Label")->SetText(L"标题");
    auto* bar = Make<UIProgress>(kKindProgress, "Dlg/Bar");
    bar->SetRange();
    bar->SetPos(42);
    Make<UIPane>(kKindPane, "Dlg/Pane");
    Make<UIPane>(kKindPane, "Dlg/Pane")->SetAccessibleName(L"标志");
    auto* link = Make<UIButton>(kKindButton, "Dlg/Btn");  // over the button, hidden
    link->SetText(L"协议");
    link->SetAccessibleRole(ROLE_SYSTEM_LINK);
    link->SetVisible(false);
    Make<UIScrollBar>(kKindScrollBar, "Dlg/Scroll");  // not exposed

    IAccessible* object = ClientObject(host_.hwnd());
    ASSERT_TRUE(object);
    struct Row {
        const wchar_t* name;
        long role;
        long stateSet;
        long stateClear;
        const wchar_t* value;
        const wchar_t* action;
    };
    constexpr long kFocusable = STATE_SYSTEM_FOCUSABLE, kChecked = STATE_SYSTEM_CHECKED;
    constexpr long kUnavailable = STATE_SYSTEM_UNAVAILABLE, kInvisible = STATE_SYSTEM_INVISIBLE;
    const Row rows[] = {
        {L"确定", ROLE_SYSTEM_PUSHBUTTON, kFocusable, kChecked | kUnavailable | kInvisible, L"<none>", L"按下"},
        {L"同意", ROLE_SYSTEM_CHECKBUTTON, kFocusable | kChecked, kUnavailable | kInvisible, L"<none>", L"清除"},
        {L"甲", ROLE_SYSTEM_RADIOBUTTON, kUnavailable, kChecked | kInvisible, L"<none>", L"选中"},
        {L"标题", ROLE_SYSTEM_STATICTEXT, STATE_SYSTEM_READONLY, kFocusable | kInvisible, L"<none>", L"<none>"},
        {L"<none>", ROLE_SYSTEM_PROGRESSBAR, STATE_SYSTEM_READONLY, kFocusable | kInvisible, L"42%", L"<none>"},
        {L"标志", ROLE_SYSTEM_GRAPHIC, 0, kFocusable | kInvisible, L"<none>", L"<none>"},
        {L"协议", ROLE_SYSTEM_LINK, kFocusable | kInvisible, kUnavailable, L"<none>", L"按下"},
    };
    long count = 0;
    ASSERT_EQ(object->get_accChildCount(&count), S_OK);
    ASSERT_EQ(count, static_cast<long>(std::size(rows)));
    for (long id = 1; id <= count; ++id) {
        const Row& row = rows[id - 1];
        const Answers a = Read(object, id);
        EXPECT_EQ(a.name, row.name) << id;
        EXPECT_EQ(a.role, row.role) << id;
        EXPECT_EQ(a.state & row.stateSet, row.stateSet) << id << " state " << std::hex << a.state;
        EXPECT_EQ(a.state & row.stateClear, 0) << id << " state " << std::hex << a.state;
        EXPECT_EQ(a.value, row.value) << id;
        EXPECT_EQ(a.action, row.action) << id;
        IDispatch* full = reinterpret_cast<IDispatch*>(1);
        EXPECT_EQ(object->get_accChild(Child(id), &full), S_FALSE) << "simple elements";
        EXPECT_EQ(full, nullptr);
    }
    const Answers client = Read(object, CHILDID_SELF);
    EXPECT_EQ(client.role, ROLE_SYSTEM_CLIENT);
    EXPECT_EQ(client.name, L"标题") << "an untitled window is named by its first label";
    BSTR text = nullptr;
    EXPECT_EQ(object->get_accName(Child(count + 1), &text), E_INVALIDARG);
    EXPECT_EQ(object->get_accName(Child(-1), &text), E_INVALIDARG);
    IDispatch* parent = nullptr;
    ASSERT_EQ(object->get_accParent(&parent), S_OK);
    ASSERT_TRUE(parent);
    parent->Release();

    // Places in screen coordinates; hit tests skip hidden elements.
    POINT origin = {0, 0};
    ClientToScreen(host_.hwnd(), &origin);
    long left = 0, top = 0, width = 0, height = 0;
    ASSERT_EQ(object->accLocation(&left, &top, &width, &height, Child(2)), S_OK);
    EXPECT_EQ((std::vector<long>{left, top, width, height}), (std::vector<long>{origin.x + 10, origin.y + 40, 20, 20}));
    struct Hit {
        POINT client;
        VARTYPE type;
        long id;
    };
    for (const Hit& hit : {Hit{{15, 15}, VT_I4, 1}, Hit{{5, 5}, VT_I4, CHILDID_SELF}, Hit{{-5, 5}, VT_EMPTY, 0},
                           Hit{{50, 195}, VT_I4, 5}, Hit{{205, 20}, VT_I4, CHILDID_SELF}}) {
        VARIANT at;
        VariantInit(&at);
        object->accHitTest(origin.x + hit.client.x, origin.y + hit.client.y, &at);
        EXPECT_EQ(at.vt, hit.type) << hit.client.x << "," << hit.client.y;
        EXPECT_EQ(at.vt == VT_I4 ? at.lVal : -1, at.vt == VT_I4 ? hit.id : -1) << hit.client.x << "," << hit.client.y;
    }

    // Navigation in tree order, hidden elements left out.
    struct Step {
        long from;
        long direction;
        HRESULT result;
        long to;
    };
    for (const Step& step : {Step{CHILDID_SELF, NAVDIR_FIRSTCHILD, S_OK, 1}, Step{CHILDID_SELF, NAVDIR_LASTCHILD, S_OK, 6},
                             Step{2, NAVDIR_NEXT, S_OK, 3}, Step{6, NAVDIR_NEXT, S_FALSE, 0},
                             Step{7, NAVDIR_PREVIOUS, S_OK, 6}, Step{1, NAVDIR_PREVIOUS, S_FALSE, 0}}) {
        VARIANT to;
        VariantInit(&to);
        EXPECT_EQ(object->accNavigate(step.direction, Child(step.from), &to), step.result)
            << step.from << " " << step.direction;
        EXPECT_EQ(to.vt == VT_I4 ? to.lVal : 0, step.to) << step.from << " " << step.direction;
    }

    // The focus: the window itself, then the element Tab moves to, then the
    // one a screen reader asks for.
    SetFocus(host_.hwnd());
    VARIANT focus;
    VariantInit(&focus);
    ASSERT_EQ(object->get_accFocus(&focus), S_OK);
    EXPECT_EQ(focus.vt, VT_I4);
    EXPECT_EQ(focus.lVal, CHILDID_SELF);
    Key(VK_TAB);
    ASSERT_EQ(button, host_.focusChild());
    VariantInit(&focus);
    ASSERT_EQ(object->get_accFocus(&focus), S_OK);
    EXPECT_EQ(focus.lVal, 1);
    EXPECT_TRUE(Read(object, 1).state & STATE_SYSTEM_FOCUSED);
    EXPECT_FALSE(Read(object, CHILDID_SELF).state & STATE_SYSTEM_FOCUSED);
    EXPECT_EQ(object->accSelect(SELFLAG_TAKEFOCUS, Child(2)), S_OK);
    EXPECT_EQ(check, host_.focusChild());

    // Default actions are done from the window's queue, as a click would.
    host_.events.clear();
    EXPECT_EQ(object->accDoDefaultAction(Child(2)), S_OK);
    PumpWindowMessages();
    EXPECT_FALSE(check->checked());
    EXPECT_EQ(Read(object, 2).action, L"选中");
    EXPECT_FALSE(Read(object, 2).state & kChecked);
    EXPECT_EQ(object->accDoDefaultAction(Child(3)), E_FAIL) << "unavailable";
    EXPECT_EQ(object->accDoDefaultAction(Child(4)), DISP_E_MEMBERNOTFOUND) << "a label has none";
    EXPECT_EQ(object->accDoDefaultAction(Child(1)), S_OK);
    PumpWindowMessages();
    EXPECT_EQ(host_.Commands(), (std::vector<WPARAM>{1002, 1001}));
    object->Release();
}

// Screen readers hear of focus, check, value and name changes, each with
// the element's child id; a label renamed on a worker thread is announced
// from the window's thread; nothing is announced when nothing changed.
HWND g_eventWindow = nullptr;
std::vector<std::pair<DWORD, LONG>>* g_events = nullptr;

void CALLBACK RecordEvent(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG object, LONG child, DWORD thread, DWORD) {
    if (!g_events || hwnd != g_eventWindow) return;
    EXPECT_EQ(object, OBJID_CLIENT);
    EXPECT_EQ(thread, GetWindowThreadProcessId(hwnd, nullptr)) << "raised on the window's thread";
    g_events->push_back({event, child});
}

TEST_F(UIControlTest, ChangesAreAnnouncedWithTheElementsChildId) {
    auto* check = Make<UICheckBox>(kKindCheckBox, "Dlg/Chk");  // child 1
    auto* bar = Make<UIProgress>(kKindProgress, "Dlg/Bar");     // child 2
    auto* label = Make<UILabel>(kKindLabel, "Dlg/Label");       // child 3
    label->SetText(L"准备");
    bar->SetRange();
    std::vector<std::pair<DWORD, LONG>> events;
    g_eventWindow = host_.hwnd();
    g_events = &events;
    const HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_VALUECHANGE, GetModuleHandleW(nullptr),
                                               RecordEvent, GetCurrentProcessId(), 0, WINEVENT_INCONTEXT);
    ASSERT_TRUE(hook);
    using Events = std::vector<std::pair<DWORD, LONG>>;
    struct Row {
        const char* what;
        std::function<void()> act;
        Events expected;
    };
    const Row rows[] = {
        {"Tab to the box", [&] { Key(VK_TAB); }, Events{{EVENT_OBJECT_FOCUS, 1}}},
        {"Space ticks it", [&] { Key(VK_SPACE); }, Events{{EVENT_OBJECT_STATECHANGE, 1}}},
        {"a click clears it", [&] { Click(15, 45); }, Events{{EVENT_OBJECT_STATECHANGE, 1}}},
        {"SetCheck as it is", [&] { check->SetCheck(check->checked()); }, Events{}},
        {"SetCheck changes it", [&] { check->SetCheck(!check->checked()); }, Events{{EVENT_OBJECT_STATECHANGE, 1}}},
        {"the bar moves", [&] { bar->SetPos(42); }, Events{{EVENT_OBJECT_VALUECHANGE, 2}}},
        {"the bar stays", [&] { bar->SetPos(42); }, Events{}},
        {"a worker renames the label",
         [&] {
             std::thread([&] { label->SetText(L"安装中"); }).join();
             PumpWindowMessages();
         },
         Events{{EVENT_OBJECT_NAMECHANGE, 3}}},
        {"the same name again", [&] { label->SetText(L"安装中"); }, Events{}},
        {"the focus back to the window", [&] { host_.SetFocusElement(nullptr); }, Events{{EVENT_OBJECT_FOCUS, 0}}},
    };
    for (const Row& row : rows) {
        events.clear();
        row.act();
        PumpWindowMessages();
        EXPECT_EQ(events, row.expected) << row.what;
    }
    UnhookWinEvent(hook);
    g_events = nullptr;
}

// The object handed out lives as long as its client holds it: once the
// window is destroyed (or its owner deleted) every call says it is
// disconnected, and the elements are never reached again.
TEST_F(UIControlTest, TheAccessibleObjectIsDisconnectedWhenItsWindowGoes) {
    ComApartment com;
    for (const bool deleteOwner : {false, true}) {
        auto* host = new TestHost();
        ASSERT_TRUE(host->Create(nullptr, 0, 0, 100, 100, WS_POPUP | WS_VISIBLE, 0, L"窗口"));
        CreateControl(kKindLabel, &skin_, host, "Dlg/Label");
        IAccessible* object = ClientObject(host->hwnd());
        ASSERT_TRUE(object) << deleteOwner;
        long count = 0;
        EXPECT_EQ(object->get_accChildCount(&count), S_OK);
        EXPECT_EQ(count, 1);
        BSTR text = nullptr;
        const HRESULT named = object->get_accName(Child(CHILDID_SELF), &text);
        EXPECT_EQ(Text(named, text), L"窗口") << "the window's title";
        if (deleteOwner) {
            delete host;
            host = nullptr;
        } else {
            DestroyWindow(host->hwnd());
        }
        for (int pass = 0; pass < 2; ++pass) {
            EXPECT_EQ(object->get_accChildCount(&count), RPC_E_DISCONNECTED) << deleteOwner;
            text = nullptr;
            EXPECT_EQ(object->get_accName(Child(1), &text), RPC_E_DISCONNECTED);
            EXPECT_EQ(object->accDoDefaultAction(Child(1)), RPC_E_DISCONNECTED);
            VARIANT at;
            VariantInit(&at);
            EXPECT_EQ(object->accHitTest(10, 10, &at), RPC_E_DISCONNECTED);
            IDispatch* parent = nullptr;
            EXPECT_EQ(object->get_accParent(&parent), RPC_E_DISCONNECTED);
            // The elements themselves go now.
            delete host;
            host = nullptr;
        }
        EXPECT_EQ(object->Release(), 0u) << "the client held the last reference";
    }
}

}  // namespace
}  // namespace quillo
