// Packets on the wire: the exact bytes the server sends, and how much of the line a
// receive consumes in each outcome. Expected bytes are the published ones, written
// out by hand rather than computed.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "link/link.h"
#include "link/wire_format.h"
#include "tests/support/fakes.h"
#include "tests/support/split_test.h"

namespace dorvane {
namespace {

using testing::LinkRig;
using testing::SplitTest;
using Bytes = std::vector<std::uint8_t>;

constexpr int kRunawayPumps = 200000;

void GuardAgainstRunaway(LinkRig& rig) {
  rig.panel.on_pump = [&rig] {
    if (rig.panel.pump_count >= kRunawayPumps) rig.link.StopRequested = true;
  };
}

void SetOutgoing(Link& link, std::uint8_t type, const Bytes& payload) {
  link.OutgoingPacket.Type = type;
  link.OutgoingPacket.Length = static_cast<std::uint8_t>(payload.size());
  for (std::size_t i = 0; i < payload.size(); ++i) link.OutgoingPacket.Payload[i] = payload[i];
}

// --- Sending -------------------------------------------------------------------

// Every test here runs once for each way of cutting the bytes into runs.
class SendStatus : public SplitTest {};
class SendPacket : public SplitTest {};
class ReceivePacket : public SplitTest {};
INSTANTIATE_SPLITS(SendStatus);
INSTANTIATE_SPLITS(SendPacket);
INSTANTIATE_SPLITS(ReceivePacket);

TEST_P(SendStatus, EveryStatusGoesOutAsItsThreePublishedBytes) {
  struct Case {
    std::uint8_t code;
    Bytes wire;
  };
  const Case cases[] = {
      {stOk, {0x80, 0x00, 0x2F}},          {stEndOfFile, {0x81, 0x00, 0xEB}},
      {stRepeat, {0x82, 0x00, 0xBE}},      {stOpenError, {0x83, 0x00, 0x7A}},
      {stDeleteError, {0x84, 0x00, 0x14}}, {stRenameError, {0x85, 0x00, 0xD0}},
      {stAbort, {0x89, 0x00, 0x9D}},       {stError, {0xFF, 0x00, 0x81}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(StatusName(c.code));
    LinkRig rig;
    rig.link.LinkTimeoutMs = 1000;
    // A payload left from an earlier block must not leak into the status.
    SetOutgoing(rig.link, ptData, {0x61, 0x62, 0x63});
    rig.link.SendStatus(c.code);
    EXPECT_EQ(rig.port->written, c.wire);
    EXPECT_FALSE(rig.link.TimedOut);
  }
}

TEST_P(SendPacket, PacketsWithPayloadGoOutAsTheirPublishedBytes) {
  struct Case {
    const char* name;
    std::uint8_t type;
    Bytes payload;
    Bytes wire;
  };
  const Case cases[] = {
      {"data block \"abc\"",
       ptData,
       {0x61, 0x62, 0x63},
       {0x00, 0x03, 0xE2, 0x61, 0x62, 0x63, 0x42}},
      {"load request for \"$\"", ptLoad, {0x24}, {0x01, 0x01, 0x9A, 0x24, 0x42}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LinkRig rig;
    SetOutgoing(rig.link, c.type, c.payload);
    rig.link.SendPacket();
    EXPECT_EQ(rig.port->written, c.wire);
  }
}

TEST_P(SendPacket, ASecondCallRepeatsTheSameBytes) {
  LinkRig rig;
  SetOutgoing(rig.link, ptData, {0x61, 0x62, 0x63});
  rig.link.SendPacket();
  rig.link.SendPacket();
  const Bytes once = {0x00, 0x03, 0xE2, 0x61, 0x62, 0x63, 0x42};
  Bytes twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(rig.port->written, twice);
}

TEST_P(SendPacket, AfterAStatusTheRepeatIsThatStatusNotTheEarlierBlock) {
  LinkRig rig;
  SetOutgoing(rig.link, ptData, {0x61, 0x62, 0x63});
  rig.link.SendPacket();
  rig.link.SendStatus(stRepeat);
  rig.link.SendPacket();
  const Bytes expected = {0x00, 0x03, 0xE2, 0x61, 0x62, 0x63, 0x42,
                          0x82, 0x00, 0xBE, 0x82, 0x00, 0xBE};
  EXPECT_EQ(rig.port->written, expected);
  // The old payload stays in the record; only type and length changed.
  EXPECT_EQ(rig.link.OutgoingPacket.Payload[0], 0x61);
}

// The peer drops CTS after `taken` bytes and never raises it again: the byte then
// on offer times out after 501 refused attempts and nothing after it is tried.
TEST_P(SendPacket, AByteThatCannotGoOutEndsThePacketThere) {
  const Bytes wire = {0x00, 0x03, 0xE2, 0x61, 0x62, 0x63, 0x42};
  for (std::size_t taken : {0u, 1u, 2u, 3u, 4u, 6u}) {
    SCOPED_TRACE(taken);
    LinkRig rig;
    GuardAgainstRunaway(rig);
    rig.link.LinkTimeoutMs = 1000;
    SetOutgoing(rig.link, ptData, {0x61, 0x62, 0x63});
    if (taken == 0) rig.port->refuse_writes = -1;
    rig.port->on_written = [&rig, taken](std::uint8_t) {
      if (rig.port->written.size() == taken) rig.port->refuse_writes = -1;
    };
    rig.link.SendPacket();
    EXPECT_TRUE(rig.link.TimedOut);
    EXPECT_FALSE(rig.link.StopRequested);
    EXPECT_EQ(rig.port->written, Bytes(wire.begin(), wire.begin() + static_cast<long>(taken)));
    EXPECT_EQ(rig.port->refused_writes, 501);
  }
}

TEST_P(SendPacket, NothingGoesOutOnceStopIsSet) {
  LinkRig rig;
  rig.link.StopRequested = true;
  SetOutgoing(rig.link, ptData, {0x61, 0x62, 0x63});
  rig.link.SendPacket();
  EXPECT_TRUE(rig.port->written.empty());
}

// --- Receiving -----------------------------------------------------------------

TEST_P(ReceivePacket, ConsumesExactlyItsOwnBytes) {
  struct Case {
    const char* name;
    Bytes wire;
  };
  // ptData, length 255: the header CRC is table entry 0 ^ 0xFF, the table's last.
  Bytes full = {0x00, 0xFF, 0x35};
  for (int i = 0; i < 255; ++i) full.push_back(static_cast<std::uint8_t>(i));
  full.push_back(0xC9);  // whatever CRC byte came: it must land in Payload[255]
  const Case cases[] = {
      {"status, length 0", {0x80, 0x00, 0x2F}},
      {"\"abc\"", {0x00, 0x03, 0xE2, 0x61, 0x62, 0x63, 0x42}},
      {"length 255", full},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LinkRig rig;
    GuardAgainstRunaway(rig);
    rig.port->Feed(c.wire);
    rig.port->Feed({0x10});  // the start of whatever comes next

    rig.link.ReceivePacket();
    const Packet& p = rig.link.ReceivedPacket;
    EXPECT_FALSE(rig.link.TimedOut);
    EXPECT_FALSE(p.HeaderCrcError);
    EXPECT_EQ(rig.Unread(), 1u);
    EXPECT_EQ(p.Type, c.wire[0]);
    ASSERT_EQ(p.Length, c.wire[1]);
    EXPECT_EQ(p.HeaderCrc, c.wire[2]);
    if (p.Length > 0) {
      const Bytes got(p.Payload.begin(), p.Payload.begin() + p.Length + 1);
      EXPECT_EQ(got, Bytes(c.wire.begin() + 3, c.wire.end()));
    }
  }
}

TEST_P(ReceivePacket, BadHeaderLeavesThePayloadForTheNextReceive) {
  LinkRig rig;
  GuardAgainstRunaway(rig);
  rig.link.ReceivedPacket.Payload[0] = 0x77;
  // A data header with a wrong CRC, whose three payload bytes happen to be an stOk
  // status, then the payload's CRC byte.
  rig.port->Feed({0x00, 0x03, 0xE3, 0x80, 0x00, 0x2F, 0x5D});

  rig.link.ReceivePacket();
  const Packet& p = rig.link.ReceivedPacket;
  EXPECT_TRUE(p.HeaderCrcError);
  EXPECT_FALSE(rig.link.TimedOut);
  EXPECT_EQ(p.Type, 0x00);
  EXPECT_EQ(p.Length, 3);
  EXPECT_EQ(p.HeaderCrc, 0xE3);
  EXPECT_EQ(p.Payload[0], 0x77);  // untouched
  EXPECT_EQ(rig.Unread(), 4u);

  rig.link.ReceivePacket();
  EXPECT_FALSE(p.HeaderCrcError);
  EXPECT_EQ(p.Type, stOk);
  EXPECT_EQ(p.Length, 0);
  EXPECT_EQ(rig.Unread(), 1u);
}

TEST_P(ReceivePacket, PayloadCrcIsReportedButThePacketIsStillDelivered) {
  struct Case {
    std::uint8_t crc_byte;
    bool payload_error;
  };
  const Case cases[] = {{0x42, false}, {0x43, true}, {0x00, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.crc_byte));
    LinkRig rig;
    GuardAgainstRunaway(rig);
    rig.port->Feed({0x00, 0x03, 0xE2, 0x61, 0x62, 0x63, c.crc_byte});
    rig.link.ReceivePacket();
    const Packet& p = rig.link.ReceivedPacket;
    EXPECT_FALSE(rig.link.TimedOut);
    EXPECT_FALSE(rig.link.StopRequested);
    EXPECT_FALSE(p.HeaderCrcError);
    EXPECT_EQ(p.PayloadCrcError, c.payload_error);
    EXPECT_EQ(p.Length, 3);
    EXPECT_EQ(p.Payload[0], 0x61);
    EXPECT_EQ(p.Payload[2], 0x63);
    EXPECT_EQ(p.Payload[3], c.crc_byte);
    EXPECT_EQ(rig.Unread(), 0u);
  }
}

TEST_P(ReceivePacket, ErrorFlagsOfTheLastPacketDoNotStick) {
  LinkRig rig;
  rig.port->Feed({0x00, 0x03, 0xE3});                          // bad header
  rig.port->Feed({0x00, 0x03, 0xE2, 0x61, 0x62, 0x63, 0x00});  // bad payload CRC
  rig.port->Feed({0x00, 0x03, 0xE2, 0x61, 0x62, 0x63, 0x42});  // sound
  rig.link.ReceivePacket();
  EXPECT_TRUE(rig.link.ReceivedPacket.HeaderCrcError);
  rig.link.ReceivePacket();
  EXPECT_FALSE(rig.link.ReceivedPacket.HeaderCrcError);
  EXPECT_TRUE(rig.link.ReceivedPacket.PayloadCrcError);
  rig.link.ReceivePacket();
  EXPECT_FALSE(rig.link.ReceivedPacket.HeaderCrcError);
  EXPECT_FALSE(rig.link.ReceivedPacket.PayloadCrcError);
}

// The first byte waits under the caller's limit; once it has come every further byte
// has one second, and LinkTimeoutMs stays at 1000 whatever happens next. 500 ms is
// used as the caller's limit here only so that "unchanged" can be told apart.
TEST_P(ReceivePacket, LinkTimeoutAfterEachOutcome) {
  struct Case {
    const char* name;
    std::uint16_t caller_limit;
    Bytes before;      // bytes that come at once
    int stop_at_pump;  // 0: no stop
    bool timed_out;
    bool stopped;
    std::uint16_t limit_after;
  };
  const Case cases[] = {
      {"type byte times out", 500, {}, 0, true, false, 500},
      {"stopped while waiting for the type byte", 0, {}, 100, false, true, 0},
      {"length byte times out", 0, {0x80}, 0, true, false, 1000},
      {"header CRC byte times out", 500, {0x80, 0x00}, 0, true, false, 1000},
      {"payload byte times out", 0, {0x00, 0x03, 0xE2, 0x61}, 0, true, false, 1000},
      {"payload CRC byte times out", 0, {0x00, 0x03, 0xE2, 0x61, 0x62, 0x63}, 0, true, false, 1000},
      {"stopped inside the payload", 0, {0x00, 0x03, 0xE2, 0x61}, 120, false, true, 1000},
      {"status received", 0, {0x80, 0x00, 0x2F}, 0, false, false, 1000},
      {"bad header", 500, {0x80, 0x00, 0x2E}, 0, false, false, 1000},
      {"bad payload CRC", 0, {0x00, 0x01, 0x5E, 0x24, 0x00}, 0, false, false, 1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LinkRig rig;
    const int stop_at = c.stop_at_pump > 0 ? c.stop_at_pump : kRunawayPumps;
    rig.panel.on_pump = [&rig, stop_at] {
      if (rig.panel.pump_count >= stop_at) rig.link.StopRequested = true;
    };
    rig.link.LinkTimeoutMs = c.caller_limit;
    rig.port->Feed(c.before);

    rig.link.ReceivePacket();
    EXPECT_EQ(rig.link.TimedOut, c.timed_out);
    EXPECT_EQ(rig.link.StopRequested, c.stopped);
    EXPECT_EQ(rig.link.LinkTimeoutMs, c.limit_after);
  }
}

TEST_P(ReceivePacket, SlowBytesEachWithinASecondMakeAWholePacket) {
  LinkRig rig;
  GuardAgainstRunaway(rig);
  rig.link.LinkTimeoutMs = 1000;
  for (std::uint8_t b : {0x01, 0x01, 0x9A, 0x24, 0x42}) {
    rig.port->Silence(990);
    rig.port->Feed({b});
  }
  rig.link.ReceivePacket();
  EXPECT_FALSE(rig.link.TimedOut);
  EXPECT_FALSE(rig.link.ReceivedPacket.HeaderCrcError);
  EXPECT_FALSE(rig.link.ReceivedPacket.PayloadCrcError);
  EXPECT_EQ(rig.link.ReceivedPacket.Type, ptLoad);
  EXPECT_EQ(rig.link.ReceivedPacket.Payload[0], '$');
  EXPECT_GT(rig.clock.now, 4000u);  // far longer than one limit in all
}

}  // namespace
}  // namespace dorvane
