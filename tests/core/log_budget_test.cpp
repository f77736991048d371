// A flood of garbage writes a few dozen lines a minute, sums up every occurrence it
// does not log, and leaves the next request's lines whole.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "link/log_budget.h"
#include "tests/core/served_rig.h"

namespace dorvane::testing {
namespace {

using Lines = std::vector<std::string>;

// Occurrences of the summary lines' noun, summed over the log.
std::uint64_t Summed(const Lines& log, const std::string& noun) {
  const std::regex summary("\\.\\.\\. ([0-9,]+) more " + noun + " in the last [0-9]+ s");
  std::uint64_t total = 0;
  for (const std::string& line : log) {
    std::smatch match;
    if (!std::regex_match(line, match, summary)) continue;
    total += std::stoull(std::regex_replace(match[1].str(), std::regex(","), ""));
  }
  return total;
}

std::size_t CountOf(const Lines& log, const std::string& line) {
  return static_cast<std::size_t>(std::count(log.begin(), log.end(), line));
}

TEST(LogBudget, AMinuteOfGarbageWritesAFewDozenLinesAndCountsTheRest) {
  ServedRig rig;
  rig.Put("keep.prg", Pattern(50));
  const std::string connected = "Connection from 10.0.0.2:6400";
  std::uint64_t strays = 0, damaged = 0, connections = 0;
  for (int tenth = 0; tenth < 600; ++tenth) {
    rig.Send(Bytes(20, 0x55));
    strays += 20;
    rig.Send({ptAttention, ptLoad, 0x05, 0x00});  // a request whose header fails
    ++damaged;
    if (tenth % 10 == 0) {
      rig.link.port->Event({connected, true});
      ++connections;
    }
    rig.link.port->Silence(100);
  }
  rig.Send(Cat({Request(ptLoad, "KEEP.PRG"), StatusBytes(stOk), StatusBytes(stOk)}));
  rig.Serve();

  const Lines& log = rig.Log();
  EXPECT_LE(log.size(), 60u);
  // Every occurrence is logged in full or counted in a summary.
  const std::size_t crc_errors = CountOf(log, "Header CRC error!!");
  EXPECT_EQ(crc_errors + Summed(log, "damaged packets?"), damaged);
  EXPECT_EQ(CountOf(log, "Action") - crc_errors - 1 + Summed(log, "stray bytes? while idle"),
            strays);
  EXPECT_EQ(CountOf(log, connected) + Summed(log, "line events?"), connections);
  // The complement still answers every stray byte.
  const Bytes& replies = rig.link.port->written;
  EXPECT_EQ(std::count(replies.begin(), replies.end(), 0xAA), static_cast<long>(strays));
  // The request after the flood is logged and served whole.
  EXPECT_EQ(Lines(log.end() - 6, log.end()),
            (Lines{"Waiting for command from C64...", "Action", "Sending file:keep.prg",
                   "Sent 50 bytes in 0.0 s", "Waiting for command from C64...", " terminated!"}));
  const Bytes sent = SentFile(Pattern(50));
  EXPECT_EQ(Bytes(replies.end() - static_cast<long>(sent.size()), replies.end()), sent);
}

TEST(LogBudget, SummariesInWordsAndAFreshStartAfterAQuietPeriod) {
  struct Case {
    const char* what;
    Repeated kind;
    int occurrences;
    std::uint32_t spacing_ms;  // between two occurrences
    std::uint32_t flushed_at;  // after the first, with `all`
    std::string summary;
  };
  const Case cases[] = {
      {"a flood", Repeated::kDamagedPacket, 4214, 2, 10000,
       "... 4,211 more damaged packets in the last 10 s"},
      {"one over", Repeated::kStrayByte, 4, 0, 300,
       "... 1 more stray byte while idle in the last 1 s"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RecordingPanel panel;
    LogBudget budget(panel);
    int allowed = 0;
    for (int i = 0; i < c.occurrences; ++i) {
      allowed += budget.Allow(c.kind, 5000 + static_cast<std::uint32_t>(i) * c.spacing_ms);
    }
    EXPECT_EQ(allowed, LogBudget::FullLines(c.kind));
    budget.Flush(5000 + c.flushed_at, true);
    EXPECT_EQ(panel.log, Lines{c.summary});
  }
  // Ten quiet seconds end the flood: the next ones are logged in full again.
  RecordingPanel panel;
  LogBudget budget(panel);
  for (int i = 0; i < 13; ++i) budget.Allow(Repeated::kLineEvent, 100);
  EXPECT_FALSE(budget.Allow(Repeated::kLineEvent, 9000));
  budget.Flush(10099);
  EXPECT_TRUE(panel.log.empty());
  budget.Flush(10100);
  EXPECT_EQ(panel.log, Lines{"... 4 more line events in the last 10 s"});
  EXPECT_FALSE(budget.Allow(Repeated::kLineEvent, 18999));
  EXPECT_TRUE(budget.Allow(Repeated::kLineEvent, 18999 + 10000));
}

}  // namespace
}  // namespace dorvane::testing
