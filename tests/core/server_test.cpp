// The request phase of the state machine: the attention handshake, the request packet
// and its three outcomes, the form and dispatch of disk commands, and the start and
// end of serving.
#include <string>
#include <vector>

#include "link/os_error.h"
#include "service/captions.h"
#include "tests/core/server_rig.h"
#include "tests/support/split_test.h"

namespace dorvane::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

const std::string kWaiting = "Waiting for command from C64...";

// Serving through StartServing, until the C64 has nothing more to say.
struct ServingRig : ServerRig {
  ServingRig() {
    HandPortToProvider();
    StopWhenDrained();
  }
};

// Every test here runs once for each way of cutting the bytes into runs.
class ServerRequests : public SplitTest {};
class ServerCommands : public SplitTest {};
class ServerLifecycle : public SplitTest {};
INSTANTIATE_SPLITS(ServerRequests);
INSTANTIATE_SPLITS(ServerCommands);
INSTANTIATE_SPLITS(ServerLifecycle);

TEST_P(ServerRequests, StrayByteIsEchoedAndWaitedOnAgain) {
  ServingRig rig;
  ScriptedPort* port = rig.port;
  port->Feed({0x41});
  rig.server.StartServing();
  EXPECT_EQ(port->written, Bytes({0xBE}));
  EXPECT_EQ(rig.panel.log,
            Lines({"Initialising port COM1", kWaiting, "Action", kWaiting, " terminated!"}));
}

TEST_P(ServerRequests, LostEchoStaysIdle) {
  ServerRig rig;
  rig.port->Feed({ptAttention});
  rig.port->refuse_writes = -1;  // the C64 holds CTS off
  rig.server.Step();
  EXPECT_TRUE(rig.link.TimedOut);
  EXPECT_EQ(rig.server.State, ssIdle);
  EXPECT_TRUE(rig.port->written.empty());
}

