// The order in which Tab visits the elements of a window: reading order,
// rows from top to bottom and, within a row, left to right. No Windows API.
#pragma once

#include <cstddef>
#include <vector>

namespace quillo {

struct FocusBox {
    int left = 0, top = 0, right = 0, bottom = 0;
};

// Indices of `boxes` in reading order. An element belongs to the row of the
// first element above it when its top lies above that element's middle, so
// a check box and the link beside it that sit a few pixels lower are one row.
std::vector<size_t> ReadingOrder(const std::vector<FocusBox>& boxes);

// The position in a tab order of `count` stops that Tab (or Shift+Tab) moves
// to from `current` (count when nothing has the focus), wrapping around at
// either end; count when there is no stop.
size_t NextStop(size_t current, size_t count, bool backwards);

}  // namespace quillo
