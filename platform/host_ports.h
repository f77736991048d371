// The four port choices on a POSIX host. "Com1" to "Com4" are the first four serial
// devices present, USB adapters first since that is what a C64 cable usually
// hangs on today, then the board's own UARTs.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/port_provider.h"

namespace dorvane {

// The serial devices present under `dev_dir`, in the order /dev/ttyUSB*,
// /dev/ttyACM*, then /dev/ttyS*, each group in numeric order. A ttyS node counts
// only when it has a real UART behind it: the kernel makes such nodes for every
// possible port. The directories are parameters so that the order and the UART
// test can be tried on a made-up tree.
std::vector<std::string> ListSerialDevices(const std::string& dev_dir = "/dev",
                                           const std::string& sys_tty_dir = "/sys/class/tty");

class HostPortProvider : public PortProvider {
 public:
  using DeviceLister = std::function<std::vector<std::string>()>;

  // The list is taken afresh at every call, so an adapter plugged in after start
  // is found at the next Start.
  explicit HostPortProvider(DeviceLister lister = [] { return ListSerialDevices(); })
      : lister_(std::move(lister)) {}

  // The device's path for choice 0 to 3, or "COM1" to "COM4" when there is none.
  std::string PortNameFor(int choice) override;

  // "com1" to "com4" in any case stand for the choices (nullptr when that device is
  // missing); any other name is a device path.
  std::unique_ptr<SerialPort> Open(const std::string& name) override;

 private:
  DeviceLister lister_;
};

}  // namespace dorvane
