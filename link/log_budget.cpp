#include "link/log_budget.h"

#include "link/grouped_count.h"

#include <string>

namespace dorvane {
namespace {

struct Noun {
  const char* one;
  const char* many;
};
constexpr Noun Nouns[] = {
    {"damaged packet", "damaged packets"},
    {"stray byte while idle", "stray bytes while idle"},
    {"line event", "line events"},
};

}  // namespace

bool LogBudget::Allow(Repeated kind, std::uint32_t now) {
  Flush(now);
  Kind& k = kinds_[Index(kind)];
  // Differences of the 32-bit tick, so that its wrap changes nothing.
  if (k.seen && now - k.last_seen >= PeriodMs) k.logged = 0;  // the last flood is over
  k.seen = true;
  k.last_seen = now;
  if (k.logged < FullLines(kind)) {
    ++k.logged;
    return true;
  }
  if (k.counted++ == 0) k.first_counted = now;
  return false;
}

void LogBudget::Flush(std::uint32_t now, bool all) {
  for (std::size_t i = 0; i < kinds_.size(); ++i) {
    const Kind& k = kinds_[i];
    if (k.counted > 0 && (all || now - k.first_counted >= PeriodMs)) {
      Summarise(static_cast<Repeated>(i), now);
    }
  }
}

void LogBudget::Summarise(Repeated kind, std::uint32_t now) {
  Kind& k = kinds_[Index(kind)];
  const Noun& noun = Nouns[Index(kind)];
  // Whole seconds, rounded up: a flood of a moment still reads "in the last 1 s".
  const std::uint32_t seconds = (now - k.first_counted + 999) / 1000;
  panel_.LogLine("... " + GroupedCount(k.counted) + " more " +
                 (k.counted == 1 ? noun.one : noun.many) + " in the last " +
                 std::to_string(seconds == 0 ? 1 : seconds) + " s");
  k.counted = 0;
  ++summaries_;
}

}  // namespace dorvane
