#include "service/listing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "link/os_error.h"
#include "tests/core/served_rig.h"
#include "tests/support/split_test.h"

namespace dorvane::testing {
namespace {

namespace fs = std::filesystem;

const Bytes kHeader = Cat({{0x01, 0x04, 0x01, 0x01, 0x00, 0x00, 0x12, 0x22},
                           AsBytes(" VESKA DORVANE   "),
                           {0x22},
                           AsBytes(" V4.0"),
                           {0x00}});
const Bytes kTrailer = Cat({AsBytes(" BLOCKS FULL."), AsBytes("       "), {0x00, 0x00, 0x00}});

// The 32 bytes of one entry line: link word, line number, the 27-character text, 0x00.
Bytes Line(std::uint16_t number, const std::string& text) {
  EXPECT_EQ(text.size(), 27u) << text;
  return Cat({{0x01, 0x01, static_cast<std::uint8_t>(number & 0xFF),
               static_cast<std::uint8_t>(number >> 8)},
              AsBytes(text),
              {0x00}});
}

// An entry text from its parts, left to right.
std::string Text(int lead, const std::string& quoted, int fill, const std::string& mark,
                 const std::string& type, int trailing) {
  return std::string(static_cast<std::size_t>(lead), ' ') + quoted +
         std::string(static_cast<std::size_t>(fill), ' ') + mark + type +
         std::string(static_cast<std::size_t>(trailing), ' ');
}

Bytes TotalLine(std::uint16_t total) {
  return Cat(
      {{0x01, 0x01, static_cast<std::uint8_t>(total & 0xFF), static_cast<std::uint8_t>(total >> 8)},
       kTrailer});
}

Bytes Image(const Listing& listing) {
  return Bytes(listing.ListingImage.begin(), listing.ListingImage.begin() + listing.ListingLength);
}

const std::string kHelloText = Text(3, "\"HELLO.TXT\"", 8, "", "PRG", 2);
const std::string kUpText = Text(3, "\"..\"", 15, "", "DIR", 2);
const std::string kGamesText = Text(3, "\"GAMES\"", 12, "", "DIR", 2);

// Every test here runs once for each way of cutting the bytes into runs.
class ListingServed : public SplitTest {};
INSTANTIATE_SPLITS(ListingServed);

TEST_P(ListingServed, FixedLinesAreByteForByte) {
  EXPECT_EQ(Bytes(DirHeader.begin(), DirHeader.end()), kHeader);
  EXPECT_EQ(Bytes(DirTrailer.begin(), DirTrailer.end()), kTrailer);
}

TEST_P(ListingServed, EntryLinesLineUpQuotesTypesAndMarks) {
  struct Case {
    DirEntry entry;
    std::uint16_t number;
    std::string text;
  };
  const Case cases[] = {
      {{"hello.txt", "", 1000, 0, ""}, 4, kHelloText},
      {{"..", "", 0, faDirectory, ""}, 0, kUpText},
      {{"games", "", 0, faDirectory, ""}, 0, kGamesText},
      {{"A_VERY_LONG_FILENAME.TXT", "A_VERY~1.TXT", 300, faReadOnly, ""},
       2,
       Text(3, "\"A_VERY~1.TXT\"", 5, "", "PRG<", 1)},
      {{"x", "", 2540, 0, ""}, 10, Text(2, "\"X\"", 16, "", "PRG", 3)},
      {{"x", "", 16645890, 0, ""}, 65535, Text(0, "\"X\"", 15, "", "PRG", 6)},
      {{"x", "", 16645891, 0, ""}, 0, Text(3, "\"X\"", 15, "!", "PRG", 2)},
      {{"0123456789abcdef", "", 17780000, faReadOnly, ""},
       4464,
       Text(0, "\"0123456789ABCDEF\"", 0, "!", "PRG<", 4)},
      // Five digits and 16 characters leave no fill: the "!" takes the closing quote.
      {{"0123456789abcdef", "", 19186144, 0, ""},
       10000,
       Text(0, "\"0123456789ABCDEF", 0, "!", "PRG", 6)},
      // Beyond 32 bits: the count modulo 65,536 with the mark.
      {{"big", "", 5000000000ull, 0, ""},
       static_cast<std::uint16_t>(19685040 & 0xFFFF),
       Text(0, "\"BIG\"", 12, "!", "PRG", 6)},
      {{"dir", "", 0, faDirectory | faReadOnly | faHidden, ""},
       0,
       Text(3, "\"DIR\"", 14, "", "DIR<", 1)},
      {{"ab-1\xe9.z", "", 1, 0, ""}, 1, Text(3, "\"AB-1\xe9.Z\"", 10, "", "PRG", 2)},
      {{"seventeen_chars_x", "", 1, 0, ""}, 1, Text(3, "\"\"", 17, "", "PRG", 2)},
      // Files that carry a C64 type list with it; directories stay directories.
      {{"notes", "", 254, 0, "", CbmFileType::Seq}, 1, Text(3, "\"NOTES\"", 12, "", "SEQ", 2)},
      {{"x", "", 255, 0, "", CbmFileType::Usr}, 2, Text(3, "\"X\"", 16, "", "USR", 2)},
      {{"db", "", 0, faReadOnly, "", CbmFileType::Rel}, 0, Text(3, "\"DB\"", 15, "", "REL<", 1)},
      {{"d", "", 0, faDirectory, "", CbmFileType::Seq}, 0, Text(3, "\"D\"", 16, "", "DIR", 2)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry.Name);
    Listing listing;
    listing.AppendEntryLine(c.entry);
    EXPECT_EQ(Bytes(listing.ListingImage.begin(), listing.ListingImage.begin() + 32),
              Line(c.number, c.text));
    EXPECT_EQ(listing.ListingPos, 32);
  }
}

TEST_P(ListingServed, SubDirectoryOfTheWorkedExample) {
  ServedRig rig;
  rig.MakeDir("sub");
  rig.Put("sub/hello.txt", Pattern(1000));
  rig.MakeDir("sub/games");
  ASSERT_TRUE(rig.volume.ChangeDir("sub"));
  Listing listing;
  listing.BuildListing(rig.volume);

  // The host's search yields names in case-insensitive order: games before hello.txt.
  const Bytes image = Image(listing);
  EXPECT_EQ(image.size(), 155u);
  EXPECT_EQ(image, Cat({kHeader, Line(0, kUpText), Line(0, kGamesText), Line(4, kHelloText),
                        TotalLine(4)}));
  EXPECT_EQ(listing.ListingPos, 0);
}

TEST_P(ListingServed, EmptySubDirectoryListsOnlyItsParent) {
  ServedRig rig;
  rig.MakeDir("empty");
  ASSERT_TRUE(rig.volume.ChangeDir("empty"));
  Listing listing;
  listing.BuildListing(rig.volume);
  EXPECT_EQ(Image(listing), Cat({kHeader, Line(0, kUpText), TotalLine(0)}));
}

TEST_P(ListingServed, ServedRootListsItsFirstEntryAndCountsBlocks) {
  ServedRig rig;
  rig.Put("a", Bytes(0));
  rig.Put("b", Bytes(254));
  rig.Put("c", Bytes(255));
  Listing listing;
  listing.BuildListing(rig.volume);
  EXPECT_EQ(Image(listing), Cat({kHeader, Line(0, Text(3, "\"A\"", 16, "", "PRG", 2)),
                                 Line(1, Text(3, "\"B\"", 16, "", "PRG", 2)),
                                 Line(2, Text(3, "\"C\"", 16, "", "PRG", 2)), TotalLine(3)}));
}

TEST_P(ListingServed, StopsAt2046EntriesAndStaysAWellFormedImage) {
  ServedRig rig;
  for (int i = 0; i < 2047; ++i) {
    char name[8];
    std::snprintf(name, sizeof name, "f%04d", i);
    rig.Put(name, Bytes(1));
  }
  Listing listing;
  listing.BuildListing(rig.volume);
  const Bytes image = Image(listing);
  ASSERT_EQ(image.size(), 65531u);
  EXPECT_EQ(Bytes(image.end() - 32 - 27, image.end() - 27),
            Line(1, Text(3, "\"F2045\"", 12, "", "PRG", 2)));
  EXPECT_EQ(Bytes(image.end() - 27, image.end()), TotalLine(2046));
}

TEST_P(ListingServed, SearchThatCannotStartIsAnsweredWithOpenError) {
  LinkRig rig;
  RefusingVolume volume;  // a directory the system refuses to read
  volume.search_error = EACCES;
  Server server(rig.link, volume, rig.panel);
  rig.port->Feed(Request(ptLoad, "$"));
  rig.StopWhenDrained();
  rig.HandPortToProvider();
  ScriptedPort& port = *static_cast<ScriptedPort*>(rig.ports.port.get());

  server.StartServing();  // serving goes on
  EXPECT_EQ(port.written, Cat({Bytes{AttentionEcho(ptAttention)}, StatusBytes(stOpenError)}));
  const std::vector<std::string> tail(rig.panel.log.end() - 4, rig.panel.log.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"Sending file:$",
                                            "Permission denied: listing /srv/c64/games/",
                                            "Waiting for command from C64...", " terminated!"}));
  EXPECT_EQ(rig.panel.captions.back(), "Dorvane V5.1 Waiting...");
}

