// The host's tick counter: milliseconds of CLOCK_MONOTONIC cut to 32 bits, so it
// wraps about every 49.7 days exactly as the link's modulo arithmetic expects, and
// never jumps when the wall clock is set.
#pragma once

#include <cstdint>
#include <ctime>

#include "link/tick_clock.h"

namespace dorvane {

// Milliseconds since the clock's epoch, modulo 2^32.
std::uint32_t TicksFromTimespec(const timespec& ts);

class MonotonicClock : public TickClock {
 public:
  std::uint32_t GetTickCount() override;
};

}  // namespace dorvane
