#include "link/monotonic_clock.h"

namespace dorvane {

std::uint32_t TicksFromTimespec(const timespec& ts) {
  // Worked out in 64 bits and cut at the end: the seconds alone overflow 32-bit
  // milliseconds after 49.7 days of uptime.
  const auto ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                  static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);
}

std::uint32_t MonotonicClock::GetTickCount() {
  timespec ts{};
  // CLOCK_MONOTONIC cannot fail with a valid clock id and a valid pointer.
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return TicksFromTimespec(ts);
}

}  // namespace dorvane
