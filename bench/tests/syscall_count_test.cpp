// Reading system call counts out of /proc/PID/io and out of a strace summary.
#include "bench/syscall_count.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace dorvane::bench {
namespace {

TEST(SyscallCountTest, ReadsAndWritesComeFromSyscrAndSyscw) {
  const char* io =
      "rchar: 5000\nwchar: 300\nsyscr: 1234\nsyscw: 56\nread_bytes: 0\nwrite_bytes: 0\n";
  EXPECT_EQ(ParseReadWriteCalls(io), 1290u);
  EXPECT_FALSE(ParseReadWriteCalls("rchar: 5000\nsyscr: 1234\n"));
  EXPECT_FALSE(ParseReadWriteCalls("syscr: 12x\nsyscw: 56\n"));
  // Some /proc files put a tab after the colon.
  EXPECT_EQ(ParseReadWriteCalls("syscr:\t7\nsyscw:\t3\n"), 10u);
  EXPECT_TRUE(ReadReadWriteCalls(::getpid()).has_value());
}

TEST(SyscallCountTest, TheStraceTotalIsTheCallsColumnWithOrWithoutErrors) {
  const char* with_errors =
      "% time     seconds  usecs/call     calls    errors syscall\n"
      "------ ----------- ----------- --------- --------- ----------------\n"
      " 60.00    0.000600           2       259           write\n"
      " 40.00    0.000400         100         4         1 read\n"
      "------ ----------- ----------- --------- --------- ----------------\n"
      "100.00    0.001000           3       263         1 total\n";
  EXPECT_EQ(ParseStraceTotal(with_errors), 263u);
  EXPECT_EQ(ParseStraceTotal("100.00    0.001000           3       17 total\n"), 17u);
  EXPECT_FALSE(
      ParseStraceTotal("strace: attach: ptrace(PTRACE_SEIZE, 1): Operation not permitted\n"));
}

}  // namespace
}  // namespace dorvane::bench