// A listing over the line: "$" requested, every packet fetched by stOk.
TEST_P(ListingServed, ThirtyEightEntriesTravelAsFiveFullPacketsThenEndOfFile) {
  ServedRig rig;
  for (int i = 0; i < 38; ++i) rig.Put(std::string("e").append(std::to_string(100 + i)), Bytes{});
  rig.Send(Request(ptLoad, "$"));
  for (int i = 0; i < 6; ++i) rig.Send(StatusBytes(stOk));
  rig.Serve();

  const Bytes image = Image(rig.server.DirListing);
  ASSERT_EQ(image.size(), 1275u);
  Bytes expected = StatusBytes(stOk);
  for (std::size_t at = 0; at < 1275; at += 255) {
    expected =
        Cat({expected, PacketBytes(ptData, Bytes(image.begin() + static_cast<long>(at),
                                                 image.begin() + static_cast<long>(at) + 255))});
  }
  EXPECT_EQ(rig.Replies(), Cat({expected, StatusBytes(stEndOfFile)}));
  EXPECT_EQ(rig.Log().at(3), "Sending file:$");
  EXPECT_EQ(rig.link.panel.captions.at(1), "Dorvane V5.1 Sending directory...");
}

TEST_P(ListingServed, RepliesOtherThanOkRepeatOrEndTheListing) {
  // An empty served root: only the fixed lines, one packet.
  const Bytes packet = PacketBytes(ptData, Cat({kHeader, TotalLine(0)}));
  const Bytes echo_of_stray = {0xAA};
  struct Case {
    const char* what;
    Bytes reply;
    Bytes after;  // what the server sends from the reply on
  };
  const Case cases[] = {
      {"stRepeat", StatusBytes(stRepeat), packet},
      {"garbled", {stOk, 0x00, 0x00}, StatusBytes(stRepeat)},
      {"stAbort", StatusBytes(stAbort), echo_of_stray},
      {"stEndOfFile", StatusBytes(stEndOfFile), echo_of_stray},
      {"attention as type", StatusBytes(ptAttention), echo_of_stray},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ServedRig rig;
    rig.Send(Request(ptLoad, "$"));
    rig.Send(StatusBytes(stOk));
    rig.Send(c.reply);
    rig.Send({0x55});  // back in ssIdle a stray byte; still listing, an unknown reply
    rig.Serve();
    EXPECT_EQ(rig.Replies(), Cat({StatusBytes(stOk), packet, c.after}));
  }
}

