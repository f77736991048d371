// The yardstick server and the measuring rig around it: a load of every size that
// matters arrives whole through the C64 side's burst port and timing port, and the
// timing port sees one turn per block.
#include "bench/instant_server.h"

#include <gtest/gtest.h>

#include "bench/served_peer.h"
#include "bench/temp_dir.h"

namespace dorvane::bench {
namespace {

TEST(InstantServerTest, ServesWholeFilesThroughTheMeasuringRig) {
  TempDir dir("dorvane-instant-test-");
  // Empty, one short block, exactly one block, and one block and a byte.
  for (const std::size_t size : {0u, 1u, 255u, 256u, 3000u}) {
    std::vector<std::uint8_t> file(size);
    for (std::size_t i = 0; i < size; ++i) file[i] = static_cast<std::uint8_t>(i * 31 + 7);
    ServedPeerOptions options;
    options.log_path = dir.Path() / "log";
    options.burst_writes = true;
    options.instant_file = file;
    ServedPeer served(options);

    const peer::LoadResult result = served.Peer().Load("anything");
    ASSERT_TRUE(result.Succeeded) << size << ": " << result.Describe();
    EXPECT_EQ(result.Data, file) << size;
    // One turn after each stOk of the C64 that brought a block.
    EXPECT_EQ(TurnaroundsAfterOk(served.Timing().Turns()).size(), (size + 254) / 255) << size;
    EXPECT_THROW(served.Server(), std::logic_error);
  }
}

}  // namespace
}  // namespace dorvane::bench
