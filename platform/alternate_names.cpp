#include "platform/alternate_names.h"

#include <algorithm>
#include <map>
#include <set>

#include "platform/ascii_case.h"

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

std::vector<std::string> AlternateNamesFor(const std::vector<std::string>& names) {
  std::vector<std::size_t> order(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return NameOrderLess(names[a], names[b]); });

  // A long name needs an alternate, and so does every name after the first of a
  // group that differs only in case: all of them would list as one name.
  std::vector<std::size_t> needing;
  for (std::size_t k = 0; k < order.size(); ++k) {
    const std::string& name = names[order[k]];
    const bool collides = k > 0 && EqualsFolded(names[order[k - 1]], name);
    if (NeedsAlternateName(name) || collides) needing.push_back(order[k]);
  }

  // An alternate that equals a real name in any case would list the entry under a
  // name every lookup resolves to the other one: that ordinal is passed over.
  struct FoldedLess {
    bool operator()(std::string_view a, std::string_view b) const {
      return CompareFolded(a, b) < 0;
    }
  };
  const std::set<std::string_view, FoldedLess> real(names.begin(), names.end());

  std::vector<std::string> result(names.size());
  std::map<std::string, unsigned> taken;
  for (std::size_t i : needing) {
    unsigned& ordinal = taken[AlternateNamePrefix(names[i])];
    do {
      result[i] = FormatAlternateName(names[i], ++ordinal);
    } while (real.count(result[i]) != 0);
  }
  return result;
}

}  // namespace dorvane