TEST_P(ListingServed, NameLongerThan16CharactersIsShownAndLoadedByItsAlternateName) {
  ServedRig rig;
  rig.Put("seventeen_chars_x", Pattern(30));
  rig.Send(Request(ptLoad, "$"));
  rig.Send(StatusBytes(stOk));
  rig.Send(StatusBytes(stOk));
  rig.Send(Request(ptLoad, "SEVENT~1"));
  rig.Send(StatusBytes(stOk));
  rig.Send(StatusBytes(stOk));
  rig.Serve();

  const Bytes image =
      Cat({kHeader, Line(1, Text(3, "\"SEVENT~1\"", 9, "", "PRG", 2)), TotalLine(1)});
  EXPECT_EQ(rig.Replies(), Cat({StatusBytes(stOk),
                                PacketBytes(ptData, image),
                                StatusBytes(stEndOfFile),
                                {AttentionEcho(ptAttention)},
                                SentFile(Pattern(30))}));
  EXPECT_EQ(rig.Log().at(7), "Sending file:seventeen_chars_x");
}

// --- Host names through the PETSCII mapping, and P00 containers ---------------------

// One-block entries: the name in quotes, the fill that lines the type up, the type.
std::string OneBlock(const std::string& name, const std::string& type) {
  return Text(3, "\"" + name + "\"", static_cast<int>(17 - name.size()), "", type, 2);
}

