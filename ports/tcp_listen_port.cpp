#include "ports/tcp_listen_port.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ports/fd_wait.h"
#include "ports/socket_address.h"

namespace dorvane {

namespace {

// Binds one resolved address and listens on it; -1 with errno set when it fails.
int BindAndListen(const SocketAddress& address) {
  const int fd = ::socket(address.Family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  // A restart right after a stop must not wait for the old connection's TIME_WAIT.
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address.Storage), address.Length) != 0 ||
      ::listen(fd, 4) != 0) {
    const int code = errno;
    ::close(fd);
    errno = code;
    return -1;
  }
  return fd;
}

}  // namespace

std::unique_ptr<TcpListenPort> TcpListenPort::Listen(const HostPort& where) {
  const std::string what = "Cannot listen on " + FormatHostPort(where.Host, where.Port);
  int code = 0;
  for (const SocketAddress& address : ResolveStream(where, what)) {
    const int fd = BindAndListen(address);
    if (fd < 0) {
      code = errno;
      continue;
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
    auto port = std::unique_ptr<TcpListenPort>(
        new TcpListenPort(fd, ShowAddress(reinterpret_cast<sockaddr*>(&bound), length)));
    port->events_.push_back({"Listening on " + port->address_, false});
    if (!IsLoopback(reinterpret_cast<sockaddr*>(&bound))) {
      // The link has no password: whoever reaches the port has the served tree.
      port->events_.push_back(
          {"Warning: listening on " + port->address_ +
               ", which is not a loopback address: anyone who can reach it can read and write "
               "the served directory (the link has no password)",
           false});
    }
    return port;
  }
  throw NetworkError(what + ": " + std::strerror(code));
}

TcpListenPort::~TcpListenPort() {
  if (conn_fd_ >= 0) ::close(conn_fd_);
  ::close(listen_fd_);
}

void TcpListenPort::AcceptWaiting() {
  for (;;) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    const int fd = ::accept4(listen_fd_, reinterpret_cast<sockaddr*>(&peer), &length,
                             SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;  // EAGAIN: no one else waits; anything else is tried again next time
    }
    if (conn_fd_ >= 0) CloseConnection("");
    // Every reply is one small packet the C64 waits for: never hold it back.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    conn_fd_ = fd;
    events_.push_back(
        {"Connection from " + ShowAddress(reinterpret_cast<sockaddr*>(&peer), length), true});
  }
}

void TcpListenPort::CloseConnection(const std::string& reason) {
  ::close(conn_fd_);
  conn_fd_ = -1;
  events_.push_back({reason.empty() ? "Connection closed" : "Connection closed: " + reason, true});
}

void TcpListenPort::Wait(short events, SteadyClock::time_point deadline) {
  pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {conn_fd_, events, 0}};
  if (WaitUntil(fds, conn_fd_ >= 0 ? 2 : 1, deadline) > 0 && (fds[0].revents & POLLIN) != 0) {
    AcceptWaiting();
  }
}

std::optional<std::size_t> TcpListenPort::Receive(std::uint8_t* buffer, std::size_t count) {
  if (!events_.empty()) return 0;
  if (conn_fd_ < 0) return std::nullopt;
  const ssize_t got = ::recv(conn_fd_, buffer, count, 0);
  if (got > 0) return static_cast<std::size_t>(got);
  if (got < 0 && (errno == EAGAIN || errno == EINTR)) return std::nullopt;
  CloseConnection(got == 0 ? "" : std::strerror(errno));
  return 0;
}

std::optional<std::size_t> TcpListenPort::Send(const std::uint8_t* data, std::size_t count) {
  // Nothing goes out while the line changes hands: the bytes were meant for the
  // session that just ended.
  if (!events_.empty()) return 0;
  if (conn_fd_ < 0) return std::nullopt;
  const ssize_t put = ::send(conn_fd_, data, count, MSG_NOSIGNAL | MSG_DONTWAIT);
  if (put > 0) return static_cast<std::size_t>(put);
  if (put < 0 && (errno == EAGAIN || errno == EINTR)) return std::nullopt;
  CloseConnection(put == 0 ? "" : std::strerror(errno));
  return 0;
}

std::size_t TcpListenPort::ReadSome(std::uint8_t* buffer, std::size_t count) {
  if (count == 0) return 0;
  const auto deadline = SteadyClock::now() + FdAttemptTime;
  // A byte already waiting costs one system call; a new connection is seen at the
  // first moment the current one has nothing, which in a stop-and-wait protocol
  // comes at every turn, and in any case every AcceptEvery reads, so that a client
  // that never stops sending cannot keep the next one out.
  if (++reads_since_accept_ >= AcceptEvery) {
    reads_since_accept_ = 0;
    AcceptWaiting();
  }
  if (const auto done = Receive(buffer, count)) return *done;
  Wait(POLLIN, deadline);
  return Receive(buffer, count).value_or(0);
}

std::size_t TcpListenPort::WriteSome(const std::uint8_t* data, std::size_t count) {
  if (count == 0) return 0;
  const auto deadline = SteadyClock::now() + FdAttemptTime;
  if (const auto done = Send(data, count)) return *done;
  Wait(POLLOUT, deadline);
  return Send(data, count).value_or(0);
}

void TcpListenPort::AwaitInput(std::chrono::milliseconds longest) {
  if (!events_.empty()) return;
  pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {conn_fd_, POLLIN, 0}};
  WaitUntil(fds, conn_fd_ >= 0 ? 2 : 1, SteadyClock::now() + longest);
}

bool TcpListenPort::TakeLineEvent(LineEvent& event) {
  if (events_.empty()) return false;
  event = std::move(events_.front());
  events_.pop_front();
  return true;
}

}  // namespace dorvane
