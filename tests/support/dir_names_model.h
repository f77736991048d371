// The whole-directory build of a listing's names: every name sorted, every
// alternate worked out at once. It is the plain statement of the rules that
// storage/dir_index.h follows in parts, and the tests hold the index to it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "storage/listed_form.h"

namespace dorvane::model {

struct DirNames {
  std::vector<std::string> names;       // listing order; no ".", ".." nor temporaries
  std::vector<std::string> folded;      // per name: in lower case (FoldedName)
  std::vector<ListedForm> forms;        // per name: what it lists as
  std::vector<std::string> alternates;  // per name: its alternate, or "" when it lists as itself
  std::unordered_map<std::string, std::size_t> by_alternate;  // lower-case alternate -> index
  // The C64's key of a listed name (its letters folded as the server folds what the
  // C64 sends) -> the one entry that name finds. Left empty when every entry lists
  // as its own host name: the folded names answer then.
  std::unordered_map<std::string, std::size_t> by_listed;

  // The entry listed under `name` without regard to case: of names that differ only
  // in case, the first in listing order (the others list by alternate names).
  bool FindFolded(std::string_view name, std::size_t& index) const;
  // The entry whose alternate name `name` is, in any case.
  bool FindAlternate(std::string_view name, std::size_t& index) const;
  // The entry listed as the C64 name `name`, in any letter case.
  bool FindListed(std::string_view name, std::size_t& index) const;
};

// Builds the listing view of `names` (any order) with what each lists as (`forms`,
// one per name; empty: every name lists as its host name through the mapping).
//
// An entry needs an alternate name when its listed name cannot be typed back
// (ListsByAlternate: longer than 16 characters, a "?" for a character PETSCII
// lacks, a container's name holding "/", "$" or ".."), or when an entry before it lists the same
// once folded (names that differ only in case, or only once mapped: "Übung.prg" beside
// "Ubung.prg"). Of such a group the entry that the C64's name finds first keeps the listed name:
// the host name the C64's name maps to, then one equal to it without regard to
// case, then the first in listing order.
DirNames MakeDirNames(std::vector<std::string> names, std::vector<ListedForm> forms = {});

// The alternate names of plain names (any order), each beside its name: "" for a
// name that lists as itself.
std::vector<std::string> AlternateNamesFor(const std::vector<std::string>& names);

}  // namespace dorvane::model
