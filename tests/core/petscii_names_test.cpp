#include "formats/petscii_names.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace dorvane {
namespace {

std::string Byte(int b) { return std::string(1, static_cast<char>(b)); }

TEST(PetsciiNames, EveryByteANameCanHoldComesBackExactly) {
  std::set<std::string> seen;
  std::string all;
  for (int b = 0x01; b <= 0xFF; ++b) {
    if (b == '/') continue;
    all += Byte(b);
    const std::string host = PetsciiToHostName(Byte(b));
    EXPECT_TRUE(IsValidUtf8(host)) << b;
    EXPECT_EQ(HostNameToPetscii(host), Byte(b)) << b;
    EXPECT_TRUE(seen.insert(host).second) << "two bytes share " << host;
  }
  // Run together, escapes and characters must not run into one another.
  EXPECT_EQ(HostNameToPetscii(PetsciiToHostName(all)), all);
  EXPECT_EQ(HostNameToPetscii(PetsciiToHostName("{41}")), "{41}");
}

TEST(PetsciiNames, CharactersOfTheUpperCaseGraphicsSet) {
  const std::pair<int, std::string> cases[] = {
      {'A', "A"},
      {'a', "a"},
      {' ', " "},
      {'@', "@"},
      {'[', "["},
      {']', "]"},
      {'~', "~"},
      {0x5C, "\u00A3"},      // pound sign
      {0x5E, "\u2191"},      // up arrow
      {0x5F, "\u2190"},      // left arrow
      {0xA0, "\u00A0"},      // shifted space
      {0xA1, "\u258C"},      // left half block
      {0xA6, "\U0001FB95"},  // checker board
      {0xBF, "\u259A"},      // diagonal quarters
      {0xC0, "\u2500"},      // horizontal line
      {0xC1, "\u2660"},      // spade
      {0xC2, "\U0001FB72"},  // vertical line
      {0xD1, "\u25CF"},      // ball
      {0xD3, "\u2665"},      // heart
      {0xD7, "\u25CB"},      // circle
      {0xD8, "\u2663"},      // club
      {0xDA, "\u2666"},      // diamond
      {0xDB, "\u253C"},      // cross
      {0xDE, "\u03C0"},      // pi
      {0xDF, "\u25E5"},      // upper right triangle
      // No character of their own: control codes, the repeated graphics, "{".
      {0x01, "{01}"},
      {0x0D, "{0D}"},
      {0x1F, "{1F}"},
      {0x7B, "{7B}"},
      {0x7F, "{7F}"},
      {0x80, "{80}"},
      {0x9F, "{9F}"},
      {0xE0, "{E0}"},
      {0xFF, "{FF}"},
  };
  for (const auto& [b, host] : cases) EXPECT_EQ(PetsciiToHostName(Byte(b)), host) << b;
  EXPECT_EQ(PetsciiToHostName("dir/\x5C"
                              "1"),
            "dir/\u00A3"
            "1");
}

TEST(PetsciiNames, HostNamesReadAsWellAsTheC64CanShowThem) {
  // Whether a character had no form at all and reads as "?" is told apart from a
  // "?" of the name's own: only the first needs another name to be loaded by.
  const struct {
    std::string host;
    std::string petscii;
    bool unshown = false;
  } cases[] = {
      {"\u00DCbung.prg", "Ubung.prg"},
      {"caf\u00E9.seq", "cafe.seq"},
      {"Stra\u00DFe \u00C6ther \u0152uvre", "Strasse AEther OEuvre"},
      {"\u0141\u00F3d\u017A \u0110\u0111 \u0131", "Lodz Dd i"},
      {"U\u0308bung", "Ubung"},  // the accent as a character of its own
      {"\u65E5\u672C.prg", "??.prg", true},
      {"\u00D7\u00F7", "??", true},
      {"\u2018q\u2019 \u201Cq\u201D a\u2013b", "'q' \"q\" a-b"},
      {"\U0001F600", "?", true},
      {"what?\u00E9", "what?e"},
      {"{3F}", "?"},
      // ASCII stays, "\", "^" and "_" being what the C64 shows in their places.
      {"a_b\\c^d",
       "a\x5F"
       "b\x5C"
       "c\x5E"
       "d"},
      {"tab\there", "tab\there"},
      // Escapes: two upper-case hex digits; never a separator nor a terminator.
      {"{41}{C1}{0d}", "A\xC1{0d}"},
      {"{2F}{00}{4G}{4}", "{2F}{00}{4G}{4}"},
      {"{{7B}}", "{{}"},
      // Not UTF-8: every byte as it is.
      {"\xC1\xDB.prg", "\xC1\xDB.prg"},
      {"\xC3\xBC\xFF", "\xC3\xBC\xFF"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HostNameToPetscii(c.host), c.petscii) << c.host;
    EXPECT_EQ(HoldsCharacterWithoutPetscii(c.host), c.unshown) << c.host;
  }
}

TEST(PetsciiNames, Utf8IsCheckedStrictly) {
  const std::pair<std::string, bool> cases[] = {
      {"", true},
      {"plain", true},
      {"\xC2\x80", true},
      {"\xF4\x8F\xBF\xBF", true},
      {"\x80", false},              // continuation without a lead
      {"\xC3", false},              // cut off
      {"\xE2\x82", false},          // cut off
      {"\xC3\x28", false},          // lead without its continuation
      {"\xC0\xAF", false},          // over-long "/"
      {"\xE0\x80\xAF", false},      // over-long "/"
      {"\xED\xA0\x80", false},      // surrogate
      {"\xF4\x90\x80\x80", false},  // past U+10FFFF
      {"\xFE", false},
  };
  for (const auto& [text, valid] : cases) EXPECT_EQ(IsValidUtf8(text), valid) << text;
}

TEST(PetsciiNames, LetterCaseFoldsAsTheServerReceivesNames) {
  EXPECT_EQ(FoldPetsciiLetters("AZ@[az\xC1\xDA\xC0\xDB\x61"),
            "az@[azaz\xC0\xDB"
            "a");
}

// Debian's cc1541 prints the names of a disk image in Unicode ("-U 1", the upper-case
// set): a disk whose names are single graphics characters shows its mapping, which
// ours must follow wherever it gives every byte a character of its own.
class Cc1541Yardstick : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v cc1541 >/dev/null 2>&1") != 0) {
      GTEST_SKIP() << "cc1541 is not installed";
    }
    std::string tmpl = (std::filesystem::temp_directory_path() / "dorvane-cc1541-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  // The names cc1541 prints for a disk with one file per byte, named by that byte.
  std::vector<std::string> PrintedNames(const std::vector<int>& bytes) {
    std::ofstream(dir_ / "f") << "x";
    std::string command = "cd '" + dir_.string() + "' && cc1541 -q";
    char escape[8];
    for (int b : bytes) {
      std::snprintf(escape, sizeof escape, "#%02x", b);
      command += std::string(" -N -f '") + escape + "' -w f";
    }
    command += " names.d64 >/dev/null 2>&1 && cc1541 -U 1 names.d64 > names.txt";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;

    std::vector<std::string> names;
    std::ifstream in(dir_ / "names.txt");
    std::string line;
    while (std::getline(in, line)) {
      // Entry lines: blocks, spaces, the quoted name, the type. The title line has
      // its name in reverse and is passed over.
      const std::size_t open = line.find('"');
      if (open == std::string::npos || line.find('\x1b') != std::string::npos) continue;
      const std::size_t close = line.find('"', open + 1);
      if (close == std::string::npos) continue;
      names.push_back(line.substr(open + 1, close - open - 1));
    }
    return names;
  }

  std::filesystem::path dir_;
};

