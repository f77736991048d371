// The C64's end of a pseudo-terminal hands each packet over whole, in one piece,
// and whatever is pending when the peer turns to listen.
#include "bench/burst_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <vector>

#include "ports/pty_pair.h"

namespace dorvane::bench {
namespace {

using Bytes = std::vector<std::uint8_t>;

class BurstPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pair = OpenPtyPair();
    const int slave = ::open(pair.slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(slave, 0);
    port = std::make_unique<BurstPort>(slave);
  }
  void TearDown() override {
    port.reset();
    ClosePtyPair(pair);
  }

  // What reaches the other end within `patience_ms` (a bound, not a measurement).
  Bytes Arrived(int patience_ms = 2000, std::size_t expected = 1) {
    Bytes got;
    while (got.size() < expected) {
      pollfd p{pair.master, POLLIN, 0};
      if (::poll(&p, 1, patience_ms) <= 0) break;
      std::uint8_t buffer[600];
      const ssize_t n = ::read(pair.master, buffer, sizeof buffer);
      if (n <= 0) break;
      got.insert(got.end(), buffer, buffer + n);
    }
    return got;
  }
  // Nothing reaches the other end for a while.
  bool Quiet() { return Arrived(50).empty(); }

  void Write(const Bytes& bytes) {
    for (std::uint8_t b : bytes) ASSERT_TRUE(port->WriteAttempt(b));
  }

  PtyPair pair;
  std::unique_ptr<BurstPort> port;
};

TEST_F(BurstPortTest, AStatusGoesOutWhenItsThirdByteIsWritten) {
  Write({0x80, 0x00});
  EXPECT_TRUE(Quiet());
  Write({0x2F});
  EXPECT_EQ(Arrived(2000, 3), (Bytes{0x80, 0x00, 0x2F}));
}

TEST_F(BurstPortTest, ABlockGoesOutWhenItsPayloadCrcIsWritten) {
  // 255 payload bytes: 259 in all; the header's length says when it is whole.
  Bytes block = {0x00, 0xFF, 0x00};
  for (int i = 0; i < 255; ++i) block.push_back(static_cast<std::uint8_t>(i));
  block.push_back(0x00);
  Write(Bytes(block.begin(), block.end() - 1));
  EXPECT_TRUE(Quiet());
  Write({block.back()});
  EXPECT_EQ(Arrived(2000, block.size()), block);
}

TEST_F(BurstPortTest, ALoneAttentionByteGoesOutWhenThePeerListens) {
  Write({0x10});
  EXPECT_TRUE(Quiet());
  std::uint8_t byte = 0;
  EXPECT_FALSE(port->ReadAttempt(byte));  // no echo yet, but the byte is out
  EXPECT_EQ(Arrived(2000, 1), (Bytes{0x10}));

  const std::uint8_t echo = 0xEF;
  ASSERT_EQ(::write(pair.master, &echo, 1), 1);
  bool got = false;
  for (int attempt = 0; attempt < 1000 && !got; ++attempt) got = port->ReadAttempt(byte);
  EXPECT_TRUE(got);
  EXPECT_EQ(byte, 0xEF);
}

TEST_F(BurstPortTest, PacketsWrittenInARowGoOutInOrder) {
  Write({0x80, 0x00, 0x2F, 0x00, 0x03, 0xE2, 0x61, 0x62, 0x63, 0x42, 0x81, 0x00, 0xEB});
  EXPECT_EQ(Arrived(2000, 13),
            (Bytes{0x80, 0x00, 0x2F, 0x00, 0x03, 0xE2, 0x61, 0x62, 0x63, 0x42, 0x81, 0x00, 0xEB}));
}

}  // namespace
}  // namespace dorvane::bench
