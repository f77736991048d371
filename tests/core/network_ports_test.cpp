// The ports of the links without a cable, on loopback sockets and pipes: what the
// link hears about connections, that no byte of a new connection is handed out
// before its event, and the end of standard input.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "ports/host_port_text.h"
#include "ports/socket_address.h"
#include "ports/stdio_port.h"
#include "ports/tcp_client_port.h"
#include "ports/tcp_listen_port.h"
#include "tools/peer/peer_port.h"

namespace dorvane {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
constexpr std::chrono::seconds Patience{5};

// Every event the port reports within the patience, until `count` have come.
std::vector<LineEvent> Events(SerialPort& port, std::size_t count) {
  std::vector<LineEvent> events;
  const auto deadline = Clock::now() + Patience;
  while (events.size() < count && Clock::now() < deadline) {
    std::uint8_t byte;
    LineEvent event;
    while (port.TakeLineEvent(event)) events.push_back(event);
    if (events.size() < count) {
      EXPECT_FALSE(port.ReadAttempt(byte)) << "a byte before the event";
    }
  }
  return events;
}

Bytes ReadBytes(SerialPort& port, std::size_t count) {
  Bytes got(count);
  std::size_t done = 0;
  const auto deadline = Clock::now() + Patience;
  while (done < count && Clock::now() < deadline)
    done += port.ReadSome(got.data() + done, count - done);
  got.resize(done);
  return got;
}

std::unique_ptr<TcpClientPort> ConnectTo(const TcpListenPort& server) {
  std::string error;
  return TcpClientPort::Connect(*ParseHostPort(server.Address(), "", error));
}

TEST(TcpListenPort, ConnectionsAreReportedAndReplacedInOrder) {
  signal(SIGPIPE, SIG_IGN);
  auto server = TcpListenPort::Listen({"127.0.0.1", 0});
  ASSERT_EQ(server->Address().rfind("127.0.0.1:", 0), 0u);
  // Listening on loopback: no warning.
  auto events = Events(*server, 1);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].LogText, "Listening on " + server->Address());
  EXPECT_FALSE(events[0].EndsSession);
  const int listening = server->InputDescriptor();

  auto first = ConnectTo(*server);
  const Bytes hello = {0x51, 0xFF, 0x00};
  ASSERT_EQ(first->WriteSome(hello.data(), hello.size()), hello.size());
  // The bytes wait until "Connection from" has been taken.
  events = Events(*server, 1);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].LogText.rfind("Connection from 127.0.0.1:", 0), 0u) << events[0].LogText;
  EXPECT_TRUE(events[0].EndsSession);
  EXPECT_EQ(ReadBytes(*server, 3), hello);

  // The connection is the descriptor to wait on now, and it sends without delay.
  const int connection = server->InputDescriptor();
  EXPECT_NE(connection, listening);
  int nodelay = 0;
  socklen_t length = sizeof nodelay;
  ASSERT_EQ(getsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &nodelay, &length), 0);
  EXPECT_NE(nodelay, 0);

  // A second connection closes the first; what it sends comes after both events.
  auto second = ConnectTo(*server);
  const Bytes again = {0x52};
  ASSERT_EQ(second->WriteSome(again.data(), again.size()), 1u);
  events = Events(*server, 2);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].LogText, "Connection closed");
  EXPECT_EQ(events[1].LogText.rfind("Connection from 127.0.0.1:", 0), 0u);
  EXPECT_EQ(ReadBytes(*server, 1), again);
  std::uint8_t byte;
  const auto deadline = Clock::now() + Patience;
  while (!first->Closed() && Clock::now() < deadline) first->ReadAttempt(byte);
  EXPECT_TRUE(first->Closed());

  // The server's bytes reach the second; its hang-up is heard.
  const Bytes reply = {0xAE};
  ASSERT_EQ(server->WriteSome(reply.data(), reply.size()), 1u);
  EXPECT_EQ(ReadBytes(*second, 1), reply);
  second.reset();
  events = Events(*server, 1);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].LogText, "Connection closed");
  EXPECT_TRUE(events[0].EndsSession);
  EXPECT_EQ(server->InputDescriptor(), listening);
  // No one connected: writes take nothing.
  EXPECT_EQ(server->WriteSome(reply.data(), reply.size()), 0u);
}

