// The turnaround as the peer sees it: from its last byte written to the first byte
// of the answer read, counted only after the peer's stOk and never for the answer
// that ends the transfer.
#include "bench/timing_port.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "link/wire_format.h"

namespace dorvane::bench {
namespace {

// A port whose answers are scripted; every attempt advances the fake clock.
class FakeLine : public SerialPort {
 public:
  bool ReadAttempt(std::uint8_t& byte) override {
    if (incoming.empty()) return false;
    byte = incoming.front();
    incoming.pop_front();
    return true;
  }
  bool WriteAttempt(std::uint8_t byte) override {
    if (refuse_next_write) {
      refuse_next_write = false;
      return false;
    }
    written.push_back(byte);
    return true;
  }
  std::deque<std::uint8_t> incoming;
  std::vector<std::uint8_t> written;
  bool refuse_next_write = false;
};

class TimingPortTest : public ::testing::Test {
 protected:
  TimingPortTest() : port(line, [this] { return now; }) {}

  void Write(std::initializer_list<std::uint8_t> bytes, Nanos step = Nanos(1000)) {
    for (std::uint8_t b : bytes) {
      now += step;
      ASSERT_TRUE(port.WriteAttempt(b));
    }
  }
  void Read(std::initializer_list<std::uint8_t> bytes, Nanos wait, Nanos step = Nanos(1000)) {
    now += wait;
    for (std::uint8_t b : bytes) {
      line.incoming.push_back(b);
      std::uint8_t got = 0;
      ASSERT_TRUE(port.ReadAttempt(got));
      ASSERT_EQ(got, b);
      now += step;
    }
  }

  Nanos now{1'000'000};
  FakeLine line;
  TimingPort port;
};

TEST_F(TimingPortTest, ATurnRunsFromTheLastByteWrittenToTheFirstByteRead) {
  Write({0x80, 0x00, 0x2F});
  const Nanos last_write = now;
  Read({0x00, 0x03, 0xE2, 0x61, 0x62, 0x63, 0x42}, Nanos(75'000));
  ASSERT_EQ(port.Turns().size(), 1u);
  const TimingPort::Turn& turn = port.Turns()[0];
  EXPECT_EQ(turn.last_write, last_write);
  EXPECT_EQ(turn.first_answer - turn.last_write, Nanos(75'000));
  EXPECT_EQ(turn.last_written, TailOf(0x80, 0x00, 0x2F));
  // The packet's later bytes start no new turn; the last one read is remembered.
  EXPECT_EQ(port.LastRead(), now - Nanos(1000));
}

TEST_F(TimingPortTest, AttemptsThatMoveNothingLeaveNoMark) {
  Write({0x10});
  std::uint8_t byte = 0;
  now += Nanos(2'000'000);
  EXPECT_FALSE(port.ReadAttempt(byte));  // nothing yet: the turn is still open
  line.refuse_next_write = true;
  EXPECT_FALSE(port.WriteAttempt(0x55));  // not taken: not the peer's last byte
  Read({0xEF}, Nanos(10'000));
  ASSERT_EQ(port.Turns().size(), 1u);
  EXPECT_EQ(port.Turns()[0].first_answer - port.Turns()[0].last_write, Nanos(2'010'000));
  EXPECT_EQ(port.Turns()[0].last_written, 0x10u);
  EXPECT_EQ(line.written, std::vector<std::uint8_t>{0x10});
}

TEST_F(TimingPortTest, OnlyTurnsAfterStOkThatBringABlockCount) {
  // A load of 300 bytes: attention, request, then stOk for two blocks and one more
  // that the server answers with stEndOfFile. A stRepeat turn is left out too.
  Write({ptAttention});
  Read({0xEF}, Nanos(5'000));
  Write({0x01, 0x01, 0x9A, 0x24, 0x42});
  Read({0x80, 0x00, 0x2F}, Nanos(900'000));  // the open: not a block
  Write({0x80, 0x00, 0x2F});
  Read({0x00}, Nanos(40'000));  // block 1 (rest of its bytes left out)
  Write({0x82, 0x00, 0xBE});
  Read({0x00}, Nanos(700'000));  // block 1 again, after stRepeat
  Write({0x80, 0x00, 0x2F});
  Read({0x00}, Nanos(60'000));  // block 2
  Write({0x80, 0x00, 0x2F});
  Read({0x81, 0x00, 0xEB}, Nanos(500'000));  // stEndOfFile

  ASSERT_EQ(port.Turns().size(), 6u);
  const std::vector<double> micros = TurnaroundsAfterOk(port.Turns());
  EXPECT_EQ(micros, (std::vector<double>{40.0, 60.0}));

  port.Clear();
  EXPECT_TRUE(port.Turns().empty());
  EXPECT_TRUE(TurnaroundsAfterOk(port.Turns()).empty());
}

// The answer to a request is timed from the request's last byte, also when a byte
// left over from the exchange before was taken for the first attention's echo and
// the peer asked again.
TEST_F(TimingPortTest, TheRequestTurnIsTheFirstWithMoreThanOneByteWritten) {
  const struct {
    const char* name;
    int attentions;  // each answered after 5 us
  } cases[] = {{"one_attention", 1}, {"a_leftover_then_the_echo", 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    port.Clear();
    for (int i = 0; i < c.attentions; ++i) {
      Write({ptAttention});
      Read({0xEF}, Nanos(5'000));
    }
    Write({0x01, 0x01, 0x9A, 0x24, 0x42});
    Read({0x80, 0x00, 0x2F}, Nanos(900'000));
    const TimingPort::Turn* request = RequestTurn(port.Turns());
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(request->first_answer - request->last_write, Nanos(900'000));
  }
  port.Clear();
  Write({ptAttention});
  Read({0xEF}, Nanos(5'000));
  EXPECT_EQ(RequestTurn(port.Turns()), nullptr);
}

}  // namespace
}  // namespace dorvane::bench