TEST_P(ServerRequests, DamagedRequestsGetNoReply) {
  Bytes bad_header = PacketBytes(ptCommand, Bytes{});
  bad_header.back() ^= 0x01;
  Bytes bad_payload = PacketBytes(ptCommand, std::string("s:keep"));
  bad_payload.back() ^= 0x01;
  const struct {
    Bytes packet;
    std::string line;
  } cases[] = {{bad_header, "Header CRC error!!"}, {bad_payload, "Payload CRC error!!"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    ServingRig rig;
    rig.panel.delete_protection = false;
    rig.root.Write("keep");
    rig.port->Feed({ptAttention});
    rig.port->Feed(c.packet);
    rig.server.StartServing();
    EXPECT_EQ(rig.port->written, Bytes({0xEF}));
    EXPECT_EQ(rig.panel.log, Lines({"Initialising port COM1", kWaiting, "Action", c.line, kWaiting,
                                    " terminated!"}));
    EXPECT_TRUE(rig.root.Exists("keep"));
  }
}

TEST_P(ServerRequests, SilenceAfterHeaderOrIgnoredTypesTimesOut) {
  const Bytes cases[] = {
      {},                                                // nothing at all
      {ptCommand, 0x05},                                 // a header cut short
      [] {                                               // two packets that are
        Bytes b = PacketBytes(0x00, std::string("ab"));  // not requests
        Bytes attention = PacketBytes(ptAttention, Bytes{});
        b.insert(b.end(), attention.begin(), attention.end());
        return b;
      }(),
  };
  for (const Bytes& after : cases) {
    ServerRig rig;
    rig.port->Feed({ptAttention});
    rig.port->Feed(after);
    int steps = 0;
    do {
      rig.server.Step();
    } while (rig.server.State != ssIdle && ++steps < 10);
    EXPECT_EQ(rig.server.State, ssIdle);
    EXPECT_EQ(rig.port->written, Bytes({0xEF}));
    EXPECT_EQ(rig.panel.log, Lines({kWaiting, "Action", "TimeOut error"}));
    EXPECT_GT(rig.clock.now, 1000u);
  }
}

TEST_P(ServerCommands, MalformedAndUnknownCommands) {
  const struct {
    std::string text;
    Bytes reply;
  } cases[] = {
      {"", StatusBytes(stError)},
      {"c", StatusBytes(stError)},
      {"cd", StatusBytes(stError)},
      {"q:x", {}},
      {"x:", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ServerRig rig;
    const Outcome outcome = rig.Command(c.text);
    EXPECT_EQ(outcome.reply, c.reply);
    EXPECT_EQ(outcome.log, Lines{"Unknown disk command: " + c.text});
    // Whatever came before, the next request is served as usual.
    EXPECT_EQ(rig.Command("m:next").reply, StatusBytes(stOk));
    EXPECT_TRUE(rig.root.Exists("next"));
  }
}

TEST_P(ServerCommands, DispatchByLetterInEitherCase) {
  const struct {
    Bytes text;
    std::string caption;
    std::string line;
  } cases[] = {
      {{0x73, ':', 'x'}, CaptionDeleting, "Deleting file: x"},
      {{0x53, ':', 0x58}, CaptionDeleting, "Deleting file: x"},
      {{0xD3, ':', 0xD8}, CaptionDeleting, "Deleting file: x"},
      {{'m', ':', 'd'}, CaptionMakingDirectory, "Making directory: d"},
      {{0xC3, ':'}, CaptionChangingDirectory, "Changing dir path to: "},
      {{'c', ':', 'd', ':'}, CaptionChangingDrive, "Changing disk drive to: d:"},
      {{'c', ':', 'd'}, CaptionChangingDirectory, "Changing dir path to: d"},
      {{'r', ':', 'a'}, CaptionRenaming, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    ServerRig rig;
    const Outcome outcome = rig.Command(c.text);
    EXPECT_EQ(rig.panel.captions.back(), c.caption);
    ASSERT_FALSE(outcome.reply.empty());
    if (c.line.empty()) {
      EXPECT_TRUE(outcome.log.empty());
      continue;
    }
    ASSERT_FALSE(outcome.log.empty());
    EXPECT_EQ(outcome.log.front(), c.line);
  }
}

TEST_P(ServerCommands, LongArgumentIsCutInTheLogOnly) {
  ServerRig rig;
  const std::string name(253, 'n');
  const Outcome outcome = rig.Command("m:" + name);
  EXPECT_EQ(outcome.reply, StatusBytes(stOk));
  ASSERT_EQ(outcome.log.size(), 2u);
  EXPECT_EQ(outcome.log[0], ("Making directory: " + name).substr(0, 255));
  EXPECT_EQ(outcome.log[1], ("Made directory: " + name).substr(0, 255));
  EXPECT_TRUE(fs::is_directory(rig.root.path / name));
}

TEST_P(ServerLifecycle, StopWhileIdle) {
  ServingRig rig;
  rig.panel.port_choice = 1;
  rig.server.StartServing();
  EXPECT_EQ(rig.panel.log, Lines({"Initialising port COM2", kWaiting, " terminated!"}));
  EXPECT_EQ(rig.panel.captions, Lines({CaptionWaiting}));
  EXPECT_EQ(rig.panel.close_count, 1);
  EXPECT_TRUE(rig.panel.start_enabled);
  EXPECT_FALSE(rig.panel.port_choice_enabled);
  EXPECT_TRUE(rig.link.PortHandle) << "the port stays open until the program ends";
}

// A window serves again after Stop, which may have come in the middle of a load.
TEST_P(ServerLifecycle, ServingAgainStartsWithWaitingForARequest) {
  ServingRig rig;
  rig.server.State = ssLoadWaitReply;
  rig.port->Feed({0x41});
  rig.server.StartServing();
  EXPECT_EQ(rig.port->written, Bytes({0xBE}));
  EXPECT_EQ(rig.panel.log,
            Lines({"Initialising port COM1", kWaiting, "Action", kWaiting, " terminated!"}));
}

TEST_P(ServerLifecycle, PortThatCannotBeOpenedLeavesStartUsable) {
  ServerRig rig;  // the provider has no port to give
  rig.panel.port_choice = 2;
  rig.server.StartServing();
  EXPECT_EQ(rig.panel.log, Lines({"Initialising port COM3", "Can't initialize port COM3"}));
  EXPECT_TRUE(rig.panel.start_enabled);
  EXPECT_TRUE(rig.panel.port_choice_enabled);
  EXPECT_EQ(rig.panel.close_count, 0);

  // Where the provider knows why, its line follows.
  rig.panel.log.clear();
  rig.ports.failure_cause = "No such device: COM3 (no serial devices present)";
  rig.server.StartServing();
  EXPECT_EQ(rig.panel.log, Lines({"Initialising port COM3", "Can't initialize port COM3",
                                  "No such device: COM3 (no serial devices present)"}));
  rig.ports.failure_cause.clear();

  rig.ports.throw_on_configure = true;
  EXPECT_THROW(rig.server.StartServing(), OsError);
  EXPECT_TRUE(rig.panel.start_enabled);
  EXPECT_TRUE(rig.panel.port_choice_enabled);
}

TEST_P(ServerLifecycle, CaptionsFollowEachRequest) {
  ServingRig rig;
  for (const char* text : {"s:x", "r:a=b", "m:d", "c:d", "c:e:", "q:x"}) {
    rig.port->Feed({ptAttention});
    rig.port->Feed(PacketBytes(ptCommand, std::string(text)));
  }
  rig.server.StartServing();
  EXPECT_EQ(rig.panel.captions,
            Lines({CaptionWaiting, CaptionDeleting, CaptionWaiting, CaptionRenaming, CaptionWaiting,
                   CaptionMakingDirectory, CaptionWaiting, CaptionChangingDirectory, CaptionWaiting,
                   CaptionChangingDrive, CaptionWaiting, CaptionWaiting}));
  EXPECT_EQ(rig.panel.log.back(), " terminated!");
}

}  // namespace
}  // namespace dorvane::testing
