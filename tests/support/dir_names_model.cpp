#include "tests/support/dir_names_model.h"

#include <algorithm>
#include <map>
#include <set>

#include "formats/ascii_case.h"
#include "formats/petscii_names.h"
#include "storage/alternate_names.h"

namespace dorvane::model {
namespace {

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

}  // namespace

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

bool DirNames::FindFolded(std::string_view name, std::size_t& index) const {
  // Listing order sorts by the folded name first, so the first of a group of names
  // equal without regard to case is where a binary search lands.
  const std::string wanted = FoldedName(name);
  const auto it = std::lower_bound(folded.begin(), folded.end(), wanted);
  if (it == folded.end() || *it != wanted) return false;
  index = static_cast<std::size_t>(it - folded.begin());
  return true;
}

bool DirNames::FindAlternate(std::string_view name, std::size_t& index) const {
  const auto it = by_alternate.find(FoldedName(name));
  if (it == by_alternate.end()) return false;
  index = it->second;
  return true;
}

bool DirNames::FindListed(std::string_view name, std::size_t& index) const {
  const std::string key = FoldPetsciiLetters(name);
  if (by_listed.empty()) return FindFolded(key, index);
  const auto it = by_listed.find(key);
  if (it == by_listed.end()) return false;
  index = it->second;
  return true;
}

DirNames MakeDirNames(std::vector<std::string> names, std::vector<ListedForm> forms) {
  if (forms.size() != names.size()) {
    forms.clear();
    for (const std::string& name : names) forms.push_back(PlainForm(name));
  }
  std::vector<std::string> folded(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) folded[i] = FoldedName(names[i]);
  const std::vector<std::size_t> order = ListingOrder(names, folded);
  DirNames out;
  for (std::size_t i : order) {
    out.names.push_back(std::move(names[i]));
    out.folded.push_back(std::move(folded[i]));
    out.forms.push_back(std::move(forms[i]));
  }
  const std::size_t count = out.names.size();

  // A directory whose every entry lists as its own host name, letters folding alike
  // on both sides (the usual case, and a large directory's), needs no more than the
  // host names' own alternates.
  const auto lists_as_itself = [&](std::size_t i) {
    const std::string& name = out.names[i];
    return out.forms[i].Name.empty() && std::none_of(name.begin(), name.end(), [](char c) {
             return static_cast<std::uint8_t>(c) >= 0xC1 && static_cast<std::uint8_t>(c) <= 0xDA;
           });
  };
  bool all_as_themselves = true;
  for (std::size_t i = 0; i < count && all_as_themselves; ++i) {
    all_as_themselves = lists_as_itself(i);
  }
  if (all_as_themselves) {
    out.alternates = AlternateNamesInListingOrder(out.names, out.folded);
    for (std::size_t i = 0; i < count; ++i) {
      if (!out.alternates[i].empty()) out.by_alternate.emplace(FoldedName(out.alternates[i]), i);
    }
    return out;
  }

  // Entries that list the same once folded, in listing order.
  std::vector<std::string> keys(count);
  std::unordered_map<std::string, std::vector<std::size_t>> groups;
  for (std::size_t i = 0; i < count; ++i) {
    keys[i] = FoldPetsciiLetters(ListedNameOf(out.names[i], out.forms[i]));
    groups[keys[i]].push_back(i);
  }
  std::vector<bool> needs(count, false);
  for (const auto& [key, members] : groups) {
    // The one the C64's name finds first keeps it, so that the listed name loads
    // the entry it stands beside.
    const std::string host = PetsciiToHostName(key);
    std::size_t keeper = members.front();
    const auto exact = std::find_if(members.begin(), members.end(),
                                    [&](std::size_t i) { return out.names[i] == host; });
    const auto folded = std::find_if(members.begin(), members.end(), [&](std::size_t i) {
      return EqualsFolded(out.names[i], host);
    });
    if (exact != members.end()) {
      keeper = *exact;
    } else if (folded != members.end()) {
      keeper = *folded;
    }
    for (std::size_t i : members) needs[i] = i != keeper;
    out.by_listed.emplace(key, keeper);
  }
  for (std::size_t i = 0; i < count; ++i) {
    if (ListsByAlternate(out.names[i], out.forms[i])) needs[i] = true;
  }

  // An alternate that equals a name of the directory, listed or real, in any case
  // would list the entry under a name every lookup resolves to the other one: that
  // ordinal is passed over.
  std::set<std::string> taken(keys.begin(), keys.end());
  for (const std::string& name : out.names) taken.insert(FoldedName(name));
  out.alternates.assign(count, std::string());
  std::map<std::string, unsigned> ordinals;
  for (std::size_t i = 0; i < count; ++i) {
    if (!needs[i]) continue;
    const std::string& listed = ListedNameOf(out.names[i], out.forms[i]);
    unsigned& ordinal = ordinals[AlternateNamePrefix(listed)];
    do {
      out.alternates[i] = FormatAlternateName(listed, ++ordinal);
    } while (taken.count(FoldedName(out.alternates[i])) != 0);
    out.by_alternate.emplace(FoldedName(out.alternates[i]), i);
  }
  return out;
}

}  // namespace dorvane::model
