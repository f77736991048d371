// The headless server as built, on a pseudo-terminal: the test plays the C64 on the
// master side with raw bytes and reads the log from the server's standard output.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "link/wire_format.h"
#include "platform/pty_pair.h"
#include "tests/support/fakes.h"

namespace {

namespace fs = std::filesystem;
using dorvane::testing::PacketBytes;
using dorvane::testing::StatusBytes;
using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

constexpr auto kPatience = std::chrono::seconds(10);  // bounds every wait

const std::string kWaiting = "Waiting for command from C64...";

// Reads what is there on `fd` until `enough` says so or the patience runs out.
template <typename Enough>
void ReadUntil(int fd, std::string& into, Enough enough) {
  const auto deadline = Clock::now() + kPatience;
  while (!enough(into) && Clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    char buffer[512];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;  // end of the pipe, or the pty hung up
    into.append(buffer, static_cast<std::size_t>(n));
  }
}

Lines SplitLines(const std::string& text) {
  Lines lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

// One run of build/bin/dorvaned, its standard output and error on pipes.
class Dorvaned {
 public:
  explicit Dorvaned(const std::vector<std::string>& args) {
    int out[2], err[2];
    EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
    EXPECT_EQ(pipe2(err, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    const std::string program = std::string(DORVANE_BIN_DIR) + "/dorvaned";
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    EXPECT_EQ(posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~Dorvaned() {
    if (pid_ > 0 && !status_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(out_);
    close(err_);
  }

  // Waits until standard output holds `line` as a whole line.
  bool AwaitLine(const std::string& line) {
    ReadUntil(out_, out_text_,
              [&](const std::string& text) { return text.find(line + "\n") != std::string::npos; });
    return out_text_.find(line + "\n") != std::string::npos;
  }

  // The exit status, or nothing when it did not end within the patience.
  std::optional<int> AwaitExit() {
    const auto deadline = Clock::now() + kPatience;
    while (!status_ && Clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
    if (status_) {
      ReadUntil(out_, out_text_, [](const std::string&) { return false; });
      ReadUntil(err_, err_text_, [](const std::string&) { return false; });
    }
    return status_;
  }

  void Signal(int signal) { kill(pid_, signal); }
  Lines Out() const { return SplitLines(out_text_); }
  const std::string& Err() const { return err_text_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string out_text_;
  std::string err_text_;
  std::optional<int> status_;
};

struct TempDir {
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "dorvaned-e2e-XXXXXX").string();
    path = mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  fs::path path;
};

// The C64's side of the cable.
struct C64 {
  int fd;

  // The attention handshake, the request, and the server's whole status reply.
  Bytes Request(const Bytes& packet) {
    std::string echo;
    Write({dorvane::ptAttention});
    ReadUntil(fd, echo, [](const std::string& t) { return !t.empty(); });
    if (echo != std::string(1, static_cast<char>(0xEF))) return {};
    Write(packet);
    std::string reply;
    ReadUntil(fd, reply, [](const std::string& t) { return t.size() >= 3; });
    return Bytes(reply.begin(), reply.end());
  }
  void Write(const Bytes& bytes) {
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
};

Bytes Command(const std::string& text) { return PacketBytes(dorvane::ptCommand, text); }

TEST(Dorvaned, ServesDiskCommandsUntilTerminated) {
  TempDir root;
  std::ofstream(root.path / "old.prg") << "old";
  fs::create_directory(root.path / "games");
  dorvane::PtyPair pty = dorvane::OpenPtyPair();
  Dorvaned server({"--port", pty.slave_path, "--root", root.path.string(), "--allow-delete"});
  ASSERT_TRUE(server.AwaitLine(kWaiting)) << "the server never got ready";

  C64 c64{pty.master};
  EXPECT_EQ(c64.Request(Command("m:work")), StatusBytes(dorvane::stOk));
  EXPECT_EQ(c64.Request(Command("r:new.prg=old.prg")), StatusBytes(dorvane::stOk));
  EXPECT_EQ(c64.Request(Command("s:NEW.PRG")), StatusBytes(dorvane::stOk));
  EXPECT_EQ(c64.Request(Command("c:games")), StatusBytes(dorvane::stOk));
  EXPECT_EQ(c64.Request(Command("cd")), StatusBytes(dorvane::stError));
  EXPECT_EQ(c64.Request(Command("m:deeper")), StatusBytes(dorvane::stOk));
  ASSERT_TRUE(server.AwaitLine("Making directory: deeper"));

  EXPECT_TRUE(fs::is_directory(root.path / "work"));
  EXPECT_TRUE(fs::is_directory(root.path / "games/deeper"));
  EXPECT_FALSE(fs::exists(root.path / "old.prg"));
  EXPECT_FALSE(fs::exists(root.path / "new.prg"));

  server.Signal(SIGTERM);
  EXPECT_EQ(server.AwaitExit(), std::optional<int>(0));
  EXPECT_EQ(server.Out(), Lines({"Initialising port " + pty.slave_path,
                                 kWaiting,
                                 "Action",
                                 "Making directory: work",
                                 kWaiting,
                                 "Action",
                                 "Renaming file old.prg to new.prg",
                                 kWaiting,
                                 "Action",
                                 "Deleting file: new.prg",
                                 kWaiting,
                                 "Action",
                                 "Changing dir path to: games",
                                 kWaiting,
                                 "Action",
                                 kWaiting,
                                 "Action",
                                 "Making directory: deeper",
                                 kWaiting,
                                 " terminated!"}));
  EXPECT_EQ(server.Err(), "");
  dorvane::ClosePtyPair(pty);
}

TEST(Dorvaned, DeleteIsProtectedUnlessAllowed) {
  TempDir root;
  std::ofstream(root.path / "keep.prg") << "keep";
  dorvane::PtyPair pty = dorvane::OpenPtyPair();
  Dorvaned server({"--port", pty.slave_path, "--root", root.path.string()});
  ASSERT_TRUE(server.AwaitLine(kWaiting));
  C64 c64{pty.master};
  EXPECT_EQ(c64.Request(Command("s:keep.prg")), StatusBytes(dorvane::stDeleteError));
  EXPECT_TRUE(server.AwaitLine("Can't delete! Protected deleting!!!"));
  EXPECT_TRUE(fs::exists(root.path / "keep.prg"));
  server.Signal(SIGINT);
  EXPECT_EQ(server.AwaitExit(), std::optional<int>(0));
  EXPECT_EQ(server.Out().back(), " terminated!");
  dorvane::ClosePtyPair(pty);
}

TEST(Dorvaned, RefusalsAtStart) {
  TempDir root;
  const std::string missing = (root.path / "no-such-tty").string();
  const struct {
    std::vector<std::string> args;
    int status;
    Lines out;
    std::string err_holds;
  } cases[] = {
      {{"--port", missing, "--root", root.path.string()},
       1,
       {"Initialising port " + missing, "Can't initialize port " + missing},
       ""},
      {{"--port", missing, "--root", (root.path / "nothing").string()},
       1,
       {},
       "OS Error.  Code: 2."},
      {{"--version"}, 0, {"dorvaned 5.1"}, ""},
      {{"--root", root.path.string()}, 2, {}, "--port"},
      {{"--port", missing, "--bogus"}, 2, {}, "--bogus"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    Dorvaned server(c.args);
    EXPECT_EQ(server.AwaitExit(), std::optional<int>(c.status));
    EXPECT_EQ(server.Out(), c.out);
    EXPECT_NE(server.Err().find(c.err_holds), std::string::npos) << server.Err();
  }
}

}  // namespace
