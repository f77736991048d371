// A cable at a real baud rate between two pseudo-terminals. A pseudo-terminal moves
// bytes as fast as the processes run; the relay sits between the master of the
// server's pair and the master of the peer's pair and hands every byte on, in both
// directions, only when a real line would have delivered it (WireSchedule).
//
// The relay sleeps until a byte is due. A byte that is due late by the sleep's
// wake-up time costs nothing as long as more bytes follow it (the later ones keep
// their own times), so only the last byte queued in a direction, the one the far
// end will answer, is waited for by spinning, and is handed on on time. A writer's
// further bytes are picked up at those times, not as each one comes: a byte that
// comes while the line is busy goes out when it falls free either way.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "bench/bench_clock.h"

namespace dorvane::bench {

// Where the time between two packets goes, each sample in nanoseconds, one per
// packet's end.
struct RelayTimes {
  // How late the last byte of a packet reached the far end.
  std::vector<std::int64_t> last_byte_late;
  // From handing the last byte of a packet to one side to the first byte of that
  // side's answer: the side's turnaround, with the relay's own wake-up in it.
  std::vector<std::int64_t> server_answer;
  std::vector<std::int64_t> peer_answer;
};

class WireRelay {
 public:
  // `server_side` and `peer_side` are the masters of two pseudo-terminal pairs; they
  // stay the caller's and must outlive the relay. They are made non-blocking.
  WireRelay(int server_side, int peer_side, Nanos byte_time);
  ~WireRelay();
  WireRelay(const WireRelay&) = delete;
  WireRelay& operator=(const WireRelay&) = delete;

  // Runs the relay on a thread of its own until Stop or destruction.
  void Start();
  void Stop();

  // Bytes handed on so far, each way.
  std::uint64_t ToPeer() const { return to_peer_.load(); }
  std::uint64_t ToServer() const { return to_server_.load(); }
  // Whether it ran under the real-time policy; only while the relay is stopped.
  bool Realtime() const { return realtime_; }
  // What was seen so far; only while the relay is stopped.
  const RelayTimes& Times() const { return times_; }

 private:
  void Run();

  int server_side_;
  int peer_side_;
  Nanos byte_time_;
  std::atomic<bool> stop_{false};
  std::atomic<std::uint64_t> to_peer_{0};
  std::atomic<std::uint64_t> to_server_{0};
  RelayTimes times_;
  bool realtime_ = false;
  std::thread thread_;
};

}  // namespace dorvane::bench
