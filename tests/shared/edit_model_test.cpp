// The single-line edit box's editing state: typing, keys, selection, hit
// testing, scrolling and paint geometry, with widths from a fixed table.
#include <gtest/gtest.h>

#include <string>

#include "ui/EditModel.h"

using namespace quillo;

namespace {

// 'i' is 3 pixels wide, 'm' 10, every other character 7.
int Width(const wchar_t* text, size_t count) {
    int width = 0;
    for (size_t i = 0; i < count; ++i) width += text[i] == L'i' ? 3 : text[i] == L'm' ? 10 : 7;
    return width;
}
const EditModel::Measure kMeasure = Width;

EditModel WithText(const std::wstring& text) {
    EditModel model;
    model.SetText(text);
    return model;
}

EditModel Selected(const std::wstring& text, size_t anchor, size_t index) {
    EditModel model = WithText(text);
    model.BeginDrag(anchor);
    model.DragTo(anchor, index);
    return model;
}

}  // namespace

TEST(EditModelTest, TypingAcceptsExclamationToRightBraceWithinTheLimit) {
    EditModel model = WithText(L"C:/");
    model.KeyDown(EditModel::kKeyHome);
    EXPECT_EQ(EditModel::kNotify | EditModel::kRepaint, model.Char('!'));
    EXPECT_EQ(EditModel::kNotify | EditModel::kRepaint, model.Char('}'));
    EXPECT_EQ(L"!}C:/", model.text());
    EXPECT_EQ(2u, model.caret());
    for (unsigned code : {32u, 126u, 8u, 13u, 0x4E2Du, 0xE9u}) EXPECT_EQ(EditModel::kNothing, model.Char(code)) << code;
    EXPECT_EQ(L"!}C:/", model.text());

    // The limit stops typing only; SetText may exceed it.
    model.SetMaxLength(6);
    model.Char('a');
    EXPECT_EQ(EditModel::kNothing, model.Char('b'));
    EXPECT_EQ(L"!}aC:/", model.text());
    model.SetText(L"0123456789");
    EXPECT_EQ(10u, model.length());
    model.SetMaxLength(0);
    EXPECT_EQ(EditModel::kNothing, model.Char('c'));

    // A typed character replaces the selection (making room in a full box);
    // ignored codes such as Ctrl+C leave it alone.
    model = Selected(L"abcdef", 1, 4);
    model.SetMaxLength(6);
    EXPECT_EQ(EditModel::kNothing, model.Char(3));
    EXPECT_TRUE(model.hasSelection());
    model.Char('X');
    EXPECT_EQ(L"aXef", model.text());
    EXPECT_EQ(2u, model.caret());
    EXPECT_FALSE(model.hasSelection());
}

TEST(EditModelTest, DeleteAndBackspace) {
    EditModel model = Selected(L"abcdef", 2, 4);
    EXPECT_EQ(EditModel::kNotify | EditModel::kRepaint, model.KeyDown(EditModel::kKeyDelete));
    EXPECT_EQ(L"abef", model.text());
    EXPECT_EQ(2u, model.caret());
    EXPECT_FALSE(model.hasSelection());
    model.KeyDown(EditModel::kKeyDelete);
    model.KeyDown(EditModel::kKeyBackspace);
    EXPECT_EQ(L"af", model.text());
    EXPECT_EQ(1u, model.caret());
    model.KeyDown(EditModel::kKeyEnd);
    EXPECT_EQ(EditModel::kNothing, model.KeyDown(EditModel::kKeyDelete));
    model.KeyDown(EditModel::kKeyHome);
    EXPECT_EQ(EditModel::kNothing, model.KeyDown(EditModel::kKeyBackspace));

    // Backspace needs the caret away from 0 even with a selection; a drag
    // leaves the caret at its anchor.
    model = Selected(L"abcdef", 0, 3);
    EXPECT_EQ(EditModel::kNothing, model.KeyDown(EditModel::kKeyBackspace));
    EXPECT_EQ(L"abcdef", model.text());
    model = Selected(L"abcdef", 5, 3);
    model.KeyDown(EditModel::kKeyBackspace);
    EXPECT_EQ(L"abcf", model.text());
    EXPECT_EQ(3u, model.caret());
}

