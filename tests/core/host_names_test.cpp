// Names through the whole server: what the C64 saves lists back as the bytes it
// sent and loads by them; host names in UTF-8 list as the C64 can show and type
// them; P00 files list by the C64 name inside and load without their header.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "formats/p00_file.h"
#include "formats/petscii_names.h"
#include "service/listing.h"
#include "tests/core/served_rig.h"
#include "tests/core/server_rig.h"

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

// A save of `content` in blocks of 255 bytes and a shorter last one.
Bytes SaveScript(const std::string& name, const Bytes& content) {
  Bytes script = Request(ptSave, AsBytes(name));
  for (std::size_t at = 0; at < content.size(); at += 255) {
    const auto first = content.begin() + static_cast<long>(at);
    const auto last = content.begin() + static_cast<long>(std::min(content.size(), at + 255));
    script = Cat({script, PacketBytes(ptData, Bytes(first, last))});
  }
  return Cat({script, StatusBytes(stEndOfFile)});
}

Bytes LoadScript(const std::string& name) {
  return Cat({Request(ptLoad, AsBytes(name)), StatusBytes(stOk), StatusBytes(stOk)});
}

TEST(HostNames, EveryPetsciiByteThroughSaveListAndLoad) {
  // "1" and one byte (a digit, so that "1:" names no drive): every byte but 0x00,
  // "/" and the wildcards "*" and "?", which no save accepts. Letters in either
  // PETSCII case fold to one host name, the last save winning, and list as
  // unshifted letters.
  ServedRig rig;
  std::map<std::string, Bytes> expected;  // listed name -> content
  Bytes replies;
  for (int b = 0x01; b <= 0xFF; ++b) {
    if (b == '/' || b == '*' || b == '?') continue;
    const std::string name = std::string("1") + static_cast<char>(b);
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

// A P00 container of `name` holding `data`, as the format lays it out.
std::string Container(const std::string& name, const std::string& data) {
  const std::array<std::uint8_t, P00HeaderSize> header = MakeP00Header(P00Header{name, 0});
  return std::string(header.begin(), header.end()) + data;
}

TEST(HostNames, MadeAndRenamedNamesBecomeUtf8HostNames) {
  ServerRig rig;
  rig.panel.delete_protection = false;
  rig.root.Write("old.prg");
  EXPECT_EQ(rig.Command("m:\xD3\xDB\x5C").reply, StatusBytes(stOk));  // folded: "s", then ┼ and £
  EXPECT_TRUE(rig.root.Exists("s\u253C\u00A3"));
  EXPECT_EQ(rig.Command("r:\x5E\xA0\x0D=old.prg").reply, StatusBytes(stOk));
  EXPECT_TRUE(rig.root.Exists("\u2191\u00A0{0D}"));
  EXPECT_FALSE(rig.root.Exists("old.prg"));
  // Found again by the bytes that made them.
  EXPECT_EQ(rig.Command("s:\x5E\xA0\x0D").reply, StatusBytes(stOk));
  EXPECT_EQ(rig.Command("c:S\xDB\x5C").reply, StatusBytes(stOk));
  // A name another entry lists as is taken, though no host name is the same.
  rig.root.Write("caf\u00E9");
  EXPECT_EQ(rig.Command("r:CAFE=x").reply, StatusBytes(stRenameError));
  EXPECT_EQ(rig.Command("m:/cafe").reply, StatusBytes(stError));
}

TEST(HostNames, ContainersAreRenamedInsideAndDeletedWhole) {
  ServerRig rig;
  rig.panel.delete_protection = false;
  rig.root.Write("game.p00", Container("GAME ONE", "data"));
  rig.root.Write("other.s00", Container("OTHER", "more"));
  fs::create_directory(rig.root.path / "sub");

  // The name inside changes, the host name and the data stay.
  EXPECT_EQ(rig.Command("r:NEW NAME=GAME ONE").reply, StatusBytes(stOk));
  EXPECT_EQ(rig.root.Read("game.p00"), Container("NEW NAME", "data"));
  // Refused, the container untouched: a name the header cannot hold, a name taken.
  EXPECT_EQ(rig.Command("r:SEVENTEEN CHARS 1=NEW NAME").reply, StatusBytes(stRenameError));
  EXPECT_EQ(rig.Command("r:OTHER=NEW NAME").reply, StatusBytes(stRenameError));
  EXPECT_EQ(rig.root.Read("game.p00"), Container("NEW NAME", "data"));
  // Into another directory it goes with its host name.
  EXPECT_EQ(rig.Command("r:sub/moved=new name").reply, StatusBytes(stOk));
  EXPECT_EQ(rig.root.Read("sub/game.p00"), Container("MOVED", "data"));
  EXPECT_FALSE(rig.root.Exists("game.p00"));
  // Deleted by its inner name, the container goes.
  EXPECT_EQ(rig.Command("s:OTHER").reply, StatusBytes(stOk));
  EXPECT_FALSE(rig.root.Exists("other.s00"));
}

TEST(HostNames, ASaveUnderAContainersNameWritesIntoItBehindItsHeader) {
  // A header padded with shifted spaces, as some tools write it: kept byte for byte.
  std::string padded = Container("NOTES", "old");
  std::fill(padded.begin() + 8 + 5, padded.begin() + 8 + 16, '\xA0');
  const struct {
    std::string host;
    std::string stored;  // the container as the host holds it before the save
    std::string saved_as;
  } cases[] = {
      {"game.p00", Container("GAME", "old"), "GAME"},      // by the name it lists as
      {"game.p00", Container("GAME", "old"), "game.p00"},  // by its host name
      {"ab.p00", Container("A/B", "old"), "A_B~1"},        // by its alternate name
      {"notes.s07", padded, "NOTES"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.saved_as);
    ServedRig rig;
    rig.Put(c.host, AsBytes(c.stored));
    rig.Send(SaveScript(c.saved_as, Pattern(300)));
    rig.Send(Cat({LoadScript(c.saved_as), StatusBytes(stOk)}));  // a stOk a block
    rig.Serve();
    // The host name and the header stay, the data is the C64's, nothing lies beside it.
    EXPECT_EQ(rig.Get(c.host), Cat({AsBytes(c.stored.substr(0, P00HeaderSize)), Pattern(300)}));
    EXPECT_EQ(rig.Entries(), (Names{c.host}));
    // What the save replaced is what a load of the same name sends.
    // Two blocks, the header before both.
    EXPECT_EQ(rig.Replies(), Cat({StatusBytes(stOk),
                                  StatusBytes(stOk),
                                  StatusBytes(stOk),
                                  {AttentionEcho(ptAttention)},
                                  SentFile(Pattern(300))}));
  }
}

TEST(HostNames, AContainerSavedIntoStaysOneThatCbmconvertReads) {
  if (std::system("command -v cbmconvert >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "cbmconvert is not installed (scripts/install-deps.sh test)";
  }
  const auto cbmconvert = [](const fs::path& where, const std::string& options,
                             const fs::path& file) {
    const std::string command = "cd '" + where.string() + "' && cbmconvert -v0 " + options + " '" +
                                file.string() + "' >/dev/null 2>&1";
    return std::system(command.c_str());
  };
  ServedRig rig;
  const fs::path native = ServedRig::MakeRoot();
  std::ofstream(native / "intro.prg") << "old data";
  ASSERT_EQ(cbmconvert(rig.root, "-P -n", native / "intro.prg"), 0);
  fs::remove(native / "intro.prg");
  rig.Send(SaveScript("INTRO", Pattern(300)));
  rig.Serve();
  // Unpacked, it is the C64's file under the C64's name.
  ASSERT_EQ(cbmconvert(native, "-N -p", rig.Path("intro.p00")), 0);
  std::ifstream in(native / "intro.prg", std::ios::binary);
  EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
            Pattern(300));
  fs::remove_all(native);
}

TEST(HostNames, ContainersWhoseNameNamesNoSingleEntryListAndLoadByAlternates) {
  ServedRig rig;
  const struct {
    std::string host;
    std::string inner;
    std::string listed;  // in listing order
  } files[] = {
      {"a.p00", "A/B", "A_B~1"},  // a path to the C64
      {"b.p00", "$", "$~1"},      // the listing
      {"c.p00", "..", "_~1"},     // the directory above
      {"d.p00", "X..Y", "X_~1.Y"}, {"e.p00", "PRICE$", "PRICE$~1"}, {"f.p00", "PLAIN", "PLAIN"},
  };
  Bytes replies;
  std::uint8_t tag = 0;
  Names listed;
  for (const auto& f : files) {
    const std::string data(3, static_cast<char>(++tag));
    rig.Put(f.host, AsBytes(Container(f.inner, data)));
    rig.Send(LoadScript(f.listed));
    listed.push_back(f.listed);
    replies = Cat({replies, {AttentionEcho(ptAttention)}, SentFile(AsBytes(data))});
  }
  EXPECT_EQ(ListedNames(rig.volume), listed);
  rig.Serve();
  EXPECT_EQ(rig.Replies(), Bytes(replies.begin() + 1, replies.end()));
}

TEST(HostNames, AContainerDamagedAfterTheSearchIsNotLoaded) {
  ServedRig rig;
  rig.Put("game.p00", AsBytes(Container("GAME", "data")));
  int error = 0;
  DirEntry entry;
  ASSERT_TRUE(rig.volume.FindFirst("game", error)->Next(entry));
  EXPECT_EQ(entry.Size, 4u);
  // Another program overwrites it between the search and the open: its first 26
  // bytes are data now, and leaving them out would send the C64 a cut file.
  rig.Put("game.p00", AsBytes(std::string(40, 'x')));
  EXPECT_EQ(rig.volume.OpenRead(entry), nullptr);
}

}  // namespace
}  // namespace dorvane::testing
