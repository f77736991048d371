#include "platform/sys_calls.h"

namespace dorvane::sys {

std::uint64_t& CallCount() {
  static std::uint64_t count = 0;
  return count;
}

}  // namespace dorvane::sys
