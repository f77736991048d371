#include "ports/open_cause.h"

#include <cerrno>
#include <cstring>

namespace dorvane {

namespace {

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

}  // namespace

std::string OpenCauseLine(const OpenFailure& failure) {
  const std::string& device = failure.Device;
  switch (failure.Code) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return "No such device: " + device +
             (failure.Present.empty()
                  ? std::string(" (no serial devices present)")
                  : " (serial devices present: " + Joined(failure.Present) + ")");
    case EACCES:
    case EPERM:
      return "Permission denied: " + device + "; add yourself to the group " + failure.Group +
             ": sudo adduser $USER " + failure.Group + ", then log in again";
    case EBUSY:
    case EWOULDBLOCK:
      if (failure.Holder) {
        const std::string program = failure.Holder->Program.empty() ? std::string("another program")
                                                                    : failure.Holder->Program;
        return "In use: " + device + " is held by " + program + " (PID " +
               std::to_string(failure.Holder->Pid) + "); quit it first";
      }
      return "In use: " + device + " is held by another program; quit it first";
    case ENOTTY:
      return "Not a serial device: " + device;
    default:
      return "Cannot open " + device + ": " + std::strerror(failure.Code);
  }
}

}  // namespace dorvane
