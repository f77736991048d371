// The headless server as built, over each link (a pseudo-terminal, loopback TCP,
// standard input and output): the test plays the C64 with raw bytes and reads the
// log the server writes.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "link/wire_format.h"
#include "ports/host_ports.h"
#include "ports/pty_pair.h"
#include "tests/e2e/served_session.h"
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

// The C64's side of the link, on the port the session's peer would use.
struct C64 {
  dorvane::SerialPort& port;

  // The attention handshake, the request, and the server's whole status reply.
  Bytes Request(const Bytes& packet) {
    Write({dorvane::ptAttention});
    if (Read(1) != Bytes{0xEF}) return {};
    Write(packet);
    return Read(3);
  }
  void Write(const Bytes& bytes) {
    std::size_t done = 0;
    const auto deadline = Clock::now() + dorvane::e2e::Patience;
    while (done < bytes.size() && Clock::now() < deadline) {
      done += port.WriteSome(bytes.data() + done, bytes.size() - done);
    }
    ASSERT_EQ(done, bytes.size());
  }
  Bytes Read(std::size_t count) {
    Bytes got(count);
    std::size_t done = 0;
    const auto deadline = Clock::now() + dorvane::e2e::Patience;
    while (done < count && Clock::now() < deadline) {
      done += port.ReadSome(got.data() + done, count - done);
    }
    got.resize(done);
    return got;
  }
};

Bytes Command(const std::string& text) { return PacketBytes(dorvane::ptCommand, text); }

using DorvanedOverLink = dorvane::e2e::ServedOverLink;

// The log from the first request on: what comes before it names the link and its
// connection, which differ from link to link.
Lines FromFirstRequest(const Lines& lines) {
  const auto action = std::find(lines.begin(), lines.end(), "Action");
  if (action == lines.begin() || action == lines.end()) return lines;
  return Lines(action - 1, lines.end());
}

TEST_P(DorvanedOverLink, ServesDiskCommandsUntilTerminated) {
  const fs::path& root = Root();
  std::ofstream(root / "old.prg") << "old";
  fs::create_directory(root / "games");
  ASSERT_NO_FATAL_FAILURE(StartServer(/*allow_delete=*/true));

  C64 c64{PeerLink()};
  EXPECT_EQ(c64.Request(Command("m:work")), StatusBytes(dorvane::stOk));
  EXPECT_EQ(c64.Request(Command("r:new.prg=old.prg")), StatusBytes(dorvane::stOk));
  EXPECT_EQ(c64.Request(Command("s:NEW.PRG")), StatusBytes(dorvane::stOk));
  EXPECT_EQ(c64.Request(Command("c:games")), StatusBytes(dorvane::stOk));
  EXPECT_EQ(c64.Request(Command("cd")), StatusBytes(dorvane::stError));
  EXPECT_EQ(c64.Request(Command("m:deeper")), StatusBytes(dorvane::stOk));
  ASSERT_TRUE(Server().AwaitLine("Making directory: deeper"));

  EXPECT_TRUE(fs::is_directory(root / "work"));
  EXPECT_TRUE(fs::is_directory(root / "games/deeper"));
  EXPECT_FALSE(fs::exists(root / "old.prg"));
  EXPECT_FALSE(fs::exists(root / "new.prg"));

  EXPECT_EQ(StopServer(SIGTERM), std::optional<int>(0));
  const Lines lines = Server().OutLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0].rfind("Initialising port ", 0), 0u) << lines[0];
  EXPECT_EQ(FromFirstRequest(lines), Lines({kWaiting,
                                            "Action",
                                            "Making directory: work",
                                            "Made directory: work",
                                            kWaiting,
                                            "Action",
                                            "Renaming file old.prg to new.prg",
                                            "Renamed: old.prg to new.prg",
                                            kWaiting,
                                            "Action",
                                            "Deleting file: new.prg",
                                            "Deleted: new.prg",
                                            kWaiting,
                                            "Action",
                                            "Changing dir path to: games",
                                            "Serving: " + (root / "games").string(),
                                            kWaiting,
                                            "Action",
                                            "Unknown disk command: cd",
                                            kWaiting,
                                            "Action",
                                            "Making directory: deeper",
                                            "Made directory: deeper",
                                            kWaiting,
                                            " terminated!"}));
  EXPECT_EQ(Server().ErrText(), "");
}

TEST_P(DorvanedOverLink, DeleteIsProtectedUnlessAllowed) {
  std::ofstream(Root() / "keep.prg") << "keep";
  ASSERT_NO_FATAL_FAILURE(StartServer(/*allow_delete=*/false));
  C64 c64{PeerLink()};
  EXPECT_EQ(c64.Request(Command("s:keep.prg")), StatusBytes(dorvane::stDeleteError));
  EXPECT_TRUE(Server().AwaitLine("Can't delete! Protected deleting!!!"));
  EXPECT_TRUE(fs::exists(Root() / "keep.prg"));
  EXPECT_EQ(StopServer(SIGINT), std::optional<int>(0));
  EXPECT_EQ(Server().OutLines().back(), " terminated!");
}

INSTANTIATE_TEST_SUITE_P(Links, DorvanedOverLink, dorvane::e2e::EveryLink, dorvane::e2e::LinkName);

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
       ": no such directory"},
      {{"--version"}, 0, {"dorvaned " DORVANE_VERSION}, ""},
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
