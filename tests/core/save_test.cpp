#include <gtest/gtest.h>

#include "link/os_error.h"
#include "tests/core/served_rig.h"
#include "tests/support/split_test.h"

namespace dorvane::testing {
namespace {

using Names = std::vector<std::string>;

Bytes Slice(const Bytes& b, std::size_t from, std::size_t to) {
  return Bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(to));
}

// Every test here runs once for each way of cutting the bytes into runs.
class Save : public SplitTest {};
INSTANTIATE_SPLITS(Save);

TEST_P(Save, StoresExactlyTheAcknowledgedBlocksInOrder) {
  ServedRig rig;
  const Bytes content = Pattern(300);
  rig.Send(Request(ptSave, "NEW.PRG"));
  rig.Send(PacketBytes(ptData, Slice(content, 0, 255)));
  rig.Send(PacketBytes(ptData, Bytes{}));  // writes nothing, still acknowledged
  rig.Send(PacketBytes(ptData, Slice(content, 255, 300)));
  rig.Send(StatusBytes(stEndOfFile));  // gets no reply
  rig.Serve();

  EXPECT_EQ(rig.Replies(),
            Cat({StatusBytes(stOk), StatusBytes(stOk), StatusBytes(stOk), StatusBytes(stOk)}));
  EXPECT_EQ(rig.Get("new.prg"), content);
  EXPECT_EQ(rig.Entries(), Names{"new.prg"});
  EXPECT_EQ(rig.Log().at(3), "Getting file: new.prg");
  EXPECT_EQ(rig.Log().at(4), "Saved 300 bytes in 0.0 s");
  EXPECT_EQ(rig.Log().at(5), "Waiting for command from C64...");
}

TEST_P(Save, RefusesDamagedPacketsAndRepeatsItsLastStatus) {
  ServedRig rig;
  const Bytes content = Pattern(200);
  Bytes damaged = PacketBytes(ptData, content);
  damaged.back() ^= 0x01;  // the payload's CRC no longer matches

  rig.Send(Request(ptSave, "F"));
  rig.Send(damaged);                       // refused, nothing written
  rig.Send(StatusBytes(stRepeat));         // the C64 asks for the stRepeat again
  rig.Send(PacketBytes(ptData, content));  // resent whole
  rig.Send(StatusBytes(stRepeat));         // the stOk again
  rig.Send({ptData, 0x00, 0x55});          // bad header
  rig.link.port->Silence(1500);            // the C64 waits for the answer
  rig.Send(StatusBytes(stEndOfFile));
  rig.Serve();

  EXPECT_EQ(rig.Replies(), Cat({StatusBytes(stOk), StatusBytes(stRepeat), StatusBytes(stRepeat),
                                StatusBytes(stOk), StatusBytes(stOk), StatusBytes(stRepeat)}));
  EXPECT_EQ(rig.Get("f"), content);
  const Names log(rig.Log().begin() + 3, rig.Log().end() - 2);
  EXPECT_EQ(log, (Names{"Getting file: f", "Bad Received Packet", "Repeat last status packet",
                        "Repeat last status packet", "Bad Received Packet",
                        "Saved 200 bytes in 1.5 s (133 bytes/s)"}));
}

TEST_P(Save, PayloadOfABlockWithADamagedHeaderIsNeverReadAsPackets) {
  // The payload hides an attention byte and a complete stEndOfFile: read as packets
  // they would end the save, or commit a cut-short file.
  const Bytes first = Pattern(100);
  Bytes hidden = Cat({Bytes(9, 0x20), StatusBytes(ptAttention), StatusBytes(stEndOfFile)});
  hidden.resize(60, 0x20);
  Bytes damaged = PacketBytes(ptData, hidden);
  damaged[2] ^= 0x40;  // header CRC

  ServedRig rig;
  rig.Put("keep.prg", Pattern(10));
  rig.Send(Request(ptSave, "KEEP.PRG"));
  rig.Send(PacketBytes(ptData, first));
  // The C64 pauses inside the damaged block, as a packet's bytes may.
  rig.Send(Bytes(damaged.begin(), damaged.begin() + 20));
  rig.link.port->Silence(600);
  rig.Send(Bytes(damaged.begin() + 20, damaged.end()));
  rig.link.port->Silence(1500);  // the C64 waits for the answer
  rig.Send(PacketBytes(ptData, hidden));
  rig.Send(StatusBytes(stEndOfFile));
  rig.Serve();

  EXPECT_EQ(rig.Replies(),
            Cat({StatusBytes(stOk), StatusBytes(stOk), StatusBytes(stRepeat), StatusBytes(stOk)}));
  EXPECT_EQ(rig.Get("keep.prg"), Cat({first, hidden}));
  EXPECT_EQ(rig.Entries(), Names{"keep.prg"});
}

TEST_P(Save, EveryEndButEndOfFileLeavesTheTargetAsItWasAndNoTemporaryFile) {
  struct Case {
    const char* what;
    std::string target;
    Bytes end;     // what the C64 sends after the first block
    Bytes answer;  // the server's reply to it
  };
  const Case cases[] = {
      {"stAbort", "KEEP.PRG", StatusBytes(stAbort), {}},
      {"attention as type", "KEEP.PRG", StatusBytes(ptAttention), {}},
      {"attention with a bad header", "KEEP.PRG", {ptAttention, 0x00, 0x00}, StatusBytes(stRepeat)},
      {"operator's stop", "KEEP.PRG", {}, {}},
      {"stAbort of a new file", "FRESH", StatusBytes(stAbort), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ServedRig rig;
    rig.Put("keep.prg", Pattern(50));
    rig.Send(Request(ptSave, c.target));
    rig.Send(PacketBytes(ptData, Bytes(100, 0xEE)));
    rig.Send(c.end);
    rig.link.port->Silence(1500);  // the C64 waits for the answer
    rig.Serve();

    EXPECT_EQ(rig.Replies(), Cat({StatusBytes(stOk), StatusBytes(stOk), c.answer}));
    EXPECT_EQ(rig.Get("keep.prg"), Pattern(50));
    EXPECT_EQ(rig.Entries(), Names{"keep.prg"});
  }
}

TEST_P(Save, AFailedCommitEndsOnlyTheSaveAndLeavesNoTemporaryFile) {
  ServedRig rig;
  rig.Send(Request(ptSave, "NEW"));
  rig.Send(PacketBytes(ptData, Bytes(10, 1)));
  rig.Send(StatusBytes(stEndOfFile));
  // While the save runs, another program puts a full directory in the target's place.
  rig.link.port->on_written = [&](std::uint8_t) {
    if (rig.link.port->written.size() == 4) {
      rig.MakeDir("new");
      rig.Put("new/inside", Bytes(1));
    }
  };
  rig.Serve();
  EXPECT_EQ(rig.Entries(), Names{"new"});
  EXPECT_EQ(rig.Log(), Names({"Initialising port COM1", "Waiting for command from C64...", "Action",
                              "Getting file: new", "A directory is in the way: saving new",
                              "Waiting for command from C64...", " terminated!"}));
}

TEST_P(Save, DollarIsAnOrdinaryNameForASave) {
  ServedRig rig;
  rig.Send(Request(ptSave, "$"));
  rig.Send(PacketBytes(ptData, AsBytes("10 PRINT")));
  rig.Send(StatusBytes(stEndOfFile));
  rig.Serve();
  EXPECT_EQ(rig.Get("$"), AsBytes("10 PRINT"));
  EXPECT_EQ(rig.Log().at(3), "Getting file: $");
}

TEST_P(Save, AnswersOpenErrorForNamesThatCannotBeSaved) {
  const std::string names[] = {std::string("a\0b", 3), "games", "ro", ""};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    ServedRig rig;
    rig.MakeDir("games");
    rig.Put("ro", Pattern(9));
    rig.ReadOnly("ro");
    rig.Send(Request(ptSave, name));
    rig.Send(PacketBytes(ptData, Bytes(10, 1)));  // after the refusal, stray bytes in ssIdle
    rig.Serve();

    EXPECT_EQ(Slice(rig.Replies(), 0, 3), StatusBytes(stOpenError));
    EXPECT_EQ(rig.Entries(), (Names{"games", "ro"}));
    EXPECT_EQ(rig.Get("ro"), Pattern(9));
  }
}

}  // namespace
}  // namespace dorvane::testing
