#include "storage/alternate_names.h"

#include <algorithm>
#include <unordered_map>

#include "formats/ascii_case.h"

namespace dorvane {
namespace {

constexpr std::string_view KeptPunctuation = "_-~!#$%&'()@^`{}";
constexpr std::size_t StemChars = 6;
constexpr std::size_t ExtensionChars = 3;

std::string MapChars(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    const unsigned char c = UpperAscii(static_cast<unsigned char>(ch));
    const bool kept = (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      KeptPunctuation.find(static_cast<char>(c)) != std::string_view::npos;
    out.push_back(kept ? static_cast<char>(c) : '_');
  }
  return out;
}

// Splits at the last dot; a dot in the first place starts a hidden name, not an
// extension.
void SplitStem(std::string_view name, std::string_view& stem, std::string_view& extension) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) {
    stem = name;
    extension = {};
  } else {
    stem = name.substr(0, dot);
    extension = name.substr(dot + 1);
  }
}

}  // namespace

bool NeedsAlternateName(std::string_view name) { return name.size() > AlternateNameThreshold; }

std::string AlternateNamePrefix(std::string_view name) {
  std::string_view stem, extension;
  SplitStem(name, stem, extension);
  return MapChars(stem.substr(0, StemChars));
}

std::string FormatAlternateName(std::string_view name, unsigned ordinal) {
  std::string_view stem, extension;
  SplitStem(name, stem, extension);
  // Built by appending: GCC 12 at -O3 warns (-Wrestrict) about the temporaries
  // that chained operator+ makes here.
  std::string out = MapChars(stem.substr(0, StemChars));
  out.push_back('~');
  out.append(std::to_string(ordinal));
  if (!extension.empty()) {
    out.push_back('.');
    out.append(MapChars(extension.substr(0, ExtensionChars)));
  }
  return out;
}

std::string FoldedName(std::string_view name) {
  std::string out(name);
  for (char& c : out) c = static_cast<char>(FoldAscii(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace dorvane
