// What the window program settles before Qt starts: whether there is a display to
// show it on, and which port and folder it starts with. Pure text; no Qt.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/window_options.h"

namespace dorvane {

// Why no window can be shown, naming what is missing; nothing when a display (or
// a platform Qt was told to use) is there. `env` reads an environment variable,
// null when it is not set.
std::optional<std::string> MissingDisplay(const std::function<const char*(const char*)>& env,
                                          const std::vector<std::string>& qt_arguments);

// The port and folder the window served last.
struct Remembered {
  std::string Port;  // a device path, or another name the port provider opens
  std::string Folder;
};

struct StartChoice {
  std::string GivenPort;  // goes behind "Com1", as --port does; empty: none
  int Pick = 0;           // the item picked, 0 to 3
  std::string Root;       // empty: the current directory
};

// The command line wins over what was remembered. A remembered port that is one of
// the items is picked there; one that is there yet not among them (a
// pseudo-terminal) goes behind "Com1"; one that is gone, as a remembered folder
// that is gone, is passed over. `listed` is the devices in the items' order;
// `exists` tells whether a path is there now.
StartChoice ChooseStart(const WindowOptions& options, const Remembered& remembered,
                        const std::vector<std::string>& listed,
                        const std::function<bool(const std::string&)>& exists);

}  // namespace dorvane
