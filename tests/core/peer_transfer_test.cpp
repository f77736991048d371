// The peer against a scripted server: the bytes it puts on the line for each kind
// of request, and what it makes of the server's answers.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/wire_format.h"
#include "tests/core/peer_server_script.h"
#include "tests/support/fakes.h"
#include "tools/peer/c64_peer.h"

namespace dorvane::testing {
namespace {

using peer::C64Peer;
using peer::PeerError;
using Bytes = std::vector<std::uint8_t>;

const Bytes kAttention = {0x10};
const Bytes kEcho = {0xEF};

Bytes Pattern(std::size_t size, int seed) {
  Bytes data(size);
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i * 7 + seed);
  return data;
}

Bytes Slice(const Bytes& data, std::size_t from, std::size_t count) {
  return Bytes(data.begin() + static_cast<std::ptrdiff_t>(from),
               data.begin() + static_cast<std::ptrdiff_t>(from + count));
}

struct PeerRig {
  FakeClock clock;
  ScriptedPort port{clock};
  ServerScript server{port, clock};
  peer::PeerOptions options;
  std::unique_ptr<C64Peer> made;

  C64Peer& Peer() {
    if (!made) made = std::make_unique<C64Peer>(port, clock, options);
    return *made;
  }
};

// "hello.prg" as the C64 types it.
const Bytes kHelloPrg = {0x48, 0x45, 0x4C, 0x4C, 0x4F, 0x2E, 0x50, 0x52, 0x47};

TEST(PeerLoad, SevenHundredBytesArriveAsThreeBlocksAndEndOfFile) {
  PeerRig rig;
  const Bytes file = Pattern(700, 3);
  std::vector<std::pair<std::uint64_t, std::optional<std::uint64_t>>> progress;
  rig.options.Progress = [&](std::uint64_t done, std::optional<std::uint64_t> total) {
    progress.emplace_back(done, total);
  };
  rig.server.Then(kAttention, kEcho)
      .Then(PacketBytes(ptLoad, kHelloPrg), StatusBytes(stOk))
      .Then(StatusBytes(stOk), PacketBytes(ptData, Slice(file, 0, 255)))
      .Then(StatusBytes(stOk), PacketBytes(ptData, Slice(file, 255, 255)))
      .Then(StatusBytes(stOk), PacketBytes(ptData, Slice(file, 510, 190)))
      .Then(StatusBytes(stOk), StatusBytes(stEndOfFile));

  const auto result = rig.Peer().Load("hello.prg");

  EXPECT_TRUE(result.Succeeded) << result.Describe();
  EXPECT_EQ(result.Status, stEndOfFile);
  EXPECT_EQ(result.Describe(), "end of file (stEndOfFile)");
  EXPECT_EQ(result.Data, file);
  EXPECT_EQ(rig.port.written, rig.server.Expected());
  ASSERT_EQ(progress.size(), 4u);
  EXPECT_EQ(progress[0].first, 255u);
  EXPECT_EQ(progress[1].first, 510u);
  EXPECT_EQ(progress[2].first, 700u);
  EXPECT_FALSE(progress[2].second.has_value());  // unknown until the end
  EXPECT_EQ(progress[3].second, std::optional<std::uint64_t>(700));
}

TEST(PeerLoad, EmptyFileEndsAtTheFirstOk) {
  PeerRig rig;
  rig.server.Then(kAttention, kEcho)
      .Then(PacketBytes(ptLoad, Bytes{0x45}), StatusBytes(stOk))
      .Then(StatusBytes(stOk), StatusBytes(stEndOfFile));
  const auto result = rig.Peer().Load("e");
  EXPECT_TRUE(result.Succeeded);
  EXPECT_TRUE(result.Data.empty());
  EXPECT_EQ(rig.port.written, rig.server.Expected());
}

TEST(PeerLoad, RefusedRequestReportsTheServersStatus) {
  PeerRig rig;
  rig.server.Then(kAttention, kEcho).Then(PacketBytes(ptLoad, kHelloPrg), StatusBytes(stOpenError));
  const auto result = rig.Peer().Load("hello.prg");
  EXPECT_FALSE(result.Succeeded);
  EXPECT_EQ(result.Error, PeerError::kNone);
  EXPECT_EQ(result.Describe(), "file not found (stOpenError)");
  EXPECT_EQ(rig.port.written, rig.server.Expected());  // nothing after the refusal
}

// A block the line damaged is asked for again with stRepeat and taken when it comes
// whole; the damage may hit the payload, the header, or cut the packet short.
TEST(PeerLoad, DamagedBlockIsAskedForAgain) {
  const Bytes block = Pattern(255, 11);
  const Bytes good = PacketBytes(ptData, block);
  struct Case {
    const char* what;
    Bytes damaged;
    std::uint32_t silence_after_ms;
  };
  Bytes bad_payload_crc = good;
  bad_payload_crc.back() ^= 0x40;
  Bytes bad_payload_byte = good;
  bad_payload_byte[100] ^= 0x01;
  Bytes bad_header = good;
  bad_header[1] ^= 0x02;  // its payload stays on the line and must not be read as packets
  const Bytes cut_short = Slice(good, 0, 120);
  const Case cases[] = {
      {"payload CRC byte", bad_payload_crc, 0},
      {"payload byte", bad_payload_byte, 0},
      {"header byte", bad_header, 0},
      {"cut short", cut_short, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PeerRig rig;
    rig.server.Then(kAttention, kEcho)
        .Then(PacketBytes(ptLoad, kHelloPrg), StatusBytes(stOk))
        .Then(StatusBytes(stOk), c.damaged)
        .Then(StatusBytes(stRepeat), good)
        .Then(StatusBytes(stOk), StatusBytes(stEndOfFile));
    const auto result = rig.Peer().Load("hello.prg");
    EXPECT_TRUE(result.Succeeded) << result.Describe();
    EXPECT_EQ(result.Data, block);
    EXPECT_EQ(rig.port.written, rig.server.Expected());
    EXPECT_EQ(rig.Peer().Stats().RepeatsSent, 1u);
  }
}

TEST(PeerLoad, ServersRepeatGetsTheLastReplyAgain) {
  PeerRig rig;
  const Bytes block = Pattern(10, 1);
  rig.server.Then(kAttention, kEcho)
      .Then(PacketBytes(ptLoad, kHelloPrg), StatusBytes(stOk))
      .Then(StatusBytes(stOk), StatusBytes(stRepeat))  // our stOk came garbled
      .Then(StatusBytes(stOk), PacketBytes(ptData, block))
      .Then(StatusBytes(stOk), StatusBytes(stEndOfFile));
  const auto result = rig.Peer().Load("hello.prg");
  EXPECT_TRUE(result.Succeeded) << result.Describe();
  EXPECT_EQ(result.Data, block);
  EXPECT_EQ(rig.port.written, rig.server.Expected());
  EXPECT_EQ(rig.Peer().Stats().RepeatsReceived, 1u);
}

TEST(PeerLoad, GivesUpAfterItsRetriesAndEndsTheServersTransfer) {
  PeerRig rig;
  rig.options.MaxRetries = 2;
  Bytes bad = PacketBytes(ptData, Pattern(50, 2));
  bad.back() ^= 0xFF;
  rig.server.Then(kAttention, kEcho)
      .Then(PacketBytes(ptLoad, kHelloPrg), StatusBytes(stOk))
      .Then(StatusBytes(stOk), bad)
      .Then(StatusBytes(stRepeat), bad)
      .Then(StatusBytes(stRepeat), bad)
      .Then(StatusBytes(stAbort), {});
  const auto result = rig.Peer().Load("hello.prg");
  EXPECT_FALSE(result.Succeeded);
  EXPECT_EQ(result.Error, PeerError::kTooManyRetries);
  EXPECT_EQ(rig.port.written, rig.server.Expected());
}

TEST(PeerLoad, SilentServerMidTransferIsATimeoutNotAHang) {
  PeerRig rig;
  rig.options.ReplyTimeoutMs = 2000;
  rig.server.Then(kAttention, kEcho)
      .Then(PacketBytes(ptLoad, kHelloPrg), StatusBytes(stOk))
      .Then(StatusBytes(stOk), PacketBytes(ptData, Pattern(255, 5)))
      .Then(StatusBytes(stOk), {})
      .Then(StatusBytes(stAbort), {});
  const auto result = rig.Peer().Load("hello.prg");
  EXPECT_EQ(result.Error, PeerError::kTimeout);
  EXPECT_EQ(result.Describe().rfind("timeout", 0), 0u) << result.Describe();
  EXPECT_EQ(rig.port.written, rig.server.Expected());
  EXPECT_GE(rig.clock.now - rig.server.turn_times[3], 2000u);
}

TEST(PeerLoad, UserStopEndsTheServersTransferWithAbort) {
  PeerRig rig;
  bool stop = false;
  rig.options.StopRequested = [&] { return stop; };
  rig.options.Progress = [&](std::uint64_t, std::optional<std::uint64_t>) { stop = true; };
  rig.server.Then(kAttention, kEcho)
      .Then(PacketBytes(ptLoad, kHelloPrg), StatusBytes(stOk))
      .Then(StatusBytes(stOk), PacketBytes(ptData, Pattern(255, 5)))
      .Then(StatusBytes(stAbort), {});
  const auto result = rig.Peer().Load("hello.prg");
  EXPECT_EQ(result.Error, PeerError::kStopped);
  EXPECT_EQ(rig.port.written, rig.server.Expected());
}

TEST(PeerDirectory, AsksForDollarAndReturnsTheImage) {
  PeerRig rig;
  const Bytes image = Pattern(91, 9);
  rig.server.Then(kAttention, kEcho)
      .Then(Bytes{0x01, 0x01, 0x9A, 0x24, 0x42}, StatusBytes(stOk))  // the "$" request
      .Then(StatusBytes(stOk), PacketBytes(ptData, image))
      .Then(StatusBytes(stOk), StatusBytes(stEndOfFile));
  const auto result = rig.Peer().Directory();
  EXPECT_TRUE(result.Succeeded) << result.Describe();
  EXPECT_EQ(result.Data, image);
  EXPECT_EQ(rig.port.written, rig.server.Expected());
}

TEST(PeerSave, BlocksOfUpTo255BytesThenEndOfFile) {
  PeerRig rig;
  const Bytes file = Pattern(600, 4);
  std::vector<std::uint64_t> progress;
  rig.options.Progress = [&](std::uint64_t done, std::optional<std::uint64_t> total) {
    EXPECT_EQ(total, std::optional<std::uint64_t>(600));
    progress.push_back(done);
  };
  rig.server.Then(kAttention, kEcho)
      .Then(PacketBytes(ptSave, kHelloPrg), StatusBytes(stOk))
      .Then(PacketBytes(ptData, Slice(file, 0, 255)), StatusBytes(stOk))
      .Then(PacketBytes(ptData, Slice(file, 255, 255)), StatusBytes(stOk))
      .Then(PacketBytes(ptData, Slice(file, 510, 90)), StatusBytes(stOk))
      .Then({0x81, 0x00, 0xEB}, {});
  const auto result = rig.Peer().Save("hello.prg", file);
  EXPECT_TRUE(result.Succeeded) << result.Describe();
  EXPECT_EQ(result.Status, stOk);
  EXPECT_EQ(rig.port.written, rig.server.Expected());
  EXPECT_EQ(progress, (std::vector<std::uint64_t>{0, 255, 510, 600}));
}

TEST(PeerSave, EmptyFileIsTheOpenAndEndOfFileOnly) {
  PeerRig rig;
  rig.server.Then(kAttention, kEcho)
      .Then(PacketBytes(ptSave, kHelloPrg), StatusBytes(stOk))
      .Then(StatusBytes(stEndOfFile), {});
  EXPECT_TRUE(rig.Peer().Save("hello.prg", Bytes{}).Succeeded);
  EXPECT_EQ(rig.port.written, rig.server.Expected());
}

TEST(PeerSave, BlockTheServerAsksForAgainIsResentUnchanged) {
  PeerRig rig;
  const Bytes file = Pattern(300, 8);
  const Bytes second = PacketBytes(ptData, Slice(file, 255, 45));
  rig.server.Then(kAttention, kEcho)
      .Then(PacketBytes(ptSave, kHelloPrg), StatusBytes(stOk))
      .Then(PacketBytes(ptData, Slice(file, 0, 255)), StatusBytes(stOk))
      .Then(second, StatusBytes(stRepeat))
      .Then(second, StatusBytes(stOk))
      .Then(StatusBytes(stEndOfFile), {});
  const auto result = rig.Peer().Save("hello.prg", file);
  EXPECT_TRUE(result.Succeeded) << result.Describe();
  EXPECT_EQ(rig.port.written, rig.server.Expected());
  // The resend waits for a quiet line: the stRepeat may answer a torn header whose
  // payload the server is still reading as packets of their own.
  EXPECT_GE(rig.server.turn_times[4] - rig.server.turn_times[3], 1100u);
}

TEST(PeerSave, DamagedAnswerIsAskedForAgain) {
  PeerRig rig;
  const Bytes file = Pattern(20, 8);
  rig.server.Then(kAttention, kEcho)
      .Then(PacketBytes(ptSave, kHelloPrg), StatusBytes(stOk))
      .Then(PacketBytes(ptData, file), Bytes{0x80, 0x00, 0x2E})  // stOk with a bad CRC
      .Then(StatusBytes(stRepeat), StatusBytes(stOk))            // "repeat last status"
      .Then(StatusBytes(stEndOfFile), {});
  const auto result = rig.Peer().Save("hello.prg", file);
  EXPECT_TRUE(result.Succeeded) << result.Describe();
  EXPECT_EQ(rig.port.written, rig.server.Expected());
}

TEST(PeerSave, RefusedCreateReportsOpenError) {
  PeerRig rig;
  rig.server.Then(kAttention, kEcho).Then(PacketBytes(ptSave, kHelloPrg), StatusBytes(stOpenError));
  const auto result = rig.Peer().Save("hello.prg", Pattern(10, 1));
  EXPECT_FALSE(result.Succeeded);
  EXPECT_EQ(result.Describe(), "file not found (stOpenError)");
  EXPECT_EQ(rig.port.written, rig.server.Expected());
}

TEST(PeerSave, ABlockTheServerCannotKeepFailsTheSaveAndAbortsIt) {
  PeerRig rig;
  const Bytes file = Pattern(600, 2);
  rig.server.Then(kAttention, kEcho)
      .Then(PacketBytes(ptSave, kHelloPrg), StatusBytes(stOk))
      .Then(PacketBytes(ptData, Slice(file, 0, 255)), StatusBytes(stOk))
      .Then(PacketBytes(ptData, Slice(file, 255, 255)), StatusBytes(stError))
      .Then(StatusBytes(stAbort), {});
  const auto result = rig.Peer().Save("hello.prg", file);
  EXPECT_FALSE(result.Succeeded);
  EXPECT_EQ(result.Describe(), "error (stError)");
  EXPECT_EQ(rig.port.written, rig.server.Expected());
}

TEST(PeerCommand, SendsTheTextInPetsciiAndReportsTheStatus) {
  struct Case {
    const char* text;
    Bytes petscii;
    std::uint8_t status;
    bool succeeded;
    const char* shown;
  };
  const Case cases[] = {
      {"s:old.prg",
       {0x53, 0x3A, 0x4F, 0x4C, 0x44, 0x2E, 0x50, 0x52, 0x47},
       stDeleteError,
       false,
       "cannot delete (stDeleteError)"},
      {"c:games", {0x43, 0x3A, 0x47, 0x41, 0x4D, 0x45, 0x53}, stOk, true, "ok (stOk)"},
      {"r:New=Old",
       {0x52, 0x3A, 0xCE, 0x45, 0x57, 0x3D, 0xCF, 0x4C, 0x44},
       stRenameError,
       false,
       "cannot rename (stRenameError)"},
      {"m", {0x4D}, stError, false, "error (stError)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    PeerRig rig;
    rig.server.Then(kAttention, kEcho)
        .Then(PacketBytes(ptCommand, c.petscii), StatusBytes(c.status));
    const auto result = rig.Peer().Command(c.text);
    EXPECT_EQ(result.Succeeded, c.succeeded);
    EXPECT_EQ(result.Status, c.status);
    EXPECT_EQ(result.Describe(), c.shown);
    EXPECT_EQ(rig.port.written, rig.server.Expected());
  }
}

TEST(PeerCommand, UnansweredCommandTimesOut) {
  PeerRig rig;
  rig.server.Then(kAttention, kEcho).Then(PacketBytes(ptCommand, Bytes{0x53, 0x3A, 0x58}), {});
  const auto result = rig.Peer().Command("s:x");
  EXPECT_EQ(result.Error, PeerError::kTimeout);
  EXPECT_FALSE(result.Status.has_value());
}

// The server goes back to waiting without a word for these; the user hears why at
// once instead of after the reply limit, and nothing goes on the line.
TEST(PeerCommand, ALetterTheServerDoesNotAnswerIsNamed) {
  for (const char* text : {"q:x", "C:games", "i:"}) {
    SCOPED_TRACE(text);
    PeerRig rig;
    const auto result = rig.Peer().Command(text);
    EXPECT_EQ(result.Error, PeerError::kBadRequest);
    EXPECT_EQ(result.Describe(), "bad request: the server does not answer the command " +
                                     std::string(text, 2) +
                                     " (it knows c:, m:, r: and s:, in lower case)");
    EXPECT_TRUE(rig.port.written.empty());
  }
}

TEST(PeerResult, EachStatusInWordsBesideItsName) {
  const struct {
    std::uint8_t status;
    std::string shown;
  } cases[] = {
      {stOk, "ok (stOk)"},
      {stEndOfFile, "end of file (stEndOfFile)"},
      {stRepeat, "send again (stRepeat)"},
      {stOpenError, "file not found (stOpenError)"},
      {stDeleteError, "cannot delete (stDeleteError)"},
      {stRenameError, "cannot rename (stRenameError)"},
      {stAbort, "aborted (stAbort)"},
      {stError, "error (stError)"},
      {0x86, "status 0x86"},
  };
  for (const auto& c : cases) {
    peer::PeerResult result;
    result.Status = c.status;
    EXPECT_EQ(result.Describe(), c.shown);
  }
}

TEST(PeerCommand, TooLongTextIsRefusedBeforeAnythingIsSent) {
  PeerRig rig;
  const auto result = rig.Peer().Command("s:" + std::string(254, 'x'));
  EXPECT_EQ(result.Error, PeerError::kBadRequest);
  EXPECT_TRUE(rig.port.written.empty());
}

TEST(PeerAttention, MissingEchoIsReportedAfterItsTries) {
  PeerRig rig;
  rig.options.AttentionTries = 2;
  rig.options.ReplyTimeoutMs = 1500;
  const auto result = rig.Peer().Command("c:games");
  EXPECT_EQ(result.Error, PeerError::kNoEcho);
  EXPECT_EQ(result.Describe(), "no echo: no answer within 1500 ms");
  EXPECT_EQ(rig.port.written, (Bytes{0x10, 0x10}));
  EXPECT_GE(rig.clock.now, 3000u);
}

TEST(PeerAttention, LeftoverAnswerOfAnEarlierTransferIsSkipped) {
  // A server still in a transfer reads the attention byte as a packet type, times
  // out on it and answers stRepeat; the second attention then gets its echo.
  PeerRig rig;
  rig.server.Then(kAttention, StatusBytes(stRepeat), 1000)
      .Then(kAttention, kEcho)
      .Then(PacketBytes(ptCommand, Bytes{0x43, 0x3A}), StatusBytes(stOk));
  const auto result = rig.Peer().Command("c:");
  EXPECT_TRUE(result.Succeeded) << result.Describe();
  EXPECT_EQ(rig.port.written, rig.server.Expected());
}

}  // namespace
}  // namespace dorvane::testing
