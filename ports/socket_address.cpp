#include "ports/socket_address.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <cstring>

namespace dorvane {

std::vector<SocketAddress> ResolveStream(const HostPort& where, const std::string& what) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(where.Port);
  const int code = ::getaddrinfo(where.Host.c_str(), service.c_str(), &hints, &found);
  if (code != 0) {
    throw NetworkError(what + ": the host \"" + where.Host + "\" does not resolve (" +
                       ::gai_strerror(code) + ")");
  }
  std::vector<SocketAddress> addresses;
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
    if (a->ai_addrlen > sizeof(sockaddr_storage)) continue;
    SocketAddress address;
    std::memcpy(&address.Storage, a->ai_addr, a->ai_addrlen);
    address.Length = a->ai_addrlen;
    address.Family = a->ai_family;
    addresses.push_back(address);
  }
  ::freeaddrinfo(found);
  if (addresses.empty()) {
    throw NetworkError(what + ": the host \"" + where.Host + "\" has no address");
  }
  return addresses;
}

std::string ShowAddress(const sockaddr* address, socklen_t length) {
  char host[NI_MAXHOST];
  char service[NI_MAXSERV];
  if (::getnameinfo(address, length, host, sizeof host, service, sizeof service,
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
    return "an unknown address";
  }
  return FormatHostPort(host, static_cast<std::uint16_t>(std::atoi(service)));
}

bool IsLoopback(const sockaddr* address) {
  if (address->sa_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
    return (ntohl(v4->sin_addr.s_addr) >> 24) == 127;
  }
  if (address->sa_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
    if (IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr)) return true;
    return IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr) && v6->sin6_addr.s6_addr[12] == 127;
  }
  return false;
}

}  // namespace dorvane
