// P00 files and their kin (S00, U00, R00, numbered 00-99): one C64 file in a host
// file, its C64 name in a 26-byte header before the data. The extension gives the
// type; the number only tells apart host files whose names would clash.
//
//   0x00-0x07  "C64File" and 0x00
//   0x08-0x17  the C64 name, padded with 0x00 (some tools pad with 0xA0, as a disk does)
//   0x18       0x00, so that a 16-character name is still terminated
//   0x19       the record size of a REL file, else 0
//   0x1A-      the file's data
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "formats/cbm_file_type.h"

namespace dorvane {

inline constexpr std::size_t P00HeaderSize = 26;
inline constexpr std::size_t P00NameSize = 16;

struct P00Header {
  std::string Name;  // the C64 name, PETSCII, without padding; 1 to 16 bytes
  std::uint8_t RecordSize = 0;
};

// The type a host name's extension gives (".P00" to ".P99", ".S", ".U", ".R" alike,
// in either letter case, after a non-empty stem); nothing for any other name.
std::optional<CbmFileType> P00TypeOfName(std::string_view host_name);

// The header at the start of a file, from its first bytes (at least P00HeaderSize
// of them for a header to be found). Nothing when they do not check out: a wrong
// signature, an unterminated or empty name, too few bytes.
std::optional<P00Header> ParseP00Header(std::span<const std::uint8_t> bytes);

// A header holding `header`'s name, cut to 16 bytes and padded with 0x00, and its
// record size.
std::array<std::uint8_t, P00HeaderSize> MakeP00Header(const P00Header& header);

}  // namespace dorvane
