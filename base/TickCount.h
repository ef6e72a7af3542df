// A 64-bit millisecond count from a 32-bit tick counter, for systems whose
// kernel has only the 32-bit one (Windows XP lacks GetTickCount64).
#pragma once

#include <atomic>
#include <cstdint>

namespace quillo {

// The counter's reading widened to 64 bits: `last` holds the latest value
// handed out, and a reading below its low half means that the counter
// wrapped (every 2^32 ms, 49.7 days) since. Right as long as some caller
// asks at least once per wrap. Safe to call from several threads at once:
// the counter is read after `last`, so it never lags behind a value
// another thread handed out.
uint64_t ExtendTickCount(std::atomic<uint64_t>& last, uint32_t (*readCounter)());

}  // namespace quillo
