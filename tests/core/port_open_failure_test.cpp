// Each reason a port will not open gets its own line naming the cause and the
// remedy, tried on real pseudo-terminals and files, with a lock directory of the
// test's own.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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
       "Permission denied: /dev/ttyUSB0; you are not in the group dialout: sudo adduser $USER "
       "dialout, then log in again"},
      {{EACCES, "/dev/ttyACM0", {}, {}, "uucp", "root", "crw-rw----", DeviceAccess::JoinGroup},
       "Permission denied: /dev/ttyACM0 (owner root, group uucp, crw-rw----); you are not in the "
       "group uucp: sudo adduser $USER uucp, then log in again"},
      {{EACCES, "/dev/ttyUSB0", {}, {}, "dialout", "root", "crw-rw----", DeviceAccess::LogInAgain},
       "Permission denied: /dev/ttyUSB0 (owner root, group dialout, crw-rw----); you joined the "
       "group dialout after logging in: log in again"},
      {{EACCES,
        "/dev/ttyUSB0",
        {},
        {},
        "dialout",
        "root",
        "crw-rw----",
        DeviceAccess::InGroupAlready},
       "Permission denied: /dev/ttyUSB0 (owner root, group dialout, crw-rw----); you are in the "
       "group dialout already, so something else refuses it (a service's device policy, a "
       "security module)"},
      {{EACCES, "/dev/ttyS9", {}, {}, "root", "root", "crw-------", DeviceAccess::OwnerOnly},
       "Permission denied: /dev/ttyS9 (owner root, group root, crw-------); only root may open "
       "it: give it to the group dialout with a udev rule (GROUP=\"dialout\", MODE=\"0660\")"},
      {{EPERM, "/dev/ttyUSB0", {}, {}, "pi", "pi", "c---------", DeviceAccess::OwnModeRefuses},
       "Permission denied: /dev/ttyUSB0 (owner pi, group pi, c---------); you own it, but its "
       "mode refuses you: chmod u+rw /dev/ttyUSB0"},
      {{EBUSY, "/dev/ttyUSB0", {}, DeviceHolder{4242, "minicom"}, "dialout"},
       "In use: /dev/ttyUSB0 is held by minicom (PID 4242); quit it first"},
      {{EBUSY, "/dev/ttyUSB0", {}, DeviceHolder{77, ""}, "dialout"},
       "In use: /dev/ttyUSB0 is held by another program (PID 77); quit it first"},
      {{EBUSY, "/dev/ttyUSB0", {}, {}, "dialout"},
       "In use: /dev/ttyUSB0 is held by another program; quit it first"},
      {{EBUSY,
        "/dev/ttyUSB0",
        {},
        DeviceHolder{88, "bash"},
        "dialout",
        "",
        "",
        DeviceAccess::JoinGroup,
        "/run/lock/LCK..ttyUSB0"},
       "In use: /dev/ttyUSB0 is locked by bash (PID 88) in /run/lock/LCK..ttyUSB0, which does "
       "not have it open; quit it, or remove the file if it is left over"},
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

TEST_F(OpenFailureTest, AMissingDeviceIsNotAmongThoseListedAsPresent) {
  // The list may still hold it (a node going away, a stale link), under any of its names.
  const std::string missing = (dir_ / "ttyUSB9").string();
  for (const std::string& asked : {missing, (dir_ / "." / "ttyUSB9").string()}) {
    SCOPED_TRACE(asked);
    auto ports = Provider({"/dev/ttyUSB0", missing});
    EXPECT_EQ(ports.Open(asked), nullptr);
    EXPECT_EQ(ports.OpenFailureCause(),
              "No such device: " + asked + " (serial devices present: /dev/ttyUSB0)");
  }
}

