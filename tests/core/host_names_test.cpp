// Names through the whole server: what the C64 saves lists back as the bytes it
// sent and loads by them; host names in UTF-8 list as the C64 can show and type
// them; P00 files list by the C64 name inside and load without their header.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "formats/petscii_names.h"
#include "service/listing.h"
#include "tests/core/served_rig.h"

namespace dorvane::testing {
namespace {

using Names = std::vector<std::string>;

// The names of a listing image, in order: each entry line is 32 bytes, its name
// between the first quote and the closing quote `length` bytes later.
Names ListedNames(Volume& volume) {
  Listing listing;
  listing.BuildListing(volume);
  Names names;
  const std::size_t lines = (listing.ListingLength - DirHeader.size() - 4 - DirTrailer.size()) / 32;
  for (std::size_t i = 0; i < lines; ++i) {
    const std::uint8_t* line = listing.ListingImage.data() + DirHeader.size() + i * 32;
    const std::string text(reinterpret_cast<const char*>(line + 4), 27);
    const std::size_t open = text.find('"');
    // The type begins 3 places before the end of the padded text; the closing
    // quote is the last one before it.
    const std::size_t close = text.rfind('"', 23);
    names.push_back(text.substr(open + 1, close - open - 1));
  }
  return names;
}

Bytes SaveScript(const std::string& name, const Bytes& content) {
  return Cat(
      {Request(ptSave, AsBytes(name)), PacketBytes(ptData, content), StatusBytes(stEndOfFile)});
}

Bytes LoadScript(const std::string& name) {
  return Cat({Request(ptLoad, AsBytes(name)), StatusBytes(stOk), StatusBytes(stOk)});
}

TEST(HostNames, EveryPetsciiByteThroughSaveListAndLoad) {
  // "n" and one byte: every byte but 0x00, "/" and the wildcards "*" and "?", which
  // no save accepts. Letters in either PETSCII case fold to one host name, the last
  // save winning, and list as unshifted letters.
  ServedRig rig;
  std::map<std::string, Bytes> expected;  // listed name -> content
  Bytes replies;
  for (int b = 0x01; b <= 0xFF; ++b) {
    if (b == '/' || b == '*' || b == '?') continue;
    const std::string name = std::string("n") + static_cast<char>(b);
    const Bytes content = {static_cast<std::uint8_t>(b), 0x00, static_cast<std::uint8_t>(~b)};
    rig.Send(SaveScript(name, content));
    replies = Cat({replies, {AttentionEcho(ptAttention)}, StatusBytes(stOk), StatusBytes(stOk)});
    expected[UppercaseListingName(FoldPetsciiLetters(name))] = content;
  }
  for (const auto& [listed, content] : expected) {
    rig.Send(LoadScript(listed));
    replies = Cat({replies, {AttentionEcho(ptAttention)}, SentFile(content)});
  }
  rig.Serve();

  EXPECT_EQ(rig.Replies(), Bytes(replies.begin() + 1, replies.end()));
  const Names listed = ListedNames(rig.volume);
  EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()).size(), listed.size());
  Names wanted;
  for (const auto& [name, content] : expected) wanted.push_back(name);
  EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()),
            std::set<std::string>(wanted.begin(), wanted.end()));
  // Every host name is UTF-8 a file manager can show.
  for (const std::string& entry : rig.Entries()) EXPECT_TRUE(IsValidUtf8(entry)) << entry;
}

}  // namespace
}  // namespace dorvane::testing
