#include "bench/burst_port.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "link/wire_format.h"

namespace dorvane::bench {

namespace {

constexpr int AttemptMs = 2;

}  // namespace

BurstPort::BurstPort(int fd) : fd_(fd) {
  const int flags = ::fcntl(fd_, F_GETFL);
  if (flags >= 0) ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
  burst_.reserve(MaxBurst);
}

BurstPort::~BurstPort() {
  Flush();
  ::close(fd_);
}

bool BurstPort::Flush() {
  std::size_t sent = 0;
  bool ok = true;
  while (sent < burst_.size()) {
    const ssize_t put = ::write(fd_, burst_.data() + sent, burst_.size() - sent);
    if (put > 0) {
      sent += static_cast<std::size_t>(put);
      continue;
    }
    if (put < 0 && errno == EINTR) continue;
    pollfd p{fd_, POLLOUT, 0};
    if (put < 0 && errno == EAGAIN && ::poll(&p, 1, AttemptMs) > 0 && (p.revents & POLLOUT)) {
      continue;
    }
    ok = false;
    break;
  }
  burst_.clear();
  return ok;
}

bool BurstPort::ReadAttempt(std::uint8_t& byte) {
  if (!burst_.empty()) Flush();
  const ssize_t got = ::read(fd_, &byte, 1);
  if (got == 1) return true;
  if (got < 0 && errno == EAGAIN) {
    pollfd p{fd_, POLLIN, 0};
    const int ready = ::poll(&p, 1, AttemptMs);
    if (ready > 0 && (p.revents & POLLIN) != 0) return ::read(fd_, &byte, 1) == 1;
    if (ready <= 0) return false;  // the attempt's time has passed
  }
  // A hung-up or failing side answers at once; the attempt still takes its time,
  // so that a waiting peer does not spin.
  ::usleep(AttemptMs * 1000);
  return false;
}

bool BurstPort::WriteAttempt(std::uint8_t byte) {
  burst_.push_back(byte);
  if (burst_.size() >= HeaderLength) {
    const std::size_t length = burst_[1];
    const std::size_t whole = length == 0 ? HeaderLength : HeaderLength + length + 1;
    if (burst_.size() == whole) Flush();
  }
  if (burst_.size() >= MaxBurst) Flush();
  return true;
}

}  // namespace dorvane::bench
