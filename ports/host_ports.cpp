#include "ports/host_ports.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>

#include "ports/open_cause.h"
#include "ports/reopening_port.h"
#include "ports/termios_port.h"

namespace dorvane {

namespace {

namespace fs = std::filesystem;

// The number after `prefix` in a device name such as "ttyUSB12", or nothing when
// the rest is not a plain decimal number.
std::optional<unsigned long> DeviceNumber(const std::string& name, const std::string& prefix) {
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) {
    return std::nullopt;
  }
  const std::string digits = name.substr(prefix.size());
  if (digits.size() > 9) return std::nullopt;
  for (char c : digits) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
  }
  return std::stoul(digits);
}

// The sysfs "type" of a serial-core port is the same port type that TIOCGSERIAL
// reports, readable without opening the device (which would raise its modem lines).
// Where sysfs does not say, ask the device itself.
bool HasRealUart(const std::string& dev_path, const std::string& sys_tty_dir,
                 const std::string& name) {
  std::ifstream type_file(fs::path(sys_tty_dir) / name / "type");
  int type = 0;
  if (type_file >> type) return type != PORT_UNKNOWN;

  const int fd = ::open(dev_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  serial_struct serial{};
  const bool real = ::ioctl(fd, TIOCGSERIAL, &serial) == 0 && serial.type != PORT_UNKNOWN;
  ::close(fd);
  return real;
}

// "crw-rw----": the node's type and permission bits as ls shows them.
std::string ModeText(mode_t mode) {
  std::string text = S_ISCHR(mode) ? "c" : S_ISDIR(mode) ? "d" : "-";
  const char* letters = "rwxrwxrwx";
  for (int bit = 0; bit < 9; ++bit) {
    text += (mode & (0400 >> bit)) != 0 ? letters[bit] : '-';
  }
  return text;
}

// What keeps this process out of a device with `node`'s owner, group and mode.
DeviceAccess AccessTo(const struct stat& node) {
  const uid_t me = ::geteuid();
  if (node.st_uid == me && me != 0) return DeviceAccess::OwnModeRefuses;
  // Root's group is no remedy for an ordinary user, and a group without both rights
  // cannot serve the line.
  if (node.st_gid == 0 || (node.st_mode & 060) != 060) return DeviceAccess::OwnerOnly;
  if (::getegid() == node.st_gid) return DeviceAccess::InGroupAlready;
  std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
  const int count = ::getgroups(static_cast<int>(groups.size()), groups.data());
  for (int i = 0; i < count; ++i) {
    if (groups[static_cast<std::size_t>(i)] == node.st_gid) return DeviceAccess::InGroupAlready;
  }
  // In the group database but not in this session: joined after logging in.
  if (const passwd* user = ::getpwuid(me)) {
    if (user->pw_gid == node.st_gid) return DeviceAccess::LogInAgain;
    if (const group* owner = ::getgrgid(node.st_gid)) {
      for (char** member = owner->gr_mem; member && *member; ++member) {
        if (std::string(*member) == user->pw_name) return DeviceAccess::LogInAgain;
      }
    }
  }
  return DeviceAccess::JoinGroup;
}

std::string UserName(uid_t uid) {
  const passwd* user = ::getpwuid(uid);
  return user ? std::string(user->pw_name) : std::to_string(uid);
}

std::string GroupName(gid_t gid) {
  const group* named = ::getgrgid(gid);
  return named ? std::string(named->gr_name) : std::to_string(gid);
}

// The path with its links and "." and ".." resolved as far as it exists, so that two
// names of one node compare equal.
fs::path SamePathForm(const std::string& path) {
  std::error_code error;
  fs::path form = fs::weakly_canonical(path, error);
  return error ? fs::path(path).lexically_normal() : form;
}

// Whether this process may look at the descriptors `pid` has open.
bool SeesDescriptorsOf(pid_t pid) {
  std::error_code error;
  fs::directory_iterator(fs::path("/proc") / std::to_string(pid) / "fd", error);
  return !error;
}

std::optional<int> ChoiceFromComName(const std::string& name) {
  if (name.size() != 4) return std::nullopt;
  std::string lower = name;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (lower.compare(0, 3, "com") != 0 || lower[3] < '1' || lower[3] > '4') return std::nullopt;
  return lower[3] - '1';
}

}  // namespace

