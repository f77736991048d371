// Files far larger than one block travel whole: a few hundred kilobytes of random
// bytes, loaded and saved through dorvaned, compared byte for byte.
#include <gtest/gtest.h>

#include "tests/e2e/served_session.h"

namespace dorvane::e2e {
namespace {

using LargeTransferTest = ServedSession;

TEST_F(LargeTransferTest, HundredsOfKilobytesArriveExactBothWays) {
  // Not a multiple of 255, so the last block is a short one.
  const Bytes original = RandomBytes(192 * 1024 + 77, 60);
  Put("big.bin", original);
  std::uint64_t last_done = 0;
  bool in_order = true;
  options.Progress = [&](std::uint64_t done, std::optional<std::uint64_t>) {
    in_order = in_order && done >= last_done;
    last_done = done;
  };
  ASSERT_NO_FATAL_FAILURE(StartServer());

  const peer::LoadResult load = Peer().Load("big.bin");
  ASSERT_TRUE(load.Succeeded) << load.Describe();
  EXPECT_EQ(load.Data.size(), original.size());
  EXPECT_TRUE(load.Data == original);
  EXPECT_EQ(last_done, original.size());

  const Bytes other = RandomBytes(160 * 1024 + 5, 61);
  last_done = 0;
  const peer::PeerResult save = Peer().Save("copy.bin", other);
  ASSERT_TRUE(save.Succeeded) << save.Describe();
  EXPECT_TRUE(in_order);
  EXPECT_EQ(last_done, other.size());

  // Answered only once the save has been committed.
  const peer::LoadResult back = Peer().Load("copy.bin");
  ASSERT_TRUE(back.Succeeded) << back.Describe();
  EXPECT_TRUE(back.Data == other);
  EXPECT_TRUE(Contents("copy.bin") == other);
  EXPECT_TRUE(PendingSaves().empty());
  // Nothing had to be asked for twice on a clean line.
  EXPECT_EQ(Peer().Stats().RepeatsReceived, 0u);
  EXPECT_EQ(Peer().Stats().RepeatsSent, 0u);
  EXPECT_EQ(StopServer(), 0);
}

}  // namespace
}  // namespace dorvane::e2e
