// The link on the host's own port and clock, with the C64 played on a
// pseudo-terminal master: the pieces that the fakes stand in for elsewhere.
#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "link/link.h"
#include "link/monotonic_clock.h"
#include "ports/pty_pair.h"
#include "ports/termios_port.h"
#include "tests/support/fakes.h"

namespace dorvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(LinkOverPty, PacketsCrossTheRealPortBothWays) {
  PtyPair pair = OpenPtyPair();
  testing::RecordingPanel panel;
  testing::FakePortProvider unused_ports;
  MonotonicClock clock;
  Link link(panel, clock, unused_ports);
  link.PortHandle = TermiosPort::Open(pair.slave_path);
  ASSERT_NE(link.PortHandle, nullptr);
  auto c64 = TermiosPort::Adopt(std::exchange(pair.master, -1));

  // The "$" load request, as the C64 sends it.
  for (std::uint8_t b : {0x01, 0x01, 0x9A, 0x24, 0x42}) {
    int tries = 0;
    while (!c64->WriteAttempt(b) && ++tries < 2000) {
    }
  }
  link.LinkTimeoutMs = OneSecondMs;
  link.ReceivePacket();
  ASSERT_FALSE(link.TimedOut);
  EXPECT_FALSE(link.ReceivedPacket.HeaderCrcError);
  EXPECT_EQ(link.ReceivedPacket.Type, ptLoad);
  EXPECT_EQ(link.ReceivedPacket.Length, 1);
  EXPECT_EQ(link.ReceivedPacket.Payload[0], '$');

  link.SendStatus(stOk);
  ASSERT_FALSE(link.TimedOut);
  Bytes got;
  std::uint8_t b = 0;
  for (int tries = 0; got.size() < 3 && tries < 2000; ++tries) {
    if (c64->ReadAttempt(b)) got.push_back(b);
  }
  EXPECT_EQ(got, (Bytes{0x80, 0x00, 0x2F}));

  ClosePtyPair(pair);
}

}  // namespace
}  // namespace dorvane
