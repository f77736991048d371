#include "ports/termios_port.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "link/os_error.h"

namespace dorvane {

namespace {

using SteadyClock = std::chrono::steady_clock;

// A pseudo-terminal has no modem lines and no UART, and refuses those requests
// with one of these; a real adapter that lacks a feature answers the same way.
bool IsUnsupportedByDevice(int code) { return code == ENOTTY || code == EINVAL || code == EIO; }

// Closes the half-configured port and raises the failure for the operator.
[[noreturn]] void CloseAndThrow(int fd, int code) {
  ::close(fd);
  throw OsError(code);
}

// Raw 115200 8N1, receiver on, modem status ignored for open and read, and output
// held back while the peer drops CTS.
void MakeLinkTermios(termios& tio) {
  ::cfmakeraw(&tio);
  ::cfsetispeed(&tio, B115200);
  ::cfsetospeed(&tio, B115200);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
  tio.c_cflag |= CS8 | CLOCAL | CREAD | CRTSCTS;
  // The descriptor is non-blocking; these only matter to a later blocking user.
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
}

// Waits for `events` on `fd` until `deadline`. True when poll reports any of
// `events` (a hang-up or error is not a success: the caller's next call fails);
// `revents` gets what poll saw.
bool WaitFor(int fd, short events, SteadyClock::time_point deadline, short& revents) {
  revents = 0;
  const auto left = deadline - SteadyClock::now();
  if (left <= SteadyClock::duration::zero()) return false;
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
  const timespec timeout{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
  pollfd p{fd, events, 0};
  const int ready = ::ppoll(&p, 1, &timeout, nullptr);
  if (ready > 0) revents = p.revents;
  return ready > 0 && (p.revents & events) != 0;
}

// Errors after which the device will not answer again under this descriptor: an
// adapter pulled out, a pseudo-terminal whose other side closed.
bool IsDeviceGone(int code) { return code == EIO || code == ENXIO || code == ENODEV; }

// An attempt that got nothing still lasts until its deadline, so that a link
// waiting on a hung-up or failing device polls at its normal pace instead of
// spinning.
void SleepUntil(SteadyClock::time_point deadline) {
  for (;;) {
    const auto left = deadline - SteadyClock::now();
    if (left <= SteadyClock::duration::zero()) return;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    const timespec pause{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    ::nanosleep(&pause, nullptr);  // an interruption just goes round again
  }
}

}  // namespace

std::unique_ptr<TermiosPort> TermiosPort::Open(const std::string& path, int* failure) {
  auto refuse = [failure](int fd, int code) -> std::unique_ptr<TermiosPort> {
    if (fd >= 0) ::close(fd);
    if (failure) *failure = code;
    return nullptr;
  };
  // 1. Open read/write, never as our controlling terminal, without waiting for
  //    carrier, and not inherited by programs we might start.
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return refuse(-1, path.empty() ? ENOENT : errno);

  // 2. Only a terminal device can carry the link.
  if (!::isatty(fd)) return refuse(fd, ENOTTY);

  // 3. Advisory lock first: root passes TIOCEXCL, so this is what refuses a second
  //    holder, and a port held elsewhere is left untouched.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int code = errno;
    if (code == EWOULDBLOCK) return refuse(fd, EBUSY);
    CloseAndThrow(fd, code);
  }

  // 4. Exclusive mode: further opens by ordinary users fail with EBUSY.
  if (::ioctl(fd, TIOCEXCL) != 0) CloseAndThrow(fd, errno);

  // 5. Keep the settings we found, to put them back when the port closes.
  termios saved{};
  if (::tcgetattr(fd, &saved) != 0) CloseAndThrow(fd, errno);

  // 6. The link's line settings; tcsetattr succeeds if any of them took, so read
  //    them back and insist on the speed and the character size.
  termios tio = saved;
  MakeLinkTermios(tio);
  if (::tcsetattr(fd, TCSANOW, &tio) != 0) CloseAndThrow(fd, errno);
  termios applied{};
  if (::tcgetattr(fd, &applied) != 0) CloseAndThrow(fd, errno);
  if (::cfgetospeed(&applied) != B115200 || (applied.c_cflag & CSIZE) != CS8) {
    ::tcsetattr(fd, TCSANOW, &saved);
    CloseAndThrow(fd, EINVAL);
  }

  // 7. RTS on, DTR off; a pseudo-terminal has no modem lines.
  const int rts = TIOCM_RTS;
  if (::ioctl(fd, TIOCMBIS, &rts) != 0 && !IsUnsupportedByDevice(errno)) {
    const int code = errno;
    ::tcsetattr(fd, TCSANOW, &saved);
    CloseAndThrow(fd, code);
  }
  const int dtr = TIOCM_DTR;
  if (::ioctl(fd, TIOCMBIC, &dtr) != 0 && !IsUnsupportedByDevice(errno)) {
    const int code = errno;
    ::tcsetattr(fd, TCSANOW, &saved);
    CloseAndThrow(fd, code);
  }

  // 8. Low latency where the driver has it: USB adapters otherwise hold each
  //    reply back up to 16 ms, which a stop-and-wait link feels on every block.
  //    Only a speed-up: a driver that refuses it (some answer EPERM or EOPNOTSUPP to
  //    ordinary users) leaves a port that works all the same.
  serial_struct serial{};
  if (::ioctl(fd, TIOCGSERIAL, &serial) == 0) {
    serial.flags |= ASYNC_LOW_LATENCY;
    (void)::ioctl(fd, TIOCSSERIAL, &serial);
  }

  // Bytes already waiting in the driver are kept: the first read takes them.
  return std::unique_ptr<TermiosPort>(new TermiosPort(fd, saved));
}

std::unique_ptr<TermiosPort> TermiosPort::Adopt(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) CloseAndThrow(fd, errno);
  if (::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) CloseAndThrow(fd, errno);
  return std::unique_ptr<TermiosPort>(new TermiosPort(fd, std::nullopt));
}

TermiosPort::~TermiosPort() {
  if (saved_) {
    // TCSANOW: draining first could wait for ever while the peer holds CTS off.
    ::tcsetattr(fd_, TCSANOW, &*saved_);
    // A pseudo-terminal's slave outlives our close while its master is open; left
    // exclusive, it would turn away the next ordinary user.
    ::ioctl(fd_, TIOCNXCL);
  }
  ::close(fd_);
}

// A hang-up shows as POLLHUP or POLLERR (a pseudo-terminal whose other side closed
// gives either), as the end of input or as EIO, whichever call sees it first; all
// read the same to the operator.
void TermiosPort::NoteRevents(short revents) {
  if (!lost_.empty()) return;
  if (revents & (POLLHUP | POLLERR)) {
    lost_ = "hung up";
  } else if (revents & POLLNVAL) {
    lost_ = "descriptor closed";
  }
}

void TermiosPort::NoteError(int code) {
  if (!lost_.empty() || !IsDeviceGone(code)) return;
  lost_ = code == EIO ? "hung up" : std::strerror(code);
}

bool TermiosPort::ReadAttempt(std::uint8_t& byte) {
  const auto deadline = SteadyClock::now() + AttemptTime;
  // A byte already waiting costs one system call.
  ssize_t got = ::read(fd_, &byte, 1);
  short revents = 0;
  if (got < 0 && errno == EAGAIN) {
    if (WaitFor(fd_, POLLIN, deadline, revents)) got = ::read(fd_, &byte, 1);
    NoteRevents(revents);
  }
  if (got == 1) return true;
  // Nothing, an interruption, a line error or a hang-up: no byte, at the normal
  // pace. A terminal that was hung up reads as the end of input, a pseudo-terminal
  // whose other side closed as EIO.
  if (got == 0) {
    if (lost_.empty()) lost_ = "hung up";
  } else if (got < 0) {
    NoteError(errno);
  }
  SleepUntil(deadline);
  return false;
}

// As ReadAttempt, for runs: the link reads through this one.
std::size_t TermiosPort::ReadSome(std::uint8_t* buffer, std::size_t count) {
  if (count == 0) return 0;
  const auto deadline = SteadyClock::now() + AttemptTime;
  // Bytes already waiting cost one system call.
  ssize_t got = ::read(fd_, buffer, count);
  if (got < 0 && errno == EAGAIN) {
    short revents = 0;
    if (WaitFor(fd_, POLLIN, deadline, revents)) got = ::read(fd_, buffer, count);
    NoteRevents(revents);
  }
  if (got > 0) return static_cast<std::size_t>(got);
  // Nothing, an interruption, a line error or a hang-up (read gives 0, or EIO on a
  // pseudo-terminal whose other side is closed): no byte, at the normal pace.
  if (got == 0) {
    if (lost_.empty()) lost_ = "hung up";
  } else {
    NoteError(errno);
  }
  SleepUntil(deadline);
  return 0;
}

void TermiosPort::AwaitInput(std::chrono::milliseconds longest) {
  short revents = 0;
  WaitFor(fd_, POLLIN, SteadyClock::now() + longest, revents);
  NoteRevents(revents);
}

bool TermiosPort::WriteAttempt(std::uint8_t byte) {
  const auto deadline = SteadyClock::now() + AttemptTime;
  ssize_t put = ::write(fd_, &byte, 1);
  if (put < 0 && errno == EAGAIN) {
    short revents = 0;
    if (WaitFor(fd_, POLLOUT, deadline, revents)) put = ::write(fd_, &byte, 1);
    NoteRevents(revents);
  }
  if (put == 1) return true;
  if (put < 0) NoteError(errno);
  SleepUntil(deadline);
  return false;
}

// As WriteAttempt, for runs: the link writes through this one.
std::size_t TermiosPort::WriteSome(const std::uint8_t* data, std::size_t count) {
  if (count == 0) return 0;
  const auto deadline = SteadyClock::now() + AttemptTime;
  ssize_t put = ::write(fd_, data, count);
  if (put < 0 && errno == EAGAIN) {
    short revents = 0;
    if (WaitFor(fd_, POLLOUT, deadline, revents)) put = ::write(fd_, data, count);
    NoteRevents(revents);
  }
  if (put > 0) return static_cast<std::size_t>(put);
  if (put < 0) NoteError(errno);
  SleepUntil(deadline);
  return 0;
}

}  // namespace dorvane
