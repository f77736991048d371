// The dorvane-peer command line: what each form asks for, and the mistakes it
// refuses before any port is touched.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/peer/peer_cli.h"

namespace dorvane::testing {
namespace {

using peer::CliAction;
using peer::ParseCommandLine;

TEST(PeerCli, FormsOfTheFourCommands) {
  struct Case {
    std::vector<std::string> args;
    CliAction action;
    std::string name, file, text;
  };
  const Case cases[] = {
      {{"--port", "/dev/pts/3", "load", "games/intro"},
       CliAction::kLoad,
       "games/intro",
       "intro",
       ""},
      {{"load", "*.prg", "-o", "out.prg", "--port", "/dev/x"},
       CliAction::kLoad,
       "*.prg",
       "out.prg",
       ""},
      {{"--port", "/dev/x", "save", "work/a.prg"}, CliAction::kSave, "a.prg", "work/a.prg", ""},
      {{"--port", "/dev/x", "save", "a.prg", "B.PRG"}, CliAction::kSave, "B.PRG", "a.prg", ""},
      {{"--port", "/dev/x", "dir"}, CliAction::kDir, "", "", ""},
      {{"--port", "/dev/x", "cmd", "s:old.prg"}, CliAction::kCommand, "", "", "s:old.prg"},
      {{"--port", "/dev/x", "cmd", "--", "-x"}, CliAction::kCommand, "", "", "-x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    std::string error;
    const auto request = ParseCommandLine(c.args, error);
    ASSERT_TRUE(request) << error;
    EXPECT_EQ(request->Action, c.action);
    EXPECT_EQ(request->Name, c.name);
    EXPECT_EQ(request->File, c.file);
    EXPECT_EQ(request->Text, c.text);
  }
}

TEST(PeerCli, OptionsAndTheirLimits) {
  std::string error;
  auto request = ParseCommandLine({"--port", "tcp:127.0.0.1:25232", "--timeout", "500", "--retries",
                                   "0", "--force", "--ip232", "--pace-us", "86.8", "dir"},
                                  error);
  ASSERT_TRUE(request) << error;
  EXPECT_EQ(request->Port, "tcp:127.0.0.1:25232");
  EXPECT_TRUE(request->Ip232);
  EXPECT_EQ(request->TimeoutMs, 500);
  EXPECT_EQ(request->Retries, 0);
  EXPECT_TRUE(request->Force);
  EXPECT_DOUBLE_EQ(request->PaceMicros, 86.8);

  const std::vector<std::vector<std::string>> wrong = {
      {"--port", "/dev/x", "--timeout", "0", "dir"},
      {"--port", "/dev/x", "--timeout", "65536", "dir"},
      {"--port", "/dev/x", "--timeout", "1.5", "dir"},
      {"--port", "/dev/x", "--timeout"},
      {"--port", "/dev/x", "--retries", "-1", "dir"},
      {"dir"},               // no port
      {"--port", "/dev/x"},  // no command
      {"--port", "/dev/x", "dir", "extra"},
      {"--port", "/dev/x", "load", "*.prg"},  // wildcard needs -o
      {"--port", "/dev/x", "load", "games/"},
      {"--port", "/dev/x", "load", ".."},
      {"--port", "/dev/x", "save", "dir/"},
      {"--port", "/dev/x", "cmd", "c:x", "-o", "f"},  // -o belongs to load
      {"--port", "/dev/x", "--bogus", "dir"},
      {"--port", "/dev/x", "format"},
  };
  for (const auto& args : wrong) {
    error.clear();
    EXPECT_FALSE(ParseCommandLine(args, error)) << args.back();
    EXPECT_FALSE(error.empty());
  }
  EXPECT_EQ(ParseCommandLine({"dir", "--help"}, error)->Action, CliAction::kHelp);
}

TEST(PeerCli, ThroughputLine) {
  EXPECT_EQ(peer::FormatThroughput(12345, 1.10), "12345 bytes in 1.10 s, 11.2 KB/s");
  EXPECT_EQ(peer::FormatThroughput(0, 0), "0 bytes");
}

}  // namespace
}  // namespace dorvane::testing
