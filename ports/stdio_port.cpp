#include "ports/stdio_port.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "ports/fd_wait.h"

namespace dorvane {

namespace {

// A write of at most this much into a pipe that polled writable never blocks.
constexpr std::size_t LargestWrite = 512;

}  // namespace

void StdioPort::End(std::string text) {
  if (ended_) return;
  ended_ = true;
  LineEvent event;
  event.LogText = std::move(text);
  event.EndsSession = true;
  event.EndsServing = true;
  events_.push_back(std::move(event));
}

std::size_t StdioPort::ReadSome(std::uint8_t* buffer, std::size_t count) {
  if (count == 0 || ended_) return 0;
  // Wait first and read only what is there: the descriptor stays blocking.
  pollfd p{in_fd_, POLLIN, 0};
  if (WaitUntil(&p, 1, SteadyClock::now() + FdAttemptTime) == 0) return 0;
  const ssize_t got = ::read(in_fd_, buffer, count);
  if (got > 0) return static_cast<std::size_t>(got);
  if (got == 0) {
    End("End of input");
  } else if (errno != EAGAIN && errno != EINTR) {
    End(std::string("Input failed: ") + std::strerror(errno));
  }
  return 0;
}

std::size_t StdioPort::WriteSome(const std::uint8_t* data, std::size_t count) {
  if (count == 0 || ended_) return 0;
  pollfd p{out_fd_, POLLOUT, 0};
  if (WaitUntil(&p, 1, SteadyClock::now() + FdAttemptTime) == 0) return 0;
  const ssize_t put = ::write(out_fd_, data, std::min(count, LargestWrite));
  if (put > 0) return static_cast<std::size_t>(put);
  if (put < 0 && errno != EAGAIN && errno != EINTR) {
    End(std::string("Output failed: ") + std::strerror(errno));
  }
  return 0;
}

void StdioPort::AwaitInput(std::chrono::milliseconds longest) {
  if (ended_) return;
  pollfd p{in_fd_, POLLIN, 0};
  WaitUntil(&p, 1, SteadyClock::now() + longest);
}

bool StdioPort::TakeLineEvent(LineEvent& event) {
  if (events_.empty()) return false;
  event = std::move(events_.front());
  events_.pop_front();
  return true;
}

}  // namespace dorvane
