// The link as a TCP server, for an emulator or a network modem that connects as a
// client. One C64 at a time: a new connection replaces the one before it, which is
// closed, and each connection starts a session of its own. While no one is
// connected, reads wait on the listening socket in the kernel and writes take
// nothing.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "link/serial_port.h"
#include "ports/host_port_text.h"
#include "ports/ip232_codec.h"

namespace dorvane {

class TcpListenPort : public SerialPort {
 public:
  // Binds `where` and listens. Throws NetworkError when the host does not resolve
  // or no address of it can be bound (in use, not ours). The first line events say
  // where it listens, with a warning when others than this machine can reach it.
  static std::unique_ptr<TcpListenPort> Listen(const HostPort& where);

  // Closes the connection and the listening socket.
  ~TcpListenPort() override;
  TcpListenPort(const TcpListenPort&) = delete;
  TcpListenPort& operator=(const TcpListenPort&) = delete;

  bool ReadAttempt(std::uint8_t& byte) override { return ReadSome(&byte, 1) == 1; }
  bool WriteAttempt(std::uint8_t byte) override { return WriteSome(&byte, 1) == 1; }
  // Bytes of a connection whose "Connection from" has been taken; none while a line
  // event waits to be taken, so that no byte of a new connection is read before the
  // session has started over.
  std::size_t ReadSome(std::uint8_t* buffer, std::size_t count) override;
  std::size_t WriteSome(const std::uint8_t* data, std::size_t count) override;
  // Sleeps in the kernel until a byte or a new connection comes, or a signal.
  void AwaitInput(std::chrono::milliseconds longest) override;
  // The connection while there is one, else the listening socket.
  int InputDescriptor() const override { return conn_fd_ >= 0 ? conn_fd_ : listen_fd_; }
  bool TakeLineEvent(LineEvent& event) override;
  std::string DamagedPacketsHint() const override { return Ip232MismatchHint(false); }

  // Where it listens, as "127.0.0.1:6400" (with the port the system chose for 0).
  const std::string& Address() const { return address_; }

 private:
  TcpListenPort(int listen_fd, std::string address) : listen_fd_(listen_fd), address_(address) {}

  // Takes every connection waiting on the listening socket; the newest is kept.
  void AcceptWaiting();
  // Closes the connection and reports it, with `reason` when it failed.
  void CloseConnection(const std::string& reason);
  // Waits for `events` on the connection, or a new one, until `deadline`; accepts
  // what came.
  void Wait(short events, std::chrono::steady_clock::time_point deadline);
  // One try at the connection without waiting: how many bytes moved, 0 when the
  // attempt is over without any (a line event waits, or the connection just
  // closed), nothing when the caller may wait and try again.
  std::optional<std::size_t> Receive(std::uint8_t* buffer, std::size_t count);
  std::optional<std::size_t> Send(const std::uint8_t* data, std::size_t count);

  static constexpr int AcceptEvery = 64;

  int listen_fd_;
  int conn_fd_ = -1;
  int reads_since_accept_ = 0;
  std::string address_;
  std::deque<LineEvent> events_;
};

}  // namespace dorvane
