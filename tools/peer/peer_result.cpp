#include "tools/peer/peer_result.h"

#include <cstdio>

#include "link/wire_format.h"

namespace dorvane::peer {

const char* PeerErrorText(PeerError error) {
  switch (error) {
    case PeerError::kNone:
      return "";
    case PeerError::kNoEcho:
      return "no echo";
    case PeerError::kTimeout:
      return "timeout";
    case PeerError::kStopped:
      return "stopped";
    case PeerError::kTooManyRetries:
      return "too many retries";
    case PeerError::kProtocol:
      return "protocol error";
    case PeerError::kAborted:
      return "aborted";
    case PeerError::kBadRequest:
      return "bad request";
  }
  return "unknown error";
}

const char* StatusWords(std::uint8_t code) {
  switch (code) {
    case stOk:
      return "ok";
    case stEndOfFile:
      return "end of file";
    case stRepeat:
      return "send again";
    case stOpenError:
      return "file not found";
    case stDeleteError:
      return "cannot delete";
    case stRenameError:
      return "cannot rename";
    case stAbort:
      return "aborted";
    case stError:
      return "error";
  }
  return "unknown status";
}

std::string PeerResult::Describe() const {
  if (Error != PeerError::kNone) {
    std::string text = PeerErrorText(Error);
    if (!Detail.empty()) text += ": " + Detail;
    return text;
  }
  if (!Status) return "no status";
  if (const char* name = StatusName(*Status))
    return std::string(StatusWords(*Status)) + " (" + name + ")";
  char unknown[32];
  std::snprintf(unknown, sizeof unknown, "status 0x%02X", *Status);
  return unknown;
}

}  // namespace dorvane::peer
