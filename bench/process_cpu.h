// The processor time a process has used, from /proc/PID/stat: user plus system
// time in clock ticks (utime and stime, fields 14 and 15).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string_view>

namespace dorvane::bench {

// utime + stime from the text of a /proc/PID/stat file. The command name (field 2)
// is in parentheses and may itself hold blanks and parentheses, so the fields are
// counted from the last ')'. Empty when the text is not such a line.
std::optional<std::uint64_t> ParseCpuTicks(std::string_view stat_line);

// ParseCpuTicks of the live process; empty when it is gone.
std::optional<std::uint64_t> ReadCpuTicks(pid_t pid);

// The time on a processor in nanoseconds, the first field of /proc/PID/schedstat:
// the same quantity as utime + stime, but exact instead of in ticks of 10 ms, which
// over a few seconds of a nearly idle process decide the figure by a tick or two.
std::optional<std::uint64_t> ParseRunNanos(std::string_view schedstat_line);
std::optional<std::uint64_t> ReadRunNanos(pid_t pid);

// Clock ticks a second (sysconf(_SC_CLK_TCK)).
long TicksPerSecond();

// The share of one core that `ticks` of processor time are over `seconds` of wall
// time, in per cent.
double CoreSharePercent(std::uint64_t ticks, long ticks_per_second, double seconds);

}  // namespace dorvane::bench
