#include "ports/tcp_client_port.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "ports/fd_wait.h"
#include "ports/socket_address.h"

namespace dorvane {

std::unique_ptr<TcpClientPort> TcpClientPort::Connect(const HostPort& where) {
  const std::string what = "Cannot connect to " + FormatHostPort(where.Host, where.Port);
  int code = 0;
  for (const SocketAddress& address : ResolveStream(where, what)) {
    const int fd = ::socket(address.Family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      code = errno;
      continue;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address.Storage), address.Length) != 0) {
      code = errno;
      ::close(fd);
      continue;
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return std::unique_ptr<TcpClientPort>(new TcpClientPort(fd));
  }
  throw NetworkError(what + ": " + std::strerror(code));
}

TcpClientPort::~TcpClientPort() { ::close(fd_); }

std::size_t TcpClientPort::ReadSome(std::uint8_t* buffer, std::size_t count) {
  const auto deadline = SteadyClock::now() + FdAttemptTime;
  if (count == 0) return 0;
  for (bool waited = false; !closed_; waited = true) {
    const ssize_t got = ::recv(fd_, buffer, count, 0);
    if (got > 0) return static_cast<std::size_t>(got);
    if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
      closed_ = true;
      break;
    }
    if (waited) return 0;
    pollfd p{fd_, POLLIN, 0};
    WaitUntil(&p, 1, deadline);
  }
  std::this_thread::sleep_until(deadline);
  return 0;
}

std::size_t TcpClientPort::WriteSome(const std::uint8_t* data, std::size_t count) {
  const auto deadline = SteadyClock::now() + FdAttemptTime;
  if (count == 0) return 0;
  for (bool waited = false; !closed_; waited = true) {
    const ssize_t put = ::send(fd_, data, count, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (put > 0) return static_cast<std::size_t>(put);
    if (put < 0 && errno != EAGAIN && errno != EINTR) {
      closed_ = true;
      break;
    }
    if (waited) return 0;
    pollfd p{fd_, POLLOUT, 0};
    WaitUntil(&p, 1, deadline);
  }
  std::this_thread::sleep_until(deadline);
  return 0;
}

void TcpClientPort::AwaitInput(std::chrono::milliseconds longest) {
  pollfd p{fd_, POLLIN, 0};
  WaitUntil(&p, 1, SteadyClock::now() + longest);
}

}  // namespace dorvane
