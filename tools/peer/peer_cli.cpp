#include "tools/peer/peer_cli.h"

#include <cstdio>
#include <cstdlib>

namespace dorvane::peer {

const char* const CliUsage =
    "Usage: dorvane-peer --port DEVICE [OPTIONS] COMMAND\n"
    "Plays the C64's side of the Dorvane link over a serial device, a\n"
    "pseudo-terminal or TCP, to check a cable and a server.\n"
    "\n"
    "Commands:\n"
    "  load NAME [-o FILE]  load NAME into FILE (default: NAME's last part, in the\n"
    "                       current directory; an existing file is kept unless --force)\n"
    "  save FILE [NAME]     save FILE under NAME (default: FILE's last part)\n"
    "  dir                  print the directory as the C64 lists it\n"
    "  cmd TEXT             send a disk command: \"s:old.prg\" delete, \"r:new=old\"\n"
    "                       rename, \"c:games\" change directory, \"c:d:\" change drive,\n"
    "                       \"m:work\" make directory\n"
    "\n"
    "Options:\n"
    "  --port DEVICE   the device, e.g. /dev/ttyUSB0 or a pseudo-terminal's path, or\n"
    "                  tcp:HOST:PORT for a server listening there (tcp:[::1]:PORT)\n"
    "  --ip232         escape the stream as an emulator's ip232 mode does\n"
    "  --timeout MS    longest wait for any answer of the server (default 3000)\n"
    "  --retries N     resends of one block before giving up (default 5)\n"
    "  --force         let load replace an existing file\n"
    "  --pace-us US    hold back every byte written to this interval (86.8 is the\n"
    "                  speed of a 115200 baud cable)\n"
    "  -h, --help      show this text\n"
    "  -V, --version   show the version\n"
    "\n"
    "Names and commands are sent in PETSCII as the C64 types them. The server's\n"
    "answer is reported in words and by name (\"file not found (stOpenError)\"); the\n"
    "exit status is 0 on success, 1 when the server answered with an error or the\n"
    "exchange failed, 2 for a wrong command line.\n";

namespace {

bool ParseNumber(const std::string& text, double low, double high, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return end && *end == '\0' && value >= low && value <= high;
}

}  // namespace

std::optional<CliRequest> ParseCommandLine(const std::vector<std::string>& args,
                                           std::string& error) {
  CliRequest request;
  std::vector<std::string> words;
  bool options_done = false;
  std::optional<std::string> output;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (options_done || arg.empty() || arg[0] != '-' || arg == "-") {
      words.push_back(arg);
      continue;
    }
    const auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) {
        error = arg + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    double number = 0;
    std::string text;
    if (arg == "--") {
      options_done = true;
    } else if (arg == "--help" || arg == "-h") {
      request.Action = CliAction::kHelp;
      return request;
    } else if (arg == "--version" || arg == "-V") {
      request.Action = CliAction::kVersion;
      return request;
    } else if (arg == "--port") {
      if (!value(request.Port)) return std::nullopt;
    } else if (arg == "-o") {
      if (!value(text)) return std::nullopt;
      output = text;
    } else if (arg == "--timeout") {
      if (!value(text)) return std::nullopt;
      if (!ParseNumber(text, 1, 65535, number) || number != static_cast<int>(number)) {
        error = "--timeout takes whole milliseconds from 1 to 65535";
        return std::nullopt;
      }
      request.TimeoutMs = static_cast<std::uint16_t>(number);
    } else if (arg == "--retries") {
      if (!value(text)) return std::nullopt;
      if (!ParseNumber(text, 0, 100, number) || number != static_cast<int>(number)) {
        error = "--retries takes a whole number from 0 to 100";
        return std::nullopt;
      }
      request.Retries = static_cast<int>(number);
    } else if (arg == "--pace-us") {
      if (!value(text)) return std::nullopt;
      if (!ParseNumber(text, 0, 1e6, number)) {
        error = "--pace-us takes microseconds from 0 to 1000000";
        return std::nullopt;
      }
      request.PaceMicros = number;
    } else if (arg == "--force") {
      request.Force = true;
    } else if (arg == "--ip232") {
      request.Ip232 = true;
    } else {
      error = "unknown option " + arg;
      return std::nullopt;
    }
  }

  if (words.empty()) {
    error = "no command given";
    return std::nullopt;
  }
  const std::string& command = words[0];
  const std::size_t operands = words.size() - 1;
  if (command == "load" && operands == 1) {
    request.Action = CliAction::kLoad;
    request.Name = words[1];
    request.File = output ? *output : DefaultFileFor(request.Name);
    if (request.File.empty()) {
      error = "give -o FILE: \"" + request.Name + "\" is no name for a local file";
      return std::nullopt;
    }
  } else if (command == "save" && (operands == 1 || operands == 2)) {
    request.Action = CliAction::kSave;
    request.File = words[1];
    request.Name = operands == 2 ? words[2] : words[1].substr(words[1].find_last_of('/') + 1);
    if (request.Name.empty()) {
      error = "give the NAME to save under";
      return std::nullopt;
    }
  } else if (command == "dir" && operands == 0) {
    request.Action = CliAction::kDir;
  } else if (command == "cmd" && operands == 1) {
    request.Action = CliAction::kCommand;
    request.Text = words[1];
  } else {
    error = "wrong command: " + command + " with " + std::to_string(operands) + " operand(s)";
    return std::nullopt;
  }
  if (output && request.Action != CliAction::kLoad) {
    error = "-o belongs to load";
    return std::nullopt;
  }
  if (request.Port.empty()) {
    error = "--port DEVICE is missing";
    return std::nullopt;
  }
  return request;
}

std::string DefaultFileFor(const std::string& name) {
  const std::string last = name.substr(name.find_last_of('/') + 1);
  if (last.empty() || last == "." || last == ".." ||
      last.find_first_of("*?") != std::string::npos || last.find('\0') != std::string::npos) {
    return std::string();
  }
  return last;
}

std::string FormatThroughput(std::uint64_t bytes, double seconds) {
  char text[96];
  if (seconds <= 0) {
    std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  } else {
    std::snprintf(text, sizeof text, "%llu bytes in %.2f s, %.1f KB/s",
                  static_cast<unsigned long long>(bytes), seconds,
                  static_cast<double>(bytes) / 1000.0 / seconds);
  }
  return text;
}

}  // namespace dorvane::peer
