#include "service/host_fault.h"

#include <cerrno>
#include <cstring>

#include "service/received_name.h"

namespace dorvane {

std::string FaultInWords(int code) {
  switch (code) {
    case ENOSPC:
      return "Disk full";
    case EDQUOT:
      return "Disk quota exceeded";
    case EFBIG:
      return "File too large";
    case EISDIR:
      return "A directory is in the way";
    case EACCES:
    case EPERM:
      return "Permission denied";
    case EROFS:
      return "Read-only file system";
    case EIO:
      return "I/O error";
    case ENAMETOOLONG:
      return "Name too long";
    case 0:
      return "Unknown error";
    default:
      return std::strerror(code);
  }
}

std::string FaultLine(int code, const std::string& doing, const std::string& what) {
  return ShortText(FaultInWords(code) + ": " + doing + " " + what);
}

}  // namespace dorvane
