// dorvaned without a cable: what is particular to serving over TCP and over
// standard input and output. A new connection takes the server from the old one,
// a connection that goes away ends only its own session, the end of input ends
// serving, and the ip232 escaping carries every byte.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "link/wire_format.h"
#include "ports/ip232_codec.h"
#include "ports/ip232_port.h"
#include "ports/tcp_client_port.h"
#include "tests/e2e/served_session.h"
#include "tests/support/fakes.h"

namespace dorvane::e2e {
namespace {

namespace fs = std::filesystem;
using dorvane::testing::PacketBytes;
using dorvane::testing::StatusBytes;
using Clock = std::chrono::steady_clock;

const std::string kWaiting = "Waiting for command from C64...";

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

void WriteAll(SerialPort& port, const Bytes& bytes) {
  const auto deadline = Clock::now() + Patience;
  std::size_t done = 0;
  while (done < bytes.size() && Clock::now() < deadline) {
    done += port.WriteSome(bytes.data() + done, bytes.size() - done);
  }
  ASSERT_EQ(done, bytes.size());
}

// Exactly `count` bytes, or what came within the patience.
Bytes ReadBytes(SerialPort& port, std::size_t count) {
  Bytes got(count);
  std::size_t done = 0;
  const auto deadline = Clock::now() + Patience;
  while (done < count && Clock::now() < deadline) {
    done += port.ReadSome(got.data() + done, count - done);
  }
  got.resize(done);
  return got;
}

// The C64's opening of a save on a raw port, up to the server's stOk for its first
// block: the save is then under way, its temporary file written.
void StartSave(SerialPort& port, const std::string& name, const Bytes& block) {
  WriteAll(port, {ptAttention});
  ASSERT_EQ(ReadBytes(port, 1), Bytes{AttentionEcho(ptAttention)});
  WriteAll(port, PacketBytes(ptSave, name));
  ASSERT_EQ(ReadBytes(port, 3), StatusBytes(stOk));
  WriteAll(port, PacketBytes(ptData, block));
  ASSERT_EQ(ReadBytes(port, 3), StatusBytes(stOk));
}

std::size_t Count(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

// Lends a port to a decorator that wants to own one, so that the test can still
// write below the decorator.
class Borrowed : public SerialPort {
 public:
  explicit Borrowed(SerialPort& port) : port_(port) {}
  bool ReadAttempt(std::uint8_t& byte) override { return port_.ReadAttempt(byte); }
  bool WriteAttempt(std::uint8_t byte) override { return port_.WriteAttempt(byte); }
  std::size_t ReadSome(std::uint8_t* buffer, std::size_t count) override {
    return port_.ReadSome(buffer, count);
  }
  std::size_t WriteSome(const std::uint8_t* data, std::size_t count) override {
    return port_.WriteSome(data, count);
  }

 private:
  SerialPort& port_;
};

class OverTcp : public ServedSession {
 protected:
  OverTcp() : ServedSession(LinkKind::kTcp) {}
};

TEST_F(OverTcp, ASecondConnectionInTheMiddleOfASaveKeepsTheOldFileAndIsServed) {
  const Bytes old_bytes = RandomBytes(700, 20);
  Put("game.prg", old_bytes);
  ASSERT_NO_FATAL_FAILURE(StartServer());

  const auto first = Connect();
  ASSERT_NO_FATAL_FAILURE(StartSave(*first, "game.prg", RandomBytes(255, 21)));
  ASSERT_EQ(UnnamedSaves().size(), 1u) << "the save should be under way";

  auto second = Connect();
  MonotonicClock clock;
  peer::C64Peer peer(*second, clock, options);
  const peer::LoadResult load = peer.Load("game.prg");
  ASSERT_TRUE(load.Succeeded) << load.Describe();
  EXPECT_EQ(load.Data, old_bytes);
  EXPECT_EQ(Contents("game.prg"), old_bytes);
  EXPECT_EQ(PendingSaves(), std::vector<fs::path>{});

  // The first connection was closed by the server.
  auto& first_tcp = static_cast<TcpClientPort&>(*first);
  const auto deadline = Clock::now() + Patience;
  std::uint8_t byte = 0;
  while (!first_tcp.Closed() && Clock::now() < deadline) first_tcp.ReadAttempt(byte);
  EXPECT_TRUE(first_tcp.Closed());

  EXPECT_EQ(StopServer(), 0);
  const auto lines = Server().OutLines();
  const auto got = std::find(lines.begin(), lines.end(), "Getting file: game.prg");
  ASSERT_NE(got, lines.end());
  // The fixture's own connection, the first, the second: each replaced the one
  // before it, and each started over at the wait for a request.
  EXPECT_EQ(Count(lines, "Connection closed"), 2u);
  const auto closed = std::find(got, lines.end(), "Connection closed");
  ASSERT_NE(closed, lines.end());
  ASSERT_LT(closed + 2, lines.end());
  EXPECT_EQ((closed + 1)->rfind("Connection from 127.0.0.1:", 0), 0u) << *(closed + 1);
  // The save under way was cut off there, and the wait began again.
  ASSERT_LT(closed + 3, lines.end());
  EXPECT_EQ(*(closed + 2), "Cut off after 255 bytes");
  EXPECT_EQ(*(closed + 3), kWaiting);
  EXPECT_EQ(Server().ErrText(), "");
}

TEST_F(OverTcp, AConnectionThatGoesAwayEndsOnlyItsOwnSession) {
  const Bytes old_bytes = RandomBytes(300, 30);
  Put("game.prg", old_bytes);
  ASSERT_NO_FATAL_FAILURE(StartServer());
  const Bytes save_request = PacketBytes(ptSave, "game.prg");
  const Bytes block = PacketBytes(ptData, RandomBytes(255, 31));
  const struct {
    const char* what;
    Bytes sent;
  } cases[] = {
      {"nothing at all", {}},
      {"the attention byte", {ptAttention}},
      {"half a request",
       Cat({{ptAttention}, Bytes(save_request.begin(), save_request.begin() + 5)})},
      {"half a block of a save",
       Cat({{ptAttention}, save_request, Bytes(block.begin(), block.begin() + 100)})},
      {"garbage", RandomBytes(2000, 32)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto client = Connect();
    WriteAll(*client, c.sent);
  }
  auto last = Connect();
  MonotonicClock clock;
  // The server may still be working through the garbage when the last client asks:
  // what counts is that it answers, not how soon on a busy machine.
  options.ReplyTimeoutMs = 15000;
  peer::C64Peer peer(*last, clock, options);
  const peer::LoadResult load = peer.Load("game.prg");
  ASSERT_TRUE(load.Succeeded) << load.Describe();
  EXPECT_EQ(load.Data, old_bytes);
  EXPECT_EQ(PendingSaves(), std::vector<fs::path>{});
  EXPECT_EQ(StopServer(), 0);

  // Every connection was heard and each but the last one closed, by its client or
  // by the next; one that failed under a write is closed with the reason. So many
  // in a row are a flood: after the first few the log only counts them.
  std::size_t from = 0, closed = 0, counted = 0;
  const std::regex summary("\\.\\.\\. ([0-9]+) more line events? in the last [0-9]+ s");
  for (const std::string& line : Server().OutLines()) {
    from += line.rfind("Connection from 127.0.0.1:", 0) == 0;
    closed += line.rfind("Connection closed", 0) == 0;
    std::smatch match;
    if (std::regex_match(line, match, summary)) counted += std::stoul(match[1].str());
  }
  EXPECT_GE(from, closed);
  EXPECT_EQ(from + closed + counted, 2 * std::size(cases) + 3);
}

TEST_F(OverTcp, Ip232CarriesEveryByteAndDtrDroppedEndsTheSave) {
  // Every byte value, 0xFF among them, both ways through the escaping.
  Bytes every(1024);
  for (std::size_t i = 0; i < every.size(); ++i) every[i] = static_cast<std::uint8_t>(i);
  Put("every.prg", every);
  server_args = {"--ip232"};
  ASSERT_NO_FATAL_FAILURE(StartServer());
  MonotonicClock clock;
  const auto raw = Connect();
  Ip232Port escaped(std::make_unique<Borrowed>(*raw), Ip232Side::kEmulator);
  peer::C64Peer peer(escaped, clock, options);
  const peer::LoadResult load = peer.Load("every.prg");
  ASSERT_TRUE(load.Succeeded) << load.Describe();
  EXPECT_EQ(load.Data, every);
  const peer::PeerResult save = peer.Save("copy.prg", every);
  ASSERT_TRUE(save.Succeeded) << save.Describe();

  // DTR dropped in the middle of a save: the old file stays, and the next request
  // on the same connection is served.
  ASSERT_NO_FATAL_FAILURE(StartSave(escaped, "every.prg", RandomBytes(255, 40)));
  ASSERT_EQ(UnnamedSaves().size(), 1u);
  WriteAll(*raw, {Ip232Escape, Ip232DtrDropped});
  ASSERT_TRUE(Server().AwaitLine("C64 dropped DTR"));
  const peer::LoadResult again = peer.Load("every.prg");
  ASSERT_TRUE(again.Succeeded) << again.Describe();
  EXPECT_EQ(again.Data, every);
  EXPECT_EQ(PendingSaves(), std::vector<fs::path>{});
  EXPECT_EQ(Contents("copy.prg"), every);
  EXPECT_EQ(StopServer(), 0);
}

TEST_F(OverTcp, ListensThatCannotStartEndWithAReason) {
  // A port already taken, on this machine only.
  const int taken = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(taken, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(listen(taken, 1), 0);
  ASSERT_EQ(getsockname(taken, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const std::string in_use = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));

  const struct {
    std::vector<std::string> args;
    int status;
    std::string err_holds;
  } cases[] = {
      {{"--listen", in_use}, 1, "Cannot listen on " + in_use + ": Address already in use"},
      {{"--listen", "127.0.0.1:65536"}, 1, "is not a port number from 0 to 65535"},
      {{"--listen", "::1:6400"}, 1, "an IPv6 address goes in brackets"},
      {{"--port", "/dev/null", "--ip232"}, 2, "--ip232 goes with --listen or --stdio"},
      {{"--listen", "6400", "--stdio"}, 2, "give only one of --port, --listen and --stdio"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[1]);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--root", Root().string()});
    ServerProcess server(std::string(DORVANE_BIN_DIR) + "/dorvaned", args);
    EXPECT_EQ(server.AwaitExit(), std::optional<int>(c.status));
    EXPECT_NE(server.ErrText().find(c.err_holds), std::string::npos) << server.ErrText();
  }
  close(taken);
}

class OverStdio : public ServedSession {
 protected:
  OverStdio() : ServedSession(LinkKind::kStdio) {}
};

TEST_F(OverStdio, TheEndOfInputEndsServingInOrder) {
  const Bytes old_bytes = RandomBytes(500, 50);
  Put("game.prg", old_bytes);
  ASSERT_NO_FATAL_FAILURE(StartServer());
  ASSERT_TRUE(Peer().Load("game.prg").Succeeded);
  // The emulator goes away in the middle of a save.
  ASSERT_NO_FATAL_FAILURE(StartSave(PeerLink(), "game.prg", RandomBytes(255, 51)));
  ASSERT_EQ(UnnamedSaves().size(), 1u);
  ClosePeer();
  EXPECT_EQ(Server().AwaitExit(), std::optional<int>(0));
  const auto lines = Server().OutLines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 3], "End of input");
  EXPECT_EQ(lines[lines.size() - 2], "Cut off after 255 bytes");
  EXPECT_EQ(lines.back(), " terminated!");
  EXPECT_EQ(Contents("game.prg"), old_bytes);
  EXPECT_EQ(PendingSaves(), std::vector<fs::path>{});
}

}  // namespace
}  // namespace dorvane::e2e
