// One direction of a serial cable as a timetable: a byte handed to the transmitter
// goes out as soon as the line is free and is whole at the far end one byte time
// later. Bytes queued back to back therefore arrive exactly one byte time apart,
// however late the relay that plays the cable gets round to them: each arrival is
// reckoned from the previous one, never from the moment of sending, so no drift
// builds up over a block.
#pragma once

#include "bench/bench_clock.h"

namespace dorvane::bench {

class WireSchedule {
 public:
  explicit WireSchedule(Nanos byte_time) : byte_time_(byte_time) {}

  // The moment the far end has a byte that was handed over at `handed_over`.
  // Calls must come in the order the bytes were handed over.
  Nanos Deliver(Nanos handed_over) {
    const Nanos start = handed_over > line_free_ ? handed_over : line_free_;
    line_free_ = start + byte_time_;
    return line_free_;
  }

  Nanos ByteTime() const { return byte_time_; }

 private:
  Nanos byte_time_;
  Nanos line_free_{Nanos::min()};
};

}  // namespace dorvane::bench
