// The ip232 escaping: every byte value through both directions, the modem-line
// signals, an escape split across two reads, and the port around the codec that
// turns DTR into line events and keeps the bytes after a signal for later.
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <vector>

#include "ports/ip232_codec.h"
#include "ports/ip232_port.h"

namespace dorvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes EveryByteValue() {
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  return all;
}

// Decodes `in` cut into chunks of `chunk` bytes, collecting data and signals.
struct Decoded {
  Bytes data;
  std::vector<std::uint8_t> signals;
};
Decoded DecodeInChunks(const Bytes& in, std::size_t chunk) {
  Ip232Decoder decoder;
  Decoded out;
  for (std::size_t at = 0; at < in.size(); at += chunk) {
    const std::size_t end = std::min(in.size(), at + chunk);
    std::size_t pos = at;
    while (pos < end) {
      std::uint8_t buffer[300];
      const auto step = decoder.Decode(in.data() + pos, end - pos, buffer, sizeof buffer);
      out.data.insert(out.data.end(), buffer, buffer + step.produced);
      if (step.signal) out.signals.push_back(*step.signal);
      pos += step.consumed;
    }
  }
  return out;
}

TEST(Ip232Codec, EveryByteValueGoesBothWays) {
  const Bytes all = EveryByteValue();
  Bytes escaped;
  Ip232EscapeData(all.data(), all.size(), escaped);
  // Only 0xFF grows, to FF FF, and it is the last value.
  ASSERT_EQ(escaped.size(), 257u);
  EXPECT_EQ(Bytes(escaped.begin(), escaped.begin() + 255), Bytes(all.begin(), all.begin() + 255));
  EXPECT_EQ(escaped[255], 0xFF);
  EXPECT_EQ(escaped[256], 0xFF);
  // Cut at every size, so that every escape falls across a boundary once.
  for (std::size_t chunk : {1u, 2u, 3u, 7u, 255u, 256u, 257u}) {
    SCOPED_TRACE(chunk);
    const Decoded back = DecodeInChunks(escaped, chunk);
    EXPECT_EQ(back.data, all);
    EXPECT_TRUE(back.signals.empty());
  }
}

TEST(Ip232Codec, SignalsAndTheirPlaceInTheStream) {
  const struct {
    const char* what;
    Bytes in;
    Bytes data;
    std::vector<std::uint8_t> signals;
  } cases[] = {
      {"DTR dropped", {0x41, 0xFF, 0x00, 0x42}, {0x41, 0x42}, {Ip232DtrDropped}},
      {"DTR raised", {0xFF, 0x01}, {}, {Ip232DtrRaised}},
      {"data FF next to a signal", {0xFF, 0xFF, 0xFF, 0x00, 0xFF, 0xFF}, {0xFF, 0xFF}, {0x00}},
      {"two FF FF in a row", {0xFF, 0xFF, 0xFF, 0xFF}, {0xFF, 0xFF}, {}},
      {"an unknown signal", {0xFF, 0x7E, 0x10}, {0x10}, {0x7E}},
      {"a lone FF at the end waits", {0x10, 0xFF}, {0x10}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (std::size_t chunk : {1u, 2u, 100u}) {
      const Decoded out = DecodeInChunks(c.in, chunk);
      EXPECT_EQ(out.data, c.data);
      EXPECT_EQ(out.signals, c.signals);
    }
  }
}

TEST(Ip232Codec, DecodingStopsRightAfterASignal) {
  Ip232Decoder decoder;
  const Bytes in = {0x01, 0xFF, 0x00, 0x02, 0x03};
  std::uint8_t out[8];
  const auto step = decoder.Decode(in.data(), in.size(), out, sizeof out);
  EXPECT_EQ(step.consumed, 3u);
  EXPECT_EQ(step.produced, 1u);
  ASSERT_TRUE(step.signal);
  EXPECT_EQ(*step.signal, Ip232DtrDropped);
}

TEST(Ip232Codec, AFullOutputLeavesTheEscapedFfUnread) {
  Ip232Decoder decoder;
  const Bytes in = {0x01, 0xFF, 0xFF};
  std::uint8_t out[1];
  auto step = decoder.Decode(in.data(), in.size(), out, 1);
  EXPECT_EQ(step.produced, 1u);
  // The first FF was taken; the second waits for room and then completes it.
  EXPECT_EQ(step.consumed, 2u);
  EXPECT_TRUE(decoder.MidEscape());
  step = decoder.Decode(in.data() + 2, 1, out, 1);
  EXPECT_EQ(step.produced, 1u);
  EXPECT_EQ(out[0], 0xFF);
  EXPECT_FALSE(decoder.MidEscape());
}

TEST(Ip232Codec, LineStateTowardsTheEmulator) {
  const struct {
    bool dcd, ri;
    std::uint8_t second;
  } cases[] = {{false, false, 0x00}, {true, false, 0x01}, {false, true, 0x02}, {true, true, 0x03}};
  for (const auto& c : cases) {
    const auto bytes = Ip232LineState(c.dcd, c.ri);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], c.second);
    // And the emulator's side reads it back as the same lines.
    const Decoded back = DecodeInChunks(Bytes(bytes.begin(), bytes.end()), 1);
    ASSERT_EQ(back.signals.size(), 1u);
    EXPECT_EQ(back.signals[0] & Ip232Dcd, c.dcd ? Ip232Dcd : 0);
    EXPECT_EQ(back.signals[0] & Ip232Ri, c.ri ? Ip232Ri : 0);
  }
}

