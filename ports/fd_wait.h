// Waiting on descriptors for the ports that are not terminals (sockets, standard
// input and output): one ppoll with a deadline on the monotonic clock. A stop
// signal interrupts it, so a front end that handles signals without SA_RESTART
// sees them at once.
#pragma once

#include <poll.h>

#include <chrono>
#include <cstddef>

namespace dorvane {

using SteadyClock = std::chrono::steady_clock;

// How long a read or write attempt of these ports waits at most.
inline constexpr std::chrono::milliseconds FdAttemptTime{2};

// Waits until one of `fds` reports an event, a signal arrives, or `deadline` has
// passed. Returns the number of descriptors with events (their revents set); 0 on a
// time-out or an interruption.
int WaitUntil(pollfd* fds, std::size_t count, SteadyClock::time_point deadline);

}  // namespace dorvane
