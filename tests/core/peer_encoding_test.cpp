// How the peer puts bytes on the line: names in PETSCII as the C64 types them, and
// every byte at the pace of a real cable when asked to.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "link/wire_format.h"
#include "service/received_name.h"
#include "tools/peer/paced_port.h"
#include "tools/peer/petscii.h"

namespace dorvane::testing {
namespace {

using namespace std::chrono_literals;

TEST(PeerPetscii, LettersOfBothCasesAndOtherBytes) {
  struct Case {
    char in;
    std::uint8_t out;
  };
  const Case cases[] = {
      {'a', 0x41}, {'m', 0x4D}, {'z', 0x5A},  {'A', 0xC1},    {'M', 0xCD},
      {'Z', 0xDA}, {'@', 0x40}, {'[', 0x5B},  {'`', 0x60},    {'{', 0x7B},
      {'0', 0x30}, {'9', 0x39}, {'$', 0x24},  {':', 0x3A},    {'/', 0x2F},
      {'*', 0x2A}, {'=', 0x3D}, {'\0', 0x00}, {'\xC1', 0xC1}, {'\xFF', 0xFF},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(peer::ToPetscii(std::string(1, c.in)), std::vector<std::uint8_t>{c.out})
        << "byte " << static_cast<int>(static_cast<std::uint8_t>(c.in));
  }
  EXPECT_TRUE(peer::ToPetscii("").empty());
}

TEST(PeerPetscii, ServerReadsEveryLetterBackInLowerCase) {
  const std::string typed = "Hello.PRG games/Intro $0 a=b";
  const std::vector<std::uint8_t> sent = peer::ToPetscii(typed);
  Packet packet;
  packet.Length = static_cast<std::uint8_t>(sent.size());
  std::copy(sent.begin(), sent.end(), packet.Payload.begin());
  EXPECT_EQ(ConvertReceivedName(packet), "hello.prg games/intro $0 a=b");
}

// The far end of a paced port: notes when each byte was handed over.
class TimedSink : public SerialPort {
 public:
  explicit TimedSink(std::chrono::nanoseconds& now) : now_(now) {}
  bool ReadAttempt(std::uint8_t&) override { return false; }
  bool WriteAttempt(std::uint8_t) override {
    times.push_back(now_);
    return true;
  }
  std::vector<std::chrono::nanoseconds> times;

 private:
  std::chrono::nanoseconds& now_;
};

struct PacedRig {
  std::chrono::nanoseconds now{0};
  TimedSink sink{now};
  // Each look at the clock costs a microsecond, as a real one costs a little.
  peer::PacedPort port{sink, peer::ByteTime115200, [this] { return now += 1us; }};
};

TEST(PeerPacing, BytesKeepTheCablesRateWithoutDrift) {
  PacedRig rig;
  for (int i = 0; i < 1000; ++i) ASSERT_TRUE(rig.port.WriteAttempt(0x55));
  ASSERT_EQ(rig.sink.times.size(), 1000u);
  const auto start = rig.sink.times[0];
  for (std::size_t k = 1; k < rig.sink.times.size(); ++k) {
    const auto due = start + static_cast<long>(k) * peer::ByteTime115200;
    EXPECT_GE(rig.sink.times[k], due) << "byte " << k;
    EXPECT_LT(rig.sink.times[k], due + 3us) << "byte " << k;
  }
  EXPECT_EQ(rig.port.BytesWritten(), 1000u);
}

TEST(PeerPacing, AWriterThatFellBehindIsNotHeldBackToCatchUp) {
  PacedRig rig;
  rig.port.WriteAttempt(1);
  rig.now += 1s;  // waiting for the server's answer
  const auto resumed = rig.now;
  rig.port.WriteAttempt(2);
  rig.port.WriteAttempt(3);
  ASSERT_EQ(rig.sink.times.size(), 3u);
  EXPECT_LT(rig.sink.times[1] - resumed, 3us);
  EXPECT_GE(rig.sink.times[2] - rig.sink.times[1], peer::ByteTime115200 - 1us);
  EXPECT_LT(rig.sink.times[2] - rig.sink.times[1], peer::ByteTime115200 + 3us);
}

TEST(PeerPacing, NoIntervalWritesAtOnce) {
  std::chrono::nanoseconds now{0};
  TimedSink sink{now};
  peer::PacedPort port{sink, 0ns, [&] { return now += 1us; }};
  for (int i = 0; i < 10; ++i) port.WriteAttempt(0);
  EXPECT_EQ(now, 0ns);  // never looked at the clock
  EXPECT_EQ(sink.times.size(), 10u);
}

}  // namespace
}  // namespace dorvane::testing
