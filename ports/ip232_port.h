// A port with the ip232 escaping on top of another (a TCP connection, standard input
// and output): data passes unchanged, 0xFF doubled on the way, and the modem-line
// signals become line events. The server's side hears DTR from the emulator; the
// emulator's side (the peer playing it) hears DCD and RI from the server.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "link/serial_port.h"
#include "ports/ip232_codec.h"

namespace dorvane {

enum class Ip232Side {
  kServer,    // on the server: FF 00 is DTR dropped, FF 01 DTR raised
  kEmulator,  // playing the emulator: FF n sets DCD and RI
};

class Ip232Port : public SerialPort {
 public:
  Ip232Port(std::unique_ptr<SerialPort> inner, Ip232Side side)
      : inner_(std::move(inner)), side_(side) {}

  bool ReadAttempt(std::uint8_t& byte) override { return ReadSome(&byte, 1) == 1; }
  bool WriteAttempt(std::uint8_t byte) override { return WriteSome(&byte, 1) == 1; }
  // Data bytes up to the first signal; those after it wait until its line event has
  // been taken, as they belong to what comes after it.
  std::size_t ReadSome(std::uint8_t* buffer, std::size_t count) override;
  // Counts a 0xFF as taken once the first half of its escape is; the second half
  // goes out first at the next write.
  std::size_t WriteSome(const std::uint8_t* data, std::size_t count) override;
  void AwaitInput(std::chrono::milliseconds longest) override;
  int InputDescriptor() const override { return inner_->InputDescriptor(); }
  // The signals decoded so far, then the inner port's events. One of those that ends
  // the session also ends the escaped stream: a new connection starts afresh.
  bool TakeLineEvent(LineEvent& event) override;
  std::string DamagedPacketsHint() const override { return Ip232MismatchHint(true); }

  // On the emulator's side: the last line state the server set (Ip232Dcd, Ip232Ri).
  std::uint8_t LineState() const { return line_state_; }

 private:
  void Signal(std::uint8_t value);
  void ResetStream();

  std::unique_ptr<SerialPort> inner_;
  Ip232Side side_;
  Ip232Decoder decoder_;
  std::vector<std::uint8_t> carry_;  // read from the inner port, not yet decoded
  std::size_t carry_at_ = 0;
  std::optional<std::uint8_t> owed_;  // the second FF of an escape cut by a short write
  std::vector<std::uint8_t> escaped_;
  std::deque<LineEvent> events_;
  std::uint8_t line_state_ = 0;
};

}  // namespace dorvane
