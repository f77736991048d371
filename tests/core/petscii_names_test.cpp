#include "formats/petscii_names.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

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
  const std::pair<std::string, std::string> cases[] = {
      {"\u00DCbung.prg", "Ubung.prg"},
      {"caf\u00E9.seq", "cafe.seq"},
      {"Stra\u00DFe \u00C6ther \u0152uvre", "Strasse AEther OEuvre"},
      {"\u0141\u00F3d\u017A \u0110\u0111 \u0131", "Lodz Dd i"},
      {"U\u0308bung", "Ubung"},  // the accent as a character of its own
      {"\u65E5\u672C.prg", "??.prg"},
      {"\u00D7\u00F7", "??"},
      {"\u2018q\u2019 \u201Cq\u201D a\u2013b", "'q' \"q\" a-b"},
      {"\U0001F600", "?"},
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
  for (const auto& [host, petscii] : cases) EXPECT_EQ(HostNameToPetscii(host), petscii) << host;
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

}  // namespace
}  // namespace dorvane
