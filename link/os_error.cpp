#include "link/os_error.h"

#include <cstring>

namespace dorvane {

std::string OsErrorText(int code) {
  if (code == 0) return "An OS function failed";
  return "OS Error.  Code: " + std::to_string(code) + ".\n" + std::strerror(code);
}

OsError::OsError(int code) : std::runtime_error(OsErrorText(code)), code_(code) {}

}  // namespace dorvane
