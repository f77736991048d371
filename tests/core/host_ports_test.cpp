// Which device each of the four port choices means, on a made-up /dev and sysfs
// tree and on a real pseudo-terminal.
#include "platform/host_ports.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/pty_pair.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

class FakeDeviceTree : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("dorvane-ports-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(dev());
    fs::create_directories(sys());
  }
  void TearDown() override { fs::remove_all(root_); }

  std::string dev() const { return (root_ / "dev").string(); }
  std::string sys() const { return (root_ / "sys").string(); }
  void Node(const std::string& name) { std::ofstream(fs::path(dev()) / name) << ""; }
  void UartType(const std::string& name, const std::string& type) {
    fs::create_directories(fs::path(sys()) / name);
    std::ofstream(fs::path(sys()) / name / "type") << type << "\n";
  }

  fs::path root_;
};

TEST_F(FakeDeviceTree, UsbThenAcmThenRealUartsEachInNumericOrder) {
  for (const char* name :
       {"ttyS10", "ttyUSB10", "ttyACM1", "ttyS0", "ttyUSB2", "ttyS1", "ttyS2", "ttyACM0", "ttyUSB0",
        "tty0", "tty5", "console", "ttyUSB", "ttyUSBx", "ttyS3a", "ttySAC0"}) {
    Node(name);
  }
  UartType("ttyS0", "4");   // a 16550A
  UartType("ttyS1", "0");   // a placeholder the kernel made with no UART behind it
  UartType("ttyS10", "4");  // ttyS2 has no sysfs entry and is no terminal: left out
  const std::string d = dev() + "/";
  EXPECT_EQ(ListSerialDevices(dev(), sys()),
            (Names{d + "ttyUSB0", d + "ttyUSB2", d + "ttyUSB10", d + "ttyACM0", d + "ttyACM1",
                   d + "ttyS0", d + "ttyS10"}));
}

TEST_F(FakeDeviceTree, NothingPresentGivesAnEmptyList) {
  Node("tty0");
  EXPECT_TRUE(ListSerialDevices(dev(), sys()).empty());
  EXPECT_TRUE(ListSerialDevices(dev() + "/missing", sys()).empty());
}

TEST(HostPortProvider, ChoicesNameTheDevicesPresentElseComNames) {
  struct Case {
    Names devices;
    Names names;  // for choices 0 to 3
  };
  const Case cases[] = {
      {{}, {"COM1", "COM2", "COM3", "COM4"}},
      {{"/dev/ttyUSB0"}, {"/dev/ttyUSB0", "COM2", "COM3", "COM4"}},
      {{"/dev/ttyUSB0", "/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2"},
       {"/dev/ttyUSB0", "/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyS1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.devices.size());
    HostPortProvider ports([&c] { return c.devices; });
    for (int choice = 0; choice < 4; ++choice) {
      EXPECT_EQ(ports.PortNameFor(choice), c.names[static_cast<std::size_t>(choice)]) << choice;
    }
  }
}

TEST(HostPortProvider, ComNamesInAnyCaseOpenTheirDeviceOrNothing) {
  PtyPair pair = OpenPtyPair();
  HostPortProvider ports([&pair] { return Names{pair.slave_path}; });

  for (const char* name : {"com1", "COM1", "cOm1"}) {
    SCOPED_TRACE(name);
    EXPECT_NE(ports.Open(name), nullptr);  // each closes again before the next
  }
  for (const char* name : {"COM2", "com4", "COM5", "COM", "com10"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ports.Open(name), nullptr);
  }
  // Any other name is a path.
  EXPECT_NE(ports.Open(pair.slave_path), nullptr);
  ClosePtyPair(pair);
}

TEST(HostPortProvider, OnAHostWithoutSerialDevicesCom1CannotOpen) {
  if (!ListSerialDevices().empty()) GTEST_SKIP() << "this host has serial devices";
  HostPortProvider ports;
  for (int choice = 0; choice < 4; ++choice) {
    EXPECT_EQ(ports.PortNameFor(choice), "COM" + std::to_string(choice + 1));
  }
  EXPECT_EQ(ports.Open("com1"), nullptr);
  EXPECT_EQ(ports.Open("COM1"), nullptr);
}

}  // namespace
}  // namespace dorvane
