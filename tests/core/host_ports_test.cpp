// Which device each of the four port choices means, on a made-up /dev and sysfs
// tree and on a real pseudo-terminal.
#include "ports/host_ports.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "ports/pty_pair.h"

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

TEST_F(FakeDeviceTree, UsbAcmPiUartExarBluetoothThenRealUartsEachInNumericOrder) {
  for (const char* name :
       {"ttyS10",  "ttyUSB10", "ttyACM1",   "ttyS0",   "ttyUSB2", "ttyS1", "ttyS2", "ttyACM0",
        "ttyUSB0", "rfcomm1",  "ttyXRUSB0", "ttyAMA0", "rfcomm0", "tty0",  "tty5",  "console",
        "ttyUSB",  "ttyUSBx",  "ttyS3a",    "ttySAC0", "ttyAMAx", "rfcomm"}) {
    Node(name);
  }
  UartType("ttyS0", "4");   // a 16550A
  UartType("ttyS1", "0");   // a placeholder the kernel made with no UART behind it
  UartType("ttyS10", "4");  // ttyS2 has no sysfs entry and is no terminal: left out
  const std::string d = dev() + "/";
  EXPECT_EQ(ListSerialDevices(dev(), sys()),
            (Names{d + "ttyUSB0", d + "ttyUSB2", d + "ttyUSB10", d + "ttyACM0", d + "ttyACM1",
                   d + "ttyAMA0", d + "ttyXRUSB0", d + "rfcomm0", d + "rfcomm1", d + "ttyS0",
                   d + "ttyS10"}));
}

TEST_F(FakeDeviceTree, NothingPresentGivesAnEmptyList) {
  Node("tty0");
  EXPECT_TRUE(ListSerialDevices(dev(), sys()).empty());
  EXPECT_TRUE(ListSerialDevices(dev() + "/missing", sys()).empty());
}

// sysfs leads from the tty to its USB interface, whose parent names the adapter.
TEST_F(FakeDeviceTree, DescriptionsNameTheAdapterWhereSysfsKnowsIt) {
  const fs::path usb = root_ / "devices" / "usb1" / "1-1";
  fs::create_directories(usb / "1-1:1.0");
  std::ofstream(usb / "product") << "FT232R USB UART\n";
  std::ofstream(usb / "manufacturer") << "FTDI\n";
  fs::create_directories(fs::path(sys()) / "ttyUSB0");
  fs::create_directory_symlink(usb / "1-1:1.0", fs::path(sys()) / "ttyUSB0" / "device");
  const fs::path acm = root_ / "devices" / "usb1" / "1-2";
  fs::create_directories(acm / "1-2:1.0");
  std::ofstream(acm / "product") << "Pico\n";
  fs::create_directories(fs::path(sys()) / "ttyACM0");
  fs::create_directory_symlink(acm / "1-2:1.0", fs::path(sys()) / "ttyACM0" / "device");
  UartType("ttyS0", "4");

  EXPECT_EQ(DescribeSerialDevice("/dev/ttyUSB0", sys()), "/dev/ttyUSB0: FT232R USB UART (FTDI)");
  EXPECT_EQ(DescribeSerialDevice("/dev/ttyACM0", sys()), "/dev/ttyACM0: Pico");
  EXPECT_EQ(DescribeSerialDevice("/dev/ttyS0", sys()), "/dev/ttyS0");
  EXPECT_EQ(DescribeSerialDevice("/dev/ttyUSB5", sys()), "/dev/ttyUSB5");
}

TEST(HostPortProvider, ChoicesWithoutADeviceHaveNoDescriptionAndComNamesResolve) {
  HostPortProvider ports([] { return Names{"/dev/ttyAMA0"}; });
  EXPECT_EQ(ports.PortDescription(0), "/dev/ttyAMA0");
  EXPECT_EQ(ports.PortDescription(1), "");
  EXPECT_EQ(ports.Resolve("com1"), "/dev/ttyAMA0");
  EXPECT_EQ(ports.Resolve("Com2"), "COM2");
  EXPECT_EQ(ports.Resolve("/tmp/c64"), "/tmp/c64");
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
