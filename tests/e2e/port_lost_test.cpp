// The cable is pulled while dorvaned serves (the far end of its pseudo-terminal
// closes and the link path goes) and a new one appears at the same path: the
// server says so both times, gives up what was under way as an abort does, and
// serves the new cable from the start.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "ports/port_lock.h"
#include "tests/e2e/served_session.h"
#include "tests/support/cable_moments.h"

namespace dorvane::e2e {
namespace {

using testing::When;

// True when the lock file at `lock` names `pid` as its holder. Other tests run beside
// this one, and a pseudo-terminal number this server gave up may already be another
// server's: only the holder's PID tells whose lock a file is.
bool HeldBy(const std::filesystem::path& lock, pid_t pid) {
  std::ifstream in(lock);
  long holder = 0;
  return in >> holder && holder == static_cast<long>(pid);
}

class PortLostTest : public ServedSession, public ::testing::WithParamInterface<When> {};

TEST_P(PortLostTest, LostThenBackAndServingAgainWithTheOldFileIntact) {
  const Bytes old_bytes = RandomBytes(4000, 90);
  Put("game.prg", old_bytes);
  serve_link = true;
  options.ReplyTimeoutMs = 500;
  int blocks = 0;
  options.Progress = [&](std::uint64_t, std::optional<std::uint64_t>) {
    if (++blocks == 4) Unplug();
  };
  ASSERT_NO_FATAL_FAILURE(StartServer());
  const std::string port = PortPath();
  // Where the host lets us lock, the server holds its lock file until it ends.
  const bool locking = access(DefaultLockDirectory, W_OK) == 0;
  const std::filesystem::path lock =
      std::filesystem::path(DefaultLockDirectory) / LockFileName(port);
  EXPECT_TRUE(!locking || HeldBy(lock, Server().Pid()));

  switch (GetParam()) {
    case When::kIdle:
      Unplug();
      break;
    case When::kLoad:
      EXPECT_FALSE(Peer().Load("game.prg").Succeeded);
      break;
    case When::kSave:
      EXPECT_FALSE(Peer().Save("game.prg", RandomBytes(40 * 255, 91)).Succeeded);
      break;
  }
  ASSERT_TRUE(Server().AwaitLine("Port lost: " + port + ": hung up")) << Server().ErrText();
  // The lock went with the lost device: its name may be the next pair's.
  EXPECT_FALSE(locking && HeldBy(lock, Server().Pid()));
  options.Progress = nullptr;  // the new cable is left alone
  Replug();
  ASSERT_TRUE(Server().AwaitLine("Port back: " + port));
  // The device that came back is locked.
  const std::filesystem::path new_lock =
      std::filesystem::path(DefaultLockDirectory) / LockFileName(port);
  EXPECT_TRUE(!locking || HeldBy(new_lock, Server().Pid()));

  EXPECT_EQ(Contents("game.prg"), old_bytes);
  EXPECT_TRUE(PendingSaves().empty());
  const peer::LoadResult load = Peer().Load("game.prg");
  EXPECT_TRUE(load.Succeeded) << load.Describe();
  EXPECT_EQ(load.Data, old_bytes);

  const auto lines = Server().OutLines();
  const auto lost = std::find(lines.begin(), lines.end(), "Port lost: " + port + ": hung up");
  const auto back = std::find(lost, lines.end(), "Port back: " + port);
  ASSERT_NE(back, lines.end());
  ASSERT_NE(back + 1, lines.end());
  // Whatever was under way ended there; the server waits for a request only once
  // the port is back.
  EXPECT_EQ(std::find(lost, back, "Waiting for command from C64..."), back);
  EXPECT_EQ(*(back + 1), "Waiting for command from C64...");
  const pid_t pid = Server().Pid();
  EXPECT_EQ(StopServer(), 0);
  EXPECT_FALSE(locking && HeldBy(new_lock, pid)) << "the lock outlived the server";
}

// A stop signal while the server waits for the device to come back ends it as
// cleanly as at any other time.
TEST_F(ServedSession, AStopWhileThePortIsAwayEndsCleanly) {
  serve_link = true;
  ASSERT_NO_FATAL_FAILURE(StartServer());
  Unplug();
  ASSERT_TRUE(Server().AwaitLine("Port lost: " + PortPath() + ": hung up"));
  EXPECT_EQ(StopServer(SIGINT), 0);
  EXPECT_EQ(Server().OutLines().back(), " terminated!");
}

INSTANTIATE_TEST_SUITE_P(Cable, PortLostTest,
                         ::testing::Values(When::kIdle, When::kLoad, When::kSave),
                         testing::WhenName);

}  // namespace
}  // namespace dorvane::e2e
