// Lengths at the display's scale. The skin, the screens and the controls give
// every length at 96 DPI (100 %); a window on a display of another DPI draws
// them multiplied by dpi / 96, rounded to the nearest pixel (halves away from
// zero, as MulDiv rounds). At 96 DPI every function here is the identity.
#pragma once

#include <cstdint>

namespace quillo {

constexpr int kBaseDpi = 96;

// `length` (at 96 DPI) at `dpi`. A DPI of 0 or less counts as 96.
constexpr int32_t ScaleToDpi(int32_t length, int dpi) {
    if (dpi <= 0 || dpi == kBaseDpi) return length;
    const int64_t product = static_cast<int64_t>(length) * dpi;
    const int64_t half = kBaseDpi / 2;
    return static_cast<int32_t>(product >= 0 ? (product + half) / kBaseDpi : -((-product + half) / kBaseDpi));
}

// The skin's images come drawn at 1x and 2x: the one nearest to the
// display's scale (1x up to 125 %, 2x from 150 %).
constexpr int ImageScaleForDpi(int dpi) { return 2 * dpi >= 3 * kBaseDpi ? 2 : 1; }

}  // namespace quillo
