// A serial port that outlives its device: when the adapter is pulled out (or the
// far end of a pseudo-terminal closes, or the device node goes away) it reports the
// loss as a line event that ends the session, then looks a few times a second for
// a device at the same path, opens it with the same settings and reports it back.
// The link and the server see one port throughout.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "link/serial_port.h"
#include "ports/port_lock.h"
#include "ports/termios_port.h"

namespace dorvane {

class ReopeningPort : public SerialPort {
 public:
  using Clock = std::chrono::steady_clock;
  // Opens the device again; nullptr while it cannot (not there yet, still settling).
  using Opener = std::function<std::unique_ptr<TermiosPort>()>;

  // How often the device node is looked at while the port works, and how often a
  // lost device is looked for: a pulled adapter is noticed within this, and a
  // returning one costs a few system calls a second.
  static constexpr std::chrono::milliseconds CheckInterval{250};

  // How long an attempt lasts while the device is away. Longer than a working
  // port's 2 ms, so that a window polling a lost port wakes fifty times a second
  // rather than five hundred; short enough that a click is still seen at once.
  static constexpr std::chrono::milliseconds LostAttemptTime{20};

  // `device` is the path as the operator gave it (a symbolic link is followed anew
  // at every reopen). `lock` is the lock file taken for the open device; it goes
  // with the device, and a device that comes back is locked anew in `lock_dir`
  // first (none is taken when `lock_dir` is empty).
  ReopeningPort(std::string device, std::unique_ptr<TermiosPort> port, Opener reopen,
                std::unique_ptr<PortLock> lock = nullptr, std::string lock_dir = std::string());

  bool ReadAttempt(std::uint8_t& byte) override;
  bool WriteAttempt(std::uint8_t byte) override;
  std::size_t ReadSome(std::uint8_t* buffer, std::size_t count) override;
  std::size_t WriteSome(const std::uint8_t* data, std::size_t count) override;
  // While lost: sleeps up to `longest` or the next look for the device.
  void AwaitInput(std::chrono::milliseconds longest) override;
  // -1 while lost: the front end comes back after a time and the next attempt looks.
  int InputDescriptor() const override;
  bool TakeLineEvent(LineEvent& event) override;

  bool Lost() const { return !port_; }

 private:
  // After each attempt: notices a loss the port saw, or, when a look is due, a
  // device node that went away or now names another device; while lost, a look
  // that is due tries the device again.
  void Check();
  void LoseDevice(std::string reason);
  void TryReopen();
  // Sleeps until `until`, in one go (a signal ends it early).
  static void SleepUntil(Clock::time_point until);

  std::string device_;
  std::unique_ptr<TermiosPort> port_;  // nullptr while the device is lost
  Opener reopen_;
  std::unique_ptr<PortLock> lock_;  // nullptr while the device is lost
  std::string lock_dir_;
  dev_t identity_ = 0;  // the device number the path led to at the last open
  Clock::time_point next_check_;
  std::deque<LineEvent> events_;
};

}  // namespace dorvane
