// The operator stops dorvaned with a signal (SIGTERM, Ctrl-C, or the terminal
// closing) while the C64 is in the middle of a save: the save is given up as an abort
// would give it up, and the program ends cleanly.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

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
    pending_before_stop = PendingSaves().size();
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

INSTANTIATE_TEST_SUITE_P(Signals, StopTest, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(sigabbrev_np(info.param));
                         });

}  // namespace
}  // namespace dorvane::e2e
