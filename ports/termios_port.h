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
  // opened, is no terminal (ENOTTY), or another holder has it (EBUSY: another
  // program, or another open in this one); `failure`, when given, then holds the
  // system's error. Throws OsError when it opened but configuring failed; it is
  // closed first.
  static std::unique_ptr<TermiosPort> Open(const std::string& path, int* failure = nullptr);

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
  // One sleep in ppoll: a byte, a hang-up or a signal ends it early.
  void AwaitInput(std::chrono::milliseconds longest) override;
  int InputDescriptor() const override { return fd_; }

  // Why the device is gone ("Input/output error", "hung up"), once a read, a write
  // or a wait has seen a hang-up or an error that no later attempt recovers from;
  // empty while it works. A gone port takes and gives nothing at the normal pace.
  const std::string& LostReason() const { return lost_; }

 private:
  TermiosPort(int fd, std::optional<termios> saved) : fd_(fd), saved_(saved) {}

  // Notes a hang-up or error in `revents` of a poll, or the error `code` of a
  // read or write, as the loss of the device when it is one.
  void NoteRevents(short revents);
  void NoteError(int code);

  int fd_;
  std::optional<termios> saved_;  // empty for an adopted descriptor
  std::string lost_;
};

}  // namespace dorvane
