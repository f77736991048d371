#include "formats/cbm_names.h"

#include <cstdint>

#include "formats/ascii_case.h"

namespace dorvane {

std::string ShownCbmName(const CbmName& name) {
  std::string shown;
  for (std::uint8_t b : name) {
    if (b == 0xA0) break;
    shown.push_back(static_cast<char>(b));
  }
  return shown;
}

std::string HostCbmName(const CbmName& name) { return PetsciiToHost(ShownCbmName(name)); }

std::string PetsciiToHost(std::string host) {
  for (char& c : host) {
    auto b = static_cast<std::uint8_t>(c);
    if (b >= 0xC1 && b <= 0xDA) {
      b = static_cast<std::uint8_t>((b & 0x7F) + 0x20);
    } else if (b >= 0x41 && b <= 0x5A) {
      b = static_cast<std::uint8_t>(b + 0x20);
    }
    c = static_cast<char>(b);
  }
  return host;
}

bool MatchesCbmPattern(std::string_view pattern, std::string_view name) {
  if (pattern.empty()) return false;
  std::size_t i = 0;
  for (; i < pattern.size(); ++i) {
    if (pattern[i] == '*') return true;
    if (i >= name.size()) return false;
    if (pattern[i] == '?') continue;
    if (FoldAscii(static_cast<unsigned char>(pattern[i])) !=
        FoldAscii(static_cast<unsigned char>(name[i]))) {
      return false;
    }
  }
  return i == name.size();
}

bool ToCbmName(std::string_view name, CbmName& stored) {
  if (name.empty() || name.size() > stored.size()) return false;
  if (name.find_first_of(std::string_view("*?\0\xA0", 4)) != std::string_view::npos) return false;
  stored.fill(0xA0);
  for (std::size_t i = 0; i < name.size(); ++i) {
    stored[i] = UpperAscii(static_cast<unsigned char>(name[i]));
  }
  return true;
}

}  // namespace dorvane
