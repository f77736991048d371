// The pair stands in for the cable before any port code touches the slave, so the
// line must already be raw: a peer that opens the slave plainly gets every byte at
// once, unchanged, and nothing is echoed back to the master.
#include "ports/pty_pair.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

namespace dorvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Reads what arrives until the line stays quiet for a while; how long it took is
// never looked at.
Bytes Drain(int fd, std::size_t want) {
  Bytes got;
  while (got.size() < want) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 2000) <= 0 || (p.revents & POLLIN) == 0) break;
    std::uint8_t buffer[64];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    got.insert(got.end(), buffer, buffer + n);
  }
  return got;
}

TEST(PtyPair, LineIsRawBeforeAnyoneConfiguresTheSlave) {
  PtyPair pair = OpenPtyPair();
  ASSERT_GE(pair.master, 0);
  ASSERT_EQ(pair.slave_path.rfind("/dev/pts/", 0), 0u) << pair.slave_path;
  const int slave = ::open(pair.slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(slave, 0);

  // No line end: a cooked line would hold these back. CR would become LF, ^C and
  // ^S would be eaten as signal and flow-control characters, 0xFF could be stripped.
  const Bytes tricky = {0x10, 0x0D, 0x03, 0x13, 0x11, 0x04, 0x7F, 0xFF, 0x00};
  ASSERT_EQ(::write(pair.master, tricky.data(), tricky.size()),
            static_cast<ssize_t>(tricky.size()));
  EXPECT_EQ(Drain(slave, tricky.size()), tricky);

  // The other way, LF stays LF (no CR added). An echo of the bytes above would have
  // reached the master first, ahead of the reply.
  const Bytes reply = {0xEF, 0x0A, 0x80};
  ASSERT_EQ(::write(slave, reply.data(), reply.size()), static_cast<ssize_t>(reply.size()));
  EXPECT_EQ(Drain(pair.master, reply.size()), reply);

  ::close(slave);
  ClosePtyPair(pair);
  EXPECT_EQ(pair.master, -1);
  EXPECT_TRUE(pair.slave_path.empty());
  ClosePtyPair(pair);  // a second close is harmless
}

}  // namespace
}  // namespace dorvane
