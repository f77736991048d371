// Plays the server's side for the peer's tests: each time the peer has written the
// bytes of the next turn, the server's answer for that turn is put on the line.
// Whether the peer wrote the right bytes is checked afterwards, in one piece.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "tests/support/fakes.h"

namespace dorvane::testing {

class ServerScript {
 public:
  ServerScript(ScriptedPort& port, FakeClock& clock) : port_(port), clock_(clock) {
    port_.on_written = [this](std::uint8_t) { Advance(); };
  }

  // After the peer has written `expect`, the server waits `delay_ms`, then sends
  // `answer` (which may be empty: the server stays silent).
  ServerScript& Then(std::vector<std::uint8_t> expect, std::vector<std::uint8_t> answer,
                     std::uint32_t delay_ms = 0) {
    turns_.push_back({std::move(expect), std::move(answer), delay_ms});
    return *this;
  }

  // Everything the peer should have written, turn after turn.
  std::vector<std::uint8_t> Expected() const {
    std::vector<std::uint8_t> all;
    for (const Turn& turn : turns_) all.insert(all.end(), turn.expect.begin(), turn.expect.end());
    return all;
  }

  // Fake time at which each turn was complete.
  std::vector<std::uint32_t> turn_times;

 private:
  struct Turn {
    std::vector<std::uint8_t> expect;
    std::vector<std::uint8_t> answer;
    std::uint32_t delay_ms;
  };

  void Advance() {
    written_ += 1;
    while (next_ < turns_.size() && written_ == boundary_ + turns_[next_].expect.size()) {
      const Turn& turn = turns_[next_];
      boundary_ = written_;
      ++next_;
      turn_times.push_back(clock_.now);
      if (turn.delay_ms > 0) port_.Silence(turn.delay_ms);
      port_.Feed(turn.answer);
    }
  }

  ScriptedPort& port_;
  FakeClock& clock_;
  std::vector<Turn> turns_;
  std::size_t next_ = 0;
  std::size_t written_ = 0;
  std::size_t boundary_ = 0;
};

// Concatenates byte vectors, for expected line traffic.
inline std::vector<std::uint8_t> Cat(std::initializer_list<std::vector<std::uint8_t>> parts) {
  std::vector<std::uint8_t> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

}  // namespace dorvane::testing
