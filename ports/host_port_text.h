// The text forms of a network address on the command line: "PORT", "HOST:PORT" and
// "[IPV6]:PORT". Pure text handling; resolving the host is left to the caller.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace dorvane {

struct HostPort {
  std::string Host;  // a name or a numeric address, without the brackets of IPv6
  std::uint16_t Port = 0;
};

// Reads "[HOST:]PORT"; a missing host is `default_host` (empty: the host is
// required). The port is 0 to 65535 in decimal; 0 asks the system for a free one.
// On a mistake returns nothing and sets `error` to a sentence naming it.
std::optional<HostPort> ParseHostPort(const std::string& text, const std::string& default_host,
                                      std::string& error);

// "127.0.0.1:6400", or "[::1]:6400" for a host that holds a colon.
std::string FormatHostPort(const std::string& host, std::uint16_t port);

}  // namespace dorvane
