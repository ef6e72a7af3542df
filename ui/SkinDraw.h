// The two drawing operations of the skinned toolkit: every image reaches the
// screen through DrawImageStyle and every text through DrawTextStyle.
#pragma once

#include <windows.h>

#include "ui/UIResource.h"

namespace quillo {

// The DPI that drawing is done at: the DPI of the window whose elements are
// being painted (set by DrawingDpiScope), 96 outside a paint.
int DrawingDpi();

// Sets the drawing DPI for as long as the object lives.
class DrawingDpiScope {
public:
    explicit DrawingDpiScope(int dpi);
    ~DrawingDpiScope();
    DrawingDpiScope(const DrawingDpiScope&) = delete;
    DrawingDpiScope& operator=(const DrawingDpiScope&) = delete;

private:
    int saved_;
};

// Background as a nine-grid of the source rectangle over `dest`, then the
// foreground image at its aligned place. At `dpi` the fixed margins and the
// foreground box are scaled, and the style's 2x images are drawn from 150 %
// on (the 1x ones scaled where there are none). Draws nothing for an empty
// rectangle or a style without images.
void DrawImageStyle(HDC hdc, const RECT& dest, const ImageStyle& style, int dpi = DrawingDpi());

// Draws `text` (style.text when null) with GDI+ inside `rect` moved by the
// style's offset (scaled to `dpi`, as is the font). Alignment follows the
// DrawText flags of style.align: DT_CENTER, DT_RIGHT, DT_VCENTER, DT_BOTTOM,
// DT_SINGLELINE (no wrapping) and DT_WORD_ELLIPSIS (trimmed with an
// ellipsis). Output is limited to `clip` when given.
void DrawTextStyle(HDC hdc, const RECT& rect, const wchar_t* text, const TextStyle& style, const RECT* clip = nullptr,
                   int dpi = DrawingDpi());

// The toolkit's default text font: the icon-title font with weight 400, at
// `dpi`, created once per process and DPI.
HFONT ToolkitDefaultFont(int dpi = 96);

// `font` (made for 96 DPI; null: the toolkit's default font) with its height
// scaled to `dpi`: the font itself at 96, else one made once per font and DPI.
HFONT FontForDpi(HFONT font, int dpi);

}  // namespace quillo
