#include "ui/app_title.h"

namespace dorvane {

namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 0x20) : c; }
char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 0x20) : c; }

}  // namespace

std::string ApplicationTitleFor(const std::string& program_path) {
  const std::size_t slash = program_path.find_last_of('/');
  std::string name = slash == std::string::npos ? program_path : program_path.substr(slash + 1);
  // A leading dot marks a hidden file, not an extension.
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  for (std::size_t i = 0; i < name.size(); ++i) {
    name[i] = i == 0 ? AsciiUpper(name[i]) : AsciiLower(name[i]);
  }
  return name;
}

}  // namespace dorvane
