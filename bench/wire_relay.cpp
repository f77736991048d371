#include "bench/wire_relay.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <ctime>
#include <deque>
#include <optional>

#include "bench/wire_schedule.h"

namespace dorvane::bench {

namespace {

// Sleeps end some tens of microseconds late even with the least timer slack; the
// last byte of a burst is waited for by spinning from this far ahead of its time.
// Kept short: on a small machine the spin holds a processor that the far side may
// be waiting for.
constexpr Nanos SpinAhead{50'000};
// A side whose other end is closed reports a hang-up at once on every poll; it is
// left out of the polls this long, so the relay does not spin on it.
constexpr Nanos HangUpRest{5'000'000};
// The longest sleep with nothing due, so that Stop is seen quickly.
constexpr Nanos IdleSleep{20'000'000};

struct Pending {
  Nanos due;
  std::uint8_t byte;
};

// One direction: bytes read from `from`, written to `to` when due.
struct Direction {
  Direction(int from_fd, int to_fd, Nanos byte_time, std::atomic<std::uint64_t>& moved_count,
            std::vector<std::int64_t>& answer_times)
      : from(from_fd), to(to_fd), wire(byte_time), moved(moved_count), answers(answer_times) {}
  int from;
  int to;
  WireSchedule wire;
  std::deque<Pending> queue;
  Nanos resting_until{Nanos::min()};
  std::atomic<std::uint64_t>& moved;
  // The side this direction reads from answers a packet ended towards it.
  std::vector<std::int64_t>& answers;
  std::optional<Nanos> awaiting_answer_since;
};

timespec ToTimespec(Nanos span) {
  if (span < Nanos::zero()) span = Nanos::zero();
  return timespec{static_cast<time_t>(span.count() / 1'000'000'000),
                  static_cast<long>(span.count() % 1'000'000'000)};
}

void MakeNonBlocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

// Reads what has arrived and gives each byte its time at the far end.
void TakeInput(Direction& d, Nanos now) {
  if (now < d.resting_until) return;
  std::array<std::uint8_t, 512> buffer{};
  for (;;) {
    const ssize_t got = ::read(d.from, buffer.data(), buffer.size());
    if (got > 0) {
      if (d.awaiting_answer_since) {
        d.answers.push_back((now - *d.awaiting_answer_since).count());
        d.awaiting_answer_since.reset();
      }
      for (ssize_t i = 0; i < got; ++i) {
        d.queue.push_back(Pending{d.wire.Deliver(now), buffer[static_cast<std::size_t>(i)]});
      }
      continue;
    }
    // 0 or EIO: the far process has closed its side (or not opened it yet).
    if (got == 0 || (got < 0 && errno == EIO)) d.resting_until = now + HangUpRest;
    return;
  }
}

// Writes every byte whose time has come. Returns how late the last byte of a burst
// was, when one went out.
std::optional<Nanos> HandOn(Direction& d, Nanos now) {
  std::array<std::uint8_t, 512> out{};
  std::size_t count = 0;
  Nanos last_due{};
  while (count < out.size() && count < d.queue.size() && d.queue[count].due <= now) {
    out[count] = d.queue[count].byte;
    last_due = d.queue[count].due;
    ++count;
  }
  if (count == 0) return std::nullopt;
  const ssize_t put = ::write(d.to, out.data(), count);
  if (put < 0 && errno != EAGAIN) {
    // The far process has gone: nobody will read these bytes.
    d.queue.clear();
    return std::nullopt;
  }
  if (put <= 0) return std::nullopt;  // the far side's buffer is full: try again later
  const auto written = static_cast<std::size_t>(put);
  d.queue.erase(d.queue.begin(), d.queue.begin() + static_cast<std::ptrdiff_t>(written));
  d.moved += written;
  if (!d.queue.empty() || written != count) return std::nullopt;
  return now - last_due;
}

}  // namespace

WireRelay::WireRelay(int server_side, int peer_side, Nanos byte_time)
    : server_side_(server_side), peer_side_(peer_side), byte_time_(byte_time) {
  MakeNonBlocking(server_side_);
  MakeNonBlocking(peer_side_);
}

WireRelay::~WireRelay() { Stop(); }

void WireRelay::Start() {
  if (thread_.joinable()) return;
  stop_ = false;
  thread_ = std::thread([this] { Run(); });
}

void WireRelay::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

void WireRelay::Run() {
  // The default slack of 50 us would make every sleep end that much late.
  ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  // A cable is never late because the machine is busy. Where the system allows it
  // the relay runs under the real-time policy; it sleeps between bytes and spins
  // only for a packet's last one, so it takes little from anyone.
  sched_param priority{};
  priority.sched_priority = 10;
  realtime_ = ::pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority) == 0;
  std::array<Direction, 2> directions = {
      Direction(server_side_, peer_side_, byte_time_, to_peer_, times_.server_answer),
      Direction(peer_side_, server_side_, byte_time_, to_server_, times_.peer_answer),
  };

  while (!stop_) {
    Nanos now = SteadyNow();
    for (std::size_t i = 0; i < directions.size(); ++i) {
      if (const std::optional<Nanos> late = HandOn(directions[i], now)) {
        times_.last_byte_late.push_back(late->count());
        // The packet is whole at the far side, which answers next.
        directions[1 - i].awaiting_answer_since = now;
      }
    }

    // The next byte due, and whether it is the last of its queue.
    std::optional<Nanos> next_due;
    bool last_of_burst = false;
    for (const Direction& d : directions) {
      if (d.queue.empty()) continue;
      if (!next_due || d.queue.front().due < *next_due) {
        next_due = d.queue.front().due;
        last_of_burst = d.queue.size() == 1;
      }
    }

    now = SteadyNow();
    Nanos wake = now + IdleSleep;
    if (next_due) wake = last_of_burst ? *next_due - SpinAhead : *next_due;
    if (wake > now) {
      // Only an idle direction is watched. While bytes queue, whatever else comes
      // in that direction starts when the line falls free whenever it is read, and
      // it is read at the next byte's time; waking for each byte the writer puts
      // out would only take the processor from the writer.
      std::array<pollfd, 2> polls{};
      nfds_t count = 0;
      for (const Direction& d : directions) {
        if (d.queue.empty() && now >= d.resting_until) polls[count++] = pollfd{d.from, POLLIN, 0};
      }
      const timespec timeout = ToTimespec(wake - now);
      ::ppoll(polls.data(), count, &timeout, nullptr);
    }
    // Close to a burst's end the loop comes round without sleeping, reading input as
    // it comes and writing the last byte the moment it is due.
    now = SteadyNow();
    for (Direction& d : directions) TakeInput(d, now);
  }
}

}  // namespace dorvane::bench
