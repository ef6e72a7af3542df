// What several screens do alike: the fade-out of a layered window before the
// next screen takes over, and making a window top-most.
#pragma once

#include "ui/UIObject.h"

namespace quillo {

// Alpha 254, then 25 less every 30 ms while above 25; then the window shrinks
// to 1 x 1 pixel at its place and is redrawn.
void FadeOutAndShrink(UIObject& window);

// Shows the window (SW_SHOW) and makes it top-most (HWND_TOPMOST, no move,
// no size).
void ShowTopMost(UIObject& window);

}  // namespace quillo
