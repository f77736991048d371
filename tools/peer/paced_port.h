// The peer's view of its port: it forwards every attempt to the real port, counts
// the bytes that pass, and can hold each written byte back to a fixed rate, so that
// a pseudo-terminal (which moves bytes as fast as the processes run) behaves like a
// cable at a given baud rate.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

#include "link/serial_port.h"

namespace dorvane::peer {

// One byte of 8N1 at 115200 baud: 10 bits in 86.8 us.
inline constexpr std::chrono::nanoseconds ByteTime115200{86806};

class PacedPort : public SerialPort {
 public:
  using NowFn = std::function<std::chrono::nanoseconds()>;

  // `interval` 0 forwards writes at once. `now` is a monotonic clock; the default
  // is the system's steady clock, tests pass their own.
  explicit PacedPort(SerialPort& inner, std::chrono::nanoseconds interval = {}, NowFn now = {});

  bool ReadAttempt(std::uint8_t& byte) override;
  // Waits until the byte's slot has come, then offers it. Slots follow one another
  // at `interval` like bits on a wire: a writer that keeps up gets exactly that
  // rate, and one that fell behind (waiting for an answer) starts afresh at once.
  bool WriteAttempt(std::uint8_t byte) override;

  void SetInterval(std::chrono::nanoseconds interval) { interval_ = interval; }
  std::uint64_t BytesRead() const { return bytes_read_; }
  std::uint64_t BytesWritten() const { return bytes_written_; }

 private:
  SerialPort& inner_;
  std::chrono::nanoseconds interval_;
  NowFn now_;
  std::chrono::nanoseconds next_slot_{};
  bool slot_valid_ = false;
  std::uint64_t bytes_read_ = 0;
  std::uint64_t bytes_written_ = 0;
};

}  // namespace dorvane::peer
