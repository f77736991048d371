// The window program's command line, read before Qt starts.
#include "ui/window_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dorvane {
namespace {

using Args = std::vector<std::string>;

TEST(WindowOptions, ReadsEachOptionAndPassesQtsOwnOn) {
  const struct {
    Args args;
    std::string port, root;
    bool start, help, version;
    Args qt;
  } cases[] = {
      {{"dorvane"}, "", "", false, false, false, {"dorvane"}},
      {{"dorvane", "--port", "/dev/pts/4"}, "/dev/pts/4", "", false, false, false, {"dorvane"}},
      {{"dorvane", "--port=/tmp/c64", "--start"}, "/tmp/c64", "", true, false, false, {"dorvane"}},
      {{"dorvane", "--root", "/home/c64/games"},
       "",
       "/home/c64/games",
       false,
       false,
       false,
       {"dorvane"}},
      {{"dorvane", "--root=games"}, "", "games", false, false, false, {"dorvane"}},
      // The desktop entry's %f: a folder from a file manager.
      {{"dorvane", "/home/c64/disks"}, "", "/home/c64/disks", false, false, false, {"dorvane"}},
      {{"dorvane", "--root", "a", "a"}, "", "a", false, false, false, {"dorvane"}},
      {{"dorvane", "--", "--odd-name"}, "", "--odd-name", false, false, false, {"dorvane"}},
      {{"dorvane", "--help"}, "", "", false, true, false, {"dorvane"}},
      {{"dorvane", "-h"}, "", "", false, true, false, {"dorvane"}},
      {{"dorvane", "--version"}, "", "", false, false, true, {"dorvane"}},
      {{"/usr/bin/dorvane", "-platform", "offscreen", "-reverse", "--port", "/dev/ttyUSB1"},
       "/dev/ttyUSB1",
       "",
       false,
       false,
       false,
       {"/usr/bin/dorvane", "-platform", "offscreen", "-reverse"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    WindowOptions options;
    EXPECT_EQ(ParseWindowOptions(c.args, options), std::nullopt);
    EXPECT_EQ(options.Port, c.port);
    EXPECT_EQ(options.Root, c.root);
    EXPECT_EQ(options.Start, c.start);
    EXPECT_EQ(options.Help, c.help);
    EXPECT_EQ(options.Version, c.version);
    EXPECT_EQ(options.QtArguments, c.qt);
  }
}

TEST(WindowOptions, MistakesAreNamed) {
  const struct {
    Args args;
    std::string mistake;
  } cases[] = {
      {{"dorvane", "--bogus"}, "unknown option: --bogus"},
      {{"dorvane", "-x"}, "unknown option: -x"},
      {{"dorvane", "--port"}, "--port needs a value"},
      {{"dorvane", "--port="}, "--port needs a value"},
      {{"dorvane", "--root", ""}, "--root needs a value"},
      {{"dorvane", "-platform"}, "unknown option: -platform"},
      {{"dorvane", "one", "two"}, "more than one folder: one and two"},
      {{"dorvane", "--root", "a", "b"}, "two folders to serve: --root a and b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mistake);
    WindowOptions options;
    EXPECT_EQ(ParseWindowOptions(c.args, options), c.mistake);
  }
}

}  // namespace
}  // namespace dorvane
