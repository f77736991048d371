// The peer's port by its name: a serial device or pseudo-terminal path, or
// "tcp:HOST:PORT" for a server that listens on the network, optionally with the
// ip232 escaping an emulator puts on the stream.
#pragma once

#include <memory>
#include <string>

#include "link/serial_port.h"

namespace dorvane::peer {

inline constexpr const char* TcpPrefix = "tcp:";

// Opens the port; on failure returns nullptr and sets `error` to a sentence that
// names the port and the reason.
std::unique_ptr<SerialPort> OpenPeerPort(const std::string& name, bool ip232, std::string& error);

}  // namespace dorvane::peer
