// Decoding the directory as the C64 lists it, on the worked sub-directory: "..",
// HELLO.TXT of 1,000 bytes (4 blocks) and GAMES, 155 bytes in all. The image is
// written out byte by byte here, independently of the server's listing code.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/peer/listing_decoder.h"

namespace dorvane::testing {
namespace {

using peer::DecodeListing;
using peer::FormatListingLine;
using Bytes = std::vector<std::uint8_t>;

void Append(Bytes& image, const std::string& text) {
  image.insert(image.end(), text.begin(), text.end());
}

Bytes WorkedImage() {
  Bytes image = {0x01, 0x04, 0x01, 0x01, 0x00, 0x00, 0x12, 0x22};
  Append(image, " VESKA DORVANE   ");
  image.push_back(0x22);
  Append(image, " V4.0");
  image.push_back(0x00);

  image.insert(image.end(), {0x01, 0x01, 0x00, 0x00});
  Append(image, "   \"..\"               DIR  ");
  image.push_back(0x00);

  image.insert(image.end(), {0x01, 0x01, 0x04, 0x00, 0x20, 0x20, 0x20, 0x22, 0x48, 0x45, 0x4C,
                             0x4C, 0x4F, 0x2E, 0x54, 0x58, 0x54, 0x22, 0x20, 0x20, 0x20, 0x20,
                             0x20, 0x20, 0x20, 0x20, 0x50, 0x52, 0x47, 0x20, 0x20, 0x00});

  image.insert(image.end(), {0x01, 0x01, 0x00, 0x00});
  Append(image, "   \"GAMES\"            DIR  ");
  image.push_back(0x00);

  image.insert(image.end(), {0x01, 0x01, 0x04, 0x00});
  Append(image, " BLOCKS FULL.       ");
  image.insert(image.end(), {0x00, 0x00, 0x00});
  return image;
}

TEST(PeerListing, WorkedSubDirectoryListsAsTheC64ShowsIt) {
  const Bytes image = WorkedImage();
  ASSERT_EQ(image.size(), 155u);

  const auto listing = DecodeListing(image);
  ASSERT_TRUE(listing.Ok()) << listing.Error;
  std::vector<std::string> shown;
  for (const auto& line : listing.Lines) shown.push_back(FormatListingLine(line, false));
  EXPECT_EQ(shown, (std::vector<std::string>{
                       "0 \" VESKA DORVANE   \" V4.0",
                       "0    \"..\"               DIR  ",
                       "4    \"HELLO.TXT\"        PRG  ",
                       "0    \"GAMES\"            DIR  ",
                       "4  BLOCKS FULL.       ",
                   }));
  // With the line number in front, every entry's quote stands at 5 and its type at 24.
  for (std::size_t i = 1; i <= 3; ++i) {
    EXPECT_EQ(shown[i].find('"'), 5u) << shown[i];
    EXPECT_EQ(shown[i].find_first_of("DP", 6 + 9), 24u) << shown[i];
  }

  EXPECT_EQ(FormatListingLine(listing.Lines[0], true),
            "0 \x1b[7m\" VESKA DORVANE   \" V4.0\x1b[0m");
  EXPECT_EQ(FormatListingLine(listing.Lines[2], true), shown[2]);
}

TEST(PeerListing, ControlBytesInANameAreNotPassedToTheTerminal) {
  peer::ListingLine line{7, std::string("\"A\x1b[2JB\x7F\x07\xC3\xA9\"")};
  EXPECT_EQ(FormatListingLine(line, true), "7 \"A?[2JB??\xC3\xA9\"");
  // A name that is not UTF-8 cannot hide the 8-bit escape 0x9B either; other high
  // bytes stay as the host name holds them.
  peer::ListingLine latin{3, std::string("\"X\x9B"
                                         "2J\xE9\"")};
  EXPECT_EQ(FormatListingLine(latin, false), "3 \"X?2J\xE9\"");
}

TEST(PeerListing, DamagedImagesAreReported) {
  struct Case {
    const char* what;
    Bytes image;
    const char* error;
    std::size_t lines_before;
  };
  const Bytes good = WorkedImage();
  Bytes wrong_address = good;
  wrong_address[1] = 0x08;
  Bytes no_end_marker(good.begin(), good.end() - 2);
  Bytes cut_in_line(good.begin(), good.begin() + 80);
  Bytes trailing = good;
  trailing.insert(trailing.end(), {0x41, 0x42});
  Bytes cut_in_link(good.begin(), good.begin() + 33);
  const Case cases[] = {
      {"empty", {}, "the image is too short for a load address", 0},
      {"load address", wrong_address, "load address 0x0801 instead of 0x0401", 0},
      {"end marker missing", no_end_marker, "the program has no end marker", 5},
      {"cut inside a line", cut_in_line, "line 3 has no end", 2},
      {"cut inside a link word", cut_in_link, "the program has no end marker", 1},
      {"bytes after the end", trailing, "2 bytes after the end of the program", 5},
      {"only the address", {0x01, 0x04}, "the program has no end marker", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto listing = DecodeListing(c.image);
    EXPECT_FALSE(listing.Ok());
    EXPECT_EQ(listing.Error, c.error);
    EXPECT_EQ(listing.Lines.size(), c.lines_before);
  }
}

TEST(PeerListing, EmptyProgramIsSound) {
  const auto listing = DecodeListing(Bytes{0x01, 0x04, 0x00, 0x00});
  EXPECT_TRUE(listing.Ok());
  EXPECT_TRUE(listing.Lines.empty());
}

}  // namespace
}  // namespace dorvane::testing
