// The link's CRC-8: the Dallas/Maxim 1-Wire polynomial x^8 + x^5 + x^4 + 1 in its
// reflected form 0x8C, start value 0, no final exclusive-or. Feeding a sequence
// followed by its own CRC byte leaves 0 in the register, which the header test uses.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace dorvane {

inline constexpr std::uint8_t Crc8Polynomial = 0x8C;

constexpr std::array<std::uint8_t, 256> MakeCrc8Table() {
  std::array<std::uint8_t, 256> table{};
  for (int i = 0; i < 256; ++i) {
    auto remainder = static_cast<std::uint8_t>(i);
    for (int bit = 0; bit < 8; ++bit) {
      const bool out = (remainder & 1) != 0;
      remainder = static_cast<std::uint8_t>(remainder >> 1);
      if (out) remainder ^= Crc8Polynomial;
    }
    table[static_cast<std::size_t>(i)] = remainder;
  }
  return table;
}

inline constexpr std::array<std::uint8_t, 256> Crc8Table = MakeCrc8Table();

constexpr void CrcInit(std::uint8_t& crc_register, std::uint8_t value) { crc_register = value; }

constexpr std::uint8_t CrcGet(std::uint8_t crc_register) { return crc_register; }

constexpr void CrcUpdate(std::uint8_t& crc_register, std::uint8_t byte) {
  crc_register = Crc8Table[static_cast<std::uint8_t>(crc_register ^ byte)];
}

// The CRC of a whole byte sequence, for callers that hold it in one piece.
constexpr std::uint8_t Crc8Of(const std::uint8_t* data, std::size_t count) {
  std::uint8_t crc_register = 0;
  for (std::size_t i = 0; i < count; ++i) CrcUpdate(crc_register, data[i]);
  return crc_register;
}

}  // namespace dorvane
