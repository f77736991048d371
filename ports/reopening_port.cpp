#include "ports/reopening_port.h"

#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <optional>

namespace dorvane {

namespace {

// The device number the path leads to now, or 0 when it leads to no device.
dev_t DeviceAt(const std::string& path) {
  struct stat node {};
  if (::stat(path.c_str(), &node) != 0 || !S_ISCHR(node.st_mode)) return 0;
  return node.st_rdev;
}

}  // namespace

ReopeningPort::ReopeningPort(std::string device, std::unique_ptr<TermiosPort> port, Opener reopen,
                             std::unique_ptr<PortLock> lock, std::string lock_dir)
    : device_(std::move(device)),
      port_(std::move(port)),
      reopen_(std::move(reopen)),
      lock_(std::move(lock)),
      lock_dir_(std::move(lock_dir)),
      identity_(DeviceAt(device_)),
      next_check_(Clock::now() + CheckInterval) {}

void ReopeningPort::SleepUntil(Clock::time_point until) {
  const auto left = until - Clock::now();
  if (left <= Clock::duration::zero()) return;
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
  const timespec pause{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
  ::nanosleep(&pause, nullptr);
}

// The reason is taken by value: it may be the lost port's own text, which goes with it.
void ReopeningPort::LoseDevice(std::string reason) {
  // Closed at once: a device that comes back under the same name must find it free.
  // The lock goes with it: its name may soon be another device's (a new
  // pseudo-terminal takes a freed number), which another program may then use.
  port_.reset();
  lock_.reset();
  LineEvent lost{"Port lost: " + device_ + ": " + reason, true};
  lost.LineDown = true;
  lost.DevicePresence = LineEvent::Presence::Lost;
  events_.push_back(std::move(lost));
  next_check_ = Clock::now() + CheckInterval;
}

void ReopeningPort::TryReopen() {
  next_check_ = Clock::now() + CheckInterval;
  if (DeviceAt(device_) == 0) return;
  // A device that another program has locked meanwhile is left to it for now.
  std::unique_ptr<PortLock> lock;
  if (!lock_dir_.empty()) {
    std::optional<DeviceHolder> holder;
    lock = PortLock::Take(lock_dir_, device_, holder);
    if (!lock) return;
  }
  // An open that fails or raises now (a node still being set up, its permissions
  // not yet given) is tried again at the next look.
  try {
    port_ = reopen_();
  } catch (...) {
    port_.reset();
  }
  if (!port_) return;
  lock_ = std::move(lock);
  identity_ = DeviceAt(device_);
  // The loss ended the session already; this one ends the wait at a line that was
  // down, so that the server starts over waiting for a request on the line that is back.
  LineEvent back{"Port back: " + device_, true};
  back.DevicePresence = LineEvent::Presence::Back;
  events_.push_back(std::move(back));
}

void ReopeningPort::Check() {
  if (port_ && !port_->LostReason().empty()) return LoseDevice(port_->LostReason());
  if (Clock::now() < next_check_) return;
  if (!port_) return TryReopen();
  next_check_ = Clock::now() + CheckInterval;
  const dev_t now = DeviceAt(device_);
  if (now == 0) return LoseDevice("device removed");
  if (now != identity_) return LoseDevice("another device took its place");
}

bool ReopeningPort::ReadAttempt(std::uint8_t& byte) {
  if (!port_) {
    SleepUntil(std::min(Clock::now() + LostAttemptTime, next_check_));
    Check();
    return false;
  }
  const bool got = port_->ReadAttempt(byte);
  Check();
  return got;
}

bool ReopeningPort::WriteAttempt(std::uint8_t byte) {
  if (!port_) {
    SleepUntil(std::min(Clock::now() + LostAttemptTime, next_check_));
    Check();
    return false;
  }
  const bool put = port_->WriteAttempt(byte);
  Check();
  return put;
}

std::size_t ReopeningPort::ReadSome(std::uint8_t* buffer, std::size_t count) {
  if (!port_) {
    SleepUntil(std::min(Clock::now() + LostAttemptTime, next_check_));
    Check();
    return 0;
  }
  const std::size_t got = port_->ReadSome(buffer, count);
  Check();
  return got;
}

std::size_t ReopeningPort::WriteSome(const std::uint8_t* data, std::size_t count) {
  if (!port_) {
    SleepUntil(std::min(Clock::now() + LostAttemptTime, next_check_));
    Check();
    return 0;
  }
  const std::size_t put = port_->WriteSome(data, count);
  Check();
  return put;
}

void ReopeningPort::AwaitInput(std::chrono::milliseconds longest) {
  const auto until = Clock::now() + longest;
  if (port_) {
    // Woken in time for the next look at the device node.
    const auto wait = std::min(until, next_check_) - Clock::now();
    if (wait > Clock::duration::zero()) {
      port_->AwaitInput(std::chrono::ceil<std::chrono::milliseconds>(wait));
    }
  } else {
    SleepUntil(std::min(until, next_check_));
  }
  Check();
}

int ReopeningPort::InputDescriptor() const { return port_ ? port_->InputDescriptor() : -1; }

bool ReopeningPort::TakeLineEvent(LineEvent& event) {
  if (events_.empty()) return false;
  event = std::move(events_.front());
  events_.pop_front();
  return true;
}

}  // namespace dorvane
