// The three programs' command lines from a shell: the short and long forms of help
// and version, a mistake in one line with the way to the help, a served directory
// that cannot be served named with its cause, and a log with the local time.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "tests/e2e/server_process.h"

namespace dorvane::e2e {
namespace {

namespace fs = std::filesystem;

std::string Program(const std::string& name) { return std::string(DORVANE_BIN_DIR) + "/" + name; }

// `text` as a regular expression that matches only itself.
std::string Literally(const std::string& text) {
  static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
  return std::regex_replace(text, special, R"(\$&)");
}

TEST(CommandLines, HelpVersionMistakesAndCauses) {
  std::string pattern = (fs::temp_directory_path() / "dorvane-cli-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path dir = pattern;
  const std::string missing = (dir / "gone").string();
  const std::string file = (dir / "notes.txt").string();
  std::ofstream(file) << "hello";
  const std::string locked = (dir / "locked").string();
  fs::create_directory(locked);
  fs::permissions(locked, fs::perms::none);
  const std::string no_tty = (dir / "no-tty").string();
  const std::string version = Literally(DORVANE_VERSION);
  const std::string stamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )";

  struct Case {
    std::string program;
    std::vector<std::string> args;
    int status;
    std::string out, err;  // regular expressions for the whole of each
  };
  std::vector<Case> cases = {
      {"dorvaned", {"-h"}, 0, "^Usage: dorvaned [\\s\\S]*--timestamps[\\s\\S]*", "^$"},
      {"dorvaned", {"--help"}, 0, "^Usage: dorvaned [\\s\\S]*", "^$"},
      {"dorvaned", {"-V"}, 0, "^dorvaned " + version + "\n$", "^$"},
      {"dorvaned",
       {"--bogus"},
       2,
       "^$",
       "^dorvaned: unknown option: --bogus\nTry 'dorvaned --help'\\.\n$"},
      {"dorvaned",
       {"stray"},
       2,
       "^$",
       "^dorvaned: unexpected argument: stray\nTry 'dorvaned --help'\\.\n$"},
      {"dorvaned",
       {"--root"},
       2,
       "^$",
       "^dorvaned: --root needs a value\nTry 'dorvaned --help'\\.\n$"},
      {"dorvaned",
       {"--port", no_tty, "--root", missing},
       1,
       "^$",
       "^dorvaned: --root " + Literally(missing) + ": no such directory\n$"},
      {"dorvaned",
       {"--port", no_tty, "--root", file},
       1,
       "^$",
       "^dorvaned: --root " + Literally(file) + ": not a directory\n$"},
      // Each line of the log, and only the log, gets the time.
      {"dorvaned",
       {"-t", "--port", no_tty, "--root", dir.string()},
       1,
       "^" + stamp + "Initialising port " + Literally(no_tty) + "\n" + stamp +
           "Can't initialize port " + Literally(no_tty) + "\n" + stamp +
           "No such device: " + Literally(no_tty) + " \\([^\n]*\\)\n$",
       "^$"},
      {"dorvane", {"-V"}, 0, "^dorvane " + version + "\n$", "^$"},
      {"dorvane",
       {"--bogus"},
       2,
       "^$",
       "^dorvane: unknown option: --bogus\nTry 'dorvane --help'\\.\n$"},
      {"dorvane", {file}, 1, "^$", "^dorvane: " + Literally(file) + ": not a directory\n$"},
      {"dorvane-peer", {"-h"}, 0, "^Usage: dorvane-peer [\\s\\S]*", "^$"},
      {"dorvane-peer", {"-V"}, 0, "^dorvane-peer " + version + "\n$", "^$"},
      {"dorvane-peer",
       {"--bogus", "dir"},
       2,
       "^$",
       "^dorvane-peer: unknown option --bogus\nTry 'dorvane-peer --help'\\.\n$"},
  };
  // Root reads any directory, so only an ordinary user meets the refusal.
  if (geteuid() != 0) {
    cases.push_back({"dorvaned",
                     {"--port", no_tty, "--root", locked},
                     1,
                     "^$",
                     "^dorvaned: --root " + Literally(locked) + ": permission denied\n$"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program + " " + c.args.front());
    if (!fs::exists(Program(c.program))) continue;  // the window is not built everywhere
    ServerProcess process(Program(c.program), c.args);
    EXPECT_EQ(process.AwaitExit(), c.status);
    std::string out;
    for (const std::string& line : process.OutLines()) out += line + "\n";
    EXPECT_TRUE(std::regex_search(out, std::regex(c.out))) << out;
    EXPECT_TRUE(std::regex_search(process.ErrText(), std::regex(c.err))) << process.ErrText();
  }
  fs::permissions(locked, fs::perms::owner_all);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace dorvane::e2e
