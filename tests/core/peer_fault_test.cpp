// The peer's deliberate faults, as the soak uses them: each must put exactly the
// damaged bytes on the line once, and the peer must then recover the way the
// protocol allows (or give the transfer up, for the aborts).
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "link/wire_format.h"
#include "tests/core/peer_server_script.h"
#include "tests/support/fakes.h"
#include "tools/peer/c64_peer.h"

namespace dorvane::testing {
namespace {

using peer::C64Peer;
using peer::Fault;
using peer::FaultKind;
using peer::PeerError;
using Bytes = std::vector<std::uint8_t>;

const Bytes kAttention = {0x10};
const Bytes kEcho = {0xEF};
const Bytes kNameX = {0x58};  // "x"

struct FaultRig {
  FakeClock clock;
  ScriptedPort port{clock};
  ServerScript server{port, clock};
  C64Peer peer{port, clock};
};

Bytes Flip(Bytes bytes, std::size_t at, std::uint8_t mask) {
  bytes[at] ^= mask;
  return bytes;
}

Bytes Repeated(const Bytes& bytes, int times) {
  Bytes all;
  for (int i = 0; i < times; ++i) all.insert(all.end(), bytes.begin(), bytes.end());
  return all;
}

// A save of two blocks whose first block the fault hits; the server asks for it
// again and takes it when it comes whole.
TEST(PeerFault, DamagedSaveBlockIsResentWhole) {
  const Bytes first(255, 0xA5);
  const Bytes second = {1, 2, 3};
  const Bytes good = PacketBytes(ptData, first);
  struct Case {
    const char* what;
    Fault fault;
    Bytes on_line;
    std::uint32_t server_delay_ms;  // a torn packet is noticed at the byte limit
    Bytes answer;
    Bytes late_answer;  // a second after the answer, when not empty
  };
  Fault payload{FaultKind::kCorruptPayload};
  payload.Offset = 300;  // modulo the length: byte 45
  payload.Mask = 0x80;
  Fault header{FaultKind::kCorruptHeader};
  header.Offset = 1;
  Fault tail{FaultKind::kDropTail};
  tail.Keep = 100;
  const Case cases[] = {
      {"payload", payload, Flip(good, 3 + 45, 0x80), 0, StatusBytes(stRepeat), {}},
      // The server reads the 256 bytes after the bad header as 85 bad headers and
      // one torn one, answering each with stRepeat; the last after a second.
      {"header", header, Flip(good, 1, 0x01), 0, Repeated(StatusBytes(stRepeat), 86),
       StatusBytes(stRepeat)},
      {"tail dropped",
       tail,
       Bytes(good.begin(), good.begin() + 100),
       1000,
       StatusBytes(stRepeat),
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FaultRig rig;
    rig.peer.InjectFault(c.fault);
    rig.server.Then(kAttention, kEcho)
        .Then(PacketBytes(ptSave, kNameX), StatusBytes(stOk))
        .Then(c.on_line, c.answer, c.server_delay_ms);
    if (!c.late_answer.empty()) rig.server.Then({}, c.late_answer, 1000);
    rig.server.Then(good, StatusBytes(stOk))
        .Then(PacketBytes(ptData, second), StatusBytes(stOk))
        .Then(StatusBytes(stEndOfFile), {});
    Bytes file = first;
    file.insert(file.end(), second.begin(), second.end());
    const auto result = rig.peer.Save("x", file);
    EXPECT_TRUE(result.Succeeded) << result.Describe();
    EXPECT_EQ(rig.port.written, rig.server.Expected());
    EXPECT_FALSE(rig.peer.FaultPending());
    EXPECT_EQ(rig.peer.Stats().FaultsApplied, 1u);
  }
}

// During a load the peer's packets are its replies: a damaged or torn reply makes
// the server answer stRepeat, and the peer says its reply again.
TEST(PeerFault, DamagedLoadReplyIsSaidAgain) {
  const Bytes block = {9, 8, 7};
  Fault header{FaultKind::kCorruptHeader};
  header.Skip = 1;  // spare the first stOk, hit the one after the block
  header.Mask = 0xFF;
  Fault tail{FaultKind::kDropTail};
  tail.Skip = 1;
  tail.Keep = 2;
  struct Case {
    const char* what;
    Fault fault;
    Bytes on_line;
    std::uint32_t server_delay_ms;
  };
  const Case cases[] = {
      {"header", header, Flip(StatusBytes(stOk), 2, 0xFF), 0},
      {"tail dropped", tail, Bytes{0x80, 0x00}, 1000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FaultRig rig;
    rig.peer.InjectFault(c.fault);
    rig.server.Then(kAttention, kEcho)
        .Then(PacketBytes(ptLoad, kNameX), StatusBytes(stOk))
        .Then(StatusBytes(stOk), PacketBytes(ptData, block))
        .Then(c.on_line, StatusBytes(stRepeat), c.server_delay_ms)
        .Then(StatusBytes(stOk), StatusBytes(stEndOfFile));
    const auto result = rig.peer.Load("x");
    EXPECT_TRUE(result.Succeeded) << result.Describe();
    EXPECT_EQ(result.Data, block);
    EXPECT_EQ(rig.port.written, rig.server.Expected());
  }
}

TEST(PeerFault, PayloadCorruptionWaitsForAPacketWithAPayload) {
  // A load's replies carry no payload, so the fault stays armed for the next save.
  FaultRig rig;
  rig.peer.InjectFault(Fault{FaultKind::kCorruptPayload});
  const Bytes data = {0x41, 0x42};
  const Bytes good = PacketBytes(ptData, data);
  rig.server.Then(kAttention, kEcho)
      .Then(PacketBytes(ptLoad, kNameX), StatusBytes(stOk))
      .Then(StatusBytes(stOk), StatusBytes(stEndOfFile))
      .Then(kAttention, kEcho)
      .Then(PacketBytes(ptSave, kNameX), StatusBytes(stOk))
      .Then(Flip(good, 3, 0x01), StatusBytes(stRepeat))
      .Then(good, StatusBytes(stOk))
      .Then(StatusBytes(stEndOfFile), {});
  EXPECT_TRUE(rig.peer.Load("x").Succeeded);
  EXPECT_TRUE(rig.peer.FaultPending());
  EXPECT_TRUE(rig.peer.Save("x", data).Succeeded);
  EXPECT_EQ(rig.port.written, rig.server.Expected());
}

TEST(PeerFault, AbortsEndTheTransferInPlaceOfThePacket) {
  struct Case {
    const char* what;
    FaultKind kind;
    Bytes on_line;
  };
  const Case cases[] = {
      {"stAbort", FaultKind::kAbortStatus, {0x89, 0x00, 0x9D}},
      {"0x10 packet", FaultKind::kAbortAttention, PacketBytes(ptAttention, Bytes{})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FaultRig rig;
    Fault fault{c.kind};
    fault.Skip = 1;
    rig.peer.InjectFault(fault);
    const Bytes data(600, 0x33);
    rig.server.Then(kAttention, kEcho)
        .Then(PacketBytes(ptSave, kNameX), StatusBytes(stOk))
        .Then(PacketBytes(ptData, Bytes(255, 0x33)), StatusBytes(stOk))
        .Then(c.on_line, {});
    const auto result = rig.peer.Save("x", data);
    EXPECT_FALSE(result.Succeeded);
    EXPECT_EQ(result.Error, PeerError::kAborted);
    EXPECT_EQ(rig.port.written, rig.server.Expected());  // no stEndOfFile after it
  }
}

TEST(PeerFault, SilenceHoldsThePacketBack) {
  FaultRig rig;
  Fault fault{FaultKind::kSilence};
  fault.SilenceMs = 5000;  // longer than the peer's own reply limit: the server has none
  rig.peer.InjectFault(fault);
  const Bytes data = {5, 6};
  rig.server.Then(kAttention, kEcho)
      .Then(PacketBytes(ptSave, kNameX), StatusBytes(stOk))
      .Then(PacketBytes(ptData, data), StatusBytes(stOk))
      .Then(StatusBytes(stEndOfFile), {});
  EXPECT_TRUE(rig.peer.Save("x", data).Succeeded);
  EXPECT_EQ(rig.port.written, rig.server.Expected());
  EXPECT_GE(rig.server.turn_times[2] - rig.server.turn_times[1], 5000u);
}

}  // namespace
}  // namespace dorvane::testing
