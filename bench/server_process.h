// dorvaned as a child process serving a directory on a given device, its log
// written to a file, stopped with SIGTERM as an operator's service manager would;
// or the window program, on Qt's offscreen platform, serving the same way.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>

namespace dorvane::bench {

struct ServerOptions {
  std::string program;   // the dorvaned executable
  std::string port;      // the device, such as a pseudo-terminal's slave
  std::string root;      // the served directory
  std::string log_path;  // standard output and error go here
  bool allow_delete = false;
  // `program` is the window: it serves `root` (given as --root and as its current
  // directory) on `port` at once (given as --port and --start, and as its test hook
  // DORVANE_TEST_PORT). Its log stays in the window; standard output gets only Qt's
  // messages.
  bool window = false;
};

// The window program beside the running executable.
std::string DefaultWindowProgram();

// dorvaned beside the running executable: the build puts every program into one
// directory.
std::string DefaultServerProgram();

class ServerProcess {
 public:
  // Starts the server. Throws std::runtime_error when it cannot be started.
  explicit ServerProcess(ServerOptions options);
  // Stops it if it still runs.
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // Waits until the log holds `line` at least `count` times; false when the
  // patience ran out or the server ended first.
  bool WaitForLogLine(const std::string& line, int count, std::chrono::milliseconds patience);
  // Waits until the server has opened its port and waits for the first request
  // (the window: until it holds the port open).
  bool WaitUntilServing(std::chrono::milliseconds patience);
  // Where a server on "tcp-listen:" listens, from its log ("127.0.0.1:40123").
  // Throws std::runtime_error when the log names none within `patience`.
  std::string ListenAddress(std::chrono::milliseconds patience);

  pid_t Pid() const { return pid_; }
  bool Running();
  // SIGTERM, then waits up to `patience`; the exit status, or empty when the server
  // had to be killed (or died of a signal).
  std::optional<int> Stop(std::chrono::milliseconds patience);
  // Everything it has logged so far.
  std::string Log() const;

 private:
  ServerOptions options_;
  pid_t pid_ = -1;
  std::optional<int> status_;  // set once reaped
  bool reaped_ = false;
};

}  // namespace dorvane::bench