// Asks for the listing of a rig, then loads each name; `image`, the listing
// expected, is sent in packets of 255 bytes, each fetched with stOk.
Bytes ListAndLoad(ServedRig& rig, const Bytes& image, const std::vector<std::string>& loads) {
  rig.Send(Request(ptLoad, "$"));
  for (std::size_t i = 0; i <= (image.size() + 254) / 255; ++i) rig.Send(StatusBytes(stOk));
  for (const std::string& name : loads) {
    rig.Send(Request(ptLoad, name));
    rig.Send(StatusBytes(stOk));
    rig.Send(StatusBytes(stOk));
  }
  rig.Serve();
  return rig.Replies();
}

Bytes SentListing(const Bytes& image) {
  Bytes out = StatusBytes(stOk);
  for (std::size_t at = 0; at < image.size(); at += 255) {
    const std::size_t end = std::min(image.size(), at + 255);
    out = Cat({out, PacketBytes(ptData, Bytes(image.begin() + static_cast<long>(at),
                                              image.begin() + static_cast<long>(end)))});
  }
  return Cat({out, StatusBytes(stEndOfFile)});
}

TEST(Listing, Utf8HostNamesListAsTheC64ShowsThemAndLoadByThat) {
  struct File {
    std::string host;
    std::string line;  // the entry text of its line
    std::string load;  // what the C64 types to load it
  };
  // In listing order: by host name without regard to ASCII case.
  const std::string kPound5Heart =
      "\x5C"
      "5 \xD3.PRG";
  const File files[] = {
      // No PETSCII form for a sign: as "?", the wildcard, it would not name it alone.
      {"2\u00D73.prg", OneBlock("2_3~1.PRG", "PRG"), "2_3~1.PRG"},
      {"\\x", OneBlock("_X~1", "PRG"), "_X~1"},  // lists as the C64's pound sign ...
      {"a.txt", OneBlock("A.TXT", "PRG"), "A.TXT"},
      {"caf\u00E9.seq", OneBlock("CAFE.SEQ", "PRG"), "CAFE.SEQ"},
      {"snow\u2603.prg", OneBlock("SNOW_~1.PRG", "PRG"), "SNOW_~1.PRG"},
      {"Ubung.prg", OneBlock("UBUNG.PRG", "PRG"), "UBUNG.PRG"},
      {"{0D}x", OneBlock("\x0DX", "PRG"), "\x0DX"},
      {"\xC1\xDB.prg", OneBlock("\xC1\xDB.PRG", "PRG"), "\xC1\xDB.PRG"},  // not UTF-8
      {"\u00A35 \u2665.prg", OneBlock(kPound5Heart, "PRG"), kPound5Heart},
      {"\u00A3x", OneBlock("\x5CX", "PRG"), "\x5CX"},  // ... which this one is, and keeps
      // 16 characters on the host, 18 once mapped.
      {"\u00C6sir-und-\u00DEor.prg", OneBlock("AESIR-~1.PRG", "PRG"), "AESIR-~1.PRG"},
      // Lists as "UBUNG.PRG" too, after the entry that has that name.
      {"\u00DCbung.prg", OneBlock("UBUNG~1.PRG", "PRG"), "UBUNG~1.PRG"},
      // 28 bytes on the host, 16 characters listed.
      {"\u00E4\u00F6\u00FC\u00E4\u00F6\u00FC\u00E4\u00F6\u00FC\u00E4\u00F6\u00FC.prg",
       OneBlock("AOUAOUAOUAOU.PRG", "PRG"), "AOUAOUAOUAOU.PRG"},
      // No PETSCII form: "?.TXT" would load A.TXT. Characters that have none list
      // by an alternate name, which loads the entry beside it.
      {"\u65E5.txt", OneBlock("_~1.TXT", "PRG"), "_~1.TXT"},
      {"\u65E5\u672C\u8A9E.txt", OneBlock("___~1.TXT", "PRG"), "___~1.TXT"},
  };
  ServedRig rig;
  Bytes image = kHeader;
  std::vector<std::string> loads;
  Bytes loaded;
  std::uint8_t tag = 0;
  for (const File& f : files) {
    const Bytes content = {++tag, 0x00, 0xFF};
    rig.Put(f.host, content);
    image = Cat({image, Line(1, f.line)});
    loads.push_back(f.load);
    loaded = Cat({loaded, {AttentionEcho(ptAttention)}, SentFile(content)});
  }
  image = Cat({image, TotalLine(std::size(files))});

  EXPECT_EQ(ListAndLoad(rig, image, loads), Cat({SentListing(image), loaded}));
}

