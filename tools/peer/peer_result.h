// What one request of the peer came to: the server's last status, or a local error
// when the exchange broke down before the server could give one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dorvane::peer {

enum class PeerError {
  kNone,
  kNoEcho,          // the attention byte was not answered with its complement
  kTimeout,         // the server fell silent, or the port took no data
  kStopped,         // the user stopped the peer
  kTooManyRetries,  // a block or reply stayed damaged through every retry
  kProtocol,        // the server sent something that has no place at that point
  kAborted,         // the peer ended the transfer on purpose (an injected fault)
  kBadRequest,      // the name or command cannot be sent (longer than 255 bytes)
};

// "no echo", "timeout", ...; "" for kNone.
const char* PeerErrorText(PeerError error);

// A status in the user's words: "file not found" for stOpenError, "ok" for stOk.
const char* StatusWords(std::uint8_t code);

struct PeerResult {
  // The status that ended the server's side of the exchange, when one came.
  std::optional<std::uint8_t> Status;
  PeerError Error = PeerError::kNone;
  std::string Detail;  // what exactly went wrong, for the user
  // The request did what was asked: no local error and a status that means success.
  bool Succeeded = false;

  // The status in words with its name ("file not found (stOpenError)"), or the local
  // error with its detail ("no echo: no answer within 3000 ms").
  std::string Describe() const;
};

// A load or a listing also brings bytes.
struct LoadResult : PeerResult {
  std::vector<std::uint8_t> Data;
};

}  // namespace dorvane::peer