TEST(EditModelTest, MovementKeysAndSelections) {
    EditModel model = WithText(L"abcdef");
    EXPECT_EQ(6u, model.caret());
    model.KeyDown(EditModel::kKeyRight);
    EXPECT_EQ(6u, model.caret());
    model.KeyDown(EditModel::kKeyHome);
    EXPECT_EQ(EditModel::kRepaint, model.KeyDown(EditModel::kKeyLeft));
    EXPECT_EQ(0u, model.caret());
    model.KeyDown(EditModel::kKeyRight);
    EXPECT_EQ(1u, model.caret());

    // Left with a selection: to the end, then one back. Right: onto the
    // selection start, then one on.
    model = Selected(L"abcdef", 1, 3);
    model.KeyDown(EditModel::kKeyLeft);
    EXPECT_EQ(5u, model.caret());
    EXPECT_FALSE(model.hasSelection());
    model = Selected(L"abcdef", 4, 2);
    EXPECT_EQ(4u, model.caret());
    model.KeyDown(EditModel::kKeyRight);
    EXPECT_EQ(3u, model.caret());
    EXPECT_FALSE(model.hasSelection());

    model.SelectAll();
    EXPECT_EQ(6u, model.caret());
    model.KeyDown(EditModel::kKeyHome);
    EXPECT_FALSE(model.hasSelection());

    // Esc hides the caret without a repaint; unlisted keys do nothing.
    model = Selected(L"abc", 0, 3);
    model.SetCaretVisible(true);
    EXPECT_EQ(EditModel::kNothing, model.KeyDown(EditModel::kKeyEscape));
    EXPECT_FALSE(model.caretVisible());
    for (unsigned key : {38u, 40u, 45u, 13u, 65u}) EXPECT_EQ(EditModel::kNothing, model.KeyDown(key));
    EXPECT_EQ(3u, model.selectionEnd());

    // Only a different text moves the caret.
    model.KeyDown(EditModel::kKeyHome);
    EXPECT_EQ(EditModel::kNotify | EditModel::kRepaint, model.SetText(L"abc"));
    EXPECT_EQ(0u, model.caret());
}

TEST(EditModelTest, HitTestPicksTheNearerBoundary) {
    EditModel model = WithText(L"aib");  // boundaries 0, 7, 10, 17
    const int points[] = {0, 3, 4, 8, 9, 13, 14, 16, 17, 500};
    const size_t expected[] = {0, 0, 1, 1, 2, 2, 3, 3, 3, 3};
    for (size_t i = 0; i < 10; ++i) EXPECT_EQ(expected[i], model.HitTest(points[i], true, kMeasure)) << points[i];
    EXPECT_EQ(3u, model.HitTest(500, false, kMeasure));  // right of the text, outside the rows
    EXPECT_EQ(0u, model.HitTest(-5, true, kMeasure));
    EXPECT_EQ(0u, model.HitTest(14, false, kMeasure));
    // Halfway (between 7 and 17 in "am") goes left.
    EXPECT_EQ(1u, WithText(L"am").HitTest(12, true, kMeasure));
    EXPECT_EQ(0u, EditModel().HitTest(10, true, kMeasure));
}

TEST(EditModelTest, ScrollingKeepsTheCaretInView) {
    // 20 characters of 7 pixels in a 50 pixel view.
    EditModel model = WithText(std::wstring(20, L'x'));
    model.KeepCaretVisible(50, kMeasure);
    EXPECT_EQ(140 + EditModel::kCaretInset - 49, model.scrollOffset());
    for (int i = 0; i < 15; ++i) model.KeyDown(EditModel::kKeyLeft);
    model.KeepCaretVisible(50, kMeasure);
    EXPECT_EQ(35, model.scrollOffset());
    model.KeyDown(EditModel::kKeyEnd);
    model.KeepCaretVisible(50, kMeasure);
    // Deleting at the end pulls the text back so that the view stays full.
    for (int i = 0; i < 5; ++i) model.KeyDown(EditModel::kKeyBackspace);
    model.KeepCaretVisible(50, kMeasure);
    EXPECT_EQ(105 + EditModel::kCaretInset + 1 - 50, model.scrollOffset());
    model.KeyDown(EditModel::kKeyHome);
    model.KeepCaretVisible(50, kMeasure);
    EXPECT_EQ(0, model.scrollOffset());
}

