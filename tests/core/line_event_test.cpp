// What the port reports about the line itself (a device lost or back, a connection
// replaced) reaches the log, and one that ends the session ends any transfer as an
// abort does, whatever state the server is in.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/core/served_rig.h"
#include "tests/support/split_test.h"

namespace dorvane::testing {
namespace {

using Names = std::vector<std::string>;

bool Logged(const ServedRig& rig, const std::string& line) {
  return std::find(rig.Log().begin(), rig.Log().end(), line) != rig.Log().end();
}

// Every test here runs once for each way of cutting the bytes into runs.
class LineEvents : public SplitTest {};
INSTANTIATE_SPLITS(LineEvents);

TEST_P(LineEvents, EndingTheSessionInASaveKeepsTheOldFileAndServesTheNextRequest) {
  ServedRig rig;
  const Bytes old_content = Pattern(40);
  rig.Put("game.prg", old_content);
  rig.Send(Request(ptSave, "GAME.PRG"));
  rig.Send(PacketBytes(ptData, Pattern(255)));
  rig.link.port->Event({"Port lost: /dev/ttyUSB0: Input/output error", true});
  // Whatever the C64 had still queued for the save is gone with the old line; the
  // next thing heard is a fresh request.
  rig.Send(Request(ptLoad, "GAME.PRG"));
  rig.Send(Cat({StatusBytes(stOk), StatusBytes(stOk)}));
  rig.Serve();

  EXPECT_EQ(rig.Get("game.prg"), old_content);
  EXPECT_EQ(rig.Entries(), Names{"game.prg"});  // no temporary file
  EXPECT_TRUE(Logged(rig, "Port lost: /dev/ttyUSB0: Input/output error"));
  // The load after the event sent the old file whole: stOk, one block, stEndOfFile.
  const Bytes replies = rig.Replies();
  const Bytes tail = SentFile(old_content);
  ASSERT_GE(replies.size(), tail.size());
  EXPECT_TRUE(std::equal(tail.begin(), tail.end(), replies.end() - static_cast<long>(tail.size())));
}

TEST_P(LineEvents, EndingTheSessionInALoadStartsOverAtIdle) {
  ServedRig rig;
  rig.Put("big.prg", Pattern(600));
  rig.Send(Request(ptLoad, "BIG.PRG"));
  rig.Send(StatusBytes(stOk));  // fetches the first block
  rig.link.port->Event({"Connection closed", true});
  rig.Send(Request(ptLoad, "$"));
  rig.Serve();

  const Names& log = rig.Log();
  const auto closed = std::find(log.begin(), log.end(), "Connection closed");
  ASSERT_NE(closed, log.end());
  ASSERT_NE(closed + 2, log.end());
  EXPECT_EQ(*(closed + 1), "Cut off after 255 of 600 bytes");
  EXPECT_EQ(*(closed + 2), "Waiting for command from C64...");
  EXPECT_NE(std::find(closed, log.end(), "Sending file:$"), log.end());
}

TEST_P(LineEvents, AnEventThatKeepsTheSessionOnlyLogs) {
  ServedRig rig;
  const Bytes content = Pattern(300);
  rig.Send(Request(ptSave, "NEW.PRG"));
  rig.Send(PacketBytes(ptData, Bytes(content.begin(), content.begin() + 255)));
  rig.link.port->Event({"Port back: /dev/ttyUSB0", false});
  rig.Send(PacketBytes(ptData, Bytes(content.begin() + 255, content.end())));
  rig.Send(StatusBytes(stEndOfFile));
  rig.Serve();

  EXPECT_EQ(rig.Get("new.prg"), content);
  EXPECT_TRUE(Logged(rig, "Port back: /dev/ttyUSB0"));
}

TEST(LineEventEndingServing, StopsInOrderInTheMiddleOfASave) {
  ServedRig rig;
  const Bytes old_content = Pattern(40);
  rig.Put("game.prg", old_content);
  rig.Send(Request(ptSave, "GAME.PRG"));
  rig.Send(PacketBytes(ptData, Pattern(255)));
  dorvane::LineEvent gone;
  gone.LogText = "End of input";
  gone.EndsServing = true;
  rig.link.port->Event(gone);
  const Bytes next = Request(ptLoad, "GAME.PRG");
  rig.Send(next);
  rig.Serve();

  EXPECT_EQ(rig.Get("game.prg"), old_content);
  EXPECT_EQ(rig.Entries(), Names{"game.prg"});
  ASSERT_GE(rig.Log().size(), 3u);
  EXPECT_EQ(rig.Log()[rig.Log().size() - 3], "End of input");
  EXPECT_EQ(rig.Log()[rig.Log().size() - 2], "Cut off after 255 bytes");
  EXPECT_EQ(rig.Log().back(), " terminated!");
  EXPECT_EQ(rig.link.panel.close_count, 1);
  // Serving ended there: the request after the event was never read.
  EXPECT_EQ(rig.link.port->Pending(), next.size());
}

}  // namespace
}  // namespace dorvane::testing

