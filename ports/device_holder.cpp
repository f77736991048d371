#include "ports/device_holder.h"

#include <signal.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <fstream>

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

}  // namespace

std::string ProgramNameOf(pid_t pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

bool ProcessAlive(pid_t pid) {
  if (pid <= 0) return false;
  // EPERM: it exists, only we may not signal it.
  return ::kill(pid, 0) == 0 || errno == EPERM;
}

std::optional<DeviceHolder> FindDeviceHolder(const std::string& device_path,
                                             const std::string& proc_dir) {
  struct stat device {};
  if (::stat(device_path.c_str(), &device) != 0 || !S_ISCHR(device.st_mode)) return std::nullopt;

  std::error_code error;
  for (const auto& process : fs::directory_iterator(proc_dir, error)) {
    const std::string pid_text = process.path().filename().string();
    if (!AllDigits(pid_text)) continue;
    std::error_code fd_error;
    for (const auto& fd : fs::directory_iterator(process.path() / "fd", fd_error)) {
      struct stat target {};
      // stat follows the descriptor's link to the device node it has open.
      if (::stat(fd.path().c_str(), &target) != 0) continue;
      if (S_ISCHR(target.st_mode) && target.st_rdev == device.st_rdev) {
        const auto pid = static_cast<pid_t>(std::stol(pid_text));
        return DeviceHolder{pid, ProgramNameOf(pid)};
      }
    }
  }
  return std::nullopt;
}

}  // namespace dorvane
