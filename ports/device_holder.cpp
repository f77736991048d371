#include "ports/device_holder.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace dorvane {

namespace {

namespace fs = std::filesystem;

bool AllDigits(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// The process holding an advisory lock on the node with `node`'s file system and
// inode, from the kernel's table of locks: lines such as
// "1: FLOCK  ADVISORY  WRITE 4242 00:05:87 0 EOF" (device numbers in hex); a waiter
// ("1: -> FLOCK ...") holds nothing, and an open file description's lock (pid -1)
// names no process.
std::optional<pid_t> LockingProcess(const struct stat& node, const std::string& proc_dir) {
  std::ifstream locks(fs::path(proc_dir) / "locks");
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream fields(line);
    std::string number, kind, mode, access, where;
    long pid = 0;
    if (!(fields >> number >> kind) || kind == "->") continue;
    if (!(fields >> mode >> access >> pid >> where) || pid <= 0) continue;
    unsigned major_number = 0, minor_number = 0;
    unsigned long inode = 0;
    if (std::sscanf(where.c_str(), "%x:%x:%lu", &major_number, &minor_number, &inode) != 3) {
      continue;
    }
    if (major_number == major(node.st_dev) && minor_number == minor(node.st_dev) &&
        inode == node.st_ino) {
      return static_cast<pid_t>(pid);
    }
  }
  return std::nullopt;
}

}  // namespace

std::string ProgramNameOf(pid_t pid, const std::string& proc_dir) {
  std::ifstream comm(fs::path(proc_dir) / std::to_string(pid) / "comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

bool ProcessAlive(pid_t pid) {
  if (pid <= 0) return false;
  // EPERM: it exists, only we may not signal it.
  return ::kill(pid, 0) == 0 || errno == EPERM;
}

std::vector<pid_t> DeviceUsers(const std::string& device_path, const std::string& proc_dir) {
  std::vector<pid_t> users;
  struct stat device {};
  if (::stat(device_path.c_str(), &device) != 0 || !S_ISCHR(device.st_mode)) return users;

  std::error_code error;
  for (const auto& process : fs::directory_iterator(proc_dir, error)) {
    const std::string pid_text = process.path().filename().string();
    if (!AllDigits(pid_text) || pid_text.size() > 9) continue;
    std::error_code fd_error;
    for (const auto& fd : fs::directory_iterator(process.path() / "fd", fd_error)) {
      struct stat target {};
      // stat follows the descriptor's link to the device node it has open.
      if (::stat(fd.path().c_str(), &target) != 0) continue;
      if (S_ISCHR(target.st_mode) && target.st_rdev == device.st_rdev) {
        users.push_back(static_cast<pid_t>(std::stol(pid_text)));
        break;
      }
    }
  }
  std::sort(users.begin(), users.end());
  return users;
}

std::optional<DeviceHolder> FindDeviceHolder(const std::string& device_path,
                                             const std::string& proc_dir) {
  const std::vector<pid_t> users = DeviceUsers(device_path, proc_dir);
  if (users.empty()) return std::nullopt;
  pid_t holder = users.front();
  // The lock sits on the node the holder opened, which the path leads to.
  struct stat node {};
  if (::stat(device_path.c_str(), &node) == 0) {
    const std::optional<pid_t> locking = LockingProcess(node, proc_dir);
    if (locking && std::find(users.begin(), users.end(), *locking) != users.end()) {
      holder = *locking;
    }
  }
  return DeviceHolder{holder, ProgramNameOf(holder, proc_dir)};
}

}  // namespace dorvane
