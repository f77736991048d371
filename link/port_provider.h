// Maps the operator's port choice to a device and opens it. The host's version
// lives in ports/; tests hand the link a scripted port instead.
#pragma once

#include <memory>
#include <string>

#include "link/serial_port.h"

namespace dorvane {

class PortProvider {
 public:
  virtual ~PortProvider() = default;

  // The name the log shows for choice 0 to 3: the device's path, or "COM1" to
  // "COM4" when no device is present for that choice.
  virtual std::string PortNameFor(int choice) = 0;

  // Opens and configures the named port for the link (115200 8N1, CTS flow control,
  // RTS on, DTR off, exclusive). Returns nullptr when the port cannot be opened at
  // all; throws OsError when it opened but could not be configured (it is closed
  // again first). The returned port is the caller's.
  virtual std::unique_ptr<SerialPort> Open(const std::string& name) = 0;

  // One line naming why the last Open returned nullptr and what the operator can do
  // ("Permission denied: ..."); empty when there is nothing more to say.
  virtual std::string OpenFailureCause() const { return std::string(); }

  // What the window's item for choice 0 to 3 tells on hover: the device and, where
  // the system knows it, the adapter. Empty when no device is behind the choice,
  // and the item cannot be picked.
  virtual std::string PortDescription(int choice) { return PortNameFor(choice); }
};

}  // namespace dorvane
