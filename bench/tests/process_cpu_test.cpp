// Reading a process's processor time out of /proc/PID/stat.
#include "bench/process_cpu.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace dorvane::bench {
namespace {

// A line as the kernel writes it, with utime 1234 and stime 56 (fields 14 and 15)
// after a command name of `comm`.
std::string StatLine(const std::string& comm) {
  return "4242 (" + comm +
         ") S 1 4242 4242 0 -1 4194560 1161 0 0 0 1234 56 0 0 20 0 1 0 7654321 "
         "12345678 900 18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 1 0 0 0 0 0\n";
}

TEST(ProcessCpuTest, AddsUserAndSystemTicksWhateverTheCommandName) {
  // The command name may hold blanks and parentheses; fields count from the last ')'.
  for (const std::string comm : {"dorvaned", "a b c", "x) S 9 9 (y", ") 1 2 3 4 5 6 7 8 9 10 11"}) {
    EXPECT_EQ(ParseCpuTicks(StatLine(comm)), 1290u) << comm;
  }
}

TEST(ProcessCpuTest, RefusesLinesThatAreNotStatLines) {
  EXPECT_FALSE(ParseCpuTicks(""));
  EXPECT_FALSE(ParseCpuTicks("4242 dorvaned S 1 2 3"));
  EXPECT_FALSE(ParseCpuTicks("4242 (dorvaned) S 1 4242 4242 0 -1 4194560 1161 0 0 0"));
  EXPECT_FALSE(ParseCpuTicks("4242 (dorvaned) S 1 4242 4242 0 -1 4194560 1161 0 0 0 12x 56 0"));
}

TEST(ProcessCpuTest, ReadsThisProcess) {
  const std::optional<std::uint64_t> ticks = ReadCpuTicks(::getpid());
  ASSERT_TRUE(ticks.has_value());
  EXPECT_FALSE(ReadCpuTicks(-1).has_value());
}

TEST(ProcessCpuTest, RunTimeIsTheFirstSchedstatField) {
  EXPECT_EQ(ParseRunNanos("123456789 2000 17\n"), 123456789u);
  EXPECT_FALSE(ParseRunNanos(""));
  EXPECT_FALSE(ParseRunNanos("12x 2000 17\n"));
  EXPECT_TRUE(ReadRunNanos(::getpid()).has_value());
}

TEST(ProcessCpuTest, ShareIsPerCentOfOneCore) {
  // 5 ticks of 100 a second over 5 s: 0.05 s of 5 s.
  EXPECT_DOUBLE_EQ(CoreSharePercent(5, 100, 5.0), 1.0);
  EXPECT_DOUBLE_EQ(CoreSharePercent(500, 100, 5.0), 100.0);
  EXPECT_DOUBLE_EQ(CoreSharePercent(5, 0, 5.0), 0.0);
}

}  // namespace
}  // namespace dorvane::bench
