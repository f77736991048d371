// The one line that follows "Can't initialize port X": why the port would not open
// and what the operator can do about it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ports/device_holder.h"

namespace dorvane {

struct OpenFailure {
  int Code = 0;                        // the system's error: ENOENT, EACCES, EBUSY, ENOTTY...
  std::string Device;                  // the path tried, or "COM3" when no device is behind it
  std::vector<std::string> Present;    // the serial devices there are, for a missing one
  std::optional<DeviceHolder> Holder;  // who has it, for one in use, where known
  std::string Group = "dialout";       // the group that may open it, for a refused one
};

// "No such device: /dev/ttyUSB1 (serial devices present: /dev/ttyUSB0)" and the
// like; pure text, so each cause can be checked word for word.
std::string OpenCauseLine(const OpenFailure& failure);

}  // namespace dorvane
