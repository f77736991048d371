#include "ui/window_start.h"

#include <algorithm>

namespace dorvane {

std::optional<std::string> MissingDisplay(const std::function<const char*(const char*)>& env,
                                          const std::vector<std::string>& qt_arguments) {
  auto set = [&](const char* name) {
    const char* value = env(name);
    return value != nullptr && value[0] != '\0';
  };
  if (set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM")) return std::nullopt;
  if (std::find(qt_arguments.begin(), qt_arguments.end(), "-platform") != qt_arguments.end()) {
    return std::nullopt;
  }
  return std::string(
      "no display: neither DISPLAY nor WAYLAND_DISPLAY is set. Start the window in a "
      "desktop session, or serve without a window: dorvaned --port DEVICE");
}

StartChoice ChooseStart(const WindowOptions& options, const Remembered& remembered,
                        const std::vector<std::string>& listed,
                        const std::function<bool(const std::string&)>& exists) {
  StartChoice choice;
  choice.GivenPort = options.Port;
  if (choice.GivenPort.empty() && !remembered.Port.empty()) {
    const auto at = std::find(listed.begin(), listed.end(), remembered.Port);
    const auto index = at - listed.begin();
    if (at != listed.end() && index < 4) {
      choice.Pick = static_cast<int>(index);
    } else if (exists(remembered.Port)) {
      choice.GivenPort = remembered.Port;
    }
  }
  choice.Root = options.Root;
  if (choice.Root.empty() && !remembered.Folder.empty() && exists(remembered.Folder)) {
    choice.Root = remembered.Folder;
  }
  return choice;
}

}  // namespace dorvane
