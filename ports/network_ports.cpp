#include "ports/network_ports.h"

#include <unistd.h>

#include "ports/ip232_port.h"
#include "ports/socket_address.h"
#include "ports/stdio_port.h"
#include "ports/tcp_listen_port.h"

namespace dorvane {

namespace {

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

std::optional<NetworkPortName> ParseNetworkPortName(const std::string& name, std::string& error) {
  NetworkPortName parsed;
  std::string rest = name;
  if (EndsWith(rest, Ip232Suffix)) {
    parsed.Ip232 = true;
    rest.resize(rest.size() - std::string(Ip232Suffix).size());
  }
  if (rest == StdioPortName) {
    parsed.Type = NetworkPortName::Kind::kStdio;
  } else if (StartsWith(rest, TcpListenPrefix)) {
    const auto where =
        ParseHostPort(rest.substr(std::string(TcpListenPrefix).size()), DefaultListenHost, error);
    if (!where) {
      error = "Cannot listen on " + name + ": " + error;
      return std::nullopt;
    }
    parsed.Type = NetworkPortName::Kind::kListen;
    parsed.Listen = *where;
  } else if (parsed.Ip232) {
    error = "Cannot open " + name + ": ip232 needs tcp-listen: or stdio";
    return std::nullopt;
  } else {
    parsed.Type = NetworkPortName::Kind::kNone;  // a device
  }
  return parsed;
}

std::unique_ptr<SerialPort> NetworkPortProvider::Open(const std::string& name) {
  std::string error;
  const auto parsed = ParseNetworkPortName(name, error);
  if (!parsed) throw NetworkError(error);
  std::unique_ptr<SerialPort> port;
  switch (parsed->Type) {
    case NetworkPortName::Kind::kNone:
      return devices_.Open(name);
    case NetworkPortName::Kind::kListen:
      port = TcpListenPort::Listen(parsed->Listen);
      break;
    case NetworkPortName::Kind::kStdio:
      port = std::make_unique<StdioPort>(STDIN_FILENO, STDOUT_FILENO);
      break;
  }
  if (parsed->Ip232) port = std::make_unique<Ip232Port>(std::move(port), Ip232Side::kServer);
  return port;
}

}  // namespace dorvane
