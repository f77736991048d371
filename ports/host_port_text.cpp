#include "ports/host_port_text.h"

namespace dorvane {

namespace {

std::optional<std::uint16_t> ParsePort(const std::string& text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

}  // namespace

std::optional<HostPort> ParseHostPort(const std::string& text, const std::string& default_host,
                                      std::string& error) {
  std::string host;
  std::string port_text;
  if (!text.empty() && text[0] == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
      error = "\"" + text + "\" is not [ADDRESS]:PORT";
      return std::nullopt;
    }
    host = text.substr(1, close - 1);
    port_text = text.substr(close + 2);
  } else if (const std::size_t colon = text.rfind(':'); colon != std::string::npos) {
    host = text.substr(0, colon);
    port_text = text.substr(colon + 1);
    if (host.find(':') != std::string::npos) {
      error = "\"" + text + "\": an IPv6 address goes in brackets, as [::1]:PORT";
      return std::nullopt;
    }
  } else {
    host = default_host;
    port_text = text;
  }
  if (host.empty()) {
    error = "\"" + text + "\" names no host (HOST:PORT)";
    return std::nullopt;
  }
  const auto port = ParsePort(port_text);
  if (!port) {
    error = "\"" + port_text + "\" is not a port number from 0 to 65535";
    return std::nullopt;
  }
  return HostPort{host, *port};
}

std::string FormatHostPort(const std::string& host, std::uint16_t port) {
  const bool bracket = host.find(':') != std::string::npos;
  return (bracket ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

}  // namespace dorvane
