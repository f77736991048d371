// T64 tape archives: a 64-byte header, a table of 32-byte entries, then the files'
// data. Read only. The end addresses stored in the entries are wrong in many old
// archives, so a file's length is taken from the offsets: up to the next higher
// offset, or the archive's end.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace dorvane {

struct T64Entry {
  std::array<std::uint8_t, 16> Name{};  // as stored, padded with 0x20 (some use 0xA0)
  std::uint8_t FileType = 0;            // a CBM type byte, e.g. 0x82 for PRG
  std::uint16_t StartAddress = 0;
  std::size_t Offset = 0;  // of the data in the archive
  std::size_t Length = 0;  // bytes of data, without the start address

  // The name without its trailing padding.
  std::string ShownName() const;
  // 254-byte blocks of the file as a disk would hold it, the start address included.
  std::uint16_t Blocks() const;
  // The low nibble of a CBM type byte; archives that store no valid type hold PRGs.
  std::uint8_t CbmType() const;
};

class T64Archive {
 public:
  // True when `bytes` start like a T64 archive (the signature's "C64" and a whole
  // header); the entries are then read, each checked against the archive's size.
  static bool Parse(const std::vector<std::uint8_t>& bytes, T64Archive& archive);

  const std::array<std::uint8_t, 24>& TapeName() const { return tape_name_; }
  const std::vector<T64Entry>& Entries() const { return entries_; }
  // The file as it would be loaded: the two start-address bytes, then the data.
  std::vector<std::uint8_t> FileData(const std::vector<std::uint8_t>& bytes,
                                     const T64Entry& entry) const;

 private:
  std::array<std::uint8_t, 24> tape_name_{};
  std::vector<T64Entry> entries_;
};

}  // namespace dorvane
