// The one way the link reaches the cable: attempts that give up after about 2 ms, so
// that the byte waits above can pump window events between attempts. An attempt
// moves one byte or a run of them.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace dorvane {

// Something on the line that the operator must hear of, and that may end the
// session: the device went away or came back, a network peer hung up or another
// took its place, the C64 dropped DTR.
struct LineEvent {
  std::string LogText;       // one line for the operator's log; empty logs nothing
  bool EndsSession = true;   // any transfer under way ends as an abort does, and the
                             // server starts over waiting for a request
  bool EndsServing = false;  // the line is gone for good (an emulator's pipe closed):
                             // serving stops as on the operator's stop
  // Whether the device itself went away or came back with this event.
  enum class Presence { Unchanged, Lost, Back } DevicePresence = Presence::Unchanged;
  bool LineDown = false;  // the line stays gone until a later event brings it back
                          // (a device away): nothing can come from the C64 meanwhile
};

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

  // As ReadAttempt, but takes every byte that has arrived, up to `count`, in order.
  // Returns how many; 0 when none came within the attempt. A port that cannot move
  // runs takes one byte per attempt. A run never reaches past a line event: the
  // bytes that came after one are handed over only once the event has been taken
  // (the link drops what it buffered from before an event that ends the session).
  virtual std::size_t ReadSome(std::uint8_t* buffer, std::size_t count) {
    return count > 0 && ReadAttempt(buffer[0]) ? 1 : 0;
  }

  // As WriteAttempt, but offers `count` bytes; returns how many the port took, from
  // the front (flow control may stop it part of the way). 0 when it took none.
  virtual std::size_t WriteSome(const std::uint8_t* data, std::size_t count) {
    return count > 0 && WriteAttempt(data[0]) ? 1 : 0;
  }

  // Sleeps until a byte may be waiting, a signal arrives, or `longest` has passed;
  // no byte is taken. Only a hint: the next ReadAttempt decides. A port that cannot
  // wait like that returns at once.
  virtual void AwaitInput(std::chrono::milliseconds longest) { (void)longest; }

  // A descriptor that turns readable when input or a line event may be waiting, for
  // a front end that waits in its own event loop; -1 when there is none (the front
  // end then comes back after a time instead).
  virtual int InputDescriptor() const { return -1; }

  // One line for the operator when packets keep arriving damaged with the byte 0xFF
  // among them, where the link's settings may be the cause (an emulator's ip232
  // escaping on one side only); empty where no setting of ours bears on it.
  virtual std::string DamagedPacketsHint() const { return std::string(); }

  // Hands over the oldest line event not yet taken; false when there is none.
  virtual bool TakeLineEvent(LineEvent& event) {
    (void)event;
    return false;
  }
};

}  // namespace dorvane
