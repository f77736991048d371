// A disk image served by dorvaned over a pseudo-terminal, played with the peer
// library: stepping in, listing, loading, saving, scratching, renaming, stepping out.
#include <gtest/gtest.h>

#include <string>

#include "formats/cbm_disk.h"
#include "formats/cbm_names.h"
#include "link/wire_format.h"
#include "tests/e2e/served_session.h"

namespace dorvane::e2e {
namespace {

using DiskImageTest = ServedSession;

Bytes GameDisk(const Bytes& hello) {
  CbmDisk disk = CbmDisk::Format(DiskKind::D64, "GAME DISK", "00");
  CbmName name;
  ToCbmName("hello", name);
  disk.WriteFile(name, CbmPrg, hello);
  return disk.Bytes();
}

std::vector<std::string> Names(const Bytes& image) {
  const CbmDisk disk(*DiskGeometry::ForImage(".d64", image.size()), image);
  bool damaged = false;
  std::vector<std::string> names;
  for (const CbmDirEntry& e : disk.Directory(damaged)) names.push_back(ShownCbmName(e.Name));
  return names;
}

TEST_F(DiskImageTest, TheC64UsesAnImageAsADisk) {
  const Bytes hello = RandomBytes(3000, 7);
  Put("game.d64", GameDisk(hello));
  Put("short.d64", Bytes(1000));
  ASSERT_NO_FATAL_FAILURE(StartServer());

  EXPECT_EQ(Peer().Command("c:short.d64").Status, stError);
  const peer::PeerResult entered = Peer().Command("c:GAME.D64");
  ASSERT_TRUE(entered.Succeeded) << entered.Describe();

  const peer::LoadResult dir = Peer().Directory();
  ASSERT_TRUE(dir.Succeeded) << dir.Describe();
  EXPECT_EQ(ListedLines(dir.Data), (Listed{{0, "\x12\"GAME DISK       \" 00 2A"},
                                           {12, EntryText(2, "HELLO", 12, "PRG", 3)},
                                           {652, " BLOCKS FREE." + std::string(7, ' ')}}));

  const peer::LoadResult loaded = Peer().Load("hel*");
  ASSERT_TRUE(loaded.Succeeded) << loaded.Describe();
  EXPECT_EQ(loaded.Data, hello);

  const Bytes saved = RandomBytes(700, 8);
  ASSERT_TRUE(Peer().Save("new", saved).Succeeded);
  const peer::LoadResult back = Peer().Load("new");
  ASSERT_TRUE(back.Succeeded) << back.Describe();
  EXPECT_EQ(back.Data, saved);
  EXPECT_EQ(Names(*Contents("game.d64")), (std::vector<std::string>{"HELLO", "NEW"}));

  EXPECT_TRUE(Peer().Command("r:greeting=hello").Succeeded);
  EXPECT_TRUE(Peer().Command("s:new").Succeeded);
  EXPECT_EQ(Peer().Command("m:sub").Status, stError);
  EXPECT_EQ(Names(*Contents("game.d64")), (std::vector<std::string>{"GREETING"}));
  EXPECT_TRUE(PendingSaves().empty());

  ASSERT_TRUE(Peer().Command("c:..").Succeeded);
  const peer::LoadResult whole = Peer().Load("game.d64");
  ASSERT_TRUE(whole.Succeeded) << whole.Describe();
  EXPECT_EQ(whole.Data, *Contents("game.d64"));
}

}  // namespace
}  // namespace dorvane::e2e
