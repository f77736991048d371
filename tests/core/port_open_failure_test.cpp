// Each reason a port will not open gets its own line naming the cause and the
// remedy, tried on real pseudo-terminals and files, with a lock directory of the
// test's own.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ports/host_ports.h"
#include "ports/open_cause.h"
#include "ports/pty_pair.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

std::string TenDigits(pid_t pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
  return text;
}

TEST(OpenCauseLine, NamesEachCauseAndItsRemedy) {
  const struct {
    OpenFailure failure;
    std::string line;
  } cases[] = {
      {{ENOENT, "/dev/ttyUSB1", {"/dev/ttyUSB0", "/dev/ttyS0"}, {}, "dialout"},
       "No such device: /dev/ttyUSB1 (serial devices present: /dev/ttyUSB0, /dev/ttyS0)"},
      {{ENOENT, "COM3", {}, {}, "dialout"}, "No such device: COM3 (no serial devices present)"},
      {{ENXIO, "/dev/ttyS4", {}, {}, "dialout"},
       "No such device: /dev/ttyS4 (no serial devices present)"},
      {{EACCES, "/dev/ttyUSB0", {}, {}, "dialout"},
       "Permission denied: /dev/ttyUSB0; add yourself to the group dialout: sudo adduser $USER "
       "dialout, then log in again"},
      {{EACCES, "/dev/ttyACM0", {}, {}, "uucp"},
       "Permission denied: /dev/ttyACM0; add yourself to the group uucp: sudo adduser $USER uucp, "
       "then log in again"},
      {{EBUSY, "/dev/ttyUSB0", {}, DeviceHolder{4242, "minicom"}, "dialout"},
       "In use: /dev/ttyUSB0 is held by minicom (PID 4242); quit it first"},
      {{EBUSY, "/dev/ttyUSB0", {}, DeviceHolder{77, ""}, "dialout"},
       "In use: /dev/ttyUSB0 is held by another program (PID 77); quit it first"},
      {{EBUSY, "/dev/ttyUSB0", {}, {}, "dialout"},
       "In use: /dev/ttyUSB0 is held by another program; quit it first"},
      {{ENOTTY, "/home/c64/notes.txt", {}, {}, "dialout"},
       "Not a serial device: /home/c64/notes.txt"},
      {{EIO, "/dev/ttyUSB0", {}, {}, "dialout"}, "Cannot open /dev/ttyUSB0: Input/output error"},
  };
  for (const auto& c : cases) EXPECT_EQ(OpenCauseLine(c.failure), c.line);
}

class OpenFailureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("dorvane-open-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "lock");
    pair_ = OpenPtyPair();
  }
  void TearDown() override {
    ClosePtyPair(pair_);
    fs::remove_all(dir_);
  }

  std::string LockDir() const { return (dir_ / "lock").string(); }
  fs::path LockFile() const { return dir_ / "lock" / LockFileName(pair_.slave_path); }
  HostPortProvider Provider(Names devices = {}) {
    return HostPortProvider([devices] { return devices; }, LockDir());
  }
  std::string Me() const {
    return ProgramNameOf(::getpid()) + " (PID " + std::to_string(::getpid()) + ")";
  }

  fs::path dir_;
  PtyPair pair_;
};

TEST_F(OpenFailureTest, AMissingDeviceListsThoseThatArePresent) {
  auto ports = Provider({"/dev/ttyUSB0", "/dev/ttyAMA0"});
  EXPECT_EQ(ports.Open("/dev/ttyUSB7"), nullptr);
  EXPECT_EQ(ports.OpenFailureCause(),
            "No such device: /dev/ttyUSB7 (serial devices present: /dev/ttyUSB0, /dev/ttyAMA0)");
  EXPECT_EQ(ports.Open("com3"), nullptr);
  EXPECT_EQ(ports.OpenFailureCause(),
            "No such device: COM3 (serial devices present: /dev/ttyUSB0, /dev/ttyAMA0)");
  auto none = Provider();
  EXPECT_EQ(none.Open("COM1"), nullptr);
  EXPECT_EQ(none.OpenFailureCause(), "No such device: COM1 (no serial devices present)");
}