// A lock file names a process; the line names the one that has the device open, and
// says so when the named one does not.
TEST_F(OpenFailureTest, ALockFileIsCheckedAgainstWhoHasTheDeviceOpen) {
  int hold[2];
  ASSERT_EQ(::pipe(hold), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {  // lives, without the device, until the test closes the pipe
    char byte;
    ::close(hold[1]);
    (void)!::read(hold[0], &byte, 1);
    ::_exit(0);
  }
  ::close(hold[0]);
  std::ofstream(LockFile()) << TenDigits(child);
  const std::string named = ProgramNameOf(child) + " (PID " + std::to_string(child) + ")";

  auto ports = Provider();
  EXPECT_EQ(ports.Open(pair_.slave_path), nullptr);
  EXPECT_EQ(ports.OpenFailureCause(), "In use: " + pair_.slave_path + " is locked by " + named +
                                          " in " + LockFile().string() +
                                          ", which does not have it open; quit it, or remove "
                                          "the file if it is left over");
  const int ours = ::open(pair_.slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(ours, 0);
  EXPECT_EQ(ports.Open(pair_.slave_path), nullptr);
  EXPECT_EQ(ports.OpenFailureCause(),
            "In use: " + pair_.slave_path + " is held by " + Me() + "; quit it first");
  ::close(ours);
  ::close(hold[1]);
  int status = 0;
  ::waitpid(child, &status, 0);
}

// Of the processes that have a device open, the one with the lock on it holds it,
// whatever order the process table lists them in.
TEST_F(OpenFailureTest, TheHolderIsTheProcessWithTheLock) {
  struct stat node {};
  ASSERT_EQ(::stat(pair_.slave_path.c_str(), &node), 0);
  const fs::path proc = dir_ / "proc";
  for (const auto& [pid, program] : {std::pair{"100", "cat"}, std::pair{"200", "minicom"}}) {
    fs::create_directories(proc / pid / "fd");
    fs::create_symlink(pair_.slave_path, proc / pid / "fd" / "3");
    std::ofstream(proc / pid / "comm") << program << "\n";
  }
  char where[64];
  std::snprintf(where, sizeof where, "%02x:%02x:%lu", major(node.st_dev), minor(node.st_dev),
                static_cast<unsigned long>(node.st_ino));
  const struct {
    std::string locks;
    pid_t pid;
    std::string program;
  } cases[] = {
      {"", 100, "cat"},  // no lock: the first that has it open
      {std::string("1: FLOCK  ADVISORY  WRITE 200 ") + where + " 0 EOF\n", 200, "minicom"},
      {std::string("1: FLOCK  ADVISORY  WRITE 200 ") + where + " 0 EOF\n" +
           "1: -> FLOCK  ADVISORY  WRITE 100 " + where + " 0 EOF\n",
       200, "minicom"},                                               // a waiter holds nothing
      {"1: FLOCK  ADVISORY  WRITE 200 00:00:1 0 EOF\n", 100, "cat"},  // another file's lock
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.locks);
    std::ofstream(proc / "locks", std::ios::trunc) << c.locks;
    const auto holder = FindDeviceHolder(pair_.slave_path, proc.string());
    ASSERT_TRUE(holder.has_value());
    EXPECT_EQ(holder->Pid, c.pid);
    EXPECT_EQ(holder->Program, c.program);
  }
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
  // The holder has the device open, as a program that took the lock does.
  const int held = ::open(pair_.slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  auto ports = Provider();
  EXPECT_EQ(ports.Open(pair_.slave_path), nullptr);
  ::close(held);
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
// has become `nobody`, on the device given each owner, group and mode; an ordinary
// user takes the rights from a device of its own.
TEST_F(OpenFailureTest, NoRightsToTheDeviceNamesItsOwnerGroupAndTheRemedy) {
  const passwd* nobody = ::getpwnam("nobody");
  const group* dialout = ::getgrnam("dialout");
  if (::geteuid() == 0 && (nobody == nullptr || dialout == nullptr)) {
    GTEST_SKIP() << "no user nobody or group dialout";
  }
  const std::string device = pair_.slave_path;
  const struct Case {
    bool as_root;  // the case needs root to give the device away
    mode_t mode;
    const char* line;  // after "Permission denied: DEVICE "
  } cases[] = {
      {true, 0660,
       "(owner root, group dialout, crw-rw----); you are not in the group dialout: sudo adduser "
       "$USER dialout, then log in again"},
      {true, 0600,
       "(owner root, group dialout, crw-------); only root may open it: give it to the group "
       "dialout with a udev rule (GROUP=\"dialout\", MODE=\"0660\")"},
      {false, 0, "; you own it, but its mode refuses you: chmod u+rw "},
  };
  for (const Case& c : cases) {
    if (c.as_root != (::geteuid() == 0)) continue;
    SCOPED_TRACE(c.line);
    if (c.as_root) {
      ASSERT_EQ(::chown(device.c_str(), 0, dialout->gr_gid), 0);
    }
    ASSERT_EQ(::chmod(device.c_str(), c.mode), 0);

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
      const bool refused = ports.Open(device) == nullptr;
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
    if (c.as_root) {
      EXPECT_EQ(line, "Permission denied: " + device + " " + c.line);
    } else {
      const passwd* me = ::getpwuid(::geteuid());
      ASSERT_NE(me, nullptr);
      EXPECT_EQ(line.rfind("Permission denied: " + device + " (owner " + me->pw_name, 0), 0u)
          << line;
      EXPECT_NE(line.find(c.line + device), std::string::npos) << line;
    }
  }
}

}  // namespace
}  // namespace dorvane
