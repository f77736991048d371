#include "tools/peer/listing_decoder.h"

#include <cstddef>

namespace dorvane::peer {

namespace {

std::uint16_t Word(const std::vector<std::uint8_t>& image, std::size_t at) {
  return static_cast<std::uint16_t>(image[at] | (image[at + 1] << 8));
}

std::string Hex4(unsigned value) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text = "0x0000";
  for (int i = 0; i < 4; ++i) text[5 - i] = digits[(value >> (4 * i)) & 0xF];
  return text;
}

}  // namespace

DecodedListing DecodeListing(const std::vector<std::uint8_t>& image) {
  DecodedListing listing;
  if (image.size() < 2) {
    listing.Error = "the image is too short for a load address";
    return listing;
  }
  if (Word(image, 0) != BasicStart) {
    listing.Error = "load address " + Hex4(Word(image, 0)) + " instead of 0x0401";
    return listing;
  }
  std::size_t at = 2;
  for (;;) {
    if (at + 2 > image.size()) {
      listing.Error = "the program has no end marker";
      return listing;
    }
    if (Word(image, at) == 0) break;
    if (at + 4 > image.size()) {
      listing.Error = "line " + std::to_string(listing.Lines.size() + 1) + " is cut short";
      return listing;
    }
    ListingLine line;
    line.Number = Word(image, at + 2);
    std::size_t end = at + 4;
    while (end < image.size() && image[end] != 0) ++end;
    if (end == image.size()) {
      listing.Error = "line " + std::to_string(listing.Lines.size() + 1) + " has no end";
      return listing;
    }
    line.Text.assign(image.begin() + static_cast<std::ptrdiff_t>(at + 4),
                     image.begin() + static_cast<std::ptrdiff_t>(end));
    listing.Lines.push_back(std::move(line));
    at = end + 1;
  }
  if (at + 2 != image.size()) {
    listing.Error = std::to_string(image.size() - at - 2) + " bytes after the end of the program";
  }
  return listing;
}

namespace {

// Whether every byte of `text` belongs to a well-formed UTF-8 sequence.
bool IsUtf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<std::uint8_t>(text[i]);
    const std::size_t length = lead < 0x80           ? 1
                               : (lead >> 5) == 0x06 ? 2
                               : (lead >> 4) == 0x0E ? 3
                               : (lead >> 3) == 0x1E ? 4
                                                     : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<std::uint8_t>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

}  // namespace

std::string FormatListingLine(const ListingLine& line, bool ansi) {
  std::string shown = std::to_string(line.Number) + " ";
  bool reversed = false;
  // Outside UTF-8, the bytes 0x80 to 0x9F are the terminal's 8-bit controls (0x9B
  // opens an escape sequence): they are shown as "?" like the 7-bit ones.
  const bool utf8 = IsUtf8(line.Text);
  for (char c : line.Text) {
    const auto b = static_cast<std::uint8_t>(c);
    if (b == ReverseOn) {
      if (ansi && !reversed) shown += "\x1b[7m";
      reversed = true;
    } else if (b < 0x20 || b == 0x7F || (!utf8 && b >= 0x80 && b <= 0x9F)) {
      // A name may hold any byte; an escape sent raw could drive the terminal.
      shown += '?';
    } else {
      shown += c;
    }
  }
  if (ansi && reversed) shown += "\x1b[0m";
  return shown;
}

}  // namespace dorvane::peer
