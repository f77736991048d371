// What keeps the C64 user's files safe, tried on dorvaned as built: a save never
// costs the file that was there, a damaged block never reaches the disk, read-only
// files still load, and nothing outside the served root can be reached.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "link/wire_format.h"
#include "tests/e2e/served_session.h"

namespace dorvane::e2e {
namespace {

namespace fs = std::filesystem;
using peer::Fault;
using peer::FaultKind;
using SafeguardsTest = ServedSession;
using AbortTest = ServedOverLink;

TEST_P(AbortTest, AbortedSaveLeavesTheOldFileAndNoTemporaryFile) {
  const Bytes old_bytes = RandomBytes(2000, 10);
  Put("game.prg", old_bytes);
  ASSERT_NO_FATAL_FAILURE(StartServer());
  const Bytes new_bytes = RandomBytes(5000, 11);

  // The C64 can end a save with stAbort or by starting over with 0x10, over an
  // existing file or a new name, right after the open or in the middle.
  const struct {
    FaultKind kind;
    int skip;
    const char* name;
  } cases[] = {
      {FaultKind::kAbortStatus, 0, "game.prg"},     {FaultKind::kAbortStatus, 7, "game.prg"},
      {FaultKind::kAbortAttention, 4, "game.prg"},  {FaultKind::kAbortStatus, 3, "fresh.prg"},
      {FaultKind::kAbortAttention, 3, "fresh.prg"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " after " + std::to_string(c.skip) + " blocks");
    Fault fault;
    fault.Kind = c.kind;
    fault.Skip = c.skip;
    Peer().InjectFault(fault);
    const peer::PeerResult save = Peer().Save(c.name, new_bytes);
    EXPECT_EQ(save.Error, peer::PeerError::kAborted) << save.Describe();
    EXPECT_FALSE(Peer().FaultPending());

    // The server has taken the abort once it answers the next request.
    const peer::LoadResult load = Peer().Load("game.prg");
    ASSERT_TRUE(load.Succeeded) << load.Describe();
    EXPECT_EQ(load.Data, old_bytes);
    EXPECT_EQ(Contents("game.prg"), old_bytes);
    EXPECT_FALSE(fs::exists(Root() / "fresh.prg"));
    EXPECT_EQ(PendingSaves(), std::vector<fs::path>{});
  }
  EXPECT_EQ(StopServer(), 0);
}

INSTANTIATE_TEST_SUITE_P(Links, AbortTest, EveryLink, LinkName);

TEST_F(SafeguardsTest, SaveReplacesTheOldFileOnlyAtItsEnd) {
  const Bytes old_bytes = RandomBytes(3000, 20);
  fs::create_directory(Root() / "sub");
  Put("sub/game.prg", old_bytes);
  // The replaced file keeps its permissions.
  fs::permissions(Root() / "sub/game.prg", fs::perms(0640));
  const Bytes new_bytes = RandomBytes(4000, 21);

  struct Seen {
    std::uint64_t done;
    bool old_intact;
    std::vector<fs::path> pending;
    std::vector<fs::path> unnamed;
  };
  std::vector<Seen> seen;
  options.Progress = [&](std::uint64_t done, std::optional<std::uint64_t>) {
    // Called once each block has been acknowledged, so written to the disk.
    seen.push_back({done, Contents("sub/game.prg") == old_bytes, PendingSaves(), UnnamedSaves()});
  };
  ASSERT_NO_FATAL_FAILURE(StartServer());

  const peer::PeerResult save = Peer().Save("sub/GAME.PRG", new_bytes);
  ASSERT_TRUE(save.Succeeded) << save.Describe();
  ASSERT_EQ(seen.size(), 1u + (4000 + 254) / 255);  // the open, then every block
  for (const Seen& s : seen) {
    SCOPED_TRACE(s.done);
    EXPECT_TRUE(s.old_intact);
    // One temporary file with no name, beside the target, so the final rename stays
    // on its disk and a crash leaves nothing.
    EXPECT_EQ(s.pending, std::vector<fs::path>{});
    ASSERT_EQ(s.unnamed.size(), 1u);
    EXPECT_EQ(s.unnamed[0], Root() / "sub");
  }

  ASSERT_TRUE(Peer().Command("c:sub").Succeeded);  // answered only after the commit
  EXPECT_EQ(Contents("sub/game.prg"), new_bytes);
  EXPECT_EQ(fs::status(Root() / "sub/game.prg").permissions(), fs::perms(0640));
  EXPECT_EQ(PendingSaves(), std::vector<fs::path>{});
  EXPECT_EQ(StopServer(), 0);
}

TEST_F(SafeguardsTest, DamagedSaveBlockIsAskedForAgainAndNeverWritten) {
  // The block is whole on the line, so the peer need not wait long before resending.
  options.ResyncQuietMs = 100;
  ASSERT_NO_FATAL_FAILURE(StartServer());
  const Bytes data = RandomBytes(1500, 30);

  for (int skip : {0, 2, 5}) {
    SCOPED_TRACE(skip);
    const std::string name = "crc" + std::to_string(skip) + ".prg";
    Fault fault;
    fault.Kind = FaultKind::kCorruptPayload;
    fault.Skip = skip;
    fault.Offset = 100 + skip;
    fault.Mask = 0x24;
    const std::uint64_t repeats = Peer().Stats().RepeatsReceived;
    Peer().InjectFault(fault);
    const peer::PeerResult save = Peer().Save(name, data);
    ASSERT_TRUE(save.Succeeded) << save.Describe();
    EXPECT_EQ(Peer().Stats().RepeatsReceived, repeats + 1);

    const peer::LoadResult back = Peer().Load(name);
    ASSERT_TRUE(back.Succeeded) << back.Describe();
    EXPECT_EQ(back.Data, data);
    EXPECT_EQ(Contents(name), data);
  }
  EXPECT_EQ(StopServer(), 0);
  const auto lines = Server().OutLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Bad Received Packet"), 3);
}

TEST_F(SafeguardsTest, ReadOnlyFilesLoad) {
  const Bytes data = RandomBytes(800, 40);
  Put("ro.prg", data);
  fs::create_directory(Root() / "rodir");
  Put("rodir/inner.prg", data);
  fs::permissions(Root() / "ro.prg", fs::perms(0444));
  fs::permissions(Root() / "rodir/inner.prg", fs::perms(0444));
  fs::permissions(Root() / "rodir", fs::perms(0555));
  // Root could open them for writing all the same; the server must not need to.
  ASSERT_NO_FATAL_FAILURE(StartServer(true, FileAccess::kPermissionBitsBind));

  for (const char* name : {"ro.prg", "rodir/inner.prg"}) {
    SCOPED_TRACE(name);
    const peer::LoadResult load = Peer().Load(name);
    ASSERT_TRUE(load.Succeeded) << load.Describe();
    EXPECT_EQ(load.Data, data);
  }
  EXPECT_EQ(StopServer(), 0);
}

TEST_F(SafeguardsTest, NothingOutsideTheServedRootIsReached) {
  const Bytes secret = TextBytes("outside the served root");
  Put(Outside() / "secret.prg", secret);
  Put("top.prg", TextBytes("top"));
  fs::create_directory_symlink(Outside(), Root() / "outdir");
  fs::create_symlink(Outside() / "secret.prg", Root() / "link.prg");
  ASSERT_NO_FATAL_FAILURE(StartServer());

  // ".." at the root stays at the root, however often it is climbed.
  for (const char* command : {"c:..", "c:../..", "c:/..", "c:a:.."}) {
    SCOPED_TRACE(command);
    const peer::PeerResult up = Peer().Command(command);
    EXPECT_EQ(up.Status, stOk) << up.Describe();
    const peer::LoadResult top = Peer().Load("top.prg");
    EXPECT_TRUE(top.Succeeded) << top.Describe();
  }
  const peer::LoadResult root_listing = Peer().Directory();
  ASSERT_TRUE(root_listing.Succeeded);
  const Listed root_lines = ListedLines(root_listing.Data);
  ASSERT_GE(root_lines.size(), 3u);
  EXPECT_EQ(root_lines.front().second, ListingTitle);
  const Listed::value_type parent{0, EntryText(3, "..", 15, "DIR", 2)};
  EXPECT_EQ(std::count(root_lines.begin(), root_lines.end(), parent), 0)
      << "a parent above the root";

  // Neither a path nor a symbolic link leads out.
  for (const char* name :
       {"../secret.prg", "../../secret.prg", "/../secret.prg", "link.prg", "outdir/secret.prg"}) {
    SCOPED_TRACE(name);
    const peer::LoadResult load = Peer().Load(name);
    EXPECT_EQ(load.Status, stOpenError) << load.Describe();
    EXPECT_TRUE(load.Data.empty());
  }
  EXPECT_EQ(Peer().Command("c:outdir").Status, stError);
  EXPECT_EQ(Peer().Save("outdir/planted.prg", TextBytes("x")).Status, stOpenError);
  EXPECT_EQ(Peer().Command("r:../moved.prg=top.prg").Status, stOk);  // lands at the root
  EXPECT_EQ(Peer().Command("m:../made").Status, stOk);

  EXPECT_EQ(StopServer(), 0);
  EXPECT_EQ(Contents(Outside() / "secret.prg"), secret);
  EXPECT_FALSE(fs::exists(Outside() / "planted.prg"));
  EXPECT_FALSE(fs::exists(Outside() / "moved.prg"));
  EXPECT_FALSE(fs::exists(Outside() / "made"));
  EXPECT_TRUE(fs::exists(Root() / "moved.prg"));
  EXPECT_TRUE(fs::is_directory(Root() / "made"));
}

TEST_F(SafeguardsTest, ListingAfterAChangeOfDirectoryShowsIt) {
  Put("top.prg", TextBytes("top"));
  fs::create_directories(Root() / "sub/deeper");
  Put("sub/inner.prg", RandomBytes(300, 50));
  ASSERT_NO_FATAL_FAILURE(StartServer());

  ASSERT_TRUE(Peer().Command("c:sub").Succeeded);
  const peer::LoadResult dir = Peer().Directory();
  ASSERT_TRUE(dir.Succeeded) << dir.Describe();
  // A sub-directory lists its parent first; 300 bytes take 2 blocks.
  EXPECT_EQ(ListedLines(dir.Data), (Listed{{0, ListingTitle},
                                           {0, EntryText(3, "..", 15, "DIR", 2)},
                                           {0, EntryText(3, "DEEPER", 11, "DIR", 2)},
                                           {2, EntryText(3, "INNER.PRG", 8, "PRG", 2)},
                                           {2, ListingTotal}}));

  // And an empty one holds only the parent: the 91-byte image.
  ASSERT_TRUE(Peer().Command("c:deeper").Succeeded);
  const peer::LoadResult empty = Peer().Directory();
  ASSERT_TRUE(empty.Succeeded) << empty.Describe();
  EXPECT_EQ(empty.Data.size(), 91u);
  EXPECT_EQ(StopServer(), 0);
}

}  // namespace
}  // namespace dorvane::e2e
