#include "bench/timing_port.h"

#include <utility>

#include "link/crc8.h"
#include "link/wire_format.h"

namespace dorvane::bench {

TimingPort::TimingPort(SerialPort& inner, NowFn now) : inner_(inner), now_(std::move(now)) {
  if (!now_) now_ = SteadyNow;
}

bool TimingPort::ReadAttempt(std::uint8_t& byte) {
  if (!inner_.ReadAttempt(byte)) return false;
  last_read_ = now_();
  if (wrote_since_read_) {
    turns_.push_back(Turn{last_write_, last_read_, written_tail_, written_});
    wrote_since_read_ = false;
    written_ = 0;
  }
  return true;
}

bool TimingPort::WriteAttempt(std::uint8_t byte) {
  if (!inner_.WriteAttempt(byte)) return false;
  last_write_ = now_();
  written_tail_ = ((written_tail_ << 8) | byte) & 0xFFFFFF;
  ++written_;
  wrote_since_read_ = true;
  return true;
}

void TimingPort::Clear() {
  turns_.clear();
  wrote_since_read_ = false;
  written_tail_ = 0;
  written_ = 0;
}

const TimingPort::Turn* RequestTurn(const std::vector<TimingPort::Turn>& turns) {
  for (const TimingPort::Turn& turn : turns) {
    if (turn.written > 1) return &turn;
  }
  return nullptr;
}

std::vector<double> TurnaroundsAfterOk(const std::vector<TimingPort::Turn>& turns) {
  const std::uint8_t header[2] = {stOk, 0};
  const std::uint32_t ok = TailOf(stOk, 0, Crc8Of(header, 2));
  std::vector<double> micros;
  for (const TimingPort::Turn& turn : turns) {
    if (turn.last_written != ok) continue;
    micros.push_back(
        std::chrono::duration<double, std::micro>(turn.first_answer - turn.last_write).count());
  }
  if (!micros.empty()) micros.pop_back();
  return micros;
}

}  // namespace dorvane::bench
