#include "ui/window_options.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace dorvane {

namespace {

// Qt's own options, with and without a value; they keep a single dash.
constexpr std::array<std::string_view, 14> QtWithValue = {
    "-platform",    "-platformpluginpath", "-platformtheme", "-plugin",       "-qwindowgeometry",
    "-qwindowicon", "-qwindowtitle",       "-display",       "-geometry",     "-title",
    "-style",       "-stylesheet",         "-session",       "-qmljsdebugger"};
constexpr std::array<std::string_view, 5> QtAlone = {"-reverse", "-widgetcount", "-nograb",
                                                     "-dograb", "-sync"};

bool OneOf(std::string_view arg, auto const& names) {
  return std::find(names.begin(), names.end(), arg) != names.end();
}

}  // namespace

std::optional<std::string> ParseWindowOptions(const std::vector<std::string>& args,
                                              WindowOptions& options) {
  options.QtArguments.assign(1, args.empty() ? std::string("dorvane") : args.front());
  std::string folder;
  bool only_folders = false;  // after "--"
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::string& into) -> std::optional<std::string> {
      if (i + 1 >= args.size()) return arg + " needs a value";
      into = args[++i];
      if (into.empty()) return arg + " needs a value";
      return std::nullopt;
    };
    std::optional<std::string> mistake;
    if (only_folders || arg.empty() || arg[0] != '-' || arg == "-") {
      if (!folder.empty()) return "more than one folder: " + folder + " and " + arg;
      folder = arg;
    } else if (arg == "--") {
      only_folders = true;
    } else if (arg == "--help" || arg == "-h") {
      options.Help = true;
    } else if (arg == "--version" || arg == "-V") {
      options.Version = true;
    } else if (arg == "--start") {
      options.Start = true;
    } else if (arg == "--port") {
      mistake = value(options.Port);
    } else if (arg.rfind("--port=", 0) == 0) {
      options.Port = arg.substr(7);
      if (options.Port.empty()) mistake = "--port needs a value";
    } else if (arg == "--root") {
      mistake = value(options.Root);
      options.RootOption = true;
    } else if (arg.rfind("--root=", 0) == 0) {
      options.Root = arg.substr(7);
      options.RootOption = true;
      if (options.Root.empty()) mistake = "--root needs a value";
    } else if (OneOf(arg, QtWithValue) && i + 1 < args.size()) {
      options.QtArguments.push_back(arg);
      options.QtArguments.push_back(args[++i]);
    } else if (OneOf(arg, QtAlone)) {
      options.QtArguments.push_back(arg);
    } else {
      mistake = "unknown option: " + arg;
    }
    if (mistake) return mistake;
  }
  if (!folder.empty()) {
    if (!options.Root.empty() && options.Root != folder) {
      return "two folders to serve: --root " + options.Root + " and " + folder;
    }
    options.Root = folder;
  }
  return std::nullopt;
}

}  // namespace dorvane
