// The entries of one host directory as the C64 sees them: their names in listing
// order, the names they list as (their host names through the PETSCII mapping, or
// the C64 name inside a P00 container) and the alternate names some of them are
// listed under.
//
// A directory may hold a million entries, while a listing shows at most 2,046 of
// them, so the index does no more than what is asked of it, and keeps little more
// than the names' own bytes:
// - the names sit back to back in one block of text, each one's folded form after
//   it only where that differs (a name with capitals): an entry costs its name and a
//   four-byte offset, plus some five bytes in the hash of folded names once a
//   look-up needs it;
// - the listing order is made only as far as a listing reaches (the first entries
//   picked in chunks that double, each a pass over the rest), never by sorting the
//   whole directory up front;
// - the alternate names follow entry by entry along that order, as each depends
//   only on the entries before it and on the names that hold a "~";
// - a look-up by name, exact or without regard to case, is one probe of the hash;
// - entries are added and removed in place: those that go among the entries already
//   in order wait, and a burst of them is sorted once and merged into that order in
//   one pass when it is next asked for, so a change costs what it changes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
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
  // A growing array of plain values in one allocation that realloc extends: a large
  // one is moved by the page tables rather than copied, so a million names are never
  // held twice while the block grows.
  template <typename T>
  class Block {
   public:
    Block() = default;
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;
    Block(Block&& other) noexcept { Swap(other); }
    Block& operator=(Block&& other) noexcept {
      Block gone(std::move(other));
      Swap(gone);
      return *this;
    }
    ~Block() { std::free(data_); }
    T* Data() { return data_; }
    const T* Data() const { return data_; }
    std::size_t Size() const { return size_; }
    T& operator[](std::size_t i) { return data_[i]; }
    const T& operator[](std::size_t i) const { return data_[i]; }
    // Room for `n` more; the old values stay where they were.
    T* Grow(std::size_t n);

   private:
    void Swap(Block& other) noexcept {
      std::swap(data_, other.data_);
      std::swap(size_, other.size_);
      std::swap(capacity_, other.capacity_);
    }
    T* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
  };

  // An entry's place in text_, with two flags above it.
  static constexpr std::uint32_t RemovedBit = 1u << 31;
  static constexpr std::uint32_t FoldedBit = 1u << 30;  // its folded form follows its name
  static constexpr std::uint32_t OffsetMask = FoldedBit - 1;
  static constexpr Id NoEntry = UINT32_MAX;
  static constexpr std::uint32_t NoAlternate = UINT32_MAX;

  std::string_view Folded(Id id) const;
  std::string_view Listed(Id id) const;
  // What the entry lists as, its letters folded as the C64's names are.
  std::string Key(Id id) const;
  bool IsMapped(Id id) const { return mapped_.count(id) != 0; }
  bool IsLive(Id id) const { return (at_[id] & RemovedBit) == 0; }
  bool Less(Id a, Id b) const;
  // Forgets what was worked out from the entries: alternates and groups.
  void Invalidate();
  void Compact();
  // Takes the entries removed since out of the order made, and merges those added
  // among it in.
  void SettleOrder();
  // Makes the listing order good through `position` (or to the end).
  void OrderThrough(std::size_t position);
  // Works out the alternates of the entries before `position` in listing order.
  void AlternatesThrough(std::size_t position);
  // Groups the entries that list the same as a mapped entry once folded.
  void PrepareGroups();
  void PrepareTildes();
  // The hash of folded names: made at the first look-up, kept up to date after.
  void MakeHash(std::size_t slots) const;
  void Hash(Id id) const;
  void Insert(Id id) const;
  std::size_t Home(std::string_view folded) const;
  // Calls `match` with each live entry whose folded name is `folded`, until it
  // returns true; whether one did.
  template <typename Match>
  bool Probe(std::string_view folded, Match match) const;
  // The first entry in listing order whose folded name is `folded` (of plain entries
  // only, when `plain_only`).
  bool FoldedMatch(std::string_view folded, Id& id, bool plain_only) const;

  Block<char> text_;         // per entry: its name and, if other, its folded form
  Block<std::uint32_t> at_;  // per entry: where that starts, and the flags above
  std::size_t live_ = 0;
  std::size_t removed_ = 0;
  std::unordered_map<Id, ListedForm> forms_;  // every form but a plain entry's
  // Entries that do not list as their own host name: a container, a name the
  // PETSCII mapping changes, or one holding the bytes the C64's letters fold from.
  std::unordered_set<Id> mapped_;

  // Open addressing with linear probing; removed entries stay in it, passed over,
  // until the next Compact or growth.
  mutable std::vector<Id> slots_;
  mutable std::size_t hashed_ = 0;  // entries in slots_, removed ones included
  mutable bool hash_made_ = false;

  // The first entries in listing order; every live entry not in it, nor in
  // pending_, comes after its last.
  std::vector<Id> order_;
  std::vector<Id> pending_;   // added since, going among order_: not merged yet
  bool order_stale_ = false;  // entries of order_ were removed since

  // Groups of entries that list the same once folded, where a mapped entry is among
  // them: the key, and the entry that keeps the listed name.
  std::unordered_map<std::string, Id> keepers_;
  std::unordered_set<Id> members_;  // every member of those groups
  std::unordered_set<Id> grouped_;  // the members that are not the keeper
  bool groups_made_ = false;

  std::vector<Id> tildes_at_;  // entries whose names hold a "~", removed ones included
  // Names and keys holding a "~", folded: an alternate equal to one is passed over.
  std::unordered_set<std::string> tildes_;
  bool tildes_made_ = false;

  // Per position in listing order, up to alternates_through_: an offset into
  // alternates_, or NoAlternate.
  std::vector<std::uint32_t> alternate_at_;
  std::string alternates_;                              // a length byte, then the name, for each
  std::unordered_map<std::string, unsigned> ordinals_;  // alternate prefix -> last ordinal
  std::size_t alternates_through_ = 0;
  // Positions with alternates, by folded alternate; once complete.
  std::vector<std::uint32_t> by_alternate_;
  bool by_alternate_made_ = false;
  bool derived_ = false;  // whether anything above was worked out since the last change
};

}  // namespace dorvane
