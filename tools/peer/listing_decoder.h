// Reads a directory listing the way the C64 does after LOAD"$" and LIST: a BASIC
// program image, shown line by line as the line number, a space and the line's text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dorvane::peer {

inline constexpr std::uint16_t BasicStart = 0x0401;
// PETSCII "reverse on": the listing's title line starts with it.
inline constexpr std::uint8_t ReverseOn = 0x12;

struct ListingLine {
  std::uint16_t Number = 0;
  std::string Text;  // the line's bytes as stored, without its 0x00 end
};

struct DecodedListing {
  std::vector<ListingLine> Lines;
  // Empty when the image is sound; otherwise what is wrong with it. Lines then holds
  // the lines read before the damage.
  std::string Error;
  bool Ok() const { return Error.empty(); }
};

// Checks the load address 0x0401, each line's non-zero link word and its 0x00 end,
// and the zero link word that ends the program as the image's last two bytes.
DecodedListing DecodeListing(const std::vector<std::uint8_t>& image);

// One line as LIST shows it. With `ansi` the reverse-on byte switches the terminal's
// reverse video on until the end of the line; without it, it is left out. Control
// bytes that a terminal would act on are shown as "?".
std::string FormatListingLine(const ListingLine& line, bool ansi);

}  // namespace dorvane::peer