TEST_F(OpenFailureTest, AFileIsNotASerialDevice) {
  const std::string file = (dir_ / "notes.txt").string();
  std::ofstream(file) << "hello";
  auto ports = Provider();
  EXPECT_EQ(ports.Open(file), nullptr);
  EXPECT_EQ(ports.OpenFailureCause(), "Not a serial device: " + file);
  EXPECT_FALSE(fs::exists(dir_ / "lock" / "LCK..notes.txt"));  // the lock went with it
}

TEST_F(OpenFailureTest, AnotherHoldersFlockMeansInUseByThatProcess) {
  const int other = ::open(pair_.slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  auto ports = Provider();
  EXPECT_EQ(ports.Open(pair_.slave_path), nullptr);
  EXPECT_EQ(ports.OpenFailureCause(),
            "In use: " + pair_.slave_path + " is held by " + Me() + "; quit it first");
  EXPECT_FALSE(fs::exists(LockFile()));
  ::close(other);
  EXPECT_NE(ports.Open(pair_.slave_path), nullptr);
}

TEST_F(OpenFailureTest, ALiveLockFileMeansInUseByItsHolder) {
  std::ofstream(LockFile()) << TenDigits(::getpid());
  auto ports = Provider();
  EXPECT_EQ(ports.Open(pair_.slave_path), nullptr);
  EXPECT_EQ(ports.OpenFailureCause(),
            "In use: " + pair_.slave_path + " is held by " + Me() + "; quit it first");
  EXPECT_EQ(fs::exists(LockFile()), true);  // the holder's file is left as it was
}

TEST_F(OpenFailureTest, AStaleLockFileDoesNotBlockAndOursGoesWhenThePortCloses) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  std::ofstream(LockFile()) << TenDigits(child);

  auto ports = Provider();
  auto port = ports.Open(pair_.slave_path);
  ASSERT_NE(port, nullptr) << ports.OpenFailureCause();
  std::ifstream lock(LockFile());
  std::string held((std::istreambuf_iterator<char>(lock)), std::istreambuf_iterator<char>());
  EXPECT_EQ(held, TenDigits(::getpid()));
  port.reset();
  EXPECT_FALSE(fs::exists(LockFile()));
}

// As root the permission bits do not bind, so the open is tried by a child that
// has become `nobody`; an ordinary user takes the rights from a device of its own.
TEST_F(OpenFailureTest, NoRightsToTheDeviceSaysWhichGroupToJoin) {
  struct stat node {};
  ASSERT_EQ(::stat(pair_.slave_path.c_str(), &node), 0);
  const group* owner = ::getgrgid(node.st_gid);
  const std::string group = owner && node.st_gid != 0 ? owner->gr_name : "dialout";
  if (::geteuid() != 0) {
    ASSERT_EQ(::chmod(pair_.slave_path.c_str(), 0), 0);
  }
  const passwd* nobody = ::getpwnam("nobody");
  if (::geteuid() == 0 && nobody == nullptr) GTEST_SKIP() << "no user nobody to drop to";

  int line_pipe[2];
  ASSERT_EQ(::pipe(line_pipe), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(line_pipe[0]);
    if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 ||
                             ::setuid(nobody->pw_uid) != 0)) {
      ::_exit(3);
    }
    // The lock directory is not ours to write now: the open goes on without a lock.
    HostPortProvider ports([] { return Names{}; }, LockDir());
    const bool refused = ports.Open(pair_.slave_path) == nullptr;
    const std::string line = ports.OpenFailureCause();
    (void)!::write(line_pipe[1], line.data(), line.size());
    ::_exit(refused ? 0 : 1);
  }
  ::close(line_pipe[1]);
  std::string line;
  char chunk[256];
  for (ssize_t got; (got = ::read(line_pipe[0], chunk, sizeof chunk)) > 0;) {
    line.append(chunk, static_cast<std::size_t>(got));
  }
  ::close(line_pipe[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0) << "opened without the rights";
  EXPECT_EQ(line, "Permission denied: " + pair_.slave_path + "; add yourself to the group " +
                      group + ": sudo adduser $USER " + group + ", then log in again");
}

}  // namespace
}  // namespace dorvane
