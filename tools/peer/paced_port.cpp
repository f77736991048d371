#include "tools/peer/paced_port.h"

#include <thread>

namespace dorvane::peer {

PacedPort::PacedPort(SerialPort& inner, std::chrono::nanoseconds interval, NowFn now)
    : inner_(inner), interval_(interval), now_(std::move(now)) {
  if (!now_) {
    now_ = [] {
      return std::chrono::duration_cast<std::chrono::nanoseconds>(
          std::chrono::steady_clock::now().time_since_epoch());
    };
  }
}

bool PacedPort::ReadAttempt(std::uint8_t& byte) {
  const bool arrived = inner_.ReadAttempt(byte);
  if (arrived) ++bytes_read_;
  return arrived;
}

bool PacedPort::WriteAttempt(std::uint8_t byte) {
  if (interval_.count() <= 0) {
    const bool taken = inner_.WriteAttempt(byte);
    if (taken) ++bytes_written_;
    return taken;
  }
  auto now = now_();
  // Sleeping is far too coarse for slots of under 100 us, so the wait spins.
  while (slot_valid_ && now < next_slot_) {
    std::this_thread::yield();
    now = now_();
  }
  const bool taken = inner_.WriteAttempt(byte);
  if (taken) {
    ++bytes_written_;
    // A byte handed over within one slot of its turn goes out back to back with the
    // one before, as from a transmitter's queue; waiting time is not made up later.
    const bool on_time = slot_valid_ && now - next_slot_ < interval_;
    const auto start = on_time ? next_slot_ : now;
    next_slot_ = start + interval_;
    slot_valid_ = true;
  }
  return taken;
}

}  // namespace dorvane::peer
