// The one line that follows "Can't initialize port X": why the port would not open
// and what the operator can do about it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ports/device_holder.h"

namespace dorvane {

// Where a refused device leaves the user, and so what the remedy is.
enum class DeviceAccess {
  JoinGroup,       // its group may use it and the user is not in that group
  LogInAgain,      // the user joined the group after logging in: this session lacks it
  InGroupAlready,  // the user is in the group, so something else refuses it
  OwnerOnly,       // no group may use it (root's group, or none of the group's rights)
  OwnModeRefuses,  // the user owns it, but its mode refuses the owner
};

struct OpenFailure {
  int Code = 0;                        // the system's error: ENOENT, EACCES, EBUSY, ENOTTY...
  std::string Device;                  // the path tried, or "COM3" when no device is behind it
  std::vector<std::string> Present;    // the serial devices there are, for a missing one
  std::optional<DeviceHolder> Holder;  // who has it, for one in use, where known
  std::string Group = "dialout";       // the device's group, for a refused one
  // For a refused one: the device's owner ("root") and mode ("crw-rw----"); an
  // empty owner leaves both out of the line.
  std::string Owner{};
  std::string Mode{};
  DeviceAccess Access = DeviceAccess::JoinGroup;
  // For one in use: the lock file that names Holder while Holder does not have the
  // device open (it may be left over); empty otherwise.
  std::string IdleLockFile{};
};

// "No such device: /dev/ttyUSB1 (serial devices present: /dev/ttyUSB0)" and the
// like; pure text, so each cause can be checked word for word.
std::string OpenCauseLine(const OpenFailure& failure);

}  // namespace dorvane
