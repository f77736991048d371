// The one way the link reaches the cable: single-byte attempts that give up after
// about 2 ms, so that the byte waits above can pump window events between attempts.
#pragma once

#include <chrono>
#include <cstdint>

namespace dorvane {

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Waits at most about 2 ms for one byte and returns at once when one arrives.
  // True when `byte` now holds a received byte. A failed attempt (line error,
  // device gone) counts as no byte.
  virtual bool ReadAttempt(std::uint8_t& byte) = 0;

  // Offers one byte to the port for at most about 2 ms. True when the port took it;
  // false while the peer holds CTS off, the driver's buffer is full, or the device
  // has gone.
  virtual bool WriteAttempt(std::uint8_t byte) = 0;

  // Sleeps until a byte may be waiting, a signal arrives, or `longest` has passed;
  // no byte is taken. Only a hint: the next ReadAttempt decides. A port that cannot
  // wait like that returns at once.
  virtual void AwaitInput(std::chrono::milliseconds longest) { (void)longest; }
};

}  // namespace dorvane
