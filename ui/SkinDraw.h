// The two drawing operations of the skinned toolkit: every image reaches the
// screen through DrawImageStyle and every text through DrawTextStyle.
#pragma once

#include <windows.h>

#include "ui/UIResource.h"

namespace quillo {

// Background as a nine-grid of the source rectangle over `dest`, then the
// foreground image unscaled at its aligned place. Draws nothing for an empty
// rectangle or a style without images.
void DrawImageStyle(HDC hdc, const RECT& dest, const ImageStyle& style);

// Draws `text` (style.text when null) with GDI+ inside `rect` moved by the
// style's offset. Alignment follows the DrawText flags of style.align:
// DT_CENTER, DT_RIGHT, DT_VCENTER, DT_BOTTOM, DT_SINGLELINE (no wrapping) and
// DT_WORD_ELLIPSIS (trimmed with an ellipsis). Output is limited to `clip`
// when given.
void DrawTextStyle(HDC hdc, const RECT& rect, const wchar_t* text, const TextStyle& style, const RECT* clip = nullptr);

// The toolkit's default text font: the icon-title font with weight 400,
// created once per process.
HFONT ToolkitDefaultFont();

}  // namespace quillo
