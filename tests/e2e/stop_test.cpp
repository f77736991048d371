// The operator stops dorvaned with a signal (SIGTERM, Ctrl-C, or the terminal
// closing) while the C64 is in the middle of a save: the save is given up as an abort
// would give it up, and the program ends cleanly.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/cbm_disk.h"
#include "tests/e2e/served_session.h"

namespace dorvane::e2e {
namespace {

namespace fs = std::filesystem;

class StopTest : public ServedSession, public ::testing::WithParamInterface<int> {};

TEST_P(StopTest, StoppedInTheMiddleOfASaveKeepsTheOldFile) {
  const Bytes old_bytes = RandomBytes(4000, 70);
  Put("game.prg", old_bytes);
  const Bytes new_bytes = RandomBytes(40 * 255, 71);

  // After the tenth acknowledged block the server is waiting for the eleventh, with
  // ten blocks in its temporary file. The peer holds back meanwhile, so only the
  // signal can end the save.
  std::optional<int> status;
  std::size_t pending_before_stop = 0;
  int blocks = 0;
  options.ReplyTimeoutMs = 300;
  options.Progress = [&](std::uint64_t, std::optional<std::uint64_t>) {
    if (++blocks != 11) return;
    pending_before_stop = UnnamedSaves().size() + PendingSaves().size();
    status = StopServer(GetParam());
  };
  ASSERT_NO_FATAL_FAILURE(StartServer());

  const peer::PeerResult save = Peer().Save("game.prg", new_bytes);
  EXPECT_FALSE(save.Succeeded);
  EXPECT_EQ(pending_before_stop, 1u);
  EXPECT_EQ(status, 0);

  EXPECT_EQ(Contents("game.prg"), old_bytes);
  EXPECT_TRUE(PendingSaves().empty());
  const auto lines = Server().OutLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), " terminated!");
  EXPECT_EQ(Server().ErrText(), "");
}

// Killed outright in the middle of a save, into a plain file ("/") or into a disk
// image, the server leaves the old file as it was and no temporary file at all.
class KillTest : public ServedSession, public ::testing::WithParamInterface<const char*> {};

TEST_P(KillTest, KilledInTheMiddleOfASaveLeavesNothingBehind) {
  const Bytes old_bytes = RandomBytes(4000, 72);
  const Bytes image = CbmDisk::Format(DiskKind::D64, "GAME DISK", "00").Bytes();
  Put("game.prg", old_bytes);
  Put("game.d64", image);
  std::size_t unnamed_before_kill = 0;
  int blocks = 0;
  options.ReplyTimeoutMs = 300;
  options.Progress = [&](std::uint64_t, std::optional<std::uint64_t>) {
    if (++blocks != 11) return;
    unnamed_before_kill = UnnamedSaves().size();
    StopServer(SIGKILL);
  };
  ASSERT_NO_FATAL_FAILURE(StartServer());
  ASSERT_TRUE(Peer().Command(std::string("c:") + GetParam()).Succeeded);
  EXPECT_FALSE(Peer().Save("game.prg", RandomBytes(40 * 255, 73)).Succeeded);
  EXPECT_EQ(unnamed_before_kill, 1u);

  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(Root())) {
    left.push_back(entry.path().filename().string());
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"game.d64", "game.prg"}));
  EXPECT_EQ(Contents("game.prg"), old_bytes);
  EXPECT_EQ(Contents("game.d64"), image);
}

INSTANTIATE_TEST_SUITE_P(Into, KillTest, ::testing::Values("/", "game.d64"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param[0] == '/' ? "PlainFile" : "DiskImage");
                         });

INSTANTIATE_TEST_SUITE_P(Signals, StopTest, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(sigabbrev_np(info.param));
                         });

}  // namespace
}  // namespace dorvane::e2e
