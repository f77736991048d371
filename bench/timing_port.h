// A port that notes when the peer's turns change hands: the moment the peer wrote
// its last byte and the moment the first byte of the answer was read. Wrapped
// around the peer's real port, it gives the server's turnaround as the C64 sees it.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "bench/bench_clock.h"
#include "link/serial_port.h"

namespace dorvane::bench {

class TimingPort : public SerialPort {
 public:
  using NowFn = std::function<Nanos()>;

  // One change of hands: the peer wrote, then the other side answered.
  struct Turn {
    Nanos last_write;    // the peer's last byte was taken by the port
    Nanos first_answer;  // the first byte after it was read
    // The peer's last three bytes before the answer, oldest in the top byte: a
    // turn after an stOk status reads 0x80002F.
    std::uint32_t last_written = 0;
    std::uint32_t written = 0;  // how many bytes the peer wrote in its turn
  };

  // `now` defaults to the steady clock; tests pass their own.
  explicit TimingPort(SerialPort& inner, NowFn now = {});

  bool ReadAttempt(std::uint8_t& byte) override;
  bool WriteAttempt(std::uint8_t byte) override;

  const std::vector<Turn>& Turns() const { return turns_; }
  // When the latest byte was read.
  Nanos LastRead() const { return last_read_; }
  void Clear();

 private:
  SerialPort& inner_;
  NowFn now_;
  std::vector<Turn> turns_;
  Nanos last_write_{};
  Nanos last_read_{};
  std::uint32_t written_tail_ = 0;
  std::uint32_t written_ = 0;
  bool wrote_since_read_ = false;
};

// The three bytes of a packet's tail as Turn::last_written holds them.
constexpr std::uint32_t TailOf(std::uint8_t a, std::uint8_t b, std::uint8_t c) {
  return (static_cast<std::uint32_t>(a) << 16) | (static_cast<std::uint32_t>(b) << 8) | c;
}

// The turn that answered the peer's request: the first in which it wrote more than
// one byte. Each attention before the request is a byte alone, and there are two
// when a byte left over from the exchange before was taken for the first one's
// echo. nullptr when there is none.
const TimingPort::Turn* RequestTurn(const std::vector<TimingPort::Turn>& turns);

// Microseconds from each turn that followed the peer's stOk to its answer, leaving
// out the last such turn of `turns` (whose answer ends the transfer instead of
// bringing a block).
std::vector<double> TurnaroundsAfterOk(const std::vector<TimingPort::Turn>& turns);

}  // namespace dorvane::bench
