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
  ASSERT_NE(closed + 1, log.end());
  EXPECT_EQ(*(closed + 1), "Waiting for command from C64...");
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
  ASSERT_GE(rig.Log().size(), 2u);
  EXPECT_EQ(rig.Log()[rig.Log().size() - 2], "End of input");
  EXPECT_EQ(rig.Log().back(), " terminated!");
  EXPECT_EQ(rig.link.panel.close_count, 1);
  // Serving ended there: the request after the event was never read.
  EXPECT_EQ(rig.link.port->Pending(), next.size());
}

}  // namespace
}  // namespace dorvane::testing
