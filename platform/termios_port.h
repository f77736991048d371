// The serial port on a POSIX host: a tty device (a USB adapter, a UART, or the
// slave of a pseudo-terminal) in raw 115200 8N1 with CTS output flow control, held
// exclusively, and read and written in attempts of about 2 ms.
#pragma once

#include <termios.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "link/serial_port.h"

namespace dorvane {

class TermiosPort : public SerialPort {
 public:
  // How long an attempt that gets nothing takes, so that a waiting link pumps
  // events often and a gone device does not spin a core.
  static constexpr std::chrono::milliseconds AttemptTime{2};

  // Opens and configures the device at `path`. Returns nullptr when it cannot be
  // opened or another holder has it (another program, or another open in this
  // one). Throws OsError when it opened but configuring failed; it is closed first.
  static std::unique_ptr<TermiosPort> Open(const std::string& path);

  // Wraps an already open descriptor (a pseudo-terminal master) as it is, only
  // making it non-blocking. Takes ownership: the port closes it. Throws OsError
  // (after closing it) when the descriptor is not valid.
  static std::unique_ptr<TermiosPort> Adopt(int fd);

  // Puts back the line settings found at Open and closes the device, which also
  // releases the lock.
  ~TermiosPort() override;

  TermiosPort(const TermiosPort&) = delete;
  TermiosPort& operator=(const TermiosPort&) = delete;

  bool ReadAttempt(std::uint8_t& byte) override;
  bool WriteAttempt(std::uint8_t byte) override;
  // One read of everything that has arrived, up to `count`; one write of as much as
  // the driver takes (CTS flow control may stop it part of the way).
  std::size_t ReadSome(std::uint8_t* buffer, std::size_t count) override;
  std::size_t WriteSome(const std::uint8_t* data, std::size_t count) override;
  int InputDescriptor() const override { return fd_; }
  // One sleep in ppoll: a byte, a hang-up or a signal ends it early.
  void AwaitInput(std::chrono::milliseconds longest) override;

 private:
  TermiosPort(int fd, std::optional<termios> saved) : fd_(fd), saved_(saved) {}

  int fd_;
  std::optional<termios> saved_;  // empty for an adopted descriptor
};

}  // namespace dorvane
