#include "bench/process_cpu.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>
#include <string>

namespace dorvane::bench {

namespace {

// utime is field 14 and the field after the command name is 3, so utime is the
// twelfth blank-separated field after the ')'.
constexpr int FieldsBeforeUtime = 14 - 3;

std::optional<std::uint64_t> ParseNumber(std::string_view text) {
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::uint64_t> ParseCpuTicks(std::string_view stat_line) {
  const std::size_t open = stat_line.find('(');
  const std::size_t close = stat_line.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
    return std::nullopt;
  }
  std::string_view rest = stat_line.substr(close + 1);
  std::optional<std::uint64_t> utime;
  for (int field = 0;; ++field) {
    const std::size_t start = rest.find_first_not_of(" \n");
    if (start == std::string_view::npos) return std::nullopt;
    rest.remove_prefix(start);
    const std::size_t end = std::min(rest.find_first_of(" \n"), rest.size());
    const std::string_view token = rest.substr(0, end);
    rest.remove_prefix(end);
    if (field == FieldsBeforeUtime) {
      utime = ParseNumber(token);
      if (!utime) return std::nullopt;
    } else if (field == FieldsBeforeUtime + 1) {
      const std::optional<std::uint64_t> stime = ParseNumber(token);
      if (!stime) return std::nullopt;
      return *utime + *stime;
    }
  }
}

std::optional<std::uint64_t> ReadCpuTicks(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  if (!in) return std::nullopt;
  const std::string line{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  return ParseCpuTicks(line);
}

std::optional<std::uint64_t> ParseRunNanos(std::string_view schedstat_line) {
  const std::size_t end = schedstat_line.find(' ');
  if (end == std::string_view::npos) return std::nullopt;
  return ParseNumber(schedstat_line.substr(0, end));
}

std::optional<std::uint64_t> ReadRunNanos(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
  if (!in) return std::nullopt;
  const std::string line{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  return ParseRunNanos(line);
}

long TicksPerSecond() { return ::sysconf(_SC_CLK_TCK); }

double CoreSharePercent(std::uint64_t ticks, long ticks_per_second, double seconds) {
  if (ticks_per_second <= 0 || seconds <= 0.0) return 0.0;
  return static_cast<double>(ticks) / static_cast<double>(ticks_per_second) / seconds * 100.0;
}

}  // namespace dorvane::bench
