#include "service/received_name.h"

#include "formats/petscii_names.h"

namespace dorvane {

std::string ConvertReceivedName(const Packet& packet) {
  return FoldPetsciiLetters(
      std::string_view(reinterpret_cast<const char*>(packet.Payload.data()), packet.Length));
}

bool HoldsNul(const std::string& name) { return name.find('\0') != std::string::npos; }

std::string ShortText(std::string text) {
  if (text.size() <= 255) return text;
  const bool readable = IsValidUtf8(text);
  text.resize(255);
  // A cut through a character would leave the whole line unreadable as UTF-8.
  if (readable) {
    while (!text.empty() && !IsValidUtf8(text)) text.pop_back();
  }
  return text;
}

}  // namespace dorvane
