// The socket addresses of the network ports: resolving a host, showing an address
// to the operator, and telling a loopback address from one others can reach.
#pragma once

#include <sys/socket.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "ports/host_port_text.h"

namespace dorvane {

// A network port that cannot start: the address does not resolve, is taken, or
// cannot be reached. The text names the address and the reason.
class NetworkError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct SocketAddress {
  sockaddr_storage Storage{};
  socklen_t Length = 0;
  int Family = 0;
};

// Every address `where` stands for, for a stream socket. Throws NetworkError, whose
// text begins with `what` ("Cannot listen on 127.0.0.1:6400"), when the host does
// not resolve.
std::vector<SocketAddress> ResolveStream(const HostPort& where, const std::string& what);

// "127.0.0.1:54321" or "[::1]:54321".
std::string ShowAddress(const sockaddr* address, socklen_t length);

// 127.0.0.0/8, ::1, and 127.x mapped into IPv6.
bool IsLoopback(const sockaddr* address);

}  // namespace dorvane
