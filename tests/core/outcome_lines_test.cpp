// The line that closes each request in the log, after the request's own lines:
// played through whole requests, with the fake clock giving each transfer its time.
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
      {"load in no time",
       [](ServedRig& rig) {
         rig.Put("one.prg", Pattern(1));
         rig.Send(Request(ptLoad, "ONE.PRG"));
         Fetch(rig, 2);
       },
       {"Sending file:one.prg", "Sent 1 byte in 0.0 s"}},
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
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ServedRig rig;
    c.play(rig);
    rig.Serve();
    EXPECT_EQ(RequestLines(rig.Log()), c.lines);
  }
}

TEST(OutcomeLine, ClosesEachDiskCommand) {
  const struct Case {
    const char* command;
    Log lines;  // "ROOT" stands for the served root's path
  } cases[] = {
      {"c:games", {"Changing dir path to: games", "Serving: ROOT/games"}},
      {"c:nothing", {"Changing dir path to: nothing", "Error changing dir to: nothing"}},
      {"c:d:games", {"Changing disk drive to: d:games", "Serving: ROOT/games"}},
      {"c:d:nothing", {"Changing disk drive to: d:nothing", "Error changing drive to: d:nothing"}},
      {"s:old.prg", {"Deleting file: old.prg", "Deleted: old.prg"}},
      {"m:work", {"Making directory: work", "Made directory: work"}},
      {"m:games", {"Making directory: games", "Error making directory: games"}},
      {"r:new.prg=old.prg", {"Renaming file old.prg to new.prg", "Renamed: old.prg to new.prg"}},
      {"r:new.prg=gone.prg", {"Renaming file gone.prg to new.prg", "Rename Error!"}},
      {"x:what", {"Unknown disk command: x:what"}},
      {"cd", {"Unknown disk command: cd"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    ServedRig rig;
    rig.link.panel.delete_protection = false;
    rig.MakeDir("games");
    rig.Put("old.prg", Pattern(10));
    rig.Send(Request(ptCommand, c.command));
    rig.Serve();
    Log expected = c.lines;
    for (std::string& line : expected) {
      if (const auto at = line.find("ROOT"); at != std::string::npos) {
        line.replace(at, 4, rig.root.string());
      }
    }
    EXPECT_EQ(RequestLines(rig.Log()), expected);
  }
}

// A line event in the middle of a transfer cuts it off: the event's own line, then
// how far the transfer came.
TEST(OutcomeLine, TellsHowFarATransferCameWhenTheLineEnded) {
  ServedRig rig;
  rig.Put("game.prg", Pattern(600));
  rig.Send(Request(ptLoad, "GAME.PRG"));
  Fetch(rig, 1);
  rig.link.port->Event({"Connection closed", true});
  rig.Serve();
  EXPECT_EQ(RequestLines(rig.Log()),
            (Log{"Sending file:game.prg", "Connection closed", "Cut off after 255 of 600 bytes"}));
}

}  // namespace
}  // namespace dorvane::testing
