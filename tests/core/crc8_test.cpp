#include "link/crc8.h"

#include <gtest/gtest.h>

#include <string_view>

namespace dorvane {
namespace {

TEST(Crc8, PublishedCheckValueOf123456789) {
  constexpr std::string_view check = "123456789";
  EXPECT_EQ(Crc8Of(reinterpret_cast<const std::uint8_t*>(check.data()), check.size()), 0xA1);
}

TEST(Crc8, TableStartsAndEndsWithTheOneWireValues) {
  const std::uint8_t first[] = {0x00, 0x5E, 0xBC, 0xE2, 0x61, 0x3F, 0xDD, 0x83};
  for (std::size_t i = 0; i < sizeof first; ++i) EXPECT_EQ(Crc8Table[i], first[i]) << i;
  EXPECT_EQ(Crc8Table[255], 0x35);
}

TEST(Crc8, SequenceFollowedByItsOwnCrcLeavesZero) {
  const std::uint8_t data[] = {0x01, 0x01, 0x9A};
  std::uint8_t reg = 0;
  for (std::uint8_t b : data) CrcUpdate(reg, b);
  EXPECT_EQ(CrcGet(reg), 0);
}

}  // namespace
}  // namespace dorvane
