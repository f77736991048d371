#include "formats/t64_archive.h"

#include <gtest/gtest.h>

#include <cstring>

namespace dorvane {
namespace {

// An archive of three slots: a file whose end address is wrong, a free slot, and a
// file stored before it in the table but after it in the data.
std::vector<std::uint8_t> Archive() {
  std::vector<std::uint8_t> bytes(160 + 10 + 5);
  std::memcpy(bytes.data(), "C64S tape image file", 20);
  bytes[0x22] = 3;
  bytes[0x24] = 2;
  std::memcpy(&bytes[0x28], "MY TAPE                 ", 24);
  auto entry = [&](int slot, std::uint8_t type, std::uint16_t start, std::uint16_t end,
                   std::uint32_t offset, const char* name) {
    std::uint8_t* e = &bytes[64 + 32 * slot];
    e[0] = 1;
    e[1] = type;
    e[2] = start & 0xFF;
    e[3] = start >> 8;
    e[4] = end & 0xFF;
    e[5] = end >> 8;
    e[8] = offset & 0xFF;
    e[9] = (offset >> 8) & 0xFF;
    std::memset(e + 16, 0x20, 16);
    std::memcpy(e + 16, name, std::strlen(name));
  };
  entry(0, 0x82, 0x0801, 0xC000, 170, "SECOND");
  entry(2, 0x01, 0x1000, 0x1001, 160, "FIRST");
  for (std::size_t i = 160; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i);
  return bytes;
}

TEST(T64Archive, TakesLengthsFromTheOffsets) {
  const std::vector<std::uint8_t> bytes = Archive();
  T64Archive archive;
  ASSERT_TRUE(T64Archive::Parse(bytes, archive));
  ASSERT_EQ(archive.Entries().size(), 2u);
  const T64Entry& second = archive.Entries()[0];
  const T64Entry& first = archive.Entries()[1];
  EXPECT_EQ(second.ShownName(), "SECOND");
  EXPECT_EQ(second.Length, 5u);
  EXPECT_EQ(first.ShownName(), "FIRST");
  EXPECT_EQ(first.Length, 10u);
  EXPECT_EQ(first.CbmType(), 2);  // no valid type stored: a PRG
  EXPECT_EQ(first.Blocks(), 1);
  const std::vector<std::uint8_t> data = archive.FileData(bytes, second);
  EXPECT_EQ(data, (std::vector<std::uint8_t>{0x01, 0x08, 170, 171, 172, 173, 174}));
}

TEST(T64Archive, RefusesOrTrimsWhatLiesOutsideTheArchive) {
  std::vector<std::uint8_t> bytes = Archive();
  bytes[0x22] = 0xFF;    // more slots than the archive holds
  bytes[64 + 8] = 0xFF;  // the first entry's data beyond the end
  bytes[64 + 9] = 0xFF;
  T64Archive archive;
  ASSERT_TRUE(T64Archive::Parse(bytes, archive));
  ASSERT_EQ(archive.Entries().size(), 1u);
  EXPECT_EQ(archive.Entries()[0].Length, 15u);  // now up to the archive's end
  for (std::size_t cut = 0; cut < 64; ++cut) {
    EXPECT_FALSE(
        T64Archive::Parse(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + cut), archive));
  }
  bytes[0] = 'X';
  EXPECT_FALSE(T64Archive::Parse(bytes, archive));
}

}  // namespace
}  // namespace dorvane
