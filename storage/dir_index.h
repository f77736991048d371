// The entries of one host directory as the C64 sees them: their names in listing
// order, the names they list as (their host names through the PETSCII mapping, or
// the C64 name inside a P00 container) and the alternate names some of them are
// listed under.
//
// A directory may hold a hundred thousand entries, while a listing shows at most
// 2,046 of them, so the index does no more than what is asked of it:
// - the names sit back to back in one block of text, beside their folded forms;
// - the listing order is made as far as a listing reaches (a partial selection in
//   chunks that double), never by sorting the whole directory up front;
// - the alternate names follow entry by entry along that order, as each depends
//   only on the entries before it and on the names that hold a "~";
// - a look-up without regard to case runs over the folded block and sorts nothing;
// - entries are added and removed in place, so a change needs no second read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "storage/listed_form.h"

namespace dorvane {

class DirIndex {
 public:
  // An entry's number: stable until the next Add or Remove.
  using Id = std::uint32_t;

  // Adds an entry (a name not in the index yet) with what it lists as.
  void Add(std::string_view name, const ListedForm& form);
  // Removes the entry `name`; false when there is none.
  bool Remove(std::string_view name);
  // Gives the entry `name` a new form (a container's header was rewritten); false
  // when there is none.
  bool SetForm(std::string_view name, const ListedForm& form);
  bool Contains(std::string_view name) const;
  // The entry whose host name is `name` exactly.
  bool Find(std::string_view name, Id& id) const;

  std::size_t Size() const { return live_; }

  // The entry at `position` in listing order; false past the last.
  bool At(std::size_t position, Id& id);
  std::string_view Name(Id id) const;
  const ListedForm& Form(Id id) const;
  // The alternate name of the entry at `position` in listing order (At), or of the
  // entry `id`: "" when it lists as itself. Valid until the next call.
  std::string_view AlternateAt(std::size_t position);
  std::string_view Alternate(Id id);

  // The entry listed under the host name `name` without regard to case: of names
  // that differ only in case, the first in listing order (the others list by
  // alternate names).
  bool FindFolded(std::string_view name, Id& id) const;
  // Whether an entry other than `except` has a host name equal to `name` in any case.
  bool AnyFolded(std::string_view name, std::string_view except) const;
  // The entry whose alternate name `name` is, in any case.
  bool FindAlternate(std::string_view name, Id& id);
  // The entry listed as the C64 name `name`, in any letter case: of entries that list
  // the same, the one that keeps the listed name.
  bool FindListed(std::string_view name, Id& id);

 private:
  struct Span {
    std::uint32_t offset;
    std::uint32_t size;
  };
  static constexpr std::uint32_t Removed = UINT32_MAX;
  static constexpr std::uint32_t NoAlternate = UINT32_MAX;

  std::string_view Folded(Id id) const;
  std::string_view Listed(Id id) const;
  // What the entry lists as, its letters folded as the C64's names are.
  std::string Key(Id id) const;
  bool IsMapped(Id id) const { return mapped_.count(id) != 0; }
  bool IsLive(Id id) const { return spans_[id].size != Removed; }
  bool Less(Id a, Id b) const;
  // Forgets what was worked out from the entries: order, alternates and groups.
  void Invalidate();
  void Compact();
  // Makes the listing order good through `position` (or to the end).
  void OrderThrough(std::size_t position);
  // Works out the alternates of the entries before `position` in listing order.
  void AlternatesThrough(std::size_t position);
  // Groups the entries that list the same as a mapped entry once folded.
  void PrepareGroups();
  void PrepareTildes();
  // Calls `match` with each entry whose text in `block` (text_ or folded_) is
  // `wanted`, until it returns true; whether one did.
  template <typename Match>
  bool Scan(const std::string& block, std::string_view wanted, Match match) const;
  // The first entry in listing order whose folded name is `folded` (of plain entries
  // only, when `plain_only`).
  bool FoldedMatch(std::string_view folded, Id& id, bool plain_only) const;

  std::string text_;    // every name, back to back
  std::string folded_;  // the same in lower case (FoldedName), at the same offsets
  std::vector<Span> spans_;
  std::size_t live_ = 0;
  std::size_t removed_ = 0;
  std::unordered_map<Id, ListedForm> forms_;  // every form but a plain entry's
  // Entries that do not list as their own host name: a container, a name the
  // PETSCII mapping changes, or one holding the bytes the C64's letters fold from.
  std::unordered_set<Id> mapped_;

  std::vector<Id> order_;  // listing order up to `ordered_`; the rest all after it
  std::size_t ordered_ = 0;
  bool order_made_ = false;

  // Groups of entries that list the same once folded, where a mapped entry is among
  // them: the key, and the entry that keeps the listed name.
  std::unordered_map<std::string, Id> keepers_;
  std::unordered_set<Id> members_;  // every member of those groups
  std::unordered_set<Id> grouped_;  // the members that are not the keeper
  bool groups_made_ = false;

  // Names and keys holding a "~", folded: an alternate equal to one is passed over.
  std::unordered_set<std::string> tildes_;
  bool tildes_made_ = false;

  std::vector<std::uint32_t> alternate_at_;  // per entry: offset into alternates_ or NoAlternate
  std::string alternates_;                   // a length byte, then the name, for each
  std::unordered_map<std::string, unsigned> ordinals_;  // alternate prefix -> last ordinal
  std::size_t alternates_through_ = 0;
  std::vector<Id> by_alternate_;  // entries with alternates, by folded alternate; once complete
  bool by_alternate_made_ = false;
  bool derived_ = false;  // whether anything above was worked out since the last change
};

}  // namespace dorvane
