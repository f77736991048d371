#include "service/received_name.h"

#include "formats/petscii_names.h"

namespace dorvane {

std::string ConvertReceivedName(const Packet& packet) {
  return FoldPetsciiLetters(
      std::string_view(reinterpret_cast<const char*>(packet.Payload.data()), packet.Length));
}

bool HoldsNul(const std::string& name) { return name.find('\0') != std::string::npos; }

std::string WithoutDriveLetter(const std::string& name) {
  // Names arrive with their letters in lower case.
  if (name.size() < 2 || name[1] != ':' || name[0] < 'a' || name[0] > 'z') return name;
  const std::string rest = name.substr(2);
  return !rest.empty() && rest[0] == '/' ? rest : "/" + rest;
}

bool NamesHiddenEntry(const std::string& path) {
  std::size_t pos = 0;
  while (pos < path.size()) {
    std::size_t end = path.find('/', pos);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(pos, end - pos);
    if (!part.empty() && part[0] == '.' && part != "." && part != "..") return true;
    pos = end + 1;
  }
  return false;
}

std::string HiddenRefusal(const std::string& name) {
  return ShortText("Hidden entries are the host's, refused: " + PetsciiToHostName(name));
}

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
