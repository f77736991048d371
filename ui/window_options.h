// The window program's command line, read before any window exists, so that
// --help and --version work without a display. Pure text; no Qt.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace dorvane {

inline constexpr const char* WindowUsage =
    "Usage: dorvane [--port DEVICE] [--root DIR] [--start] [-h|--help] [-V|--version]\n"
    "               [FOLDER]\n"
    "Lends a folder to a C64 over an RS-232 cable, in a window.\n"
    "\n"
    "  --port DEVICE   put DEVICE (any serial device or pseudo-terminal) behind Com1\n"
    "                  and pick it\n"
    "  --root DIR      the folder to serve; FOLDER says the same (default: the folder\n"
    "                  served last, at first the one the program was started in)\n"
    "  --start         start serving at once, as if Start were pressed\n"
    "  -h, --help      show this text and exit\n"
    "  -V, --version   show the version and exit\n"
    "\n"
    "Qt's own options (-platform, -style, ...) are passed on to Qt. Exit status: 0\n"
    "after Quit, 2 for a wrong command line, 1 when it cannot start for another reason.\n";

struct WindowOptions {
  std::string Port;         // empty: Com1 to Com4 are the serial devices found
  std::string Root;         // empty: the remembered folder, else the current one
  bool RootOption = false;  // Root came from --root, not from FOLDER
  bool Start = false;
  bool Help = false;
  bool Version = false;
  // Everything for Qt: the program's name first, then Qt's own options.
  std::vector<std::string> QtArguments;
};

// Reads `args` (the program's name first). On a mistake returns its description,
// for the usage on standard error and exit status 2.
std::optional<std::string> ParseWindowOptions(const std::vector<std::string>& args,
                                              WindowOptions& options);

}  // namespace dorvane
