#include "link/wire_format.h"

namespace dorvane {

const char* StatusName(std::uint8_t code) {
  switch (code) {
    case stOk:
      return "stOk";
    case stEndOfFile:
      return "stEndOfFile";
    case stRepeat:
      return "stRepeat";
    case stOpenError:
      return "stOpenError";
    case stDeleteError:
      return "stDeleteError";
    case stRenameError:
      return "stRenameError";
    case stAbort:
      return "stAbort";
    case stError:
      return "stError";
    default:
      return nullptr;
  }
}

}  // namespace dorvane
