// How many system calls a process makes: all of them, counted by strace attached to
// it for a while, or only the reads and writes, from the kernel's own count in
// /proc/PID/io (syscr and syscw), which costs nothing but leaves out poll and the like.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dorvane::bench {

// syscr + syscw from the text of a /proc/PID/io file; empty when either is missing.
std::optional<std::uint64_t> ParseReadWriteCalls(std::string_view io_text);
std::optional<std::uint64_t> ReadReadWriteCalls(pid_t pid);

// The calls on the "total" line of a strace -c summary; empty when there is none.
std::optional<std::uint64_t> ParseStraceTotal(std::string_view summary);

// strace -c attached to a running process from construction until Stop.
class SyscallTally {
 public:
  // Starts strace and waits until it has attached. Throws std::runtime_error when
  // strace is not there or cannot attach (a ptrace policy may forbid it).
  explicit SyscallTally(pid_t pid);
  ~SyscallTally();
  SyscallTally(const SyscallTally&) = delete;
  SyscallTally& operator=(const SyscallTally&) = delete;

  // Detaches and returns every system call made since the attach.
  std::uint64_t Stop();

 private:
  pid_t strace_ = -1;
  std::string summary_path_;
};

}  // namespace dorvane::bench
