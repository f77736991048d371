// The window program's command line, from a shell: help and version need no
// display, a mistake gets the usage, and --port with --start serves a pseudo-
// terminal at once on Qt's offscreen platform.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "link/monotonic_clock.h"
#include "ports/pty_pair.h"
#include "ports/termios_port.h"
#include "tests/e2e/served_session.h"
#include "tests/e2e/server_process.h"
#include "tools/peer/c64_peer.h"

namespace dorvane::e2e {
namespace {

namespace fs = std::filesystem;

const std::string Window = std::string(DORVANE_BIN_DIR) + "/dorvane";

// Takes the display away for the test's children and puts it back after.
class NoDisplay {
 public:
  NoDisplay() {
    for (const char* name : kNames) {
      const char* value = getenv(name);
      saved_.push_back(value ? std::optional<std::string>(value) : std::nullopt);
      unsetenv(name);
    }
  }
  ~NoDisplay() {
    for (std::size_t i = 0; i < saved_.size(); ++i) {
      if (saved_[i]) setenv(kNames[i], saved_[i]->c_str(), 1);
    }
  }

 private:
  static constexpr const char* kNames[] = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  std::vector<std::optional<std::string>> saved_;
};

TEST(WindowCommandLine, HelpVersionAndMistakesWithoutADisplay) {
  if (!fs::exists(Window)) GTEST_SKIP() << "the window program is not built";
  NoDisplay no_display;
  const struct {
    std::vector<std::string> args;
    int status;
    std::string out_starts, err_starts;
  } cases[] = {
      {{"--version"}, 0, "dorvane " DORVANE_VERSION "\n", ""},
      {{"--help"}, 0, "Usage: dorvane [--port DEVICE] [--root DIR]", ""},
      {{"--bogus"}, 2, "", "dorvane: unknown option: --bogus\nTry 'dorvane --help'.\n"},
      {{"--port"}, 2, "", "dorvane: --port needs a value\nTry 'dorvane --help'.\n"},
      {{"--root", "/this/folder/is/missing"},
       1,
       "",
       "dorvane: --root /this/folder/is/missing: no such directory\n"},
      {{"--root", "/"}, 1, "", "dorvane: no display: neither DISPLAY nor WAYLAND_DISPLAY"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front());
    ServerProcess window(Window, c.args);
    EXPECT_EQ(window.AwaitExit(), c.status);
    std::string out;
    for (const std::string& line : window.OutLines()) out += line + "\n";
    EXPECT_EQ(out.substr(0, c.out_starts.size()), c.out_starts);
    if (c.out_starts.empty()) {
      EXPECT_EQ(out, "");
    }
    EXPECT_EQ(window.ErrText().substr(0, c.err_starts.size()), c.err_starts) << window.ErrText();
  }
}

TEST(WindowCommandLine, PortAndStartServeAPseudoTerminalAtOnce) {
  if (!fs::exists(Window)) GTEST_SKIP() << "the window program is not built";
  std::string pattern = (fs::temp_directory_path() / "dorvane-window-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path root = pattern;
  const Bytes data = RandomBytes(900, 17);
  std::ofstream(root / "hello.prg", std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));

  PtyPair pty = OpenPtyPair();
  ServerProcess window(
      Window, {"-platform", "offscreen", "--port", pty.slave_path, "--start", root.string()});
  auto port = TermiosPort::Adopt(dup(pty.master));
  MonotonicClock clock;
  peer::PeerOptions options;
  options.ReplyTimeoutMs = 500;
  peer::C64Peer c64(*port, clock, options);
  // The window takes a moment to come up; until it serves, the attention goes
  // unanswered.
  peer::LoadResult load;
  for (int tries = 0; tries < 20 && !load.Succeeded && window.Running(); ++tries) {
    load = c64.Load("hello.prg");
  }
  EXPECT_TRUE(load.Succeeded) << load.Describe() << window.ErrText();
  EXPECT_EQ(load.Data, data);
  EXPECT_EQ(window.Stop(SIGTERM), 0);
  ClosePtyPair(pty);
  fs::remove_all(root);
}

}  // namespace
}  // namespace dorvane::e2e
