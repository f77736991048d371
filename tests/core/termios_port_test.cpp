// The host's serial port over a real pseudo-terminal pair: the slave is opened the
// way a USB adapter would be, and the master plays the C64.
#include "ports/termios_port.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

#include "link/os_error.h"
#include "ports/pty_pair.h"

namespace dorvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Enough attempts for a byte to cross a pseudo-terminal on a loaded machine; the
// tests never look at how long that takes.
constexpr int kPatience = 2000;

bool ReadOne(SerialPort& port, std::uint8_t& byte) {
  for (int i = 0; i < kPatience; ++i) {
    if (port.ReadAttempt(byte)) return true;
  }
  return false;
}

bool WriteAll(SerialPort& port, const Bytes& bytes) {
  for (std::uint8_t b : bytes) {
    int tries = 0;
    while (!port.WriteAttempt(b)) {
      if (++tries == kPatience) return false;
    }
  }
  return true;
}

Bytes ReadN(SerialPort& port, std::size_t count) {
  Bytes got;
  std::uint8_t b = 0;
  while (got.size() < count && ReadOne(port, b)) got.push_back(b);
  return got;
}

Bytes EveryByteValue() {
  Bytes all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<std::uint8_t>(i));
  return all;
}

int OpenDescriptorCount() {
  int count = 0;
  DIR* dir = ::opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  while (::readdir(dir) != nullptr) ++count;
  ::closedir(dir);
  return count;
}

class PtyPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pair_ = OpenPtyPair();
    master_fd_ = pair_.master;
  }
  void TearDown() override { ClosePtyPair(pair_); }

  // On Linux the termios calls on a master read and write its slave's settings.
  termios SlaveSettings() const {
    termios tio{};
    EXPECT_EQ(::tcgetattr(master_fd_, &tio), 0);
    return tio;
  }

  std::unique_ptr<TermiosPort> AdoptMaster() {
    return TermiosPort::Adopt(std::exchange(pair_.master, -1));
  }

  PtyPair pair_;
  int master_fd_ = -1;
};