TEST_F(Cc1541Yardstick, GraphicsCharactersAsItPrintsThem) {
  // Where cc1541 gives one character to two bytes, or a character the C64's glyph
  // does not show, ours is the shape of the glyph and the bytes stay apart.
  const std::map<int, std::string> ours_differ = {
      {0x27, "'"},           // cc1541: U+2019; host names keep their ASCII apostrophe
      {0xA5, "\u258F"},      // cc1541: U+258E, which it also gives 0xB4
      {0xA7, "\u2595"},      // cc1541: U+1FB75, which it also gives 0xAA and 0xD9
      {0xAA, "\U0001FB87"},  // cc1541: U+1FB75
      {0xAF, "\u2582"},      // cc1541: U+2581, which it also gives 0xA4
      {0xB6, "\U0001FB88"},  // cc1541: U+2590, a half block; 0xF6 it prints as ours
      {0xB7, "\U0001FB82"},  // cc1541: U+2594, which it also gives 0xA3; 0xF7 as ours
      {0xB8, "\U0001FB83"},  // cc1541: U+2580, a half block; 0xF8 as ours
      {0xC3, "\U0001FB78"},  // cc1541: U+2500, which it also gives 0xC0; 0x63 as ours
  };
  std::vector<int> bytes;
  for (int b = 0x20; b <= 0x5F; ++b) {
    if (b != '"') bytes.push_back(b);
  }
  for (int b = 0xA1; b <= 0xDF; ++b) bytes.push_back(b);
  const std::vector<std::string> printed = PrintedNames(bytes);
  ASSERT_EQ(printed.size(), bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const int b = bytes[i];
    const std::string ours = PetsciiToHostName(Byte(b));
    const auto differ = ours_differ.find(b);
    if (differ == ours_differ.end()) {
      EXPECT_EQ(ours, printed[i]) << std::hex << b;
    } else {
      EXPECT_EQ(ours, differ->second) << std::hex << b;
      EXPECT_NE(ours, printed[i]) << std::hex << b << " now agrees: drop it from the list";
    }
  }
}

}  // namespace
}  // namespace dorvane
