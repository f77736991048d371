// The link on standard input and output, for an emulator that starts the server
// itself and talks to it through a pipe. The end of input ends serving: the
// emulator has gone, and no one else can ever reach this link.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "link/serial_port.h"
#include "ports/ip232_codec.h"

namespace dorvane {

class StdioPort : public SerialPort {
 public:
  // Reads `in_fd` and writes `out_fd` (standard input and output in the server;
  // tests pass their own). The descriptors stay open and their flags unchanged:
  // they may be a terminal that the shell shares.
  StdioPort(int in_fd, int out_fd) : in_fd_(in_fd), out_fd_(out_fd) {}

  bool ReadAttempt(std::uint8_t& byte) override { return ReadSome(&byte, 1) == 1; }
  bool WriteAttempt(std::uint8_t byte) override { return WriteSome(&byte, 1) == 1; }
  std::size_t ReadSome(std::uint8_t* buffer, std::size_t count) override;
  std::size_t WriteSome(const std::uint8_t* data, std::size_t count) override;
  void AwaitInput(std::chrono::milliseconds longest) override;
  int InputDescriptor() const override { return in_fd_; }
  // "End of input" (or the failure) once, as an event that ends serving.
  bool TakeLineEvent(LineEvent& event) override;
  std::string DamagedPacketsHint() const override { return Ip232MismatchHint(false); }

 private:
  void End(std::string text);

  int in_fd_;
  int out_fd_;
  bool ended_ = false;
  std::deque<LineEvent> events_;
};

}  // namespace dorvane
