// ports/: everything that carries the line, each a SerialPort or a helper of one:
// serial devices, their locks and lists, TCP, standard input and output, the
// emulator's ip232 escaping. It may use link/ and platform/; a new kind of link is
// a new port here, and the service never knows which one it serves.
//
// The four port choices on a POSIX host. "Com1" to "Com4" are the first four serial
// devices present, USB adapters first since that is what a C64 cable usually
// hangs on today, then the board's own UARTs.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/port_provider.h"
#include "ports/port_lock.h"

namespace dorvane {

// The serial devices present under `dev_dir`, in the order /dev/ttyUSB*,
// /dev/ttyACM*, /dev/ttyAMA*, /dev/ttyXRUSB*, /dev/rfcomm*, then /dev/ttyS*, each
// group in numeric order. A ttyS node counts only when it has a real UART behind it:
// the kernel makes such nodes for every possible port. The directories are
// parameters so that the order and the UART test can be tried on a made-up tree.
std::vector<std::string> ListSerialDevices(const std::string& dev_dir = "/dev",
                                           const std::string& sys_tty_dir = "/sys/class/tty");

// "/dev/ttyUSB0: FT232R USB UART (FTDI)": the device with its adapter's product and
// maker as sysfs gives them under `sys_tty_dir`, or just the path when it does not.
std::string DescribeSerialDevice(const std::string& device_path,
                                 const std::string& sys_tty_dir = "/sys/class/tty");

class HostPortProvider : public PortProvider {
 public:
  using DeviceLister = std::function<std::vector<std::string>()>;

  // The list is taken afresh at every call, so an adapter plugged in after start
  // is found at the next Start. Lock files go to `lock_dir`.
  explicit HostPortProvider(
      DeviceLister lister = [] { return ListSerialDevices(); },
      std::string lock_dir = DefaultLockDirectory)
      : lister_(std::move(lister)), lock_dir_(std::move(lock_dir)) {}

  // The device's path for choice 0 to 3, or "COM1" to "COM4" when there is none.
  std::string PortNameFor(int choice) override;

  // The device path that `name` stands for: "com1" to "com4" in any case name a
  // choice (its "COMn" when missing), any other name is a path already.
  std::string Resolve(const std::string& name);

  // Opens `name` (see Resolve) under a lock file, as a port that reports a lost
  // device and takes it back when it returns. nullptr when it cannot be opened, with
  // OpenFailureCause telling why.
  std::unique_ptr<SerialPort> Open(const std::string& name) override;
  std::string OpenFailureCause() const override { return cause_; }
  std::string PortDescription(int choice) override;

 private:
  DeviceLister lister_;
  std::string lock_dir_;
  std::string cause_;
};

}  // namespace dorvane
