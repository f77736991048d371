#include "formats/t64_archive.h"

#include <algorithm>

namespace dorvane {
namespace {

constexpr std::size_t HeaderSize = 64;
constexpr std::size_t EntrySize = 32;

std::uint16_t Word(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

std::uint32_t Long(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

std::string T64Entry::ShownName() const {
  std::size_t length = Name.size();
  while (length > 0 && (Name[length - 1] == 0x20 || Name[length - 1] == 0xA0)) --length;
  return std::string(Name.begin(), Name.begin() + static_cast<std::ptrdiff_t>(length));
}

std::uint16_t T64Entry::Blocks() const {
  const std::size_t blocks = (Length + 2 + 253) / 254;
  return static_cast<std::uint16_t>(std::min<std::size_t>(blocks, 0xFFFF));
}

std::uint8_t T64Entry::CbmType() const {
  const std::uint8_t type = FileType & 0x0F;
  if ((FileType & 0x80) != 0 && type >= 1 && type <= 4) return type;
  return 2;  // PRG
}

bool T64Archive::Parse(const std::vector<std::uint8_t>& bytes, T64Archive& archive) {
  if (bytes.size() < HeaderSize || bytes[0] != 'C' || bytes[1] != '6' || bytes[2] != '4') {
    return false;
  }
  archive = T64Archive();
  std::copy_n(bytes.begin() + 0x28, archive.tape_name_.size(), archive.tape_name_.begin());
  const std::size_t slots =
      std::min<std::size_t>(Word(&bytes[0x22]), (bytes.size() - HeaderSize) / EntrySize);
  for (std::size_t i = 0; i < slots; ++i) {
    const std::uint8_t* e = &bytes[HeaderSize + i * EntrySize];
    if (e[0] == 0) continue;  // a free slot
    T64Entry entry;
    entry.FileType = e[1];
    entry.StartAddress = Word(e + 2);
    entry.Offset = Long(e + 8);
    std::copy_n(e + 16, entry.Name.size(), entry.Name.begin());
    if (entry.Offset < HeaderSize || entry.Offset >= bytes.size()) continue;
    archive.entries_.push_back(entry);
  }
  std::vector<std::size_t> offsets;
  for (const T64Entry& entry : archive.entries_) offsets.push_back(entry.Offset);
  std::sort(offsets.begin(), offsets.end());
  for (T64Entry& entry : archive.entries_) {
    const auto next = std::upper_bound(offsets.begin(), offsets.end(), entry.Offset);
    entry.Length = (next == offsets.end() ? bytes.size() : *next) - entry.Offset;
  }
  return true;
}

std::vector<std::uint8_t> T64Archive::FileData(const std::vector<std::uint8_t>& bytes,
                                               const T64Entry& entry) const {
  const std::size_t length =
      entry.Offset < bytes.size() ? std::min(entry.Length, bytes.size() - entry.Offset) : 0;
  std::vector<std::uint8_t> data(length + 2);
  data[0] = static_cast<std::uint8_t>(entry.StartAddress & 0xFF);
  data[1] = static_cast<std::uint8_t>(entry.StartAddress >> 8);
  if (length > 0) {
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(entry.Offset), length,
                data.begin() + 2);
  }
  return data;
}

}  // namespace dorvane