std::vector<std::string> ListSerialDevices(const std::string& dev_dir,
                                           const std::string& sys_tty_dir) {
  // Each prefix must be followed by digits only, so no group takes another's nodes
  // (ttyS does not take ttySAC0).
  static const std::string kPrefixes[] = {"ttyUSB",   "ttyACM", "ttyAMA",
                                          "ttyXRUSB", "rfcomm", "ttyS"};
  constexpr int kGroups = 6;
  constexpr int kUartGroup = 5;
  std::vector<std::pair<unsigned long, std::string>> groups[kGroups];

  std::error_code error;
  for (const auto& entry : fs::directory_iterator(dev_dir, error)) {
    const std::string name = entry.path().filename().string();
    for (int g = 0; g < kGroups; ++g) {
      if (const auto number = DeviceNumber(name, kPrefixes[g])) {
        groups[g].emplace_back(*number, name);
        break;
      }
    }
  }

  std::vector<std::string> devices;
  for (int g = 0; g < kGroups; ++g) {
    std::sort(groups[g].begin(), groups[g].end());
    for (const auto& [number, name] : groups[g]) {
      const std::string path = (fs::path(dev_dir) / name).string();
      if (g == kUartGroup && !HasRealUart(path, sys_tty_dir, name)) continue;
      devices.push_back(path);
    }
  }
  return devices;
}

std::string HostPortProvider::PortNameFor(int choice) {
  const std::vector<std::string> devices = lister_();
  if (choice >= 0 && static_cast<std::size_t>(choice) < devices.size()) {
    return devices[static_cast<std::size_t>(choice)];
  }
  return "COM" + std::to_string(choice + 1);
}

std::string HostPortProvider::Resolve(const std::string& name) {
  if (const auto choice = ChoiceFromComName(name)) return PortNameFor(*choice);
  return name;
}

std::string HostPortProvider::PortDescription(int choice) {
  const std::vector<std::string> devices = lister_();
  if (choice < 0 || static_cast<std::size_t>(choice) >= devices.size()) return std::string();
  return DescribeSerialDevice(devices[static_cast<std::size_t>(choice)]);
}

std::unique_ptr<SerialPort> HostPortProvider::Open(const std::string& name) {
  cause_.clear();
  const std::string path = Resolve(name);
  OpenFailure failure;
  failure.Device = path;
  struct stat node {};
  auto refuse = [&](int code) -> std::unique_ptr<SerialPort> {
    failure.Code = code;
    if (code == ENOENT || code == ENODEV || code == ENXIO) {
      // The device asked for is not among those present, whatever the list says: a
      // node that is listed but does not open (an adapter going away, a port without
      // its hardware) is no device, under any of its names.
      const fs::path missing = SamePathForm(path);
      for (const std::string& present : lister_()) {
        if (SamePathForm(present) != missing) failure.Present.push_back(present);
      }
    }
    if (code == EACCES || code == EPERM) {
      failure.Owner = UserName(node.st_uid);
      failure.Group = GroupName(node.st_gid);
      failure.Mode = ModeText(node.st_mode);
      failure.Access = AccessTo(node);
    }
    cause_ = OpenCauseLine(failure);
    return nullptr;
  };

  if (ChoiceFromComName(path) || ::stat(path.c_str(), &node) != 0) return refuse(ENOENT);

  // The lock file first, so that a port another program has is not even opened:
  // opening it would already change its line settings.
  auto lock = PortLock::Take(lock_dir_, path, failure.Holder);
  if (!lock) {
    // The lock file names a process; the one that has the device open may be
    // another (the PID was reused), or none (the lock is left over).
    const std::vector<pid_t> users = DeviceUsers(path);
    const bool among = std::find(users.begin(), users.end(), failure.Holder->Pid) != users.end();
    if (!among && !users.empty()) {
      failure.Holder = FindDeviceHolder(path);
    } else if (!among && SeesDescriptorsOf(failure.Holder->Pid)) {
      failure.IdleLockFile = (fs::path(lock_dir_) / LockFileName(path)).string();
    }
    return refuse(EBUSY);
  }
  int code = 0;
  auto port = TermiosPort::Open(path, &code);
  if (!port) {
    if (code == EBUSY) failure.Holder = FindDeviceHolder(path);
    return refuse(code);
  }
  return std::make_unique<ReopeningPort>(
      path, std::move(port), [path] { return TermiosPort::Open(path); }, std::move(lock),
      lock_dir_);
}

std::string DescribeSerialDevice(const std::string& device_path, const std::string& sys_tty_dir) {
  std::error_code error;
  const fs::path real = fs::canonical(device_path, error);
  const std::string name = (error ? fs::path(device_path) : real).filename().string();
  // /sys/class/tty/NAME/device leads to the interface; its parents up to the USB
  // device carry "product" and "manufacturer".
  fs::path at = fs::canonical(fs::path(sys_tty_dir) / name / "device", error);
  std::string product;
  std::string maker;
  for (int depth = 0; !error && depth < 4 && !at.empty() && at != at.root_path(); ++depth) {
    std::ifstream product_file(at / "product");
    if (std::getline(product_file, product)) {
      std::ifstream maker_file(at / "manufacturer");
      std::getline(maker_file, maker);
      break;
    }
    at = at.parent_path();
  }
  if (product.empty()) return device_path;
  return device_path + ": " + product + (maker.empty() ? std::string() : " (" + maker + ")");
}

}  // namespace dorvane
