// The headless server as built, on a pseudo-terminal: the test plays the C64 on the
// master side with raw bytes and reads the log from the server's standard output.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "link/wire_format.h"
#include "platform/host_ports.h"
#include "platform/pty_pair.h"
#include "tests/e2e/server_process.h"
#include "tests/support/fakes.h"

namespace {

namespace fs = std::filesystem;
using dorvane::testing::PacketBytes;
using dorvane::testing::StatusBytes;
using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

const std::string kWaiting = "Waiting for command from C64...";

// Reads what is there on `fd` until `enough` says so or the patience runs out.
template <typename Enough>
void ReadUntil(int fd, std::string& into, Enough enough) {
  const auto deadline = Clock::now() + dorvane::e2e::Patience;
  while (!enough(into) && Clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    char buffer[512];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;  // end of the pipe, or the pty hung up
    into.append(buffer, static_cast<std::size_t>(n));
  }
}

// One run of build/bin/dorvaned, its standard output and error on pipes.
class Dorvaned : public dorvane::e2e::ServerProcess {
 public:
  explicit Dorvaned(const std::vector<std::string>& args)
      : ServerProcess(std::string(DORVANE_BIN_DIR) + "/dorvaned", args) {}
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

  EXPECT_EQ(server.Stop(SIGTERM), std::optional<int>(0));
  EXPECT_EQ(server.OutLines(), Lines({"Initialising port " + pty.slave_path,
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
  EXPECT_EQ(server.ErrText(), "");
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
  EXPECT_EQ(server.Stop(SIGINT), std::optional<int>(0));
  EXPECT_EQ(server.OutLines().back(), " terminated!");
  dorvane::ClosePtyPair(pty);
}

TEST(Dorvaned, RefusalsAtStart) {
  TempDir root;
  const std::string missing = (root.path / "no-such-tty").string();
  const std::string not_a_tty = (root.path / "notes.txt").string();
  std::ofstream(not_a_tty) << "hello";
  // Which devices the host has decides the missing device's line and what com4 is.
  const std::vector<std::string> present = dorvane::ListSerialDevices();
  std::string present_text;
  for (const auto& device : present) present_text += (present_text.empty() ? "" : ", ") + device;
  present_text = present.empty() ? " (no serial devices present)"
                                 : " (serial devices present: " + present_text + ")";
  const struct {
    std::vector<std::string> args;
    int status;
    Lines out;
    std::string err_holds;
  } cases[] = {
      {{"--port", missing, "--root", root.path.string()},
       1,
       {"Initialising port " + missing, "Can't initialize port " + missing,
        "No such device: " + missing + present_text},
       ""},
      {{"--port", not_a_tty, "--root", root.path.string()},
       1,
       {"Initialising port " + not_a_tty, "Can't initialize port " + not_a_tty,
        "Not a serial device: " + not_a_tty},
       ""},
      {{"--port", missing, "--root", (root.path / "nothing").string()},
       1,
       {},
       "OS Error.  Code: 2."},
      {{"--version"}, 0, {"dorvaned 5.1"}, ""},
      {{"--root", root.path.string()}, 2, {}, "--port"},
      {{"--port", missing, "--bogus"}, 2, {}, "--bogus"},
  };
  if (present.size() < 4) {
    // A choice with no device behind it is logged by its COM name.
    Dorvaned server({"--port", "com4", "--root", root.path.string()});
    EXPECT_EQ(server.AwaitExit(), std::optional<int>(1));
    EXPECT_EQ(server.OutLines(), (Lines{"Initialising port COM4", "Can't initialize port COM4",
                                        "No such device: COM4" + present_text}));
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    Dorvaned server(c.args);
    EXPECT_EQ(server.AwaitExit(), std::optional<int>(c.status));
    EXPECT_EQ(server.OutLines(), c.out);
    EXPECT_NE(server.ErrText().find(c.err_holds), std::string::npos) << server.ErrText();
  }
}

}  // namespace
