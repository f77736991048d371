#include "tools/peer/petscii.h"

namespace dorvane::peer {

std::vector<std::uint8_t> ToPetscii(std::string_view text) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(text.size());
  for (char c : text) {
    auto b = static_cast<std::uint8_t>(c);
    if (b >= 'a' && b <= 'z') {
      b = static_cast<std::uint8_t>(b - 0x20);
    } else if (b >= 'A' && b <= 'Z') {
      b = static_cast<std::uint8_t>(b + 0x80);
    }
    bytes.push_back(b);
  }
  return bytes;
}

}  // namespace dorvane::peer
