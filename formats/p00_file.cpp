#include "formats/p00_file.h"

#include <algorithm>

namespace dorvane {
namespace {

constexpr std::string_view Signature("C64File\0", 8);
constexpr std::size_t NameOffset = 8;
constexpr std::size_t TerminatorOffset = NameOffset + P00NameSize;
constexpr std::size_t RecordSizeOffset = TerminatorOffset + 1;
constexpr std::uint8_t ShiftedSpace = 0xA0;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<CbmFileType> P00TypeOfName(std::string_view host_name) {
  const std::size_t n = host_name.size();
  if (n < 5 || host_name[n - 4] != '.' || !IsDigit(host_name[n - 2]) ||
      !IsDigit(host_name[n - 1])) {
    return std::nullopt;
  }
  switch (host_name[n - 3]) {
    case 'P':
    case 'p':
      return CbmFileType::Prg;
    case 'S':
    case 's':
      return CbmFileType::Seq;
    case 'U':
    case 'u':
      return CbmFileType::Usr;
    case 'R':
    case 'r':
      return CbmFileType::Rel;
    default:
      return std::nullopt;
  }
}

std::optional<P00Header> ParseP00Header(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < P00HeaderSize) return std::nullopt;
  if (!std::equal(Signature.begin(), Signature.end(), bytes.begin(),
                  [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; })) {
    return std::nullopt;
  }
  if (bytes[TerminatorOffset] != 0x00) return std::nullopt;

  std::size_t length = 0;
  while (length < P00NameSize && bytes[NameOffset + length] != 0x00) ++length;
  // Padding a name with shifted spaces is how a disk ends it; a name ends there too.
  while (length > 0 && bytes[NameOffset + length - 1] == ShiftedSpace) --length;
  if (length == 0) return std::nullopt;

  P00Header header;
  header.Name.assign(reinterpret_cast<const char*>(bytes.data() + NameOffset), length);
  header.RecordSize = bytes[RecordSizeOffset];
  return header;
}

std::array<std::uint8_t, P00HeaderSize> MakeP00Header(const P00Header& header) {
  std::array<std::uint8_t, P00HeaderSize> bytes{};
  std::copy(Signature.begin(), Signature.end(), bytes.begin());
  const std::size_t length = std::min(header.Name.size(), P00NameSize);
  std::copy_n(header.Name.begin(), length, bytes.begin() + NameOffset);
  bytes[RecordSizeOffset] = header.RecordSize;
  return bytes;
}

}  // namespace dorvane