TEST(Listing, P00FilesFromCbmconvertListByTheirNameAndTypeAndLoadWithoutTheHeader) {
  if (std::system("command -v cbmconvert >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "cbmconvert is not installed (scripts/install-deps.sh test)";
  }
  ServedRig rig;
  const fs::path natives = ServedRig::MakeRoot();
  struct File {
    std::string native;  // handed to cbmconvert
    Bytes data;
    std::string line;
    std::string load;
  };
  // In the order of the host names cbmconvert gives: hello.p00, mixedcas.p00,
  // notes.s00, records.r00, x.u00.
  const File files[] = {
      // 254 bytes of data: one block, where the container's 280 bytes would be two.
      {"hello.prg", Pattern(254), OneBlock("HELLO", "PRG"), "HELLO"},
      // Upper-case ASCII is the shifted letters in PETSCII; the C64 may type either.
      {"Mixed Case.prg", Pattern(10),
       OneBlock("\xCDIXED \xC3"
                "ASE",
                "PRG"),
       "MIXED CASE"},
      {"notes.seq", Pattern(11), OneBlock("NOTES", "SEQ"), "NOTES"},
      {"records.rel", Pattern(12), OneBlock("RECORDS", "REL"), "RECORDS"},
      {"x.usr", Pattern(13), OneBlock("X", "USR"), "X"},
  };
  Bytes image = kHeader;
  std::vector<std::string> loads;
  Bytes loaded;
  for (const File& f : files) {
    std::ofstream(natives / f.native, std::ios::binary)
        .write(reinterpret_cast<const char*>(f.data.data()), static_cast<long>(f.data.size()));
    const std::string command = "cd '" + rig.root.string() + "' && cbmconvert -v0 -P -n '" +
                                (natives / f.native).string() + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    image = Cat({image, Line(1, f.line)});
    loads.push_back(f.load);
    loaded = Cat({loaded, {AttentionEcho(ptAttention)}, SentFile(f.data)});
  }
  fs::remove_all(natives);
  // A header that does not check out: an ordinary file, listed and loaded whole.
  Bytes broken = Cat({AsBytes("C64Fil3"), Bytes(19, 0x00), AsBytes("data")});
  broken[8] = 'B';
  rig.Put("zz.p00", broken);
  image = Cat({image, Line(1, OneBlock("ZZ.P00", "PRG")), TotalLine(6)});
  loads.push_back("ZZ.P00");
  loaded = Cat({loaded, {AttentionEcho(ptAttention)}, SentFile(broken)});

  EXPECT_EQ(ListAndLoad(rig, image, loads), Cat({SentListing(image), loaded}));
  // Loaded by the inner names: the log shows the containers' host names.
  EXPECT_EQ(rig.Log().at(7), "Sending file:hello.p00");
}

}  // namespace
}  // namespace dorvane::testing