// The inner port: hands out prepared reads one chunk per attempt, takes at most
// `accept` bytes per write, and reports events put in its queue.
class ChunkPort : public SerialPort {
 public:
  bool ReadAttempt(std::uint8_t& byte) override { return ReadSome(&byte, 1) == 1; }
  bool WriteAttempt(std::uint8_t byte) override { return WriteSome(&byte, 1) == 1; }
  std::size_t ReadSome(std::uint8_t* buffer, std::size_t count) override {
    ++reads;
    if (chunks.empty()) return 0;
    Bytes& front = chunks.front();
    const std::size_t n = std::min(count, front.size());
    std::copy(front.begin(), front.begin() + static_cast<long>(n), buffer);
    front.erase(front.begin(), front.begin() + static_cast<long>(n));
    if (front.empty()) chunks.pop_front();
    return n;
  }
  std::size_t WriteSome(const std::uint8_t* data, std::size_t count) override {
    const std::size_t n = std::min(count, accept);
    written.insert(written.end(), data, data + n);
    return n;
  }
  bool TakeLineEvent(LineEvent& event) override {
    if (events.empty()) return false;
    event = events.front();
    events.pop_front();
    return true;
  }

  std::deque<Bytes> chunks;
  std::deque<LineEvent> events;
  Bytes written;
  std::size_t accept = 1000;
  int reads = 0;
};

struct PortRig {
  explicit PortRig(Ip232Side side) {
    auto owned = std::make_unique<ChunkPort>();
    inner = owned.get();
    port = std::make_unique<Ip232Port>(std::move(owned), side);
  }
  Bytes Read(std::size_t count) {
    Bytes got(count);
    got.resize(port->ReadSome(got.data(), count));
    return got;
  }
  ChunkPort* inner;
  std::unique_ptr<Ip232Port> port;
};

TEST(Ip232Port, AnEscapeSplitAcrossTwoReadsIsOneByte) {
  PortRig rig(Ip232Side::kServer);
  rig.inner->chunks = {{0x41, 0xFF}, {0xFF, 0x42}};
  // The lone FF makes the port read once more within the same attempt.
  EXPECT_EQ(rig.Read(10), (Bytes{0x41}));
  EXPECT_EQ(rig.Read(10), (Bytes{0xFF, 0x42}));
  rig.inner->chunks = {{0xFF}, {0xFF}};
  std::uint8_t byte = 0;
  ASSERT_TRUE(rig.port->ReadAttempt(byte));
  EXPECT_EQ(byte, 0xFF);
}

