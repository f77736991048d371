// The lock files shared with other serial programs, in a lock directory of the
// test's own.
#include "ports/port_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace dorvane {
namespace {

namespace fs = std::filesystem;

std::string Contents(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

std::string TenDigits(pid_t pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
  return text;
}

// A PID that was in use a moment ago and is free now.
pid_t DeadPid() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  return child;
}

class PortLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("dorvane-lock-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
};

TEST(LockFileName, NamesTheDeviceBelowDev) {
  EXPECT_EQ(LockFileName("/dev/null"), "LCK..null");
  EXPECT_EQ(LockFileName("/dev/this-device-is-missing"), "LCK..this-device-is-missing");
  EXPECT_EQ(LockFileName("/dev/pts/7"), "LCK..pts_7");
  EXPECT_EQ(LockFileName("/tmp/c64-cable"), "LCK..c64-cable");
}

TEST_F(PortLockTest, HoldsOurPidInTenDigitsAndRemovesItWhenDone) {
  const fs::path file = dir_ / "LCK..ttyUSB0";
  std::optional<DeviceHolder> holder;
  {
    auto lock = PortLock::Take(dir_.string(), "/dev/ttyUSB0", holder);
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(lock->Path(), file.string());
    EXPECT_EQ(Contents(file), TenDigits(::getpid()));
  }
  EXPECT_FALSE(fs::exists(file));
  EXPECT_FALSE(holder);
}

TEST_F(PortLockTest, ALiveHolderKeepsThePortAndIsNamed) {
  // Another port of this very program counts as a live holder too.
  std::ofstream(dir_ / "LCK..ttyUSB0") << TenDigits(::getpid());
  std::optional<DeviceHolder> holder;
  EXPECT_EQ(PortLock::Take(dir_.string(), "/dev/ttyUSB0", holder), nullptr);
  ASSERT_TRUE(holder);
  EXPECT_EQ(holder->Pid, ::getpid());
  EXPECT_EQ(holder->Program, ProgramNameOf(::getpid()));
  EXPECT_FALSE(holder->Program.empty());
  EXPECT_EQ(Contents(dir_ / "LCK..ttyUSB0"), TenDigits(::getpid()));  // left alone
}

TEST_F(PortLockTest, AStaleOrUnreadableFileIsTakenOver) {
  for (const std::string& stale : {TenDigits(DeadPid()), std::string("garbage\n"), std::string()}) {
    std::ofstream(dir_ / "LCK..ttyACM0") << stale;
    std::optional<DeviceHolder> holder;
    auto lock = PortLock::Take(dir_.string(), "/dev/ttyACM0", holder);
    ASSERT_NE(lock, nullptr) << stale;
    EXPECT_FALSE(holder);
    EXPECT_EQ(Contents(dir_ / "LCK..ttyACM0"), TenDigits(::getpid()));
  }
}

TEST_F(PortLockTest, WithoutAWritableDirectoryThePortGoesUnlocked) {
  std::optional<DeviceHolder> holder;
  auto lock = PortLock::Take((dir_ / "missing").string(), "/dev/ttyUSB0", holder);
  ASSERT_NE(lock, nullptr);
  EXPECT_EQ(lock->Path(), "");
}

TEST_F(PortLockTest, AFileThatNamesAnotherHolderIsNotRemovedByUs) {
  const fs::path file = dir_ / "LCK..ttyUSB1";
  std::optional<DeviceHolder> holder;
  auto lock = PortLock::Take(dir_.string(), "/dev/ttyUSB1", holder);
  ASSERT_NE(lock, nullptr);
  // Someone broke our lock and took the port; ours must not delete theirs.
  std::ofstream(file, std::ios::trunc) << TenDigits(1);
  lock.reset();
  EXPECT_EQ(Contents(file), TenDigits(1));
}

}  // namespace
}  // namespace dorvane
