#include "formats/p00_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace dorvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes AsBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A header as the format lays it out, written out byte by byte.
Bytes GoodHeader() {
  return {'C',  '6', '4', 'F', 'i', 'l', 'e', 0x00,  // signature
          'H',  'E', 'L', 'L', 'O', ' ', 'C', '6',   // name
          '4',  0,   0,   0,   0,   0,   0,   0,     // padding
          0x00,                                      // terminator
          0x2A};                                     // record size
}

TEST(P00File, ExtensionsGiveTheType) {
  const std::pair<std::string, std::optional<CbmFileType>> cases[] = {
      {"game.p00", CbmFileType::Prg},  {"GAME.P00", CbmFileType::Prg},
      {"game.P99", CbmFileType::Prg},  {"notes.s00", CbmFileType::Seq},
      {"notes.S07", CbmFileType::Seq}, {"x.u00", CbmFileType::Usr},
      {"db.r00", CbmFileType::Rel},    {"a.b.R42", CbmFileType::Rel},
      {".p00", std::nullopt},          {"game.d00", std::nullopt},
      {"game.p0", std::nullopt},       {"game.p000", std::nullopt},
      {"game.pa0", std::nullopt},      {"game_p00", std::nullopt},
      {"game.prg", std::nullopt},      {"p00", std::nullopt},
  };
  for (const auto& [name, type] : cases) EXPECT_EQ(P00TypeOfName(name), type) << name;
}

TEST(P00File, ReadsTheNameAndRecordSize) {
  const std::optional<P00Header> header = ParseP00Header(GoodHeader());
  ASSERT_TRUE(header);
  EXPECT_EQ(header->Name, "HELLO C64");
  EXPECT_EQ(header->RecordSize, 0x2A);
  // Written back, it is the very same header.
  const std::array<std::uint8_t, P00HeaderSize> made = MakeP00Header(*header);
  EXPECT_EQ(Bytes(made.begin(), made.end()), GoodHeader());
}

TEST(P00File, NamesEndAtTheirPadding) {
  const std::pair<Bytes, std::string> names[] = {
      {AsBytes("SIXTEEN CHARS 16"), "SIXTEEN CHARS 16"},
      {{'A', 'B', 0xA0, 0xA0, 0xA0, 0xA0, 0xA0, 0xA0, 0xA0, 0xA0, 0xA0, 0xA0, 0xA0, 0xA0, 0xA0,
        0xA0},
       "AB"},
      {{'A', 0xA0, 'B', 0xA0, 0x00},
       "A\xA0"
       "B"},
      {{'A', 0x00, 'B'}, "A"},
      {{0xC1, 0x5C, 0xFF}, "\xC1\x5C\xFF"},
  };
  for (const auto& [field, expected] : names) {
    Bytes bytes = GoodHeader();
    std::fill(bytes.begin() + 8, bytes.begin() + 24, 0x00);
    std::copy(field.begin(), field.end(), bytes.begin() + 8);
    const std::optional<P00Header> header = ParseP00Header(bytes);
    ASSERT_TRUE(header) << expected;
    EXPECT_EQ(header->Name, expected);
  }
}

TEST(P00File, ADamagedHeaderIsNoHeader) {
  // Every byte of the signature and the terminator, one at a time.
  for (std::size_t at : {0, 1, 2, 3, 4, 5, 6, 7, 24}) {
    Bytes bytes = GoodHeader();
    bytes[at] ^= 0x20;
    EXPECT_FALSE(ParseP00Header(bytes)) << at;
  }
  // Cut short anywhere.
  const Bytes good = GoodHeader();
  for (std::size_t n = 0; n < P00HeaderSize; ++n) {
    EXPECT_FALSE(ParseP00Header(std::span(good).first(n))) << n;
  }
  // A name of nothing but padding.
  for (std::uint8_t pad : {0x00, 0xA0}) {
    Bytes bytes = GoodHeader();
    std::fill(bytes.begin() + 8, bytes.begin() + 24, pad);
    EXPECT_FALSE(ParseP00Header(bytes)) << int{pad};
  }
  // What follows the header is data, whatever it holds.
  Bytes longer = GoodHeader();
  longer.insert(longer.end(), {0x00, 0xFF});
  EXPECT_TRUE(ParseP00Header(longer));
}

TEST(P00File, ARewrittenHeaderKeepsTheRecordSizeAndCutsLongNames) {
  const Bytes expected = {'C', '6', '4', 'F', 'i', 'l', 'e', 0x00, 'N', 'E', 'W', '1',  '2',
                          '3', '4', '5', '6', '7', '8', '9', '0',  '1', '2', '3', 0x00, 0x07};
  const std::array<std::uint8_t, P00HeaderSize> made =
      MakeP00Header(P00Header{"NEW12345678901234567", 7});
  EXPECT_EQ(Bytes(made.begin(), made.end()), expected);
}

// Debian's cbmconvert as a yardstick: the P00 files it makes of plain files must
// read as the C64 names it gives them, the data starting right after the header.
class CbmconvertYardstick : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("cbmconvert >/dev/null 2>&1 </dev/null; command -v cbmconvert >/dev/null") !=
        0) {
      GTEST_SKIP() << "cbmconvert is not installed (scripts/install-deps.sh test)";
    }
    std::string tmpl = (std::filesystem::temp_directory_path() / "dorvane-p00-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  Bytes Convert(const std::string& native, const Bytes& data, const std::string& made) {
    std::ofstream(dir_ / native, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<long>(data.size()));
    const std::string command =
        "cd '" + dir_.string() + "' && cbmconvert -v0 -P -n '" + native + "' >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream in(dir_ / made, std::ios::binary);
    EXPECT_TRUE(in) << made;
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::filesystem::path dir_;
};

TEST_F(CbmconvertYardstick, ItsFilesReadAsTheirC64Names) {
  struct Case {
    std::string Native;  // the plain file handed to cbmconvert
    std::string Made;    // the P00 file it writes
    std::string Name;    // the C64 name inside, PETSCII
    CbmFileType Type;
  };
  const Case cases[] = {
      {"hello.prg", "hello.p00", "HELLO", CbmFileType::Prg},
      {"notes.seq", "notes.s00", "NOTES", CbmFileType::Seq},
      {"x.usr", "x.u00", "X", CbmFileType::Usr},
      {"records.rel", "records.r00", "RECORDS", CbmFileType::Rel},
      // Sixteen characters fill the field: no 0x00 in it.
      {"longer name than sixteen.prg", "lngrnmth.p00", "LONGER NAME THAN", CbmFileType::Prg},
      // Upper-case ASCII is the shifted letters in PETSCII.
      {"Mixed Case.prg", "mixedcas.p00",
       "\xCDIXED \xC3"
       "ASE",
       CbmFileType::Prg},
  };
  const Bytes data = {0x01, 0x08, 0x00, 0xFF, 'C', '6', '4', 0xA0};
  for (const Case& c : cases) {
    const Bytes made = Convert(c.Native, data, c.Made);
    EXPECT_EQ(P00TypeOfName(c.Made), c.Type) << c.Made;
    const std::optional<P00Header> header = ParseP00Header(made);
    ASSERT_TRUE(header) << c.Made;
    EXPECT_EQ(header->Name, c.Name);
    EXPECT_EQ(header->RecordSize, 0);
    EXPECT_EQ(Bytes(made.begin() + P00HeaderSize, made.end()), data) << c.Made;
  }
}

}  // namespace
}  // namespace dorvane