TEST(EditModelTest, PaintGeometry) {
    // No selection: one run, the caret 2 pixels right of its boundary.
    EditModel model = WithText(L"aib");
    model.SetCaretVisible(true);
    model.KeyDown(EditModel::kKeyLeft);
    EditModel::Geometry g = model.Layout(10, 40, 70, kMeasure);
    ASSERT_EQ(1, g.runCount);
    EXPECT_EQ(10, g.runs[0].x);
    EXPECT_EQ(3u, g.runs[0].end);
    ASSERT_TRUE(g.caretShown);
    EXPECT_EQ(10 + 10 + 2, g.caretX);
    EXPECT_EQ(40 + (30 - 16) / 2, g.caretTop);
    EXPECT_EQ(g.caretTop + 14, g.caretBottom);
    EXPECT_FALSE(g.selectionShown);

    // Selection "bi" of "abicd": three runs, the highlight, no caret.
    model = Selected(L"abicd", 1, 3);
    model.SetCaretVisible(true);
    g = model.Layout(10, 40, 70, kMeasure);
    EXPECT_FALSE(g.caretShown);
    ASSERT_EQ(3, g.runCount);
    EXPECT_EQ(10, g.runs[0].x);
    EXPECT_EQ(17, g.runs[1].x);
    EXPECT_TRUE(g.runs[1].selected);
    EXPECT_EQ(27, g.runs[2].x);
    EXPECT_EQ(3u, g.runs[2].begin);
    EXPECT_EQ(19, g.selX);
    EXPECT_EQ(40 + (30 - 18) / 2, g.selY);
    EXPECT_EQ(10, g.selW);
    EXPECT_EQ(17, g.selH);

    // Scrolled text starts left of the area.
    model = WithText(std::wstring(20, L'x'));
    model.KeepCaretVisible(50, kMeasure);
    EXPECT_EQ(100 - model.scrollOffset(), model.Layout(100, 0, 20, kMeasure).runs[0].x);
}

TEST(EditScrollTest, ScrollBarRequestsAndWheel) {
    const ScrollRange range{0, 300, 80};  // last position 219
    const int codes[] = {0, 0, 1, 1, 2, 3, 3, 4, 5, 6, 7, 8};
    const int from[] = {50, 0, 50, 219, 60, 100, 150, 50, 50, 50, 50, 50};
    const int to[] = {49, 0, 51, 219, 0, 180, 219, 123, 123, 0, 219, 50};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(to[i], ScrollPositionFor(codes[i], from[i], 123, range)) << i;

    // The wheel needs a range over 100 pixels (a text 90 high stays put);
    // steps are page / 8, down to max - page + 1, up to min.
    int pos = -1;
    EXPECT_FALSE(WheelScrollPosition(-120, 0, ScrollRange{0, 90, 40}, pos));
    EXPECT_FALSE(WheelScrollPosition(-120, 0, ScrollRange{0, 100, 40}, pos));
    EXPECT_EQ(0, pos);
    const ScrollRange tall{0, 400, 100};
    ASSERT_TRUE(WheelScrollPosition(-120, 0, tall, pos));
    EXPECT_EQ(12, pos);
    WheelScrollPosition(-120, 295, tall, pos);
    EXPECT_EQ(301, pos);
    WheelScrollPosition(120, 5, tall, pos);
    EXPECT_EQ(0, pos);
    WheelScrollPosition(0xFF88, 0, tall, pos);  // only the 16-bit delta counts
    EXPECT_EQ(12, pos);
}
