// Names and commands as the C64 types them. Its keyboard gives the unshifted letters
// as 0x41..0x5A and the shifted ones as 0xC1..0xDA, so a host text is turned into the
// bytes the C64 would put into a request.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace dorvane::peer {

// "a"-"z" become 0x41-0x5A, "A"-"Z" become 0xC1-0xDA; every other byte is kept.
std::vector<std::uint8_t> ToPetscii(std::string_view text);

}  // namespace dorvane::peer
