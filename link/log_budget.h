// Lines that a flood of garbage would repeat without end (damaged packets, stray
// bytes while idle, connections opened and closed) are logged in full the first few
// times (FullLines); after that they are only counted, and every ten seconds one
// line sums them up: "... 4,211 more damaged packets in the last 10 s". A flood is
// over once a kind has been quiet for those ten seconds, and the next one is logged
// in full again. So a minute of garbage writes a few dozen lines, in the window and
// in the journal alike. A request's own lines never pass through here.
#pragma once

#include <array>
#include <cstdint>

#include "link/operator_panel.h"

namespace dorvane {

enum class Repeated : std::uint8_t {
  kDamagedPacket,  // a request whose packet came damaged or cut short
  kStrayByte,      // a byte other than the attention byte while idle
  kLineEvent,      // a connection opened or closed, a port lost or back
};

class LogBudget {
 public:
  // Occurrences logged in full at a flood's start: a few stray bytes or damaged
  // requests, and enough line events for several connections coming and going.
  static constexpr int FullLines(Repeated kind) { return kind == Repeated::kLineEvent ? 10 : 3; }
  static constexpr std::uint32_t PeriodMs = 10000;  // one summary per period at most

  // Keeps the panel to log the summaries on; it must outlive the budget.
  explicit LogBudget(OperatorPanel& panel) : panel_(panel) {}

  // Whether the occurrence of `kind` at `now` (ms) may be logged in full; false when
  // it is only counted for the summary.
  bool Allow(Repeated kind, std::uint32_t now);

  // Logs the summary of every kind whose period has run out at `now`; with `all`,
  // of every kind that has counted anything, due or not (serving ends, or the
  // line went quiet before a request).
  void Flush(std::uint32_t now, bool all = false);

  // Summary lines logged so far.
  std::uint64_t Summaries() const { return summaries_; }

  // Whether occurrences of `kind` are counted and not yet summed up.
  bool Holding(Repeated kind) const { return kinds_[Index(kind)].counted > 0; }

 private:
  struct Kind {
    bool seen = false;
    std::uint32_t last_seen = 0;
    int logged = 0;                   // in full, since the flood began
    std::uint64_t counted = 0;        // since the last summary
    std::uint32_t first_counted = 0;  // when the first of them came
  };
  static std::size_t Index(Repeated kind) { return static_cast<std::size_t>(kind); }
  void Summarise(Repeated kind, std::uint32_t now);

  OperatorPanel& panel_;
  std::array<Kind, 3> kinds_{};
  std::uint64_t summaries_ = 0;
};

}  // namespace dorvane
