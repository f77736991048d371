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

std::string ShortText(std::string text) {
  if (text.size() > 255) text.resize(255);
  return text;
}

}  // namespace dorvane
