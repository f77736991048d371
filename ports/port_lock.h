// The lock file that serial programs on Linux share: LCK..NAME in the lock
// directory, holding the holder's PID as ten ASCII digits and a newline. A live one
// means the port is in use; one left by a process that has gone is stale and taken
// over.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "ports/device_holder.h"

namespace dorvane {

inline constexpr const char* DefaultLockDirectory = "/run/lock";

// "LCK..ttyUSB0" for /dev/ttyUSB0, reached through any symbolic link; a device below
// /dev/ keeps its sub-directory with '_' ("LCK..pts_3"), any other its own name.
std::string LockFileName(const std::string& device_path);

class PortLock {
 public:
  // Takes the lock on `device_path` in `lock_dir`. Returns nullptr when a live
  // process holds it, filling `holder`. Where the directory is missing or not
  // writable the port goes unlocked: the returned lock holds no file.
  static std::unique_ptr<PortLock> Take(const std::string& lock_dir, const std::string& device_path,
                                        std::optional<DeviceHolder>& holder);

  // Removes the lock file, if this lock made one and it still names this process.
  ~PortLock();

  PortLock(const PortLock&) = delete;
  PortLock& operator=(const PortLock&) = delete;

  // The lock file's path; empty when the port went unlocked.
  const std::string& Path() const { return path_; }

 private:
  explicit PortLock(std::string path) : path_(std::move(path)) {}

  std::string path_;
};

}  // namespace dorvane
