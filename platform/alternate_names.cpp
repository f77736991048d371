#include "platform/alternate_names.h"

#include <algorithm>
#include <unordered_map>

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

std::string FoldedName(std::string_view name) {
  std::string out(name);
  for (char& c : out) c = static_cast<char>(FoldAscii(static_cast<unsigned char>(c)));
  return out;
}

std::vector<std::size_t> ListingOrder(const std::vector<std::string>& names,
                                      const std::vector<std::string>& folded) {
  std::vector<std::size_t> order(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) order[i] = i;
  // The folded forms compare as plain bytes, which is much faster than folding
  // every character at every comparison; ties fall back to NameOrderLess's rule.
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    const int by_folded = folded[a].compare(folded[b]);
    if (by_folded != 0) return by_folded < 0;
    return names[a] > names[b];
  });
  return order;
}

std::vector<std::string> AlternateNamesInListingOrder(const std::vector<std::string>& names,
                                                      const std::vector<std::string>& folded) {
  std::vector<std::string> result(names.size());
  std::unordered_map<std::string, unsigned> taken;
  for (std::size_t k = 0; k < names.size(); ++k) {
    // A long name needs an alternate, and so does every name after the first of a
    // group that differs only in case: all of them would list as one name.
    const bool collides = k > 0 && folded[k - 1] == folded[k];
    if (!NeedsAlternateName(names[k]) && !collides) continue;
    unsigned& ordinal = taken[AlternateNamePrefix(names[k])];
    // An alternate that equals a real name in any case would list the entry under a
    // name every lookup resolves to the other one: that ordinal is passed over.
    do {
      result[k] = FormatAlternateName(names[k], ++ordinal);
    } while (std::binary_search(folded.begin(), folded.end(), FoldedName(result[k])));
  }
  return result;
}

std::vector<std::string> AlternateNamesFor(const std::vector<std::string>& names) {
  std::vector<std::string> folded(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) folded[i] = FoldedName(names[i]);
  const std::vector<std::size_t> order = ListingOrder(names, folded);
  std::vector<std::string> sorted_names(names.size()), sorted_folded(names.size());
  for (std::size_t k = 0; k < order.size(); ++k) {
    sorted_names[k] = names[order[k]];
    sorted_folded[k] = std::move(folded[order[k]]);
  }
  std::vector<std::string> in_order = AlternateNamesInListingOrder(sorted_names, sorted_folded);
  std::vector<std::string> result(names.size());
  for (std::size_t k = 0; k < order.size(); ++k) result[order[k]] = std::move(in_order[k]);
  return result;
}

}  // namespace dorvane
