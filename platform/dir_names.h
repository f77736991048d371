// The entries of one host directory as the C64 sees them: their names in listing
// order, the names they list as (their host names through the PETSCII mapping, or
// the C64 name inside a P00 container) and the alternate names some of them are
// listed under. Reading a large
// directory is the costly part of a request, so the last directories read are
// kept until they change.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/listed_form.h"

namespace dorvane {

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
// An entry needs an alternate name when its listed name is longer than 16
// characters, or when an entry before it lists the same once folded (names that
// differ only in case, or only once mapped: "Übung.prg" beside "Ubung.prg"). Of
// such a group the entry that the C64's name finds first keeps the listed name:
// the host name the C64's name maps to, then one equal to it without regard to
// case, then the first in listing order.
DirNames MakeDirNames(std::vector<std::string> names, std::vector<ListedForm> forms = {});

// Reads the names of the directory `dir` (any descriptor of it, O_PATH included):
// all but ".", ".." and our own temporary save files. False with an errno value.
bool ReadDirNames(int dir, std::vector<std::string>& names, int& error);

class DirNamesCache {
 public:
  // The names of the directory `dir`. A copy kept from an earlier read is handed out
  // while the directory's identity and change times are the same and its
  // modification time was already well in the past when it was read: a file
  // system's clock ticks coarsely, and a change in the same tick would not show.
  std::shared_ptr<const DirNames> Get(int dir, int& error);

  // Drops every copy: after a change of our own, the next look reads afresh.
  void Forget() { kept_.clear(); }

 private:
  struct Kept {
    dev_t dev;
    ino_t ino;
    timespec mtime;
    timespec ctime;
    std::shared_ptr<const DirNames> names;
  };
  std::vector<Kept> kept_;  // most recent last; a few directories at most
};

}  // namespace dorvane
