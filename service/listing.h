// The directory as a C64 BASIC program image in the CBM listing layout: one line per
// entry with the block count as its line number, the name in quotes and the type.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "link/wire_format.h"
#include "storage/volume.h"

namespace dorvane {

// clang-format off
// Load address 0x0401, then the title line, line number 0.
inline constexpr std::array<std::uint8_t, 32> DirHeader = {
    0x01, 0x04,  // load address 0x0401
    0x01, 0x01,  // link word (fixed, non-zero)
    0x00, 0x00,  // line number 0
    0x12,        // reverse on
    0x22,        // opening quote
    ' ',  'V', 'E', 'S', 'K', 'A', ' ', 'D', 'O', 'R', 'V', 'A', 'N', 'E', ' ', ' ', ' ',
    0x22,                     // closing quote
    ' ',  'V', '4', '.', '0', // disk id field
    0x00,                     // end of line
};

// The text of the total line, its end of line, and the end-of-program link word.
inline constexpr std::array<std::uint8_t, 23> DirTrailer = {
    ' ', 'B', 'L', 'O', 'C', 'K', 'S', ' ', 'F', 'U', 'L', 'L', '.',  // 13 characters
    ' ', ' ', ' ', ' ', ' ', ' ', ' ',                                // 7 spaces
    0x00,                                                             // end of line
    0x00, 0x00,                                                       // end of program
};
// The total line of a disk's own listing: the free blocks are its line number.
inline constexpr std::array<std::uint8_t, 23> DiskTrailer = {
    ' ', 'B', 'L', 'O', 'C', 'K', 'S', ' ', 'F', 'R', 'E', 'E', '.',  // 13 characters
    ' ', ' ', ' ', ' ', ' ', ' ', ' ',                                // 7 spaces
    0x00,                                                             // end of line
    0x00, 0x00,                                                       // end of program
};
// clang-format on

inline constexpr int EntryLineLength = 32;
// The image's positions are 16-bit: 59 + 32 x 2046 = 65,531 bytes is the most that fits.
inline constexpr int MaxListedEntries = 2046;

// "a" to "z" become "A" to "Z"; every other byte is kept.
std::string UppercaseListingName(const std::string& name);

// Blocks of 254 bytes, rounded up; the low 16 bits are the entry's line number.
std::uint64_t BlockCount(std::uint64_t size);

// How a host entry shows: its name (or alternate name) in capitals, its size in
// blocks, "DIR" or "PRG", "<" when read-only.
ListedEntry HostListedEntry(const DirEntry& entry);

class Listing {
 public:
  // Lists the volume's current directory into ListingImage and sets ListingLength;
  // ListingPos is 0 afterwards. A volume that is a disk of its own gives its
  // prepared listing; otherwise every entry found for "*.*" is listed. Throws
  // OsError when the search cannot start.
  void BuildListing(Volume& volume);
  // The title line with the disk's name and ID, its entries, and "BLOCKS FREE.".
  void BuildDiskListing(const DiskListing& disk);
  void AppendListingByte(std::uint8_t b);
  // Appends the 32-byte line of one entry; returns its block count.
  std::uint64_t AppendEntryLine(const DirEntry& entry);
  std::uint64_t AppendEntryLine(const ListedEntry& entry);
  // Appends the total line and ends the image: sets ListingLength, rewinds ListingPos.
  void AppendTotalLine(std::uint64_t number, const std::array<std::uint8_t, 23>& trailer);
  // Copies the next bytes of the image, at most 255, into the packet's payload and
  // returns their count; 0 when the image has been sent completely.
  int NextListingChunk(Packet& packet);

  std::array<std::uint8_t, 65536> ListingImage{};
  std::uint16_t ListingPos = 0;
  std::uint16_t ListingLength = 0;
  int EntryCount = 0;  // entry lines in the image, for the log
};

}  // namespace dorvane
