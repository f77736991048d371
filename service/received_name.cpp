#include "service/received_name.h"

namespace dorvane {

std::string ConvertReceivedName(const Packet& packet) {
  std::string name(packet.Length, '\0');
  for (std::size_t i = 0; i < packet.Length; ++i) {
    std::uint8_t b = packet.Payload[i];
    if (b >= 0xC1 && b <= 0xDA) {
      b = static_cast<std::uint8_t>((b & 0x7F) + 0x20);
    } else if (b >= 0x41 && b <= 0x5A) {
      b = static_cast<std::uint8_t>(b + 0x20);
    }
    name[i] = static_cast<char>(b);
  }
  return name;
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
  return ShortText("Hidden entries are the host's, refused: " + name);
}

std::string ShortText(std::string text) {
  if (text.size() > 255) text.resize(255);
  return text;
}

}  // namespace dorvane