TEST(Ip232Port, DtrDroppedEndsTheSessionBeforeTheBytesAfterIt) {
  PortRig rig(Ip232Side::kServer);
  rig.inner->chunks = {{0x01, 0xFF, 0x00, 0x51, 0xFF, 0x01, 0x52}};
  EXPECT_EQ(rig.Read(10), (Bytes{0x01}));
  // Nothing more until the event has been taken.
  EXPECT_EQ(rig.Read(10), Bytes{});
  LineEvent event;
  ASSERT_TRUE(rig.port->TakeLineEvent(event));
  EXPECT_EQ(event.LogText, "C64 dropped DTR");
  EXPECT_TRUE(event.EndsSession);
  EXPECT_FALSE(rig.port->TakeLineEvent(event));
  EXPECT_EQ(rig.Read(10), (Bytes{0x51}));
  ASSERT_TRUE(rig.port->TakeLineEvent(event));
  EXPECT_EQ(event.LogText, "C64 raised DTR");
  EXPECT_FALSE(event.EndsSession);
  EXPECT_EQ(rig.Read(10), (Bytes{0x52}));
}

TEST(Ip232Port, ANewConnectionForgetsAHalfReadEscape) {
  PortRig rig(Ip232Side::kServer);
  rig.inner->chunks = {{0x10, 0xFF}};
  EXPECT_EQ(rig.Read(10), (Bytes{0x10}));
  rig.inner->events.push_back({"Connection from 127.0.0.1:5000", true});
  LineEvent event;
  ASSERT_TRUE(rig.port->TakeLineEvent(event));
  EXPECT_EQ(event.LogText, "Connection from 127.0.0.1:5000");
  // Without the reset this FF would complete the old escape as a data byte.
  rig.inner->chunks = {{0xFF, 0x00}};
  EXPECT_EQ(rig.Read(10), Bytes{});
  ASSERT_TRUE(rig.port->TakeLineEvent(event));
  EXPECT_EQ(event.LogText, "C64 dropped DTR");
}

TEST(Ip232Port, WritesEscapeAndFinishAnEscapeCutShort) {
  PortRig rig(Ip232Side::kServer);
  const Bytes all = EveryByteValue();
  EXPECT_EQ(rig.port->WriteSome(all.data(), all.size()), all.size());
  Bytes expected;
  Ip232EscapeData(all.data(), all.size(), expected);
  EXPECT_EQ(rig.inner->written, expected);

  // The inner port takes one byte: the first half of FF FF counts as the byte
  // taken, and the second half goes out before anything else.
  rig.inner->written.clear();
  rig.inner->accept = 1;
  const Bytes data = {0xFF, 0x20};
  EXPECT_EQ(rig.port->WriteSome(data.data(), data.size()), 1u);
  EXPECT_EQ(rig.inner->written, (Bytes{0xFF}));
  rig.inner->accept = 0;  // the line is full: not even the owed half goes
  EXPECT_EQ(rig.port->WriteSome(data.data() + 1, 1), 0u);
  rig.inner->accept = 1000;
  EXPECT_EQ(rig.port->WriteSome(data.data() + 1, 1), 1u);
  EXPECT_EQ(rig.inner->written, (Bytes{0xFF, 0xFF, 0x20}));
}

TEST(Ip232Port, TheEmulatorsSideKeepsTheLineState) {
  PortRig rig(Ip232Side::kEmulator);
  rig.inner->chunks = {{0xFF, 0x03, 0x07}};
  // A line state holds nothing back: the data after it comes in the same read.
  EXPECT_EQ(rig.Read(10), (Bytes{0x07}));
  EXPECT_EQ(rig.port->LineState(), Ip232Dcd | Ip232Ri);
  rig.inner->chunks = {{0xFF, 0x01}};
  EXPECT_EQ(rig.Read(10), Bytes{});
  EXPECT_EQ(rig.port->LineState(), Ip232Dcd);
  LineEvent event;
  EXPECT_FALSE(rig.port->TakeLineEvent(event));
}

}  // namespace
}  // namespace dorvane
