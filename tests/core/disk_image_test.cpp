// Disk images served as drives, through the whole server: the C64's requests go in,
// the exact replies, log lines and image bytes come out.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>

#include "formats/cbm_disk.h"
#include "formats/cbm_names.h"
#include "tests/core/served_rig.h"

namespace dorvane::testing {
namespace {

using Names = std::vector<std::string>;

constexpr std::size_t FirstSlot = 0x16600;  // 18/1 in a D64

Names Cat2(Names a, const Names& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The echo of every attention byte after the first.
const Bytes kEcho = {AttentionEcho(ptAttention)};

CbmName Stored(const std::string& text) {
  CbmName name;
  EXPECT_TRUE(ToCbmName(text, name));
  return name;
}

// A disk with one file of each kind the listing shows differently, and a scratched
// slot between them that it leaves out.
Bytes GameDisk() {
  CbmDisk disk = CbmDisk::Format(DiskKind::D64, "GAME DISK", "00");
  EXPECT_TRUE(disk.WriteFile(Stored("hello"), CbmPrg, Pattern(600)));
  EXPECT_TRUE(disk.WriteFile(Stored("notes"), CbmSeq, Pattern(10)));
  EXPECT_TRUE(disk.WriteFile(Stored("gone"), CbmPrg, Pattern(10)));
  EXPECT_TRUE(disk.WriteFile(Stored("locked"), CbmPrg, Pattern(20)));
  EXPECT_TRUE(disk.WriteFile(Stored("open"), CbmPrg, Pattern(30)));
  bool damaged = false;
  disk.Scratch(disk.Directory(damaged)[2]);
  Bytes bytes = disk.Bytes();
  bytes[FirstSlot + 32 * 3 + 2] = 0xC2;  // locked PRG
  bytes[FirstSlot + 32 * 4 + 2] = 0x02;  // PRG never closed
  return bytes;
}

std::string Text(int lead, const std::string& quoted, int fill, const std::string& mark,
                 const std::string& type, int trailing) {
  return std::string(static_cast<std::size_t>(lead), ' ') + quoted +
         std::string(static_cast<std::size_t>(fill), ' ') + mark + type +
         std::string(static_cast<std::size_t>(trailing), ' ');
}

Bytes Line(std::uint16_t number, const std::string& text) {
  EXPECT_EQ(text.size(), 27u) << text;
  return Cat({{0x01, 0x01, static_cast<std::uint8_t>(number & 0xFF),
               static_cast<std::uint8_t>(number >> 8)},
              AsBytes(text),
              {0x00}});
}

Bytes Listed(const Listing& listing) {
  return Bytes(listing.ListingImage.begin(), listing.ListingImage.begin() + listing.ListingLength);
}

std::vector<CbmDirEntry> DirectoryOf(const Bytes& image) {
  const CbmDisk disk(*DiskGeometry::ForImage(".d64", image.size()), image);
  bool damaged = false;
  return disk.Directory(damaged);
}

Bytes FileOf(const Bytes& image, const std::string& name) {
  const CbmDisk disk(*DiskGeometry::ForImage(".d64", image.size()), image);
  bool damaged = false;
  for (const CbmDirEntry& e : disk.Directory(damaged)) {
    Bytes data;
    if (HostCbmName(e.Name) == name) disk.ReadChain(e.Track, e.Sector, data);
    if (HostCbmName(e.Name) == name) return data;
  }
  return {};
}

// A save of `content` as the C64 sends it, ended by `end`.
void SendSave(ServedRig& rig, const std::string& name, const Bytes& content,
              std::optional<std::uint8_t> end) {
  rig.Send(Request(ptSave, name));
  for (std::size_t at = 0; at < content.size(); at += 255) {
    const std::size_t to = std::min(content.size(), at + 255);
    rig.Send(PacketBytes(ptData, Bytes(content.begin() + static_cast<long>(at),
                                       content.begin() + static_cast<long>(to))));
  }
  if (end) rig.Send(StatusBytes(*end));
}

TEST(DiskImage, EntersLeavesAndRefusesAsADirectoryWould) {
  struct Case {
    Names commands;
    Bytes replies;
    std::string display;  // below the root; "" for the root itself
  };
  const Bytes ok = StatusBytes(stOk);
  const Bytes error = StatusBytes(stError);
  const Case cases[] = {
      {{"c:GAME.D64"}, ok, "/game.d64"},
      {{"c:games/inner.d64"}, ok, "/games/inner.d64"},
      {{"c:/GAMES/INNER.D64", "c:.."}, Cat({ok, kEcho, ok}), "/games"},
      {{"c:game.d64", "c:/"}, Cat({ok, kEcho, ok}), ""},
      {{"c:game.d64", "c:"}, Cat({ok, kEcho, ok}), ""},
      {{"c:game.d64", "c:../games/inner.d64"}, Cat({ok, kEcho, ok}), "/games/inner.d64"},
      {{"c:game.d64", "c:sub"}, Cat({ok, kEcho, error}), "/game.d64"},
      {{"c:game.d64", "c:/nothing"}, Cat({ok, kEcho, error}), "/game.d64"},
      {{"c:short.d64"}, error, ""},  // an image's extension, not its size
      {{"c:tape.t64"}, ok, "/tape.t64"},
      {{"c:a:game.d64"}, ok, "/game.d64"},
  };
  for (const Case& c : cases) {
    ServedRig rig;
    rig.Put("game.d64", GameDisk());
    rig.MakeDir("games");
    rig.Put("games/inner.d64", GameDisk());
    rig.Put("short.d64", Bytes(174847));
    rig.Put("tape.t64", Cat({AsBytes("C64 tape image file"), Bytes(45)}));
    for (const std::string& command : c.commands) rig.Send(Request(ptCommand, command));
    rig.Serve();
    EXPECT_EQ(rig.Replies(), c.replies) << c.commands.back();
    EXPECT_EQ(rig.served.CurrentDirDisplay(), rig.volume.Root() + c.display) << c.commands.back();
  }
}

TEST(DiskImage, TheLogNamesTheImageEnteredAndTheDirectoryReturnedTo) {
  ServedRig rig;
  rig.MakeDir("games");
  rig.Put("games/inner.d64", GameDisk());
  for (const char* command : {"c:games", "c:inner.d64", "c:..", "c:/"}) {
    rig.Send(Request(ptCommand, command));
  }
  rig.Serve();

  Names serving;
  for (const std::string& line : rig.Log()) {
    if (line.rfind("Serving: ", 0) == 0) serving.push_back(line);
  }
  // Every move names where it led: host directories, the image and the way out.
  const std::string games = rig.volume.Root() + "/games";
  EXPECT_EQ(serving, (Names{"Serving: " + games, "Serving: " + games + "/inner.d64",
                            "Serving: " + games, "Serving: " + rig.volume.Root()}));
}

TEST(DiskImage, ListsTheDiskAsADriveDoes) {
  ServedRig rig;
  rig.Put("game.d64", GameDisk());
  rig.Send(Request(ptCommand, "c:game.d64"));
  rig.Send(Request(ptLoad, "$"));
  rig.Send(StatusBytes(stOk));
  rig.Send(StatusBytes(stOk));
  rig.Serve();

  const Bytes title = Cat({{0x01, 0x04, 0x01, 0x01, 0x00, 0x00, 0x12, 0x22},
                           AsBytes("GAME DISK       "),
                           {0x22},
                           AsBytes(" 00 2A"),
                           {0x00}});
  const Bytes trailer = Cat(
      {{0x01, 0x01, 658 & 0xFF, 658 >> 8}, AsBytes(" BLOCKS FREE.       "), {0x00, 0x00, 0x00}});
  const Bytes expected = Cat({title, Line(3, Text(3, "\"HELLO\"", 12, "", "PRG", 2)),
                              Line(1, Text(3, "\"NOTES\"", 12, "", "SEQ", 2)),
                              Line(1, Text(3, "\"LOCKED\"", 11, "", "PRG<", 1)),
                              Line(1, Text(3, "\"OPEN\"", 12, "*", "PRG", 2)), trailer});
  EXPECT_EQ(title.size(), 32u);
  EXPECT_EQ(Listed(rig.server.DirListing), expected);
  EXPECT_EQ(rig.Replies(), Cat({StatusBytes(stOk), kEcho, StatusBytes(stOk),
                                PacketBytes(ptData, expected), StatusBytes(stEndOfFile)}));
}

TEST(DiskImage, NulBytesInNamesNeverEndAListingLine) {
  Bytes image = GameDisk();
  image[0x16590] = 0x00;            // the disk name's first byte
  image[0x165A4] = 'X';             // the byte between ID and DOS type
  image[FirstSlot + 5 + 1] = 0x00;  // "hello" becomes "h", 0x00, "llo"
  ServedRig rig;
  rig.Put("game.d64", image);
  rig.Send(Request(ptCommand, "c:game.d64"));
  rig.Send(Request(ptLoad, "$"));
  rig.Send(StatusBytes(stOk));
  rig.Send(StatusBytes(stOk));
  rig.Serve();
  const Bytes listed = Listed(rig.server.DirListing);
  EXPECT_EQ(Bytes(listed.begin() + 8, listed.begin() + 32),
            Cat({AsBytes(" AME DISK       "), {0x22}, AsBytes(" 00 2A"), {0x00}}));
  EXPECT_EQ(Bytes(listed.begin() + 32, listed.begin() + 64),
            Line(3, Text(3, "\"H?LLO\"", 12, "", "PRG", 2)));
}

TEST(DiskImage, LoadsTheFirstLoadableMatch) {
  struct Case {
    std::string request;
    std::string logged;
    Bytes content;  // empty: refused
  };
  const Case cases[] = {
      {"HELLO", "hello", Pattern(600)},
      {"H*", "hello", Pattern(600)},
      {"?OCKED", "locked", Pattern(20)},
      {"*", "hello", Pattern(600)},
      {"OPEN", "open", {}},
      {"GONE", "gone", {}},
      {"HELL", "hell", {}},
  };
  for (const Case& c : cases) {
    ServedRig rig;
    rig.Put("game.d64", GameDisk());
    rig.Send(Request(ptCommand, "c:game.d64"));
    rig.Send(Request(ptLoad, c.request));
    const std::size_t replies = c.content.empty() ? 0 : (c.content.size() + 254) / 255 + 1;
    for (std::size_t i = 0; i < replies; ++i) rig.Send(StatusBytes(stOk));
    rig.Serve();
    const Bytes load = c.content.empty() ? StatusBytes(stOpenError) : SentFile(c.content);
    EXPECT_EQ(rig.Replies(), Cat({StatusBytes(stOk), kEcho, load})) << c.request;
    EXPECT_NE(std::find(rig.Log().begin(), rig.Log().end(), "Sending file:" + c.logged),
              rig.Log().end())
        << c.request;
    const auto& progress = rig.link.panel.progress;
    const bool full = std::find(progress.begin(), progress.end(), 100) != progress.end();
    EXPECT_EQ(full, !c.content.empty()) << c.request;
  }
}

TEST(DiskImage, ADamagedChainIsRefusedAtTheOpen) {
  struct Case {
    std::uint8_t link_track, link_sector;
    std::string log;
  };
  const Case cases[] = {
      {36, 0, "Damaged image: a link leads outside the disk"},
      {17, 0, "Damaged image: a sector chain loops"},  // back to the first sector
      {17, 21, "Damaged image: a link leads outside the disk"},
  };
  for (const Case& c : cases) {
    Bytes image = GameDisk();
    const std::size_t first = 0x16500 - 21 * 256;  // 17/0, where "hello" starts
    image[first] = c.link_track;
    image[first + 1] = c.link_sector;
    ServedRig rig;
    rig.Put("game.d64", image);
    rig.Send(Request(ptCommand, "c:game.d64"));
    rig.Send(Request(ptLoad, "HELLO"));
    rig.Serve();
    EXPECT_EQ(rig.Replies(), Cat({StatusBytes(stOk), kEcho, StatusBytes(stOpenError)}));
    EXPECT_NE(std::find(rig.Log().begin(), rig.Log().end(), c.log), rig.Log().end()) << c.log;
    EXPECT_EQ(rig.Get("game.d64"), image);
  }
}

TEST(DiskImage, SavesIntoTheImageAndReplacesItWhole) {
  ServedRig rig;
  rig.Put("game.d64", GameDisk());
  rig.Send(Request(ptCommand, "c:game.d64"));
  SendSave(rig, "NEW", Pattern(1000), stEndOfFile);
  SendSave(rig, "HELLO", Pattern(100), stEndOfFile);  // replaces the old "hello"
  rig.Serve();

  const Bytes image = rig.Get("game.d64");
  EXPECT_EQ(rig.Entries(), Names{"game.d64"});  // no temporary file left
  EXPECT_EQ(FileOf(image, "new"), Pattern(1000));
  EXPECT_EQ(FileOf(image, "hello"), Pattern(100));
  const auto entries = DirectoryOf(image);
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(ShownCbmName(entries[2].Name), "NEW");  // the scratched slot, reused
  EXPECT_EQ(entries[2].Blocks, 4);
  EXPECT_EQ(ShownCbmName(entries[0].Name), "HELLO");
}

TEST(DiskImage, AbortStopAndDiskFullLeaveTheImageByteForByte) {
  struct Case {
    const char* what;
    std::size_t size;
    std::optional<std::uint8_t> end;
    bool disk_full;
  };
  const Case cases[] = {
      {"abort", 2000, stAbort, false},
      {"stop", 2000, std::nullopt, false},
      {"disk full", 254 * 659, stEndOfFile, true},
  };
  for (const Case& c : cases) {
    ServedRig rig;
    rig.Put("game.d64", GameDisk());
    rig.Send(Request(ptCommand, "c:game.d64"));
    SendSave(rig, "BIG", Pattern(c.size), c.end);
    rig.Serve();
    EXPECT_EQ(rig.Get("game.d64"), GameDisk()) << c.what;
    EXPECT_EQ(rig.Entries(), Names{"game.d64"}) << c.what;
    const bool logged =
        std::find(rig.Log().begin(), rig.Log().end(), "Disk full: saving big") != rig.Log().end();
    EXPECT_EQ(logged, c.disk_full) << c.what;
  }
  // One block less fits exactly.
  ServedRig rig;
  rig.Put("game.d64", GameDisk());
  rig.Send(Request(ptCommand, "c:game.d64"));
  SendSave(rig, "BIG", Pattern(254 * 658), stEndOfFile);
  rig.Serve();
  EXPECT_EQ(FileOf(rig.Get("game.d64"), "big"), Pattern(254 * 658));
}

TEST(DiskImage, CommandsInsideTheImage) {
  struct Case {
    std::string command;
    std::uint8_t status;
    Names listed;  // the names left, in directory order
  };
  const Names all = {"HELLO", "NOTES", "LOCKED", "OPEN"};
  const Case cases[] = {
      {"s:NOTES", stOk, {"HELLO", "LOCKED", "OPEN"}},
      {"s:N*", stOk, {"HELLO", "LOCKED", "OPEN"}},
      {"s:LOCKED", stDeleteError, all},
      {"s:MISSING", stDeleteError, all},
      {"r:GREETING=HELLO", stOk, {"GREETING", "NOTES", "LOCKED", "OPEN"}},
      {"r:NOTES=HELLO", stRenameError, all},
      {"r:X=MISSING", stRenameError, all},
      {"r:SEVENTEEN CHARS!!=HELLO", stRenameError, all},
      {"m:sub", stError, all},
  };
  for (const Case& c : cases) {
    ServedRig rig;
    rig.link.panel.delete_protection = false;
    rig.Put("game.d64", GameDisk());
    rig.Send(Request(ptCommand, "c:game.d64"));
    rig.Send(Request(ptCommand, c.command));
    rig.Serve();
    EXPECT_EQ(rig.Replies(), Cat({StatusBytes(stOk), kEcho, StatusBytes(c.status)})) << c.command;
    Names listed;
    for (const CbmDirEntry& e : DirectoryOf(rig.Get("game.d64")))
      listed.push_back(ShownCbmName(e.Name));
    EXPECT_EQ(listed, c.listed) << c.command;
    if (c.status != stOk) {
      EXPECT_EQ(rig.Get("game.d64"), GameDisk()) << c.command;
    }
  }
}

TEST(DiskImage, ScratchFreesTheBlocks) {
  ServedRig rig;
  rig.link.panel.delete_protection = false;
  rig.Put("game.d64", GameDisk());
  rig.Send(Request(ptCommand, "c:game.d64"));
  rig.Send(Request(ptCommand, "s:hello"));
  rig.Serve();
  const CbmDisk disk(*DiskGeometry::ForImage(".d64", 174848), rig.Get("game.d64"));
  EXPECT_EQ(disk.FreeBlocks(), 661);
}

TEST(DiskImage, SavesRefusedAtTheOpen) {
  const char* names[] = {"LOCKED", "SEVENTEEN CHARS!!", "A*", "A?"};
  for (const char* name : names) {
    ServedRig rig;
    rig.Put("game.d64", GameDisk());
    rig.Send(Request(ptCommand, "c:game.d64"));
    rig.Send(Request(ptSave, name));
    rig.Serve();
    EXPECT_EQ(rig.Replies(), Cat({StatusBytes(stOk), kEcho, StatusBytes(stOpenError)})) << name;
    EXPECT_EQ(rig.Get("game.d64"), GameDisk());
  }
}

TEST(DiskImage, AReadOnlyImageFileIsAWriteProtectedDisk) {
  ServedRig rig;
  rig.link.panel.delete_protection = false;
  rig.Put("game.d64", GameDisk());
  rig.ReadOnly("game.d64");
  rig.Send(Request(ptCommand, "c:game.d64"));
  rig.Send(Request(ptSave, "NEW"));
  rig.Send(Request(ptCommand, "s:hello"));
  rig.Send(Request(ptCommand, "r:x=hello"));
  rig.Send(Request(ptLoad, "notes"));
  rig.Send(StatusBytes(stOk));
  rig.Send(StatusBytes(stOk));
  rig.Serve();
  EXPECT_EQ(rig.Replies(), Cat({StatusBytes(stOk), kEcho, StatusBytes(stOpenError), kEcho,
                                StatusBytes(stDeleteError), kEcho, StatusBytes(stRenameError),
                                kEcho, SentFile(Pattern(10))}));
  EXPECT_EQ(rig.Get("game.d64"), GameDisk());
}

// Saves `content` as `name` through `volume`; false when refused at the open.
bool SaveVia(
    Volume& volume, const std::string& name, const Bytes& content,
    const std::function<void()>& before_end = [] {}) {
  std::unique_ptr<PendingFile> pending = volume.CreateForSave(name);
  if (!pending) return false;
  pending->Write(content.data(), content.size());
  before_end();
  pending->Commit();
  return true;
}

// The names "$" shows; empty when it is refused.
Names ListedNames(Volume& volume) {
  DiskListing listing;
  Names names;
  if (!volume.ReadDiskListing(listing)) return names;
  for (const ListedEntry& entry : listing.Entries) names.push_back(entry.Name);
  return names;
}

// Another program adds a file to the image, as cc1541 does (or, without it, by
// rewriting the file in place).
void HostAdds(ServedRig& rig, const std::string& image, const std::string& name) {
  if (std::system("command -v cc1541 >/dev/null 2>&1") == 0) {
    rig.Put("host-data", Pattern(300));
    const std::string command = "cc1541 -q -f " + name + " -w '" + rig.Path("host-data").string() +
                                "' '" + rig.Path(image).string() + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::filesystem::remove(rig.Path("host-data"));
    return;
  }
  CbmDisk disk(*DiskGeometry::ForImage(".d64", 174848), rig.Get(image));
  ASSERT_TRUE(disk.WriteFile(Stored(name), CbmPrg, Pattern(300)));
  rig.Put(image, disk.Bytes());
}

// The image file on the host is the truth: whatever another program did to it
// shows at the C64's next request, a change of the C64 is made on the file as it is
// now, and a file gone or no longer an image is neither written nor made again.
TEST(DiskImage, ChangesTheHostMadeAreKeptAndShown) {
  struct Case {
    const char* what;
    std::function<void(ServedRig&)> change;
    bool during_save;    // the change comes while "second" is being saved
    Names listed;        // "$" after the change; empty: refused
    Names after;         // the image's names at the end; empty: the save was refused
    std::string notice;  // the log line of a refusal, before the image's host path
  };
  const Names game = {"HELLO", "NOTES", "FIRST", "LOCKED", "OPEN"};
  const Case cases[] = {
      {"adds a file", [](ServedRig& r) { HostAdds(r, "game.d64", "host"); }, false,
       Cat2(game, {"HOST"}), Cat2(game, {"HOST", "SECOND"}), ""},
      {"adds a file during a save",
       [](ServedRig& r) { HostAdds(r, "game.d64", "host"); },
       true,
       {},
       Cat2(game, {"HOST", "SECOND"}),
       ""},
      {"swaps in another disk",
       [](ServedRig& r) {
         CbmDisk other = CbmDisk::Format(DiskKind::D64, "OTHER", "01");
         EXPECT_TRUE(other.WriteFile(Stored("theirs"), CbmPrg, Pattern(10)));
         r.Put("other.d64", other.Bytes());
         std::filesystem::rename(r.Path("other.d64"), r.Path("game.d64"));
       },
       false,
       {"THEIRS"},
       {"THEIRS", "SECOND"},
       ""},
      {"deletes it",
       [](ServedRig& r) { std::filesystem::remove(r.Path("game.d64")); },
       false,
       {},
       {},
       "Image gone from the host: "},
      {"puts a text in its place",
       [](ServedRig& r) { r.Put("game.d64", AsBytes("text")); },
       false,
       {},
       {},
       "No longer a disk image: "},
  };
  for (const Case& c : cases) {
    ServedRig rig;
    rig.Put("game.d64", GameDisk());
    ASSERT_TRUE(rig.served.ChangeDir("game.d64")) << c.what;
    ASSERT_TRUE(SaveVia(rig.served, "FIRST", Pattern(500))) << c.what;
    rig.served.TakeNotice();
    if (!c.during_save) {
      c.change(rig);
      EXPECT_EQ(ListedNames(rig.served), c.listed) << c.what;
    }
    const bool saved = SaveVia(rig.served, "SECOND", Pattern(700), [&] {
      if (c.during_save) c.change(rig);
    });
    const std::string notice = rig.served.TakeNotice();
    if (c.after.empty()) {
      EXPECT_FALSE(saved) << c.what;
      EXPECT_EQ(notice, c.notice + rig.volume.Root() + "/game.d64") << c.what;
      // Never made again, nor written over.
      if (c.notice.rfind("Image gone", 0) == 0) {
        EXPECT_FALSE(std::filesystem::exists(rig.Path("game.d64"))) << c.what;
      } else {
        EXPECT_EQ(rig.Get("game.d64"), AsBytes("text")) << c.what;
      }
      int error = 0;
      EXPECT_EQ(rig.served.FindFirst("*", error), nullptr) << c.what;
      // The C64 stays inside until it steps out.
      EXPECT_EQ(rig.served.CurrentDirDisplay(), rig.volume.Root() + "/game.d64") << c.what;
      EXPECT_TRUE(rig.served.ChangeDir("..")) << c.what;
      continue;
    }
    EXPECT_TRUE(saved) << c.what;
    EXPECT_EQ(notice, "") << c.what;
    EXPECT_EQ(ListedNames(rig.served), c.after) << c.what;
    const Bytes image = rig.Get("game.d64");
    Names on_disk;
    for (const CbmDirEntry& e : DirectoryOf(image)) on_disk.push_back(ShownCbmName(e.Name));
    EXPECT_EQ(on_disk, c.after) << c.what;
    EXPECT_EQ(FileOf(image, "second"), Pattern(700)) << c.what;
    EXPECT_EQ(rig.Entries(), Names{"game.d64"}) << c.what;
  }
}

// The C64 hears the refusal of a change to an image that is gone, and the log says
// why.
TEST(DiskImage, ChangesToAnImageGoneFromTheHostAreRefusedWithALogLine) {
  ServedRig rig;
  rig.link.panel.delete_protection = false;
  rig.Put("game.d64", GameDisk());
  ASSERT_TRUE(rig.served.ChangeDir("game.d64"));
  rig.served.TakeNotice();  // "Serving: ...", which the server would have logged
  std::filesystem::remove(rig.Path("game.d64"));
  rig.Send(Request(ptSave, "NEW"));
  rig.Send(Request(ptCommand, "s:hello"));
  rig.Send(Request(ptCommand, "r:x=hello"));
  rig.Serve();
  EXPECT_EQ(rig.Replies(), Cat({StatusBytes(stOpenError), kEcho, StatusBytes(stDeleteError), kEcho,
                                StatusBytes(stRenameError)}));
  const std::string gone = "Image gone from the host: " + rig.volume.Root() + "/game.d64";
  EXPECT_EQ(std::count(rig.Log().begin(), rig.Log().end(), gone), 3);
  EXPECT_EQ(rig.Entries(), Names{});
}

TEST(DiskImage, MakeDirCreatesBlankImagesInAHostDirectory) {
  struct Case {
    std::string command;
    std::string file;
    std::size_t size;
    std::string name;
  };
  const Case cases[] = {
      {"m:new.d64", "new.d64", 174848, "NEW"},
      {"m:Work Disk.D71", "work disk.d71", 349696, "WORK DISK"},
      {"m:a very long disk name.d81", "a very long disk name.d81", 819200, "A VERY LONG DISK"},
  };
  for (const Case& c : cases) {
    ServedRig rig;
    rig.Send(Request(ptCommand, c.command));
    rig.Send(Request(ptCommand, c.command));  // exists now
    rig.Serve();
    EXPECT_EQ(rig.Replies(), Cat({StatusBytes(stOk), kEcho, StatusBytes(stError)})) << c.command;
    const Bytes image = rig.Get(c.file);
    ASSERT_EQ(image.size(), c.size) << c.command;
    const CbmDisk disk(*DiskGeometry::ForImage(c.file.substr(c.file.size() - 4), c.size), image);
    EXPECT_EQ(ShownCbmName(disk.DiskName()), c.name);
    EXPECT_EQ(disk.IdField()[0], '0');
    EXPECT_EQ(disk.IdField()[1], '0');
  }
}

TEST(DiskImage, AnImageStaysAFileInItsHostDirectory) {
  ServedRig rig;
  const Bytes image = GameDisk();
  rig.Put("game.d64", image);
  rig.Send(Request(ptLoad, "game.d64"));
  for (std::size_t i = 0; i <= (image.size() + 254) / 255; ++i) rig.Send(StatusBytes(stOk));
  rig.Serve();
  EXPECT_EQ(rig.Replies(), SentFile(image));
}

TEST(DiskImage, ATapeArchiveListsAndLoadsItsFiles) {
  Bytes tape(64 + 32 + 5);
  std::memcpy(tape.data(), "C64S tape image file", 20);
  tape[0x22] = 1;
  tape[0x24] = 1;
  std::memcpy(&tape[0x28], "MY TAPE                 ", 24);
  std::uint8_t* e = &tape[64];
  e[0] = 1;
  e[1] = 0x82;
  e[2] = 0x01;
  e[3] = 0x08;
  e[4] = 0xFF;  // a wrong end address
  e[5] = 0xFF;
  e[8] = 96;
  std::memcpy(e + 16, "PROGRAM         ", 16);
  for (int i = 0; i < 5; ++i)
    tape[96 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i + 1);

  ServedRig rig;
  rig.link.panel.delete_protection = false;
  rig.Put("tape.t64", tape);
  rig.Send(Request(ptCommand, "c:tape.t64"));
  rig.Send(Request(ptLoad, "$"));
  rig.Send(StatusBytes(stOk));
  rig.Send(StatusBytes(stOk));
  rig.Send(Request(ptLoad, "prog*"));
  rig.Send(StatusBytes(stOk));
  rig.Send(StatusBytes(stOk));
  rig.Send(Request(ptCommand, "s:program"));
  rig.Serve();
  const Bytes listing = Cat({{0x01, 0x04, 0x01, 0x01, 0x00, 0x00, 0x12, 0x22},
                             AsBytes("MY TAPE         "),
                             {0x22},
                             AsBytes(" T64  "),
                             {0x00},
                             Line(1, Text(3, "\"PROGRAM\"", 10, "", "PRG", 2)),
                             {0x01, 0x01, 0x00, 0x00},
                             AsBytes(" BLOCKS FREE.       "),
                             {0x00, 0x00, 0x00}});
  EXPECT_EQ(Listed(rig.server.DirListing), listing);
  EXPECT_EQ(rig.Replies(),
            Cat({StatusBytes(stOk), kEcho, StatusBytes(stOk), PacketBytes(ptData, listing),
                 StatusBytes(stEndOfFile), kEcho, SentFile({0x01, 0x08, 1, 2, 3, 4, 5}), kEcho,
                 StatusBytes(stDeleteError)}));
  EXPECT_EQ(rig.Get("tape.t64"), tape);
}

}  // namespace
}  // namespace dorvane::testing
