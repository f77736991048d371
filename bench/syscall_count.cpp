#include "bench/syscall_count.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace dorvane::bench {

namespace {

std::optional<std::uint64_t> Number(std::string_view text) {
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// The value of a "name: value" line.
std::optional<std::uint64_t> Field(std::string_view text, std::string_view name) {
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string_view line = text.substr(at, end - at);
    if (line.size() > name.size() + 1 && line.substr(0, name.size()) == name &&
        line[name.size()] == ':') {
      std::string_view value = line.substr(name.size() + 1);
      while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
      return Number(value);
    }
    at = end + 1;
  }
  return std::nullopt;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  return std::string{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Whether `pid` is being traced now, from the TracerPid line of its status.
bool Traced(pid_t pid) {
  const std::optional<std::uint64_t> tracer =
      Field(ReadText("/proc/" + std::to_string(pid) + "/status"), "TracerPid");
  return tracer && *tracer != 0;
}

}  // namespace

std::optional<std::uint64_t> ParseReadWriteCalls(std::string_view io_text) {
  const std::optional<std::uint64_t> reads = Field(io_text, "syscr");
  const std::optional<std::uint64_t> writes = Field(io_text, "syscw");
  if (!reads || !writes) return std::nullopt;
  return *reads + *writes;
}

std::optional<std::uint64_t> ReadReadWriteCalls(pid_t pid) {
  return ParseReadWriteCalls(ReadText("/proc/" + std::to_string(pid) + "/io"));
}

std::optional<std::uint64_t> ParseStraceTotal(std::string_view summary) {
  // "100.00    0.001234           4       264         3 total": the calls are the
  // fourth column whether or not the errors column is filled in.
  std::istringstream lines{std::string(summary)};
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::vector<std::string> columns{std::istream_iterator<std::string>(words), {}};
    if (columns.size() >= 5 && columns.back() == "total") return Number(columns[3]);
  }
  return std::nullopt;
}

SyscallTally::SyscallTally(pid_t pid) {
  char pattern[] = "/tmp/dorvane-bench-strace-XXXXXX";
  const int fd = ::mkstemp(pattern);
  if (fd < 0) throw std::runtime_error("no temporary file for strace");
  ::close(fd);
  summary_path_ = pattern;
  std::vector<std::string> args = {"strace", "-c",          "-f", "-q",
                                   "-o",     summary_path_, "-p", std::to_string(pid)};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  if (::posix_spawnp(&strace_, "strace", nullptr, nullptr, argv.data(), environ) != 0) {
    strace_ = -1;
    throw std::runtime_error("strace is not installed");
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!Traced(pid)) {
    int status = 0;
    if (::waitpid(strace_, &status, WNOHANG) == strace_) {
      strace_ = -1;
      throw std::runtime_error("strace could not attach");
    }
    if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("strace is slow");
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::uint64_t SyscallTally::Stop() {
  if (strace_ < 0) throw std::runtime_error("strace has ended");
  ::kill(strace_, SIGINT);
  int status = 0;
  ::waitpid(strace_, &status, 0);
  strace_ = -1;
  const std::optional<std::uint64_t> total = ParseStraceTotal(ReadText(summary_path_));
  if (!total) throw std::runtime_error("strace left no summary");
  return *total;
}

SyscallTally::~SyscallTally() {
  if (strace_ >= 0) {
    ::kill(strace_, SIGINT);
    int status = 0;
    ::waitpid(strace_, &status, 0);
  }
  std::error_code ignored;
  std::filesystem::remove(summary_path_, ignored);
}

}  // namespace dorvane::bench