TEST_F(PtyPortTest, OpenSetsTheLinkLineAndCloseRestoresTheOldOne) {
  // A line as a terminal would leave it: cooked, echoing, 9600 baud, two stop bits.
  termios before = SlaveSettings();
  before.c_lflag |= ICANON | ECHO | ISIG;
  before.c_iflag |= ICRNL | IXON;
  before.c_oflag |= OPOST | ONLCR;
  before.c_cflag |= CSTOPB;
  before.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
  ::cfsetispeed(&before, B9600);
  ::cfsetospeed(&before, B9600);
  ASSERT_EQ(::tcsetattr(master_fd_, TCSANOW, &before), 0);

  auto port = TermiosPort::Open(pair_.slave_path);
  ASSERT_NE(port, nullptr);
  const termios on = SlaveSettings();
  EXPECT_EQ(::cfgetospeed(&on), static_cast<speed_t>(B115200));
  EXPECT_EQ(::cfgetispeed(&on), static_cast<speed_t>(B115200));
  EXPECT_EQ(on.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(on.c_cflag & (PARENB | CSTOPB), 0u);
  EXPECT_EQ(on.c_cflag & (CRTSCTS | CLOCAL | CREAD),
            static_cast<tcflag_t>(CRTSCTS | CLOCAL | CREAD));
  EXPECT_EQ(on.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(on.c_iflag & (ICRNL | IXON | IXOFF | ISTRIP), 0u);
  EXPECT_EQ(on.c_oflag & OPOST, 0u);

  port.reset();
  const termios after = SlaveSettings();
  EXPECT_EQ(::cfgetospeed(&after), static_cast<speed_t>(B9600));
  EXPECT_NE(after.c_lflag & ICANON, 0u);
  EXPECT_NE(after.c_lflag & ECHO, 0u);
  EXPECT_NE(after.c_cflag & CSTOPB, 0u);
}

// Every byte value crosses unchanged in both directions: no echo, no CR/LF
// translation, no XON/XOFF, no signal characters, nothing stripped to seven bits.
TEST_F(PtyPortTest, EveryByteValueCrossesUnchangedBothWays) {
  auto port = TermiosPort::Open(pair_.slave_path);
  ASSERT_NE(port, nullptr);
  auto c64 = AdoptMaster();
  const Bytes all = EveryByteValue();

  ASSERT_TRUE(WriteAll(*c64, all));
  EXPECT_EQ(ReadN(*port, all.size()), all);

  ASSERT_TRUE(WriteAll(*port, all));
  EXPECT_EQ(ReadN(*c64, all.size()), all);

  // Nothing came back to the sender: the slave did not echo what it was sent.
  std::uint8_t stray = 0;
  EXPECT_FALSE(c64->ReadAttempt(stray));
  EXPECT_FALSE(port->ReadAttempt(stray));
}

// Runs: a packet goes out in one write, one read takes all that has arrived (never
// more than asked for), and a driver whose buffer is full takes part of a run and
// then nothing, losing no byte of what it said it took.
TEST_F(PtyPortTest, RunsCrossWholeAndAFullDriverTakesPartOfOne) {
  auto port = TermiosPort::Open(pair_.slave_path);
  ASSERT_NE(port, nullptr);
  auto c64 = AdoptMaster();
  Bytes run;
  for (int i = 0; i < 300; ++i) run.push_back(static_cast<std::uint8_t>(i * 13 + 5));

  ASSERT_EQ(c64->WriteSome(run.data(), run.size()), run.size());
  // Once all of it is readable, one call takes it: 200 first, as asked, then the rest.
  int waiting = 0;
  for (int i = 0; i < kPatience && waiting < 300; ++i) {
    port->AwaitInput(std::chrono::milliseconds(2));
    ASSERT_EQ(::ioctl(port->InputDescriptor(), FIONREAD, &waiting), 0);
  }
  ASSERT_EQ(waiting, 300);
  Bytes got(400);
  ASSERT_EQ(port->ReadSome(got.data(), 200), 200u);
  ASSERT_EQ(port->ReadSome(got.data() + 200, 200), 100u);
  got.resize(300);
  EXPECT_EQ(got, run);

  // Nobody reads the master: the driver fills up and the port takes less, then none.
  const Bytes block(4096, 0x5A);
  std::size_t taken = 0;
  std::size_t partial_or_none = 0;
  for (int i = 0; i < 1000 && partial_or_none < 2; ++i) {
    Bytes numbered = block;
    for (std::size_t j = 0; j < numbered.size(); ++j) {
      numbered[j] = static_cast<std::uint8_t>((taken + j) % 251);
    }
    const std::size_t took = port->WriteSome(numbered.data(), numbered.size());
    ASSERT_LE(took, numbered.size());
    if (took < numbered.size()) ++partial_or_none;
    taken += took;
  }
  ASSERT_EQ(partial_or_none, 2u) << "the driver never filled up";
  Bytes drained(taken + 1);
  std::size_t have = 0;
  for (int i = 0; i < kPatience && have < taken; ++i) {
    have += c64->ReadSome(drained.data() + have, drained.size() - have);
  }
  ASSERT_EQ(have, taken);
  for (std::size_t j = 0; j < taken; ++j) {
    ASSERT_EQ(drained[j], static_cast<std::uint8_t>(j % 251)) << "at " << j;
  }
}

TEST_F(PtyPortTest, BytesWaitingBeforeTheOpenAreReadFirst) {
  const std::uint8_t early[] = {0x10, 0x01};
  ASSERT_EQ(::write(master_fd_, early, sizeof early), static_cast<ssize_t>(sizeof early));
  auto port = TermiosPort::Open(pair_.slave_path);
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(ReadN(*port, 2), (Bytes{0x10, 0x01}));
}

// We run as root, which passes TIOCEXCL; the lock is what turns the second open
// away, also from inside the same program.
TEST_F(PtyPortTest, ASecondOpenIsRefusedUntilTheFirstCloses) {
  auto first = TermiosPort::Open(pair_.slave_path);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(TermiosPort::Open(pair_.slave_path), nullptr);

  first.reset();
  EXPECT_NE(TermiosPort::Open(pair_.slave_path), nullptr);
}

// Ordinary users are turned away by the kernel while we hold the port, and may
// open it again once we let go.
TEST_F(PtyPortTest, ExclusiveWhileHeldOnly) {
  auto exclusive = [this] {
    const int fd = ::open(pair_.slave_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    int flag = -1;
    EXPECT_EQ(::ioctl(fd, TIOCGEXCL, &flag), 0);
    ::close(fd);
    return flag;
  };
  auto port = TermiosPort::Open(pair_.slave_path);
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(exclusive(), 1);
  port.reset();
  EXPECT_EQ(exclusive(), 0);
}

TEST_F(PtyPortTest, ASecondOpenFromAnotherProgramIsRefused) {
  auto held = TermiosPort::Open(pair_.slave_path);
  ASSERT_NE(held, nullptr);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto other = TermiosPort::Open(pair_.slave_path);
    ::_exit(other == nullptr ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the other program got the port";
}

TEST_F(PtyPortTest, AGoneMasterMeansNoByteAndNoWriteButNoFailure) {
  auto port = TermiosPort::Open(pair_.slave_path);
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(port->LostReason(), "");
  ClosePtyPair(pair_);

  std::uint8_t byte = 0;
  std::uint8_t run[8] = {};
  for (int i = 0; i < 5; ++i) {
    EXPECT_FALSE(port->ReadAttempt(byte));
    EXPECT_FALSE(port->WriteAttempt(0x55));
    EXPECT_EQ(port->ReadSome(run, sizeof run), 0u);
    EXPECT_EQ(port->WriteSome(run, sizeof run), 0u);
  }
  EXPECT_EQ(port->LostReason(), "hung up");
}

TEST(TermiosPortOpen, MissingDeviceIsNotAnError) {
  int code = 0;
  EXPECT_EQ(TermiosPort::Open("/dev/this-serial-device-does-not-exist", &code), nullptr);
  EXPECT_EQ(code, ENOENT);
  code = 0;
  EXPECT_EQ(TermiosPort::Open("", &code), nullptr);
  EXPECT_EQ(code, ENOENT);
}

TEST(TermiosPortOpen, AFileThatIsNoTerminalIsRefusedAndClosedAgain) {
  char path[] = "/tmp/dorvane-not-a-tty-XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ::close(fd);

  const int open_before = OpenDescriptorCount();
  int code = 0;
  EXPECT_EQ(TermiosPort::Open(path, &code), nullptr);
  EXPECT_EQ(code, ENOTTY);
  EXPECT_EQ(OpenDescriptorCount(), open_before);
  ::unlink(path);
}

TEST(TermiosPortAdopt, TakesTheDescriptorNonBlockingAndClosesIt) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  {
    auto port = TermiosPort::Adopt(ends[0]);
    EXPECT_NE(::fcntl(ends[0], F_GETFL) & O_NONBLOCK, 0);
    std::uint8_t byte = 0;
    EXPECT_FALSE(port->ReadAttempt(byte));  // an empty pipe must not block
    ASSERT_EQ(::write(ends[1], "\x7F", 1), 1);
    ASSERT_TRUE(ReadOne(*port, byte));
    EXPECT_EQ(byte, 0x7F);
  }
  EXPECT_EQ(::fcntl(ends[0], F_GETFD), -1);
  EXPECT_EQ(errno, EBADF);
  ::close(ends[1]);
}

TEST(TermiosPortAdopt, AnInvalidDescriptorRaises) {
  try {
    TermiosPort::Adopt(-1);
    ADD_FAILURE() << "no error for descriptor -1";
  } catch (const OsError& error) {
    EXPECT_EQ(error.Code(), EBADF);
  }
}

}  // namespace
}  // namespace dorvane
