// The line that closes each request in the log, after the request's own lines:
// played through whole requests, with the fake clock giving each transfer its time.
// A line event cutting a transfer off is in line_event_test.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "tests/core/served_rig.h"

namespace dorvane::testing {
namespace {

using Log = std::vector<std::string>;

// The lines of the first request: after its "Action", up to the next wait or the end.
Log RequestLines(const Log& log) {
  auto from = std::find(log.begin(), log.end(), "Action");
  if (from == log.end()) return {};
  ++from;
  const auto to = std::find_if(from, log.end(), [](const std::string& line) {
    return line == "Waiting for command from C64..." || line == " terminated!";
  });
  return Log(from, to);
}

// The C64 fetching `count` blocks with stOk, the first after `pause_ms` of quiet.
void Fetch(ServedRig& rig, int count, std::uint32_t pause_ms = 0) {
  rig.link.port->Silence(pause_ms);
  for (int i = 0; i < count; ++i) rig.Send(StatusBytes(stOk));
}

// Saves `blocks` full blocks, the first after `pause_ms` of quiet.
void SaveBlocks(ServedRig& rig, const std::string& name, int blocks, std::uint32_t pause_ms) {
  rig.Send(Request(ptSave, name));
  rig.link.port->Silence(pause_ms);
  for (int i = 0; i < blocks; ++i) rig.Send(PacketBytes(ptData, Pattern(255)));
}

TEST(OutcomeLine, ClosesEachKindOfRequest) {
  const struct Case {
    const char* what;
    std::function<void(ServedRig&)> play;
    Log lines;
  } cases[] = {
      {"load",
       [](ServedRig& rig) {
         rig.Put("game.prg", Pattern(12345));
         rig.Send(Request(ptLoad, "GAME.PRG"));
         Fetch(rig, 50, 1100);  // 49 blocks, then stEndOfFile
       },
       {"Sending file:game.prg", "Sent 12,345 bytes in 1.1 s (11,223 bytes/s)"}},
      {"not found",
       [](ServedRig& rig) { rig.Send(Request(ptLoad, "X.PRG")); },
       {"Sending file:x.prg", "File not found: x.prg"}},
      {"load aborted",
       [](ServedRig& rig) {
         rig.Put("game.prg", Pattern(12345));
         rig.Send(Request(ptLoad, "GAME.PRG"));
         Fetch(rig, 16);
         rig.Send(StatusBytes(stAbort));
       },
       {"Sending file:game.prg", "Aborted by the C64 after 4,080 of 12,345 bytes"}},
      {"load ended by a new request",
       [](ServedRig& rig) {
         rig.Put("game.prg", Pattern(600));
         rig.Send(Request(ptLoad, "GAME.PRG"));
         Fetch(rig, 1);
         rig.Send(StatusBytes(ptAttention));
       },
       {"Sending file:game.prg", "Aborted by the C64 after 255 of 600 bytes"}},
      {"save",
       [](ServedRig& rig) {
         SaveBlocks(rig, "NEW.PRG", 4, 500);
         rig.Send(StatusBytes(stEndOfFile));
       },
       {"Getting file: new.prg", "Saved 1,020 bytes in 0.5 s (2,040 bytes/s)"}},
      {"save aborted",
       [](ServedRig& rig) {
         SaveBlocks(rig, "NEW.PRG", 2, 0);
         rig.Send(StatusBytes(stAbort));
       },
       {"Getting file: new.prg", "Aborted by the C64 after 510 bytes"}},
      {"save refused",
       [](ServedRig& rig) {
         rig.MakeDir("new.prg");
         rig.Send(Request(ptSave, "NEW.PRG"));
       },
       {"Getting file: new.prg", "Can't save file: new.prg"}},
      {"listing",
       [](ServedRig& rig) {
         for (const char* name : {"a.prg", "b.prg", "c.prg"}) rig.Put(name, Pattern(10));
         rig.Send(Request(ptLoad, "$"));
         Fetch(rig, 2);  // 155 bytes: one block, then stEndOfFile
       },
       {"Sending file:$", "Sent directory: 3 entries"}},
      {"listing aborted",
       [](ServedRig& rig) {
         rig.Put("a.prg", Pattern(10));
         rig.Send(Request(ptLoad, "$"));
         rig.Send(StatusBytes(stAbort));
       },
       {"Sending file:$", "Aborted by the C64 after 0 of 91 bytes"}},
      // Every disk command's own are in its table; one stands for them here.
      {"disk command",
       [](ServedRig& rig) { rig.Send(Request(ptCommand, "M:WORK")); },
       {"Making directory: work", "Made directory: work"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ServedRig rig;
    c.play(rig);
    rig.Serve();
    EXPECT_EQ(RequestLines(rig.Log()), c.lines);
  }
}

}  // namespace
}  // namespace dorvane::testing
