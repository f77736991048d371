// The C64's side of a network link: a TCP connection to a listening server, as an
// emulator or a network modem makes it. Used by the peer tool, the tests and the
// benchmark to reach `dorvaned --listen`.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link/serial_port.h"
#include "ports/host_port_text.h"

namespace dorvane {

class TcpClientPort : public SerialPort {
 public:
  // Connects to `where`, trying each of its addresses. Throws NetworkError when the
  // host does not resolve or no address takes the connection.
  static std::unique_ptr<TcpClientPort> Connect(const HostPort& where);

  ~TcpClientPort() override;
  TcpClientPort(const TcpClientPort&) = delete;
  TcpClientPort& operator=(const TcpClientPort&) = delete;

  bool ReadAttempt(std::uint8_t& byte) override { return ReadSome(&byte, 1) == 1; }
  bool WriteAttempt(std::uint8_t byte) override { return WriteSome(&byte, 1) == 1; }
  // Once the server has closed the connection every attempt takes its full time and
  // moves nothing, as on a cable whose far end went quiet.
  std::size_t ReadSome(std::uint8_t* buffer, std::size_t count) override;
  std::size_t WriteSome(const std::uint8_t* data, std::size_t count) override;
  void AwaitInput(std::chrono::milliseconds longest) override;
  int InputDescriptor() const override { return fd_; }

  // True once the server closed the connection or it failed.
  bool Closed() const { return closed_; }

 private:
  explicit TcpClientPort(int fd) : fd_(fd) {}

  int fd_;
  bool closed_ = false;
};

}  // namespace dorvane
