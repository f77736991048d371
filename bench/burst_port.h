// The C64's end of a pseudo-terminal, written the way a UART sends. Bytes written
// to a pseudo-terminal reach the other side only when the kernel's buffer worker
// runs, and on a busy machine that is often only once the writer has written its
// whole packet, one system call a byte, and waits: the far side then sees the
// first byte a few hundred microseconds late, a delay that a real UART, which
// starts sending the first byte at once, does not have. This port collects the
// bytes of a packet and hands them over in one write as soon as the peer turns to
// listen, so that the C64's side adds no such delay to what is measured.
#pragma once

#include <cstdint>
#include <vector>

#include "link/serial_port.h"

namespace dorvane::bench {

class BurstPort : public SerialPort {
 public:
  // Takes ownership of `fd`, a pseudo-terminal in raw mode; makes it non-blocking.
  explicit BurstPort(int fd);
  ~BurstPort() override;
  BurstPort(const BurstPort&) = delete;
  BurstPort& operator=(const BurstPort&) = delete;

  // Hands over what was written, then waits up to about 2 ms for one byte.
  bool ReadAttempt(std::uint8_t& byte) override;
  // Takes the byte into the burst, which goes out when it holds a whole packet
  // (or MaxBurst bytes).
  bool WriteAttempt(std::uint8_t byte) override;

  // Hands over the bytes written so far. False when the other side has gone, or
  // took nothing for a whole attempt time; the bytes it did not take are dropped.
  bool Flush();

  static constexpr std::size_t MaxBurst = 4096;

 private:
  int fd_;
  // Bytes not yet handed over: the start of one packet (or a lone attention byte).
  std::vector<std::uint8_t> burst_;
};

}  // namespace dorvane::bench
