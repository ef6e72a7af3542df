#include "ui/FocusOrder.h"

#include <algorithm>

namespace quillo {

std::vector<size_t> ReadingOrder(const std::vector<FocusBox>& boxes) {
    std::vector<size_t> order(boxes.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return boxes[a].top < boxes[b].top; });
    for (size_t start = 0; start < order.size();) {
        const FocusBox& first = boxes[order[start]];
        const int middle = first.top + (first.bottom - first.top) / 2;
        size_t end = start + 1;
        while (end < order.size() && boxes[order[end]].top < middle) ++end;
        std::stable_sort(order.begin() + static_cast<std::ptrdiff_t>(start),
                         order.begin() + static_cast<std::ptrdiff_t>(end),
                         [&](size_t a, size_t b) { return boxes[a].left < boxes[b].left; });
        start = end;
    }
    return order;
}

size_t NextStop(size_t current, size_t count, bool backwards) {
    if (count == 0) return 0;
    if (current >= count) return backwards ? count - 1 : 0;
    if (backwards) return current == 0 ? count - 1 : current - 1;
    return current + 1 == count ? 0 : current + 1;
}

}  // namespace quillo
