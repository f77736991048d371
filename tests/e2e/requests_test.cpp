// Every kind of request the C64 makes, served by dorvaned and played with the peer
// library over each link (a pseudo-terminal, loopback TCP, standard input and
// output): loads, saves, the listing, the disk commands, and every refusal with the
// status the C64 gets for it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "link/wire_format.h"
#include "tests/e2e/served_session.h"

namespace dorvane::e2e {
namespace {

namespace fs = std::filesystem;
using RequestsTest = ServedOverLink;

bool Holds(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Everything below `dir`, files with their bytes and directories marked, so that
// a refusal can be shown to have touched nothing.
std::map<std::string, std::string> Snapshot(const fs::path& dir) {
  std::map<std::string, std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    const std::string name = fs::relative(entry.path(), dir).string();
    if (entry.is_directory()) {
      tree[name] = "<dir>";
    } else {
      std::ifstream in(entry.path(), std::ios::binary);
      tree[name].assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
  }
  return tree;
}

TEST_P(RequestsTest, LoadSaveAndListingMoveExactBytes) {
  const Bytes hello = RandomBytes(1000, 1);
  Put("hello.txt", hello);
  fs::create_directory(Root() / "games");
  ASSERT_NO_FATAL_FAILURE(StartServer());

  const peer::LoadResult loaded = Peer().Load("hello.txt");
  ASSERT_TRUE(loaded.Succeeded) << loaded.Describe();
  EXPECT_EQ(loaded.Data, hello);

  // Typed with shifted letters, the name still finds the file.
  const peer::LoadResult shifted = Peer().Load("HELLO.TXT");
  ASSERT_TRUE(shifted.Succeeded) << shifted.Describe();
  EXPECT_EQ(shifted.Data, hello);

  const Bytes saved = RandomBytes(600, 2);
  const peer::PeerResult save = Peer().Save("new.prg", saved);
  ASSERT_TRUE(save.Succeeded) << save.Describe();

  // The served root has no "." to leave out: its first entry is listed too. 1,000
  // bytes take 4 blocks of 254, 600 bytes 3.
  const peer::LoadResult dir = Peer().Directory();
  ASSERT_TRUE(dir.Succeeded) << dir.Describe();
  EXPECT_EQ(ListedLines(dir.Data), (Listed{{0, ListingTitle},
                                           {0, EntryText(3, "GAMES", 12, "DIR", 2)},
                                           {4, EntryText(3, "HELLO.TXT", 8, "PRG", 2)},
                                           {3, EntryText(3, "NEW.PRG", 10, "PRG", 2)},
                                           {7, ListingTotal}}));

  // The save's stEndOfFile is not answered; the listing above came after it, so the
  // file is complete by now.
  EXPECT_EQ(Contents("new.prg"), saved);
  EXPECT_TRUE(PendingSaves().empty());

  EXPECT_EQ(StopServer(), 0);
  const auto lines = Server().OutLines();
  EXPECT_TRUE(Holds(lines, "Sending file:hello.txt"));
  EXPECT_TRUE(Holds(lines, "Getting file: new.prg"));
  EXPECT_TRUE(Holds(lines, "Sending file:$"));
  EXPECT_EQ(lines.back(), " terminated!");
  EXPECT_EQ(Server().ErrText(), "");
}

TEST_P(RequestsTest, DiskCommandsWorkOnTheServedTree) {
  Put("a.tmp", TextBytes("a"));
  Put("b.tmp", TextBytes("b"));
  Put("keep.prg", TextBytes("keep"));
  ASSERT_NO_FATAL_FAILURE(StartServer(/*allow_delete=*/true));
  const Bytes data = RandomBytes(700, 3);

  EXPECT_TRUE(Peer().Command("m:sub").Succeeded);
  EXPECT_TRUE(fs::is_directory(Root() / "sub"));

  // A change of directory moves where the next save lands and what names mean.
  EXPECT_TRUE(Peer().Command("c:sub").Succeeded);
  ASSERT_TRUE(Peer().Save("inner.prg", data).Succeeded);
  EXPECT_TRUE(Peer().Command("r:renamed.prg=inner.prg").Succeeded);
  EXPECT_EQ(Contents("sub/renamed.prg"), data);
  EXPECT_FALSE(fs::exists(Root() / "sub/inner.prg"));
  EXPECT_FALSE(fs::exists(Root() / "renamed.prg"));

  // Any drive letter leads back to the served root.
  EXPECT_TRUE(Peer().Command("c:a:").Succeeded);
  const peer::LoadResult by_path = Peer().Load("sub/renamed.prg");
  ASSERT_TRUE(by_path.Succeeded) << by_path.Describe();
  EXPECT_EQ(by_path.Data, data);

  // A wildcard deletes the first match only.
  EXPECT_TRUE(Peer().Command("s:*.tmp").Succeeded);
  EXPECT_FALSE(fs::exists(Root() / "a.tmp"));
  EXPECT_TRUE(fs::exists(Root() / "b.tmp"));
  EXPECT_TRUE(Peer().Command("s:sub/renamed.prg").Succeeded);
  EXPECT_TRUE(fs::is_empty(Root() / "sub"));

  // An empty argument is the root too.
  EXPECT_TRUE(Peer().Command("c:sub").Succeeded);
  EXPECT_TRUE(Peer().Command("c:").Succeeded);
  EXPECT_TRUE(Peer().Load("keep.prg").Succeeded);

  EXPECT_EQ(StopServer(), 0);
  const auto lines = Server().OutLines();
  for (const char* line : {"Making directory: sub", "Changing dir path to: sub",
                           "Renaming file inner.prg to renamed.prg", "Changing disk drive to: a:",
                           "Deleting file: *.tmp", "Deleting file: sub/renamed.prg"}) {
    EXPECT_TRUE(Holds(lines, line)) << line;
  }
}

TEST_P(RequestsTest, EveryRefusalHasItsStatusAndTouchesNothing) {
  Put("plain.prg", TextBytes("plain"));
  Put(".hidden.prg", TextBytes("hidden"));
  Put("ro.prg", TextBytes("read-only"));
  fs::permissions(Root() / "ro.prg", fs::perms(0444));
  fs::create_directories(Root() / "full/inside");
  fs::create_directory(Root() / "games");
  ASSERT_NO_FATAL_FAILURE(StartServer(/*allow_delete=*/true));
  const auto before = Snapshot(Root());

  enum Kind { kLoad, kSave, kCommand };
  const std::string nul(1, '\0');
  const struct {
    Kind kind;
    std::string text;
    std::uint8_t status;
  } cases[] = {
      {kLoad, "missing.prg", stOpenError},
      {kLoad, "games", stOpenError},
      {kLoad, ".hidden.prg", stOpenError},
      {kLoad, "nodir/plain.prg", stOpenError},
      {kLoad, "plain.prg" + nul + "x", stOpenError},
      {kSave, "games", stOpenError},
      {kSave, "ro.prg", stOpenError},
      {kSave, "nodir/new.prg", stOpenError},
      {kSave, "new*.prg", stOpenError},
      {kSave, "new.prg" + nul, stOpenError},
      {kCommand, "s:missing.prg", stDeleteError},
      {kCommand, "s:full", stDeleteError},
      {kCommand, "s:ro.prg", stDeleteError},
      {kCommand, "s:plain.prg" + nul + "x", stDeleteError},
      {kCommand, "r:new.prg=missing.prg", stRenameError},
      {kCommand, "r:games=plain.prg", stRenameError},
      {kCommand, "r:plain.prg", stRenameError},
      {kCommand, "r:new" + nul + "=plain.prg", stRenameError},
      {kCommand, "c:missing", stError},
      {kCommand, "c:plain.prg", stError},
      {kCommand, "c:games" + nul, stError},
      {kCommand, "c:1:games", stError},
      {kCommand, "m:games", stError},
      {kCommand, "m:no/such/parent", stError},
      {kCommand, "m:x" + nul + "y", stError},
      {kCommand, "i", stError},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    peer::PeerResult result;
    if (c.kind == kLoad) {
      result = Peer().Load(c.text);
    } else if (c.kind == kSave) {
      result = Peer().Save(c.text, TextBytes("new"));
    } else {
      result = Peer().Command(c.text);
    }
    EXPECT_EQ(result.Error, peer::PeerError::kNone) << result.Describe();
    EXPECT_EQ(result.Status, c.status) << result.Describe();
    EXPECT_FALSE(result.Succeeded);
  }

  // Still serving, and nothing was made, changed or removed.
  EXPECT_TRUE(Peer().Load("plain.prg").Succeeded);
  EXPECT_EQ(Snapshot(Root()), before);
  EXPECT_EQ(StopServer(), 0);
  EXPECT_TRUE(Holds(Server().OutLines(), "Error changing dir to: missing"));
}

INSTANTIATE_TEST_SUITE_P(Links, RequestsTest, EveryLink, LinkName);

}  // namespace
}  // namespace dorvane::e2e
