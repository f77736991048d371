// What the window program settles before Qt starts: the display, and the port and
// folder it starts with when the command line and the last run disagree.
#include "ui/window_start.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "ui/progress_text.h"

namespace dorvane {
namespace {

TEST(WindowStart, WithoutADisplayTheMessageNamesIt) {
  using Env = std::map<std::string, std::string>;
  const struct {
    Env env;
    std::vector<std::string> qt;
    bool missing;
  } cases[] = {
      {{}, {"dorvane"}, true},
      {{{"DISPLAY", ""}}, {"dorvane"}, true},
      {{{"WAYLAND_DISPLAY", "wayland-0"}}, {"dorvane"}, false},
      {{{"QT_QPA_PLATFORM", "offscreen"}}, {"dorvane"}, false},
      {{}, {"dorvane", "-platform", "offscreen"}, false},
  };
  for (const auto& c : cases) {
    const auto missing = MissingDisplay(
        [&](const char* name) {
          const auto at = c.env.find(name);
          return at == c.env.end() ? nullptr : at->second.c_str();
        },
        c.qt);
    EXPECT_EQ(missing.has_value(), c.missing) << c.env.size() << " " << c.qt.size();
    if (missing) {
      EXPECT_NE(missing->find("DISPLAY"), std::string::npos) << *missing;
    }
  }
}

TEST(WindowStart, TheCommandLineWinsOverWhatWasRemembered) {
  const std::vector<std::string> listed = {"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyS0",
                                           "/dev/ttyS1", "/dev/ttyS2"};
  const std::vector<std::string> there = {"/dev/ttyUSB1", "/dev/ttyS2", "/dev/pts/7", "/home/c64"};
  const struct {
    const char* name;
    std::string port, root;  // the command line's
    Remembered remembered;
    std::string given;
    int pick;
    std::string served;
  } cases[] = {
      {"nothing", "", "", {}, "", 0, ""},
      {"an item", "", "", {"/dev/ttyUSB1", "/home/c64"}, "", 1, "/home/c64"},
      {"a device past the items", "", "", {"/dev/ttyS2", ""}, "/dev/ttyS2", 0, ""},
      {"a pseudo-terminal", "", "", {"/dev/pts/7", ""}, "/dev/pts/7", 0, ""},
      {"gone", "", "", {"/dev/ttyACM0", "/home/gone"}, "", 0, ""},
      {"--port and a folder",
       "/dev/ttyS0",
       "/srv",
       {"/dev/ttyUSB1", "/home/c64"},
       "/dev/ttyS0",
       0,
       "/srv"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WindowOptions options;
    options.Port = c.port;
    options.Root = c.root;
    const StartChoice choice =
        ChooseStart(options, c.remembered, listed, [&](const std::string& path) {
          return std::find(there.begin(), there.end(), path) != there.end();
        });
    EXPECT_EQ(choice.GivenPort, c.given);
    EXPECT_EQ(choice.Pick, c.pick);
    EXPECT_EQ(choice.Root, c.served);
  }
}

TEST(ProgressText, NamesTheFileHowFarHowFastAndHowLongIsLeft) {
  const struct {
    std::string name;
    std::uint64_t done, total;
    std::uint32_t elapsed_ms;
    std::string text;
  } cases[] = {
      {"game.prg", 12344, 12345, 400, "game.prg  99%"},  // too soon to tell a speed
      {"big.prg", 1000, 200000, 2000, "big.prg  0%  500 B/s  6:38 left"},
      {"game.prg", 12345, 12345, 1100, "game.prg  100%  11.2 kB/s"},
      {"grown.prg", 500, 400, 1000, "grown.prg  100%  500 B/s"},
      {"save.prg", 1234567, 0, 100000, "save.prg  1,234,567 bytes  12.3 kB/s"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TransferText(c.name, c.done, c.total, c.elapsed_ms), c.text);
  }
}

}  // namespace
}  // namespace dorvane
