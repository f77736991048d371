// A 32-bit millisecond tick counter. Elapsed times are differences modulo 2^32, so a
// wait that spans the wrap (about every 49.7 days) ends like any other. Tests inject
// a fake to cross the wrap and to pass a second without sleeping.
#pragma once

#include <cstdint>

namespace dorvane {

class TickClock {
 public:
  virtual ~TickClock() = default;
  virtual std::uint32_t GetTickCount() = 0;
};

}  // namespace dorvane
