// The text forms of network links: "[HOST:]PORT" on the command line, and the port
// names that reach the provider ("tcp-listen:...", "stdio", ",ip232").
#include <gtest/gtest.h>

#include <string>

#include "ports/host_port_text.h"
#include "ports/network_ports.h"

namespace dorvane {
namespace {

TEST(HostPortText, ReadsEveryForm) {
  const struct {
    std::string text;
    std::string default_host;
    bool ok;
    std::string host;
    std::uint16_t port;
    std::string error_holds;
  } cases[] = {
      {"6400", "127.0.0.1", true, "127.0.0.1", 6400, ""},
      {"0", "127.0.0.1", true, "127.0.0.1", 0, ""},
      {"65535", "127.0.0.1", true, "127.0.0.1", 65535, ""},
      {"0.0.0.0:25232", "127.0.0.1", true, "0.0.0.0", 25232, ""},
      {"localhost:1", "", true, "localhost", 1, ""},
      {"[::1]:6400", "127.0.0.1", true, "::1", 6400, ""},
      {"[::]:6400", "", true, "::", 6400, ""},
      {"6400", "", false, "", 0, "names no host"},
      {":6400", "127.0.0.1", false, "", 0, "names no host"},
      {"65536", "127.0.0.1", false, "", 0, "not a port number"},
      {"host:", "", false, "", 0, "not a port number"},
      {"host:64a0", "", false, "", 0, "not a port number"},
      {"host:-1", "", false, "", 0, "not a port number"},
      {"::1:6400", "", false, "", 0, "goes in brackets"},
      {"[::1]6400", "", false, "", 0, "is not [ADDRESS]:PORT"},
      {"[::1", "", false, "", 0, "is not [ADDRESS]:PORT"},
      {"", "127.0.0.1", false, "", 0, "not a port number"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::string error;
    const auto parsed = ParseHostPort(c.text, c.default_host, error);
    ASSERT_EQ(parsed.has_value(), c.ok) << error;
    if (c.ok) {
      EXPECT_EQ(parsed->Host, c.host);
      EXPECT_EQ(parsed->Port, c.port);
    } else {
      EXPECT_NE(error.find(c.error_holds), std::string::npos) << error;
    }
  }
}

TEST(HostPortText, ShowsIpv6InBrackets) {
  EXPECT_EQ(FormatHostPort("127.0.0.1", 6400), "127.0.0.1:6400");
  EXPECT_EQ(FormatHostPort("::1", 25232), "[::1]:25232");
}

TEST(NetworkPortName, TellsLinksFromDevices) {
  using Kind = NetworkPortName::Kind;
  const struct {
    std::string name;
    bool ok;
    Kind kind;
    bool ip232;
    std::string host;
    std::uint16_t port;
  } cases[] = {
      {"/dev/ttyUSB0", true, Kind::kNone, false, "", 0},
      {"com1", true, Kind::kNone, false, "", 0},
      {"stdio", true, Kind::kStdio, false, "", 0},
      {"stdio,ip232", true, Kind::kStdio, true, "", 0},
      {"tcp-listen:6400", true, Kind::kListen, false, "127.0.0.1", 6400},
      {"tcp-listen:[::1]:6400,ip232", true, Kind::kListen, true, "::1", 6400},
      {"tcp-listen:0.0.0.0:25232", true, Kind::kListen, false, "0.0.0.0", 25232},
      {"tcp-listen:", false, Kind::kNone, false, "", 0},
      {"tcp-listen:70000", false, Kind::kNone, false, "", 0},
      {"/dev/ttyUSB0,ip232", false, Kind::kNone, false, "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    const auto parsed = ParseNetworkPortName(c.name, error);
    ASSERT_EQ(parsed.has_value(), c.ok) << error;
    if (!c.ok) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    EXPECT_EQ(parsed->Type, c.kind);
    EXPECT_EQ(parsed->Ip232, c.ip232);
    if (c.kind == Kind::kListen) {
      EXPECT_EQ(parsed->Listen.Host, c.host);
      EXPECT_EQ(parsed->Listen.Port, c.port);
    }
  }
}

}  // namespace
}  // namespace dorvane
