// The relay is a cable: every byte each side writes reaches the other side once,
// unchanged and in order, whatever the two directions do at the same time.
#include "bench/wire_relay.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "ports/pty_pair.h"

namespace dorvane::bench {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Reads from `fd` until `count` bytes came or nothing comes for two seconds.
Bytes ReadUpTo(int fd, std::size_t count) {
  Bytes got;
  while (got.size() < count) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 2000) <= 0) break;
    std::uint8_t buffer[512];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    got.insert(got.end(), buffer, buffer + n);
  }
  return got;
}

void WriteAll(int fd, const Bytes& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + sent, bytes.size() - sent);
    if (n > 0) sent += static_cast<std::size_t>(n);
  }
}

TEST(WireRelayTest, CarriesEveryByteBothWaysInOrder) {
  PtyPair server = OpenPtyPair();
  PtyPair peer = OpenPtyPair();
  const int server_end = ::open(server.slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  const int peer_end = ::open(peer.slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(server_end, 0);
  ASSERT_GE(peer_end, 0);

  Bytes down(3000);
  Bytes up(700);
  for (std::size_t i = 0; i < down.size(); ++i) down[i] = static_cast<std::uint8_t>(i * 13 + 1);
  for (std::size_t i = 0; i < up.size(); ++i) up[i] = static_cast<std::uint8_t>(255 - i);
  {
    // A fast line, so the test is short; the schedule is the same at any rate.
    WireRelay relay(server.master, peer.master, Nanos(2000));
    relay.Start();
    std::thread server_writes([&] { WriteAll(server_end, down); });
    std::thread peer_writes([&] { WriteAll(peer_end, up); });
    EXPECT_EQ(ReadUpTo(peer_end, down.size()), down);
    EXPECT_EQ(ReadUpTo(server_end, up.size()), up);
    server_writes.join();
    peer_writes.join();
    relay.Stop();
    EXPECT_EQ(relay.ToPeer(), down.size());
    EXPECT_EQ(relay.ToServer(), up.size());
  }
  ::close(server_end);
  ::close(peer_end);
  ClosePtyPair(server);
  ClosePtyPair(peer);
}

}  // namespace
}  // namespace dorvane::bench
