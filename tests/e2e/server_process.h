// One run of a built program of ours (dorvaned) as a child process, with its
// standard output and error on pipes that are read without blocking. Every wait on
// it has a limit, and a child that outlives its test is killed, so that a server
// that hangs fails the test instead of stalling the whole run.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace dorvane::e2e {

// Longest any single wait of the end-to-end tests lasts: far past what a healthy
// server needs, short enough that a stuck one does not hold up CI.
inline constexpr std::chrono::seconds Patience{10};

// How the child may touch files.
enum class FileAccess {
  kAsTheTests,  // with whatever rights the test run has
  // Bound by the permission bits even when the tests run as root: the child starts
  // without the capability that lets root write a file without write permission.
  // This is how a read-only file looks to an ordinary user.
  kPermissionBitsBind,
};

class ServerProcess {
 public:
  // Starts `program` (a path) with `args`; a start that fails is a test failure.
  // With `stdio_link` (a descriptor of the test's), the child's standard input and
  // output are that descriptor and its standard error is read as the log.
  ServerProcess(const std::string& program, const std::vector<std::string>& args,
                FileAccess access = FileAccess::kAsTheTests, int stdio_link = -1);
  // Kills a child that is still running and reaps it.
  ~ServerProcess();

  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // Waits until the log holds `line` as a whole line; false when the patience ran
  // out or the output ended first.
  bool AwaitLine(const std::string& line);
  // Waits until the log holds a whole line that begins with `prefix`, and gives the
  // rest of the first such line.
  std::optional<std::string> AwaitLineStartingWith(const std::string& prefix);

  // Sends `signal` and waits for the end: after `grace` without one, SIGKILL. The
  // exit status, or 128 + the signal that ended it; nothing only when even the
  // kill was not reaped within the patience.
  std::optional<int> Stop(int signal, std::chrono::milliseconds grace = std::chrono::seconds(3));

  // Waits (within the patience) for the child to end by itself.
  std::optional<int> AwaitExit();

  bool Running() const { return !status_; }
  pid_t Pid() const { return pid_; }

  // The log so far (standard output, or standard error with a stdio link), split
  // into lines (a last line without its end is left out until it ends); standard
  // error as it came (empty with a stdio link).
  std::vector<std::string> OutLines();
  std::string ErrText();

 private:
  // Takes whatever the pipes hold now; true when something came.
  bool Drain();
  // Reaps the child if it ended; true once it has.
  bool Reap();

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string out_text_;
  std::string err_text_;
  std::optional<int> status_;
};

}  // namespace dorvane::e2e
