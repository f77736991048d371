#include "tests/e2e/server_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace dorvane::e2e {

namespace {

using Clock = std::chrono::steady_clock;

// Appends what `fd` holds now to `into`; true when anything came.
bool ReadAvailable(int fd, std::string& into) {
  if (fd < 0) return false;
  bool got = false;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      into.append(buffer, static_cast<std::size_t>(n));
      got = true;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return got;  // EAGAIN: nothing more now; 0: the child closed its end
  }
}

int DecodeStatus(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

ServerProcess::ServerProcess(const std::string& program, const std::vector<std::string>& args,
                             FileAccess access, int stdio_link) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    status_ = 127;
    return;
  }
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const bool drop = access == FileAccess::kPermissionBitsBind && geteuid() == 0;

  pid_ = fork();
  if (pid_ == 0) {
    // Only system calls from here to the exec. Dropped from the bounding set, the
    // capability does not come back with root's rights at the exec.
    if (drop && prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0) != 0) _exit(126);
    if (stdio_link >= 0) {
      if (dup2(stdio_link, STDIN_FILENO) < 0 || dup2(stdio_link, STDOUT_FILENO) < 0 ||
          dup2(out[1], STDERR_FILENO) < 0)
        _exit(126);
    } else if (dup2(out[1], STDOUT_FILENO) < 0 || dup2(err[1], STDERR_FILENO) < 0) {
      _exit(126);
    }
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  const int spawn_error = errno;
  close(out[1]);
  close(err[1]);
  out_ = out[0];
  err_ = err[0];
  fcntl(out_, F_SETFL, fcntl(out_, F_GETFL) | O_NONBLOCK);
  fcntl(err_, F_SETFL, fcntl(err_, F_GETFL) | O_NONBLOCK);
  if (pid_ < 0) {
    ADD_FAILURE() << "cannot start " << program << ": " << std::strerror(spawn_error);
    status_ = 127;
  }
}

ServerProcess::~ServerProcess() {
  if (Running()) Stop(SIGKILL, std::chrono::milliseconds(0));
  if (out_ >= 0) close(out_);
  if (err_ >= 0) close(err_);
}

bool ServerProcess::Drain() {
  const bool out = ReadAvailable(out_, out_text_);
  const bool err = ReadAvailable(err_, err_text_);
  return out || err;
}

bool ServerProcess::Reap() {
  if (status_) return true;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
  status_ = DecodeStatus(status);
  return true;
}

bool ServerProcess::AwaitLine(const std::string& line) {
  const std::string whole = line + "\n";
  const auto holds = [&] {
    return out_text_.compare(0, whole.size(), whole) == 0 ||
           out_text_.find("\n" + whole) != std::string::npos;
  };
  const auto deadline = Clock::now() + Patience;
  for (;;) {
    Drain();
    if (holds()) return true;
    // Once the child is gone its pipes hold all there will ever be.
    if (Reap()) {
      Drain();
      return holds();
    }
    if (Clock::now() >= deadline) return false;
    pollfd p{out_, POLLIN, 0};
    poll(&p, 1, 20);
  }
}

std::optional<std::string> ServerProcess::AwaitLineStartingWith(const std::string& prefix) {
  const auto find = [&]() -> std::optional<std::string> {
    for (const std::string& line : OutLines()) {
      if (line.compare(0, prefix.size(), prefix) == 0) return line.substr(prefix.size());
    }
    return std::nullopt;
  };
  const auto deadline = Clock::now() + Patience;
  for (;;) {
    if (auto rest = find()) return rest;
    if (Reap() || Clock::now() >= deadline) return find();
    pollfd p{out_, POLLIN, 0};
    poll(&p, 1, 20);
  }
}

std::optional<int> ServerProcess::AwaitExit() {
  const auto deadline = Clock::now() + Patience;
  while (!Reap() && Clock::now() < deadline) {
    Drain();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  Drain();
  return status_;
}

std::optional<int> ServerProcess::Stop(int signal, std::chrono::milliseconds grace) {
  if (pid_ <= 0 || Reap()) return status_;  // never kill(-1, ...): that is everyone
  kill(pid_, signal);
  const auto deadline = Clock::now() + grace;
  while (!Reap() && Clock::now() < deadline) {
    Drain();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!Reap()) {
    if (signal != SIGKILL) ADD_FAILURE() << "the server ignored signal " << signal;
    kill(pid_, SIGKILL);
    return AwaitExit();
  }
  Drain();
  return status_;
}

std::vector<std::string> ServerProcess::OutLines() {
  Drain();
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = out_text_.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(out_text_.substr(start, end - start));
  return lines;
}

std::string ServerProcess::ErrText() {
  Drain();
  return err_text_;
}

}  // namespace dorvane::e2e
