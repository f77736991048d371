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

std::string PermissionLine(const OpenFailure& failure) {
  const std::string& group = failure.Group;
  std::string line = "Permission denied: " + failure.Device;
  if (!failure.Owner.empty()) {
    line += " (owner " + failure.Owner + ", group " + group +
            (failure.Mode.empty() ? std::string() : ", " + failure.Mode) + ")";
  }
  switch (failure.Access) {
    case DeviceAccess::JoinGroup:
      break;
    case DeviceAccess::LogInAgain:
      return line + "; you joined the group " + group + " after logging in: log in again";
    case DeviceAccess::InGroupAlready:
      return line + "; you are in the group " + group +
             " already, so something else refuses it (a service's device policy, a security "
             "module)";
    case DeviceAccess::OwnerOnly:
      return line + "; only " + (failure.Owner.empty() ? std::string("its owner") : failure.Owner) +
             " may open it: give it to the group dialout with a udev rule (GROUP=\"dialout\", "
             "MODE=\"0660\")";
    case DeviceAccess::OwnModeRefuses:
      return line + "; you own it, but its mode refuses you: chmod u+rw " + failure.Device;
  }
  return line + "; you are not in the group " + group + ": sudo adduser $USER " + group +
         ", then log in again";
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
      return PermissionLine(failure);
    case EBUSY:
    case EWOULDBLOCK:
      if (failure.Holder) {
        const std::string program = failure.Holder->Program.empty() ? std::string("another program")
                                                                    : failure.Holder->Program;
        const std::string pid = " (PID " + std::to_string(failure.Holder->Pid) + ")";
        if (!failure.IdleLockFile.empty()) {
          return "In use: " + device + " is locked by " + program + pid + " in " +
                 failure.IdleLockFile +
                 ", which does not have it open; quit it, or remove the file if it is left over";
        }
        return "In use: " + device + " is held by " + program + pid + "; quit it first";
      }
      return "In use: " + device + " is held by another program; quit it first";
    case ENOTTY:
      return "Not a serial device: " + device;
    default:
      return "Cannot open " + device + ": " + std::strerror(failure.Code);
  }
}

}  // namespace dorvane
