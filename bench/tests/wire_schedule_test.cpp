// The cable's timetable: bytes reach the far end one byte time after they start,
// back to back while they queue, and never drift.
#include "bench/wire_schedule.h"

#include <gtest/gtest.h>

#include "tools/peer/paced_port.h"

namespace dorvane::bench {
namespace {

constexpr Nanos Byte = peer::ByteTime115200;

TEST(WireScheduleTest, AByteOnAnIdleLineArrivesOneByteTimeLater) {
  WireSchedule wire(Byte);
  EXPECT_EQ(wire.Deliver(Nanos(1'000'000)), Nanos(1'000'000) + Byte);
  // Long after, the line is idle again.
  EXPECT_EQ(wire.Deliver(Nanos(5'000'000)), Nanos(5'000'000) + Byte);
}

TEST(WireScheduleTest, ABlockHandedOverAtOnceTakesExactlyItsByteTimes) {
  // A server writes its 259-byte packet far faster than the wire: byte k arrives
  // (k + 1) byte times after the start, the last one after 259, with no drift.
  WireSchedule wire(Byte);
  const Nanos start(2'000'000);
  Nanos last{};
  for (int k = 0; k < 259; ++k) {
    last = wire.Deliver(start + Nanos(k * 1000));  // handed over 1 us apart
    ASSERT_EQ(last, start + (k + 1) * Byte) << k;
  }
  EXPECT_EQ(last - start, 259 * Byte);
}

TEST(WireScheduleTest, AByteHandedOverWhileTheLineIsBusyWaitsForIt) {
  WireSchedule wire(Byte);
  const Nanos first = wire.Deliver(Nanos(0));
  // Half a byte time later the line is still busy with the first byte.
  EXPECT_EQ(wire.Deliver(Byte / 2), first + Byte);
  // Handed over after the line fell idle: no credit for the idle time.
  const Nanos later = first + Byte + 3 * Byte;
  EXPECT_EQ(wire.Deliver(later), later + Byte);
}

TEST(WireScheduleTest, TheCeilingFollowsFromTheByteTime) {
  // 262 wire bytes for every 255 payload bytes at 115200 baud 8N1: 11,212 a second.
  WireSchedule wire(Byte);
  Nanos last{};
  for (int k = 0; k < 262; ++k) last = wire.Deliver(Nanos(0));
  const double per_second = 255.0 / std::chrono::duration<double>(last).count();
  EXPECT_NEAR(per_second, 11212, 1);
}

}  // namespace
}  // namespace dorvane::bench
