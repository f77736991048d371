// Who holds a serial device: the program and process that a lock file or the
// process table names, so that "in use" can say which program to quit.
#pragma once

#include <sys/types.h>
#include <optional>
#include <string>

namespace dorvane {

struct DeviceHolder {
  pid_t Pid = 0;
  std::string Program;  // the process's command name; empty when the system does not say
};

// The command name of process `pid` ("minicom"), or empty when it cannot be read.
std::string ProgramNameOf(pid_t pid);

// Whether process `pid` exists, ours included; one of another user still counts.
bool ProcessAlive(pid_t pid);

// The first process (this one included) with an open descriptor on the same device
// as `device_path`, found through `proc_dir`; nothing when none is seen (another
// user's processes are hidden from an ordinary user).
std::optional<DeviceHolder> FindDeviceHolder(const std::string& device_path,
                                             const std::string& proc_dir = "/proc");

}  // namespace dorvane
