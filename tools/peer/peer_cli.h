// The command line of dorvane-peer: what the user asked for, and the small texts
// the tool prints about it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dorvane::peer {

enum class CliAction { kLoad, kSave, kDir, kCommand, kHelp, kVersion };

struct CliRequest {
  CliAction Action = CliAction::kHelp;
  std::string Port;
  std::string Name;  // load: the name asked for; save: the name to save under
  std::string File;  // load: where to write; save: what to read
  std::string Text;  // cmd
  std::uint16_t TimeoutMs = 3000;
  int Retries = 5;
  bool Force = false;  // load may replace an existing file
  bool Ip232 = false;  // speak an emulator's ip232 escaping
  double PaceMicros = 0;
};

// Parses argv[1..]. On a mistake returns nothing and sets `error`.
std::optional<CliRequest> ParseCommandLine(const std::vector<std::string>& args,
                                           std::string& error);

// Where a load of `name` lands by default: its last path component, in the current
// directory. Empty when that would not be a sensible file name (wildcards, "..").
std::string DefaultFileFor(const std::string& name);

// "12345 bytes in 1.10 s, 11.2 KB/s" (KB of 1000 bytes).
std::string FormatThroughput(std::uint64_t bytes, double seconds);

extern const char* const CliUsage;

}  // namespace dorvane::peer
