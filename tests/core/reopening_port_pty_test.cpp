// A port whose device goes away and comes back, played with pseudo-terminal pairs
// behind a symbolic link, as socat's link= option makes them: the far end closes,
// the link is removed, a new pair appears behind the same path.
#include "ports/reopening_port.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ports/host_ports.h"
#include "ports/pty_pair.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;

// Attempts of about 2 ms each: several of the port's looks at the device, with room
// for a loaded machine.
constexpr int kPatience = 1500;

class ReopeningPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("dorvane-reopen-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "lock");
    link_ = (dir_ / "c64").string();
    pair_ = OpenPtyPair();
    fs::create_symlink(pair_.slave_path, link_);
  }
  void TearDown() override {
    port_.reset();
    ClosePtyPair(pair_);
    ClosePtyPair(next_);
    fs::remove_all(dir_);
  }

  void OpenPort() {
    HostPortProvider ports([] { return std::vector<std::string>{}; }, (dir_ / "lock").string());
    port_ = ports.Open(link_);
    ASSERT_NE(port_, nullptr) << ports.OpenFailureCause();
  }

  // Keeps the port busy reading until it reports a line event; the event's text,
  // or "" when none came.
  std::string NextEvent(bool* ends_session = nullptr, int attempts = kPatience) {
    LineEvent event;
    std::uint8_t byte = 0;
    for (int i = 0; i < attempts; ++i) {
      if (port_->TakeLineEvent(event)) {
        if (ends_session) *ends_session = event.EndsSession;
        line_down = event.LineDown;
        return event.LogText;
      }
      port_->ReadAttempt(byte);
    }
    return "";
  }
  bool line_down = false;  // of the last event NextEvent took

  // The far end of a new pair behind the same link path.
  void Replug() {
    next_ = OpenPtyPair();
    fs::remove(link_);
    fs::create_symlink(next_.slave_path, link_);
  }

  bool Carries(int master) {
    const std::uint8_t sent = 0xA5;
    if (::write(master, &sent, 1) != 1) return false;
    std::uint8_t got = 0;
    for (int i = 0; i < kPatience; ++i) {
      if (port_->ReadAttempt(got)) return got == sent;
    }
    return false;
  }

  fs::path dir_;
  std::string link_;
  PtyPair pair_;
  PtyPair next_;
  std::unique_ptr<SerialPort> port_;
};

TEST_F(ReopeningPortTest, AClosedFarEndIsLostThenANewPairAtThePathIsBack) {
  ASSERT_NO_FATAL_FAILURE(OpenPort());
  const fs::path lock = dir_ / "lock" / LockFileName(link_);
  EXPECT_TRUE(fs::exists(lock));
  EXPECT_GE(port_->InputDescriptor(), 0);
  ClosePtyPair(pair_);

  bool ends = false;
  EXPECT_EQ(NextEvent(&ends), "Port lost: " + link_ + ": hung up");
  EXPECT_TRUE(ends);
  EXPECT_TRUE(line_down);
  // The lock went with the device: its name may be the next pseudo-terminal's.
  EXPECT_FALSE(fs::exists(lock));
  EXPECT_EQ(port_->InputDescriptor(), -1);
  EXPECT_FALSE(port_->WriteAttempt(0x01));
  // Nothing is there yet: the link is gone with its pair, and no event comes.
  fs::remove(link_);
  EXPECT_EQ(NextEvent(nullptr, 300), "");

  Replug();
  EXPECT_EQ(NextEvent(&ends), "Port back: " + link_);
  EXPECT_TRUE(ends);  // the wait at a line that was down starts over
  EXPECT_FALSE(line_down);
  EXPECT_GE(port_->InputDescriptor(), 0);
  EXPECT_TRUE(Carries(next_.master));
  const fs::path new_lock = dir_ / "lock" / LockFileName(link_);
  EXPECT_TRUE(fs::exists(new_lock)) << "the device that came back is locked";
  port_.reset();
  EXPECT_FALSE(fs::exists(new_lock));
}

TEST_F(ReopeningPortTest, ARemovedDeviceNodeIsLostWhileIdleAndBackWhenItReturns) {
  ASSERT_NO_FATAL_FAILURE(OpenPort());
  fs::remove(link_);  // the far end is still open: only the node went
  EXPECT_EQ(NextEvent(), "Port lost: " + link_ + ": device removed");
  fs::create_symlink(pair_.slave_path, link_);
  EXPECT_EQ(NextEvent(), "Port back: " + link_);
  EXPECT_TRUE(Carries(pair_.master));
}

TEST_F(ReopeningPortTest, ANodeThatNowNamesAnotherDeviceIsTakenAnew) {
  ASSERT_NO_FATAL_FAILURE(OpenPort());
  Replug();  // the old pair stays open, but the path leads elsewhere now
  EXPECT_EQ(NextEvent(), "Port lost: " + link_ + ": another device took its place");
  EXPECT_EQ(NextEvent(), "Port back: " + link_);
  EXPECT_TRUE(Carries(next_.master));
}

TEST_F(ReopeningPortTest, ADeviceThatComesBackLockedByAnotherIsLeftToIt) {
  ASSERT_NO_FATAL_FAILURE(OpenPort());
  ClosePtyPair(pair_);
  EXPECT_EQ(NextEvent(), "Port lost: " + link_ + ": hung up");
  Replug();
  // Another live program (this one will do) marked the new device first.
  const fs::path taken = dir_ / "lock" / LockFileName(link_);
  std::ofstream(taken) << std::to_string(::getpid()) << "\n";
  EXPECT_EQ(NextEvent(nullptr, 300), "");
  fs::remove(taken);
  EXPECT_EQ(NextEvent(), "Port back: " + link_);
}

TEST_F(ReopeningPortTest, AWaitForInputSeesTheLossWithoutAnyRead) {
  ASSERT_NO_FATAL_FAILURE(OpenPort());
  ClosePtyPair(pair_);
  LineEvent event;
  for (int i = 0; i < 20 && !port_->TakeLineEvent(event); ++i) {
    port_->AwaitInput(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(event.LogText, "Port lost: " + link_ + ": hung up");
}

}  // namespace
}  // namespace dorvane
