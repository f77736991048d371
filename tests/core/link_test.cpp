// The link's timed byte reads and writes, driven by a scripted port and a fake clock:
// every empty attempt costs 2 ms of fake time and nothing sleeps.
#include "link/link.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/fakes.h"

namespace dorvane {
namespace {

using testing::LinkRig;
using testing::Split;
using testing::Whole;

// A wait that never ends would hang the test run; after this many pumps the rig
// plays the operator and presses Quit, and the test then fails on its flags.
constexpr int kRunawayPumps = 200000;

void StopAfterPumps(LinkRig& rig, int pumps) {
  rig.panel.on_pump = [&rig, pumps] {
    if (rig.panel.pump_count >= pumps) rig.link.StopRequested = true;
  };
}

TEST(ReadByte, WithoutLimitWaitsThroughLongSilenceForTheByte) {
  LinkRig rig;
  StopAfterPumps(rig, kRunawayPumps);
  rig.link.LinkTimeoutMs = 0;
  rig.port->Silence(120000);  // two minutes: far past any limit in use
  rig.port->Feed({0x10});

  EXPECT_EQ(rig.link.ReadByte(), 0x10);
  EXPECT_FALSE(rig.link.TimedOut);
  EXPECT_FALSE(rig.link.StopRequested);
  EXPECT_GE(rig.clock.now, 120000u);
}

TEST(ReadByte, WithoutLimitOnASilentLineEndsOnlyByStop) {
  LinkRig rig;
  rig.link.LinkTimeoutMs = 0;
  StopAfterPumps(rig, 50000);  // 100 s of fake time

  rig.link.ReadByte();
  EXPECT_TRUE(rig.link.StopRequested);
  EXPECT_FALSE(rig.link.TimedOut);
  EXPECT_EQ(rig.port->read_attempts, 50000);
}

// With 2 ms attempts the polls fall at 0, 2, ..., 1000 ms (elapsed 1000 is not past
// the limit), then at 1002 ms, which sets TimedOut; that pass still makes its
// attempt. 502 attempts in all; tripping at exactly 1000 ms would make 501.
TEST(ReadByte, TimesOutAtTheFirstPollStrictlyPastTheLimit) {
  struct Case {
    const char* name;
    std::uint32_t start;
  };
  const Case cases[] = {
      {"from zero", 0},
      {"across the 32-bit wrap", 0xFFFFFFFFu - 500},
      {"starting one tick before the wrap", 0xFFFFFFFFu},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LinkRig rig;
    StopAfterPumps(rig, kRunawayPumps);
    rig.clock.now = c.start;
    rig.link.LinkTimeoutMs = 1000;

    rig.link.ReadByte();
    EXPECT_TRUE(rig.link.TimedOut);
    EXPECT_FALSE(rig.link.StopRequested);
    EXPECT_EQ(rig.port->read_attempts, 502);
    EXPECT_EQ(static_cast<std::uint32_t>(rig.clock.now - c.start), 1004u);
  }
}

// Where a byte that comes late lands: before the limit it is an ordinary byte; in the
// attempt right after the limit passed it is taken off the line and comes back with
// TimedOut set.
TEST(ReadByte, ByteAroundTheLimitIsTakenEitherWay) {
  struct Case {
    std::uint32_t silence_ms;
    bool timed_out;
  };
  const Case cases[] = {
      {998, false},
      {1000, false},  // polled at exactly 1000 ms: not yet past
      {1001, true},   // the attempt at 1000 ms ends at 1002 ms; the next poll trips
      {1002, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.silence_ms);
    LinkRig rig;
    StopAfterPumps(rig, kRunawayPumps);
    rig.link.LinkTimeoutMs = 1000;
    rig.port->Silence(c.silence_ms);
    rig.port->Feed({0xA5, 0x5A});

    EXPECT_EQ(rig.link.ReadByte(), 0xA5);
    EXPECT_EQ(rig.link.TimedOut, c.timed_out);
    EXPECT_EQ(rig.Unread(), 1u);  // consumed in both cases
  }
}

TEST(ReadByte, OnlyAWaitWithoutLimitLetsThePortSleepForInput) {
  struct Case {
    std::uint16_t limit_ms;
    std::uint16_t idle_wait_ms;
    bool sleeps;
  };
  const Case cases[] = {{0, 100, true}, {1000, 100, false}, {0, 0, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.limit_ms << " ms limit, idle wait " << c.idle_wait_ms);
    LinkRig rig;
    rig.link.LinkTimeoutMs = c.limit_ms;
    rig.link.IdleWaitMs = c.idle_wait_ms;
    rig.port->Silence(10);
    rig.port->Feed({0x42});

    EXPECT_EQ(rig.link.ReadByte(), 0x42);
    if (c.sleeps) {
      // Before every attempt, the byte's own included: the sleep ends when it comes.
      EXPECT_EQ(rig.port->awaited_ms, std::vector<long>(rig.port->read_attempts, 100));
    } else {
      EXPECT_TRUE(rig.port->awaited_ms.empty());
    }
  }
}

TEST(ReadByte, StopSetOnEntryMakesExactlyOneAttempt) {
  for (bool byte_waiting : {false, true}) {
    SCOPED_TRACE(byte_waiting);
    LinkRig rig;
    rig.link.LinkTimeoutMs = 0;
    rig.link.StopRequested = true;
    if (byte_waiting) rig.port->Feed({0x42});

    rig.link.ReadByte();
    EXPECT_EQ(rig.port->read_attempts, 1);
    EXPECT_EQ(rig.panel.pump_count, 1);
    EXPECT_TRUE(rig.link.StopRequested);
  }
}

TEST(WriteByte, StopSetOnEntryPumpsOnceAndWritesNothing) {
  LinkRig rig;
  rig.link.StopRequested = true;
  rig.link.WriteByte(0xEF);
  EXPECT_EQ(rig.panel.pump_count, 1);
  EXPECT_EQ(rig.port->write_attempts, 0);
  EXPECT_TRUE(rig.port->written.empty());
}

TEST(WriteByte, APortThatTakesTheByteLateStillGetsItOnce) {
  LinkRig rig;
  rig.link.LinkTimeoutMs = 1000;
  rig.port->refuse_writes = 10;  // CTS held off for ten attempts
  rig.link.WriteByte(0xEF);
  EXPECT_EQ(rig.port->written, std::vector<std::uint8_t>{0xEF});
  EXPECT_FALSE(rig.link.TimedOut);
  // Events ran between the refused attempts, not only once at the start.
  EXPECT_EQ(rig.panel.pump_count, 11);
}

// While the port takes nothing at all (CTS never raised, device gone), the write
// must still end: on the limit, or on the operator's stop when there is none.
TEST(WriteByte, APortThatNeverTakesEndsOnTheLimitOrTheStop) {
  struct Case {
    const char* name;
    std::uint16_t limit_ms;
    int stop_after_pumps;
    bool timed_out;
    bool stopped;
  };
  const Case cases[] = {
      {"one-second limit", 1000, kRunawayPumps, true, false},
      {"no limit, Quit pressed", 0, 300, false, true},
      {"limit, Quit pressed first", 1000, 100, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LinkRig rig;
    StopAfterPumps(rig, c.stop_after_pumps);
    rig.link.LinkTimeoutMs = c.limit_ms;
    rig.port->refuse_writes = -1;

    rig.link.WriteByte(0xEF);
    EXPECT_TRUE(rig.port->written.empty());
    EXPECT_EQ(rig.link.TimedOut, c.timed_out);
    EXPECT_EQ(rig.link.StopRequested, c.stopped);
    EXPECT_GT(rig.port->write_attempts, 1);
  }
}

TEST(WriteByte, LimitTripsAtTheFirstPollStrictlyPastIt) {
  LinkRig rig;
  StopAfterPumps(rig, kRunawayPumps);
  rig.clock.now = 0xFFFFFFFFu - 300;  // and across the wrap
  rig.link.LinkTimeoutMs = 1000;
  rig.port->refuse_writes = -1;
  rig.link.WriteByte(0x00);
  // Refused attempts after the polls at 0, 2, ..., 1000 ms; the poll at 1002 ms
  // trips and no attempt follows it.
  EXPECT_TRUE(rig.link.TimedOut);
  EXPECT_EQ(rig.port->write_attempts, 501);
}

// --- Runs of bytes ----------------------------------------------------------------

Split WholeRuns() { return {"whole", {Whole}, {Whole}}; }

TEST(LinkRuns, OneReadTakesThePacketAndEveryByteStillPumpsEvents) {
  LinkRig rig;
  rig.port->UseSplit(WholeRuns());
  rig.port->Feed({0x00, 0x03, 0xE2, 0x61, 0x62, 0x63, 0x42, 0x10});

  rig.link.ReceivePacket();
  EXPECT_FALSE(rig.link.TimedOut);
  EXPECT_FALSE(rig.link.ReceivedPacket.PayloadCrcError);
  EXPECT_EQ(rig.link.ReceivedPacket.Payload[2], 0x63);
  EXPECT_EQ(rig.port->read_attempts, 1);
  EXPECT_EQ(rig.panel.pump_count, 7);  // one before each byte, buffered or not
  EXPECT_EQ(rig.link.BufferedInput(), 1u);
  EXPECT_EQ(rig.link.ReadByte(), 0x10);
  EXPECT_EQ(rig.port->read_attempts, 1);
}

// Bytes the link took from the old line but did not hand out yet are dropped with
// the session; the first byte after the event is the next session's first.
TEST(LinkRuns, AnEventThatEndsTheSessionDropsTheOldLinesBufferedBytes) {
  LinkRig rig;
  rig.port->UseSplit(WholeRuns());
  rig.port->Feed({0x01, 0x02, 0x03});
  EXPECT_EQ(rig.link.ReadByte(), 0x01);
  ASSERT_EQ(rig.link.BufferedInput(), 2u);

  rig.port->ReportNow({"Port lost", true});
  rig.port->Feed({0x2A});  // the new session's first byte
  rig.link.ReadByte();
  EXPECT_TRUE(rig.link.LineReset);
  EXPECT_EQ(rig.link.BufferedInput(), 0u);
  EXPECT_EQ(rig.port->Pending(), 1u);  // not taken: it belongs to the next session
  EXPECT_EQ(rig.panel.log, std::vector<std::string>{"Port lost"});

  rig.link.LineReset = false;  // the server started over
  EXPECT_EQ(rig.link.ReadByte(), 0x2A);
  EXPECT_FALSE(rig.link.Interrupted());
}

TEST(LinkRuns, AnEventThatKeepsTheSessionKeepsTheBufferedBytes) {
  LinkRig rig;
  rig.port->UseSplit(WholeRuns());
  rig.port->Feed({0x01, 0x02});
  EXPECT_EQ(rig.link.ReadByte(), 0x01);
  rig.port->ReportNow({"Port back", false});
  EXPECT_EQ(rig.link.ReadByte(), 0x02);
  EXPECT_FALSE(rig.link.LineReset);
}

TEST(LinkRuns, APortOpenedAfreshStartsWithNothingFromTheOldOne) {
  LinkRig rig;
  rig.port->UseSplit(WholeRuns());
  rig.port->Feed({0x01, 0x02, 0x03});
  EXPECT_EQ(rig.link.ReadByte(), 0x01);
  auto fresh = std::make_unique<testing::ScriptedPort>(rig.clock);
  fresh->Feed({0x7F});
  rig.ports.port = std::move(fresh);

  rig.link.PortHandle = rig.link.OpenPort();
  EXPECT_EQ(rig.link.BufferedInput(), 0u);
  EXPECT_EQ(rig.link.ReadByte(), 0x7F);
}

TEST(LinkRuns, APacketGoesToThePortInOneWrite) {
  LinkRig rig;
  rig.port->UseSplit(WholeRuns());
  rig.link.OutgoingPacket.Type = ptData;
  rig.link.OutgoingPacket.Length = 255;
  rig.link.SendPacket();
  EXPECT_EQ(rig.port->write_attempts, 1);
  EXPECT_EQ(rig.port->written.size(), 259u);
}

// The limit is for each wait on the port, not for the whole run: a port that takes
// one byte every 800 ms writes the packet however long it takes in all, and one that
// stalls longer than the limit in the middle ends it there.
TEST(LinkRuns, TheLimitStartsAfreshWheneverThePortTookPartOfTheRun) {
  struct Case {
    int refused_after_each_byte;
    std::size_t written;
    bool timed_out;
  };
  const Case cases[] = {{400, 7, false}, {501, 1, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.refused_after_each_byte);
    LinkRig rig;
    StopAfterPumps(rig, kRunawayPumps);
    rig.port->UseSplit(WholeRuns());
    rig.link.LinkTimeoutMs = 1000;
    rig.port->on_written = [&rig, &c](std::uint8_t) {
      rig.port->refuse_writes = c.refused_after_each_byte;
    };
    rig.link.OutgoingPacket.Type = ptData;
    rig.link.OutgoingPacket.Length = 3;
    rig.link.SendPacket();
    EXPECT_EQ(rig.port->written.size(), c.written);
    EXPECT_EQ(rig.link.TimedOut, c.timed_out);
  }
}

TEST(LinkRuns, AFrontEndThatWaitsByItselfStandsInForThePortsSleep) {
  LinkRig rig;
  rig.link.IdleWaitMs = 100;
  std::vector<long> waits;
  rig.panel.on_await = [&](SerialPort& port, std::chrono::milliseconds longest) {
    EXPECT_EQ(&port, rig.link.PortHandle.get());
    waits.push_back(longest.count());
  };
  rig.port->Silence(6);
  rig.port->Feed({0x42});

  EXPECT_EQ(rig.link.ReadByte(), 0x42);
  EXPECT_EQ(waits, std::vector<long>(static_cast<std::size_t>(rig.port->read_attempts), 100));
  EXPECT_TRUE(rig.port->awaited_ms.empty());
}

TEST(OpenPort, ChoiceNamesThePortAndTheLineIsLoggedBeforeTheOpen) {
  LinkRig rig;
  rig.panel.port_choice = 2;
  // The provider has no port to give: COM3 is absent.
  EXPECT_EQ(rig.link.OpenPort(), nullptr);
  EXPECT_EQ(rig.link.PortName, "COM3");
  EXPECT_EQ(rig.ports.opened, std::vector<std::string>{"COM3"});
  EXPECT_EQ(rig.panel.log, std::vector<std::string>{"Initialising port COM3"});
}

}  // namespace
}  // namespace dorvane
