#include "ports/fd_wait.h"

#include <ctime>

namespace dorvane {

int WaitUntil(pollfd* fds, std::size_t count, SteadyClock::time_point deadline) {
  auto left = deadline - SteadyClock::now();
  if (left < SteadyClock::duration::zero()) left = SteadyClock::duration::zero();
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
  const timespec timeout{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
  for (std::size_t i = 0; i < count; ++i) fds[i].revents = 0;
  const int ready = ::ppoll(fds, static_cast<nfds_t>(count), &timeout, nullptr);
  return ready > 0 ? ready : 0;
}

}  // namespace dorvane
