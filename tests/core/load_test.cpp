#include <gtest/gtest.h>

#include "service/captions.h"
#include "tests/core/served_rig.h"
#include "tests/support/split_test.h"

namespace dorvane::testing {
namespace {

using Log = std::vector<std::string>;

// Every test here runs once for each way of cutting the bytes into runs.
class Load : public SplitTest {};
INSTANTIATE_SPLITS(Load);

TEST_P(Load, SendsBlocksOf255ThenEndOfFileWithTheProgressOfEachBlock) {
  ServedRig rig;
  const Bytes content = Pattern(700);
  rig.Put("demo.prg", content);
  rig.Send(Request(ptLoad, "DEMO.PRG"));
  for (int i = 0; i < 4; ++i) rig.Send(StatusBytes(stOk));
  rig.Serve();

  const auto block = [&](int from, int to) {
    return PacketBytes(ptData, Bytes(content.begin() + from, content.begin() + to));
  };
  EXPECT_EQ(rig.Replies(), Cat({StatusBytes(stOk), block(0, 255), block(255, 510), block(510, 700),
                                StatusBytes(stEndOfFile)}));
  // ssIdle's 0, the open's 0, one value per block, ssIdle's 0 again.
  EXPECT_EQ(rig.link.panel.progress, (std::vector<int>{0, 0, 36, 73, 100, 0}));
  EXPECT_EQ(rig.Log(), (Log{"Initialising port COM1", "Waiting for command from C64...", "Action",
                            "Sending file:demo.prg", "Sent 700 bytes in 0.0 s",
                            "Waiting for command from C64...", " terminated!"}));
  EXPECT_EQ(rig.link.panel.captions[1], CaptionSendingFile);
}

TEST_P(Load, ProgressRoundsHalfToEvenAndEveryFileEndsWithEndOfFile) {
  struct Case {
    std::size_t size;
    std::vector<int> progress;  // after the open
  };
  const Case cases[] = {
      {0, {}},               // stEndOfFile at the first stOk, the bar stays at 0
      {600, {42, 85, 100}},  // 42.5 goes to the even neighbour
      {765, {33, 67, 100}},  // three full blocks, then stEndOfFile
      {255, {100}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    ServedRig rig;
    const Bytes content = Pattern(c.size);
    rig.Put("f", content);
    rig.Send(Request(ptLoad, "F"));
    for (std::size_t i = 0; i <= c.progress.size(); ++i) rig.Send(StatusBytes(stOk));
    rig.Serve();

    EXPECT_EQ(rig.Replies(), SentFile(content));
    std::vector<int> expected{0, 0};
    expected.insert(expected.end(), c.progress.begin(), c.progress.end());
    expected.push_back(0);
    EXPECT_EQ(rig.link.panel.progress, expected);
  }
}

TEST_P(Load, SendsTheFirstNormalFileTheNameFindsAndLogsItsOwnName) {
  struct Case {
    Bytes request;
    std::string logged;
  };
  const Case cases[] = {
      {AsBytes("*.PRG"), "Game.PRG"},  // passes over a hidden file and a directory
      {{0xC7, 0xC1, 0xCD, 0xC5, '.', 0xD0, 0xD2, 0xC7}, "Game.PRG"},  // shifted PETSCII
      {AsBytes("G?ME.*"), "Game.PRG"},
      {AsBytes("SUB/INT*"), "Intro"},  // a directory part; the bare name is logged
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.logged);
    ServedRig rig;
    rig.Put(".a.prg", Pattern(10));
    rig.MakeDir("b.prg");
    rig.Put("Game.PRG", Pattern(300));
    rig.MakeDir("sub");
    rig.Put("sub/Intro", Pattern(20));
    const Bytes content = c.logged == "Intro" ? Pattern(20) : Pattern(300);
    rig.Send(Request(ptLoad, c.request));
    for (std::size_t i = 0; i <= (content.size() + 254) / 255; ++i) rig.Send(StatusBytes(stOk));
    rig.Serve();

    EXPECT_EQ(rig.Log().at(3), "Sending file:" + c.logged);
    EXPECT_EQ(rig.Replies(), SentFile(content));
  }
}

TEST_P(Load, AnswersOpenErrorWhenNoNormalFileMatches) {
  const std::pair<std::string, std::string> names[] = {{"games", "games"},
                                                       {".secret", ".secret"},
                                                       {"nothing", "nothing"},
                                                       {std::string("a\0b", 3), "a{00}b"},
                                                       {"", ""}};
  for (const auto& [name, logged] : names) {
    SCOPED_TRACE(name);
    ServedRig rig;
    rig.MakeDir("games");
    rig.Put(".secret", Pattern(5));
    rig.Put("a", Pattern(5));  // what a name cut at its 0x00 would find
    rig.Send(Request(ptLoad, name));
    rig.Serve();

    EXPECT_EQ(rig.Replies(), StatusBytes(stOpenError));
    EXPECT_EQ(rig.Log().at(3), "Sending file:" + logged);
    EXPECT_EQ(rig.Log().at(4), "File not found: " + logged);
    EXPECT_EQ(rig.Log().at(5), "Waiting for command from C64...");
  }
}

TEST_P(Load, FileThatGrowsDuringTheLoadIsSentWholeWithTheBarStoppingAt100) {
  for (std::size_t size_at_search : {std::size_t{0}, std::size_t{255}}) {
    SCOPED_TRACE(size_at_search);
    ServedRig rig;
    const Bytes content = Pattern(size_at_search + 300);
    rig.Put("f", Bytes(content.begin(), content.begin() + static_cast<long>(size_at_search)));
    rig.Send(Request(ptLoad, "F"));
    for (std::size_t i = 0; i <= (content.size() + 254) / 255; ++i) rig.Send(StatusBytes(stOk));
    // Once the open has been answered, another program appends to the file.
    rig.link.port->on_written = [&](std::uint8_t) {
      if (rig.link.port->written.size() == 4) rig.Put("f", content);
    };
    rig.Serve();

    EXPECT_EQ(rig.Replies(), SentFile(content));
    for (int percent : rig.link.panel.progress) EXPECT_LE(percent, 100);
    EXPECT_EQ(rig.link.panel.progress.at(rig.link.panel.progress.size() - 2), 100);
  }
}

TEST_P(Load, ReadOnlyFileLoads) {
  ServedRig rig;
  rig.Put("locked", Pattern(40));
  rig.ReadOnly("locked");
  rig.Send(Request(ptLoad, "LOCKED"));
  for (int i = 0; i < 2; ++i) rig.Send(StatusBytes(stOk));
  rig.Serve();
  EXPECT_EQ(rig.Replies(), SentFile(Pattern(40)));
}

TEST_P(Load, RepeatsTheLastPacketAndAnswersGarbledRepliesWithRepeat) {
  ServedRig rig;
  const Bytes content = Pattern(300);
  rig.Put("f", content);
  rig.Send(Request(ptLoad, "F"));
  rig.Send(StatusBytes(stOk));
  rig.Send(StatusBytes(stRepeat));  // the data block again
  rig.Send({stOk, 0x00, 0x00});     // bad header CRC
  rig.Send(StatusBytes(stRepeat));  // repeats the stRepeat, now the last packet
  rig.Send({stOk});                 // the rest of the reply never comes
  rig.link.port->Silence(1500);
  rig.Send(StatusBytes(0x42));  // not a reply: ignored
  rig.Send(StatusBytes(stOk));
  rig.Send(StatusBytes(stOk));
  rig.Serve();

  const Bytes first = PacketBytes(ptData, Bytes(content.begin(), content.begin() + 255));
  const Bytes rest = PacketBytes(ptData, Bytes(content.begin() + 255, content.end()));
  EXPECT_EQ(rig.Replies(),
            Cat({StatusBytes(stOk), first, first, StatusBytes(stRepeat), StatusBytes(stRepeat),
                 StatusBytes(stRepeat), rest, StatusBytes(stEndOfFile)}));
  EXPECT_EQ(rig.Log().size(), 7u);  // no line for any of the repeats, one for the end
}

TEST_P(Load, AbortOrANewRequestEndsTheLoad) {
  struct Case {
    const char* what;
    Bytes reply;
    Bytes answer;
  };
  const Case cases[] = {
      {"stAbort", StatusBytes(stAbort), {}},
      {"attention as type", StatusBytes(ptAttention), {}},
      {"attention with a bad header", {ptAttention, 0x00, 0x00}, StatusBytes(stRepeat)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ServedRig rig;
    const Bytes content = Pattern(600);
    rig.Put("f", content);
    rig.Send(Request(ptLoad, "F"));
    rig.Send(StatusBytes(stOk));
    rig.Send(c.reply);
    rig.Send({0x55});  // back in ssIdle, a stray byte is echoed inverted
    rig.Serve();

    EXPECT_EQ(rig.Replies(),
              Cat({StatusBytes(stOk),
                   PacketBytes(ptData, Bytes(content.begin(), content.begin() + 255)),
                   c.answer,
                   {0xAA}}));
  }
}

TEST_P(Load, LogsTimeoutErrorWhenTheOpenAnswerCannotBeSent) {
  ServedRig rig;
  rig.Put("f", Pattern(3));
  rig.Send(Request(ptLoad, "F"));
  rig.Send(StatusBytes(stAbort));
  // The C64 stops taking bytes right after the echo, for longer than a second.
  rig.link.port->on_written = [&](std::uint8_t) {
    if (rig.link.port->written.size() == 1) rig.link.port->refuse_writes = 600;
  };
  rig.Serve();
  EXPECT_EQ(rig.Log().at(4), "Timeout Error");
  // The stAbort was still read.
  EXPECT_EQ(rig.Log().at(5), "Aborted by the C64 after 0 of 3 bytes");
  EXPECT_EQ(rig.Log().at(6), "Waiting for command from C64...");
}

}  // namespace
}  // namespace dorvane::testing
