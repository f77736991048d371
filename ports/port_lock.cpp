#include "ports/port_lock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace dorvane {

namespace {

namespace fs = std::filesystem;

// The PID a lock file names, or 0 when it names none (empty, garbage, cut short).
pid_t PidInLockFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // Older programs wrote the PID as a binary int; every one in use today writes ASCII.
  char* end = nullptr;
  const long pid = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || pid <= 0 || pid > INT_MAX) return 0;
  return static_cast<pid_t>(pid);
}

// Creates `path` holding our PID; true when made. `code` says why not.
bool CreateLockFile(const std::string& path, int& code) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    code = errno;
    return false;
  }
  char text[16];
  const int length = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
  const bool written = ::write(fd, text, static_cast<std::size_t>(length)) == length;
  code = errno;
  ::close(fd);
  if (!written) ::unlink(path.c_str());
  return written;
}

}  // namespace

std::string LockFileName(const std::string& device_path) {
  std::error_code error;
  fs::path real = fs::canonical(device_path, error);
  if (error) real = device_path;
  std::string name = real.string();
  if (name.rfind("/dev/", 0) == 0) {
    name.erase(0, 5);
    for (char& c : name) {
      if (c == '/') c = '_';
    }
  } else {
    name = real.filename().string();
  }
  return "LCK.." + name;
}

std::unique_ptr<PortLock> PortLock::Take(const std::string& lock_dir,
                                         const std::string& device_path,
                                         std::optional<DeviceHolder>& holder) {
  const std::string path = (fs::path(lock_dir) / LockFileName(device_path)).string();
  // Twice at most: a stale file is removed once and the creation tried again.
  for (int round = 0; round < 2; ++round) {
    int code = 0;
    if (CreateLockFile(path, code)) return std::unique_ptr<PortLock>(new PortLock(path));
    if (code != EEXIST) break;  // no lock directory, or not ours to write: go on unlocked
    const pid_t pid = PidInLockFile(path);
    // Our own PID means another port of this process holds the device.
    if (ProcessAlive(pid)) {
      holder = DeviceHolder{pid, ProgramNameOf(pid)};
      return nullptr;
    }
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) break;
  }
  return std::unique_ptr<PortLock>(new PortLock(std::string()));
}

PortLock::~PortLock() {
  if (!path_.empty() && PidInLockFile(path_) == ::getpid()) ::unlink(path_.c_str());
}

}  // namespace dorvane
