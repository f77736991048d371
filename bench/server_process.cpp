#include "bench/server_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace dorvane::bench {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds PollPause{5};
const std::string WaitingLine = "Waiting for command from C64...";

int CountLines(const std::string& text, const std::string& line) {
  int count = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) break;  // a line still being written
    if (text.compare(start, end - start, line) == 0) ++count;
    start = end + 1;
  }
  return count;
}

std::string ProgramBesideThisOne(const std::string& name) {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return name;
  return (self.parent_path() / name).string();
}

// Whether the process holds `path` open, from its descriptors in /proc.
bool HoldsOpen(pid_t pid, const std::string& path) {
  std::error_code error;
  const std::filesystem::path fds = "/proc/" + std::to_string(pid) + "/fd";
  for (const auto& entry : std::filesystem::directory_iterator(fds, error)) {
    std::error_code unreadable;
    if (std::filesystem::read_symlink(entry.path(), unreadable) == path) return true;
  }
  return false;
}

}  // namespace

std::string DefaultServerProgram() { return ProgramBesideThisOne("dorvaned"); }

std::string DefaultWindowProgram() { return ProgramBesideThisOne("dorvane"); }

ServerProcess::ServerProcess(ServerOptions options) : options_(std::move(options)) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, options_.log_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);

  std::vector<std::string> args = {options_.program};
  std::vector<std::string> env;
  for (char** var = environ; *var != nullptr; ++var) env.emplace_back(*var);
  if (options_.window) {
    // The window serves at once on the one port it is given, with no hand on the mouse.
    args.insert(args.end(), {"--port", options_.port, "--root", options_.root, "--start"});
    posix_spawn_file_actions_addchdir_np(&actions, options_.root.c_str());
    env.push_back("QT_QPA_PLATFORM=offscreen");
  } else {
    args.insert(args.end(), {"--port", options_.port, "--root", options_.root});
    if (options_.allow_delete) args.push_back("--allow-delete");
  }
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& var : env) envp.push_back(var.data());
  envp.push_back(nullptr);

  const int error =
      ::posix_spawn(&pid_, options_.program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    pid_ = -1;
    throw std::runtime_error("cannot start " + options_.program + ": " + std::strerror(error));
  }
}

ServerProcess::~ServerProcess() {
  if (!reaped_) Stop(std::chrono::seconds(5));
}

bool ServerProcess::Running() {
  if (reaped_) return false;
  int status = 0;
  const pid_t done = ::waitpid(pid_, &status, WNOHANG);
  if (done == 0) return true;
  reaped_ = true;
  if (done == pid_ && WIFEXITED(status)) status_ = WEXITSTATUS(status);
  return false;
}

bool ServerProcess::WaitForLogLine(const std::string& line, int count,
                                   std::chrono::milliseconds patience) {
  const auto deadline = Clock::now() + patience;
  for (;;) {
    if (CountLines(Log(), line) >= count) return true;
    if (!Running() || Clock::now() >= deadline) return CountLines(Log(), line) >= count;
    std::this_thread::sleep_for(PollPause);
  }
}

bool ServerProcess::WaitUntilServing(std::chrono::milliseconds patience) {
  if (!options_.window) return WaitForLogLine(WaitingLine, 1, patience);
  const auto deadline = Clock::now() + patience;
  while (Running() && Clock::now() < deadline) {
    if (HoldsOpen(pid_, options_.port)) return true;
    std::this_thread::sleep_for(PollPause);
  }
  return false;
}

std::string ServerProcess::ListenAddress(std::chrono::milliseconds patience) {
  const std::string prefix = "Listening on ";
  const auto deadline = Clock::now() + patience;
  for (;;) {
    const std::string log = Log();
    const std::size_t at = log.find(prefix);
    const std::size_t end = at == std::string::npos ? at : log.find('\n', at);
    if (end != std::string::npos) return log.substr(at + prefix.size(), end - at - prefix.size());
    if (!Running() || Clock::now() >= deadline) {
      throw std::runtime_error("dorvaned named no address to listen on; its log:\n" + log);
    }
    std::this_thread::sleep_for(PollPause);
  }
}

std::optional<int> ServerProcess::Stop(std::chrono::milliseconds patience) {
  if (!Running()) return status_;
  ::kill(pid_, SIGTERM);
  const auto deadline = Clock::now() + patience;
  while (Running()) {
    if (Clock::now() >= deadline) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
      reaped_ = true;
      status_.reset();
      return std::nullopt;
    }
    std::this_thread::sleep_for(PollPause);
  }
  return status_;
}

std::string ServerProcess::Log() const {
  std::ifstream in(options_.log_path, std::ios::binary);
  return std::string{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace dorvane::bench
