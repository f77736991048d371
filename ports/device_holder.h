// Who holds a serial device: the program and process that a lock file or the
// process table names, so that "in use" can say which program to quit.
#pragma once

#include <sys/types.h>
#include <optional>
#include <string>
#include <vector>

namespace dorvane {

struct DeviceHolder {
  pid_t Pid = 0;
  std::string Program;  // the process's command name; empty when the system does not say
};

// The command name of process `pid` ("minicom") as `proc_dir` tells it, or empty
// when it cannot be read.
std::string ProgramNameOf(pid_t pid, const std::string& proc_dir = "/proc");

// Whether process `pid` exists, ours included; one of another user still counts.
bool ProcessAlive(pid_t pid);

// Every process (this one included) with an open descriptor on the same device as
// `device_path`, found through `proc_dir`, in increasing order; another user's
// processes are hidden from an ordinary user.
std::vector<pid_t> DeviceUsers(const std::string& device_path,
                               const std::string& proc_dir = "/proc");

// The process that holds `device_path` for itself: the one with an advisory lock on
// its node (`proc_dir`/locks), as serial programs take, else the first of its
// DeviceUsers; nothing when none is seen. A process that merely has it open too
// (a monitor, a shell's redirection) is not named while the locking one is known.
std::optional<DeviceHolder> FindDeviceHolder(const std::string& device_path,
                                             const std::string& proc_dir = "/proc");

}  // namespace dorvane
