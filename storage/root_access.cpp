#include "storage/root_access.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace dorvane {

int WriteRefusal(const std::string& dir) {
  // The effective user and groups decide, as they do for the saves themselves;
  // a read-only mount refuses even root.
  if (::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) == 0) return 0;
  return errno;
}

std::string UnwritableRootLine(const std::string& dir, int error) {
  if (error == 0) return std::string();
  const char* why = error == EROFS    ? "it is on a read-only file system"
                    : error == EACCES ? "this user has no write permission there"
                                      : std::strerror(error);
  return "Warning: cannot write in " + dir + " (" + why +
         "): saves, new directories, deletes and renames will fail; loads and listings work";
}

}  // namespace dorvane