TEST(TcpListenPort, AClientThatNeverStopsSendingCannotKeepTheNextOneOut) {
  auto server = TcpListenPort::Listen({"127.0.0.1", 0});
  auto first = ConnectTo(*server);
  ASSERT_EQ(Events(*server, 2).size(), 2u);  // listening, the first connection
  const Bytes flood(4000, 0x55);
  ASSERT_EQ(first->WriteSome(flood.data(), flood.size()), flood.size());
  ASSERT_EQ(ReadBytes(*server, 1), Bytes{0x55});  // the flood has arrived
  auto second = ConnectTo(*server);
  std::size_t read_before = 0;
  LineEvent event;
  std::uint8_t byte;
  const auto deadline = Clock::now() + Patience;
  while (!server->TakeLineEvent(event) && Clock::now() < deadline) {
    read_before += server->ReadAttempt(byte);
  }
  EXPECT_EQ(event.LogText, "Connection closed");
  // Far fewer than the flood: at most one look-out's worth of bytes.
  EXPECT_LE(read_before, 64u);
}

TEST(TcpListenPort, ATakenPortIsRefusedWithItsReason) {
  auto server = TcpListenPort::Listen({"127.0.0.1", 0});
  const std::string address = server->Address();
  std::string error;
  const HostPort same = *ParseHostPort(address, "", error);
  try {
    TcpListenPort::Listen(same);
    ADD_FAILURE() << "a second listen on " << address << " succeeded";
  } catch (const NetworkError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot listen on " + address + ": Address already in use");
  }
}

TEST(SocketAddress, OnlyLoopbackAddressesNeedNoWarning) {
  const struct {
    const char* text;
    bool loopback;
  } cases[] = {
      {"127.0.0.1", true},
      {"127.255.0.9", true},
      {"0.0.0.0", false},
      {"10.0.0.1", false},
      {"::1", true},
      {"::", false},
      {"::ffff:127.0.0.1", true},
      {"::ffff:10.0.0.1", false},
      {"fe80::1", false},
      {"128.0.0.1", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    sockaddr_storage storage{};
    if (std::string(c.text).find(':') == std::string::npos) {
      auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
      v4->sin_family = AF_INET;
      ASSERT_EQ(inet_pton(AF_INET, c.text, &v4->sin_addr), 1);
    } else {
      auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
      v6->sin6_family = AF_INET6;
      ASSERT_EQ(inet_pton(AF_INET6, c.text, &v6->sin6_addr), 1);
    }
    EXPECT_EQ(IsLoopback(reinterpret_cast<sockaddr*>(&storage)), c.loopback);
  }
}

TEST(PeerPort, NetworkNamesThatCannotConnectSayWhy) {
  // A loopback port that was just free again: nothing listens there.
  std::string closed;
  {
    auto server = TcpListenPort::Listen({"127.0.0.1", 0});
    closed = server->Address();
  }
  const struct {
    std::string name;
    std::string error;
  } cases[] = {
      {"tcp:6400", "cannot connect to tcp:6400: \"6400\" names no host (HOST:PORT)"},
      {"tcp:127.0.0.1:x",
       "cannot connect to tcp:127.0.0.1:x: \"x\" is not a port number from 0 "
       "to 65535"},
      {"tcp:" + closed, "Cannot connect to " + closed + ": Connection refused"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    EXPECT_EQ(peer::OpenPeerPort(c.name, false, error), nullptr);
    EXPECT_EQ(error, c.error);
  }
}

TEST(StdioPort, TheEndOfInputEndsServing) {
  int in[2], out[2];
  ASSERT_EQ(pipe(in), 0);
  ASSERT_EQ(pipe(out), 0);
  StdioPort port(in[0], out[1]);
  const Bytes data = {0x00, 0xFF, 0x10};
  ASSERT_EQ(write(in[1], data.data(), data.size()), 3);
  EXPECT_EQ(ReadBytes(port, 3), data);
  ASSERT_EQ(port.WriteSome(data.data(), data.size()), 3u);
  Bytes echoed(3);
  ASSERT_EQ(read(out[0], echoed.data(), 3), 3);
  EXPECT_EQ(echoed, data);

  close(in[1]);
  const auto events = Events(port, 1);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].LogText, "End of input");
  EXPECT_TRUE(events[0].EndsSession);
  EXPECT_TRUE(events[0].EndsServing);
  for (int fd : {in[0], out[0], out[1]}) close(fd);
}

TEST(StdioPort, AReaderThatWentAwayEndsServing) {
  signal(SIGPIPE, SIG_IGN);
  int in[2], out[2];
  ASSERT_EQ(pipe(in), 0);
  ASSERT_EQ(pipe(out), 0);
  StdioPort port(in[0], out[1]);
  close(out[0]);
  const std::uint8_t byte = 0x41;
  EXPECT_FALSE(port.WriteAttempt(byte));
  LineEvent event;
  ASSERT_TRUE(port.TakeLineEvent(event));
  EXPECT_EQ(event.LogText, "Output failed: Broken pipe");
  EXPECT_TRUE(event.EndsServing);
  for (int fd : {in[0], in[1], out[1]}) close(fd);
}

}  // namespace
}  // namespace dorvane
