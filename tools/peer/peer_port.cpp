#include "tools/peer/peer_port.h"

#include "link/os_error.h"
#include "ports/host_port_text.h"
#include "ports/host_ports.h"
#include "ports/ip232_port.h"
#include "ports/socket_address.h"
#include "ports/tcp_client_port.h"

namespace dorvane::peer {

std::unique_ptr<SerialPort> OpenPeerPort(const std::string& name, bool ip232, std::string& error) {
  std::unique_ptr<SerialPort> port;
  const std::string prefix = TcpPrefix;
  if (name.compare(0, prefix.size(), prefix) == 0) {
    const auto where = ParseHostPort(name.substr(prefix.size()), "", error);
    if (!where) {
      error = "cannot connect to " + name + ": " + error;
      return nullptr;
    }
    try {
      port = TcpClientPort::Connect(*where);
    } catch (const NetworkError& e) {
      error = e.what();
      return nullptr;
    }
  } else {
    // The server's own way in: the same lock file, and the same causes when it fails.
    HostPortProvider ports;
    try {
      port = ports.Open(name);
    } catch (const OsError& e) {
      error = "cannot configure " + name + ": " + e.what();
      return nullptr;
    }
    if (!port) {
      error = "cannot open " + name + ": " + ports.OpenFailureCause();
      return nullptr;
    }
  }
  if (ip232) port = std::make_unique<Ip232Port>(std::move(port), Ip232Side::kEmulator);
  return port;
}

}  // namespace dorvane::peer
