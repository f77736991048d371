#include "platform/host_ports.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <optional>

#include "platform/termios_port.h"

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
  static const std::string kPrefixes[] = {"ttyUSB", "ttyACM", "ttyS"};
  std::vector<std::pair<unsigned long, std::string>> groups[3];

  std::error_code error;
  for (const auto& entry : fs::directory_iterator(dev_dir, error)) {
    const std::string name = entry.path().filename().string();
    for (int g = 0; g < 3; ++g) {
      if (const auto number = DeviceNumber(name, kPrefixes[g])) {
        groups[g].emplace_back(*number, name);
        break;
      }
    }
  }

  std::vector<std::string> devices;
  for (int g = 0; g < 3; ++g) {
    std::sort(groups[g].begin(), groups[g].end());
    for (const auto& [number, name] : groups[g]) {
      const std::string path = (fs::path(dev_dir) / name).string();
      if (g == 2 && !HasRealUart(path, sys_tty_dir, name)) continue;
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

std::unique_ptr<SerialPort> HostPortProvider::Open(const std::string& name) {
  std::string path = name;
  if (const auto choice = ChoiceFromComName(name)) {
    const std::vector<std::string> devices = lister_();
    if (static_cast<std::size_t>(*choice) >= devices.size()) return nullptr;
    path = devices[static_cast<std::size_t>(*choice)];
  }
  return TermiosPort::Open(path);
}

}  // namespace dorvane
