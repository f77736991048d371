// A count as the log writes it: 4211 as "4,211".
#pragma once

#include <cstdint>
#include <string>

namespace dorvane {

inline std::string GroupedCount(std::uint64_t count) {
  const std::string digits = std::to_string(count);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

}  // namespace dorvane