namespace dorvane::testing {
namespace {

// While the device is away nothing can come from the C64: the server waits for a
// request again only once the line is back.
TEST(LineDown, NoWaitForTheC64IsLoggedUntilThePortIsBack) {
  ServedRig rig;
  rig.Put("game.prg", Pattern(600));
  rig.Send(Request(ptLoad, "GAME.PRG"));
  rig.Send(StatusBytes(stOk));
  LineEvent lost{"Port lost: /dev/ttyUSB0: hung up", true};
  lost.LineDown = true;
  rig.link.port->Event(lost);
  rig.link.port->Silence(500);
  rig.link.port->Event({"Port back: /dev/ttyUSB0", true});
  rig.Send(Request(ptLoad, "$"));
  rig.Send(Cat({StatusBytes(stOk), StatusBytes(stOk)}));
  rig.Serve();

  const Names& log = rig.Log();
  const auto at = std::find(log.begin(), log.end(), "Port lost: /dev/ttyUSB0: hung up");
  ASSERT_NE(at, log.end());
  EXPECT_EQ(Names(at, std::min(at + 5, log.end())),
            (Names{"Port lost: /dev/ttyUSB0: hung up", "Cut off after 255 of 600 bytes",
                   "Port back: /dev/ttyUSB0", "Waiting for command from C64...", "Action"}));
}

// Serving stopped while the port was away, then started again: the port opened
// anew has its line up.
TEST(LineDown, EndsWithThePortItWasOn) {
  ServedRig rig;
  rig.link.link.LineDown = true;
  rig.Serve();
  EXPECT_EQ(rig.Log().at(1), "Waiting for command from C64...");
}

// Packets that keep arriving damaged with 0xFF among them get the port's hint once,
// after the lines of the request they spoiled; without 0xFF, or only now and then,
// they get none.
TEST(DamageHint, IsGivenOnceWhenDamagedPacketsWithFFKeepComing) {
  const Bytes with_ff = {0x01, 0xFF, 0x02};
  const Bytes without_ff = {0x01, 0x7F, 0x02};
  const struct Case {
    const char* what;
    Bytes payload;
    int damaged;  // blocks in a row with a spoiled payload CRC
    int hints;
  } cases[] = {
      {"three with FF", with_ff, 3, 1},
      {"six with FF", with_ff, 6, 1},
      {"two with FF", with_ff, 2, 0},
      {"three without FF", without_ff, 3, 0},
  };
  const std::string hint = "the sides may disagree";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ServedRig rig;
    rig.link.port->damage_hint = hint;
    rig.Send(Request(ptSave, "NEW.PRG"));
    for (int i = 0; i < c.damaged; ++i) {
      Bytes block = PacketBytes(ptData, c.payload);
      block.back() ^= 0x55;  // the payload's CRC
      rig.Send(block);
    }
    rig.Send(PacketBytes(ptData, c.payload));
    rig.Send(StatusBytes(stEndOfFile));
    rig.Serve();

    const Names& log = rig.Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), hint), c.hints);
    if (c.hints > 0) {
      const auto at = std::find(log.begin(), log.end(), hint);
      EXPECT_EQ(*(at - 1), "Bad Received Packet");
    }
  }
}

}  // namespace
}  // namespace dorvane::testing
