#include "base/TickCount.h"

namespace quillo {

uint64_t ExtendTickCount(std::atomic<uint64_t>& last, uint32_t (*readCounter)()) {
    uint64_t seen = last.load();
    for (;;) {
        const uint32_t now = readCounter();
        uint64_t value = (seen & ~uint64_t{0xFFFFFFFF}) | now;
        if (now < static_cast<uint32_t>(seen)) value += uint64_t{1} << 32;
        // A failed exchange loads what another thread handed out meanwhile.
        if (value == seen || last.compare_exchange_weak(seen, value)) return value;
    }
}

}  // namespace quillo
