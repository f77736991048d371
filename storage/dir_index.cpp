#include "storage/dir_index.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <new>
#include <type_traits>

#include "formats/ascii_case.h"
#include "formats/petscii_names.h"
#include "link/os_error.h"
#include "storage/alternate_names.h"

namespace dorvane {
namespace {

// The first chunk of the listing order: a listing shows at most 2,046 entries.
constexpr std::size_t FirstChunk = 2048;
// Removed entries leave their text behind until there are this many and more than
// there are live ones.
constexpr std::size_t CompactAfter = 1024;
// The hash is made with three slots in thirteen free, and made again, twice the live
// entries, when fewer than three in twenty are.
constexpr std::size_t HashSlotsPerTen = 13;
constexpr std::size_t HashFullPerTwenty = 17;

// The bytes the C64's shifted letters fold from: a host name holding one lists the
// same as another name without being spelled like it.
bool HoldsShiftedLetters(std::string_view name) {
  return std::any_of(name.begin(), name.end(), [](char c) {
    return static_cast<std::uint8_t>(c) >= 0xC1 && static_cast<std::uint8_t>(c) <= 0xDA;
  });
}

bool HoldsCapitals(std::string_view name) {
  return std::any_of(name.begin(), name.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

bool IsPlainForm(const ListedForm& form) {
  return form.Name.empty() && form.Type == CbmFileType::Prg && form.HeaderSize == 0 &&
         form.RecordSize == 0;
}

}  // namespace

template <typename T>
T* DirIndex::Block<T>::Grow(std::size_t n) {
  static_assert(std::is_trivially_copyable_v<T>);
  if (size_ + n > capacity_) {
    const std::size_t capacity = std::max({size_ + n, capacity_ + capacity_ / 2, std::size_t{64}});
    void* grown = std::realloc(data_, capacity * sizeof(T));
    if (grown == nullptr) throw std::bad_alloc();
    data_ = static_cast<T*>(grown);
    capacity_ = capacity;
  }
  T* room = data_ + size_;
  size_ += n;
  return room;
}

std::string_view DirIndex::Name(Id id) const {
  // An entry's text ends where the next one's starts.
  const std::size_t at = at_[id] & OffsetMask;
  const std::size_t end = id + 1 < at_.Size() ? at_[id + 1] & OffsetMask : text_.Size();
  const std::size_t size = (at_[id] & FoldedBit) != 0 ? (end - at) / 2 : end - at;
  return std::string_view(text_.Data() + at, size);
}

std::string_view DirIndex::Folded(Id id) const {
  const std::string_view name = Name(id);
  if ((at_[id] & FoldedBit) == 0) return name;
  return std::string_view(name.data() + name.size(), name.size());
}

const ListedForm& DirIndex::Form(Id id) const {
  static const ListedForm plain;
  const auto it = forms_.find(id);
  return it == forms_.end() ? plain : it->second;
}

std::string_view DirIndex::Listed(Id id) const {
  const ListedForm& form = Form(id);
  return form.Name.empty() ? Name(id) : std::string_view(form.Name);
}

std::string DirIndex::Key(Id id) const { return FoldPetsciiLetters(Listed(id)); }

bool DirIndex::Less(Id a, Id b) const {
  // By the folded name; of names equal in any case, the greater bytes first.
  const int by_folded = Folded(a).compare(Folded(b));
  if (by_folded != 0) return by_folded < 0;
  return Name(a) > Name(b);
}

std::size_t DirIndex::Home(std::string_view folded) const {
  return std::hash<std::string_view>{}(folded) % slots_.size();
}

void DirIndex::MakeHash(std::size_t slots) const {
  hash_made_ = true;
  slots_.assign(std::max<std::size_t>(16, slots), NoEntry);
  hashed_ = 0;
  for (Id i = 0; i < at_.Size(); ++i) {
    if (IsLive(i)) Insert(i);
  }
}

void DirIndex::Insert(Id id) const {
  std::size_t s = Home(Folded(id));
  while (slots_[s] != NoEntry) s = s + 1 == slots_.size() ? 0 : s + 1;
  slots_[s] = id;
  ++hashed_;
}

void DirIndex::Hash(Id id) const {
  if ((hashed_ + 1) * 20 <= slots_.size() * HashFullPerTwenty) {
    Insert(id);
  } else {
    // Made again with room to grow, for the live entries (this one among them):
    // the removed ones drop out.
    slots_ = {};
    MakeHash(live_ * 2);
  }
}

template <typename Match>
bool DirIndex::Probe(std::string_view folded, Match match) const {
  if (!hash_made_) MakeHash(live_ * HashSlotsPerTen / 10);
  for (std::size_t s = Home(folded); slots_[s] != NoEntry; s = s + 1 == slots_.size() ? 0 : s + 1) {
    const Id i = slots_[s];
    if (IsLive(i) && Folded(i) == folded && match(i)) return true;
  }
  return false;
}

bool DirIndex::Find(std::string_view name, Id& id) const {
  return Probe(FoldedName(name), [&](Id i) {
    if (Name(i) != name) return false;
    id = i;
    return true;
  });
}

bool DirIndex::Contains(std::string_view name) const {
  Id id = 0;
  return Find(name, id);
}

void DirIndex::Add(std::string_view name, const ListedForm& form) {
  const bool capitals = HoldsCapitals(name);
  const std::size_t room_needed = name.size() * (capitals ? 2 : 1);
  if (text_.Size() + room_needed > OffsetMask && removed_ > 0) Compact();
  // An entry's place must fit beside its flags: a directory whose names fill more
  // than that is refused as too large rather than indexed wrong.
  if (text_.Size() + room_needed > OffsetMask) throw OsError(EOVERFLOW);
  const Id id = static_cast<Id>(at_.Size());
  const std::size_t offset = text_.Size();
  char* room = text_.Grow(room_needed);
  std::memcpy(room, name.data(), name.size());
  if (capitals) {
    for (std::size_t i = 0; i < name.size(); ++i) {
      room[name.size() + i] = static_cast<char>(FoldAscii(static_cast<unsigned char>(name[i])));
    }
  }
  *at_.Grow(1) = static_cast<std::uint32_t>(offset) | (capitals ? FoldedBit : 0);
  if (!IsPlainForm(form)) forms_.emplace(id, form);
  if (!form.Name.empty() || HoldsShiftedLetters(name)) mapped_.insert(id);
  if (name.find('~') != std::string_view::npos) tildes_at_.push_back(id);
  ++live_;
  if (hash_made_) Hash(id);
  // One that goes among the entries already in order waits to be merged in with any
  // others of the same burst; any other comes after them anyway.
  if (!order_.empty() && Less(id, order_.back())) pending_.push_back(id);
  Invalidate();
}

bool DirIndex::Remove(std::string_view name) {
  Id id = 0;
  if (!Find(name, id)) return false;
  // Still spelled out in text_ for the comparisons until it is taken out of order_.
  if (!order_.empty() && !Less(order_.back(), id)) order_stale_ = true;
  at_[id] |= RemovedBit;
  forms_.erase(id);
  mapped_.erase(id);
  --live_;
  ++removed_;
  Invalidate();
  if (removed_ >= CompactAfter && removed_ > live_) Compact();
  return true;
}

bool DirIndex::SetForm(std::string_view name, const ListedForm& form) {
  Id id = 0;
  if (!Find(name, id)) return false;
  forms_.erase(id);
  mapped_.erase(id);
  if (!IsPlainForm(form)) forms_.emplace(id, form);
  if (!form.Name.empty() || HoldsShiftedLetters(name)) mapped_.insert(id);
  Invalidate();
  return true;
}

void DirIndex::Compact() {
  SettleOrder();
  std::vector<Id> renumbered(at_.Size(), NoEntry);
  Block<char> text;
  Block<std::uint32_t> at;
  for (Id i = 0; i < at_.Size(); ++i) {
    if (!IsLive(i)) continue;
    renumbered[i] = static_cast<Id>(at.Size());
    const std::uint32_t from = at_[i] & OffsetMask;
    const std::size_t size = Name(i).size() * ((at_[i] & FoldedBit) != 0 ? 2 : 1);
    *at.Grow(1) = static_cast<std::uint32_t>(text.Size()) | (at_[i] & FoldedBit);
    std::memcpy(text.Grow(size), text_.Data() + from, size);
  }
  std::unordered_map<Id, ListedForm> forms;
  for (auto& [id, form] : forms_) forms.emplace(renumbered[id], std::move(form));
  std::unordered_set<Id> mapped;
  for (Id id : mapped_) mapped.insert(renumbered[id]);
  for (Id& id : order_) id = renumbered[id];
  std::erase_if(tildes_at_, [this](Id id) { return !IsLive(id); });
  for (Id& id : tildes_at_) id = renumbered[id];
  text_ = std::move(text);
  at_ = std::move(at);
  forms_ = std::move(forms);
  mapped_ = std::move(mapped);
  removed_ = 0;
  slots_ = {};
  hash_made_ = false;
  Invalidate();
}

void DirIndex::Invalidate() {
  if (!derived_) return;
  derived_ = false;
  alternate_at_.clear();
  alternates_.clear();
  ordinals_.clear();
  alternates_through_ = 0;
  by_alternate_.clear();
  by_alternate_made_ = false;
  groups_made_ = false;
  tildes_made_ = false;
}

void DirIndex::SettleOrder() {
  const auto less = [this](Id a, Id b) { return Less(a, b); };
  if (order_stale_) {
    std::erase_if(order_, [this](Id i) { return !IsLive(i); });
    order_stale_ = false;
  }
  std::erase_if(pending_, [this](Id i) { return !IsLive(i); });
  if (pending_.empty()) return;
  // Sorted once, and merged from the back: each one added is placed by a binary
  // search, and the entries after it move once, in one block per entry added.
  std::sort(pending_.begin(), pending_.end(), less);
  std::size_t end = order_.size();  // order_[0, end) are where they were
  order_.resize(order_.size() + pending_.size());
  for (std::size_t added = pending_.size(); added > 0; --added) {
    const Id id = pending_[added - 1];
    const auto first = order_.begin();
    const auto after = std::upper_bound(first, first + static_cast<std::ptrdiff_t>(end), id, less);
    std::move_backward(after, first + static_cast<std::ptrdiff_t>(end),
                       first + static_cast<std::ptrdiff_t>(end + added));
    end = static_cast<std::size_t>(after - first);
    order_[end + added - 1] = id;
  }
  pending_.clear();
}

void DirIndex::OrderThrough(std::size_t position) {
  SettleOrder();
  const auto less = [this](Id a, Id b) { return Less(a, b); };
  while (order_.size() <= position && order_.size() < live_) {
    // The entries after the last in order, each chunk as large as all before it: a
    // listing that goes on to the end costs a few passes over the directory and
    // about one sort of it, one that stops early one pass.
    const bool first = order_.empty();
    const Id last = first ? NoEntry : order_.back();
    const auto after = [&](Id i) { return IsLive(i) && (first || Less(last, i)); };
    const std::size_t chunk = std::max(FirstChunk, order_.size());
    const std::size_t rest = live_ - order_.size();
    const std::size_t start = order_.size();
    if (position + 1 >= live_ || rest <= 4 * chunk) {
      // Most of the rest is wanted: all of it, sorted.
      for (Id i = 0; i < at_.Size(); ++i) {
        if (after(i)) order_.push_back(i);
      }
      std::sort(order_.begin() + static_cast<std::ptrdiff_t>(start), order_.end(), less);
      continue;
    }
    // The first `chunk` of the rest, kept in a heap whose top is the greatest.
    std::vector<Id> heap;
    heap.reserve(chunk);
    for (Id i = 0; i < at_.Size(); ++i) {
      if (!after(i)) continue;
      if (heap.size() < chunk) {
        heap.push_back(i);
        std::push_heap(heap.begin(), heap.end(), less);
      } else if (Less(i, heap.front())) {
        std::pop_heap(heap.begin(), heap.end(), less);
        heap.back() = i;
        std::push_heap(heap.begin(), heap.end(), less);
      }
    }
    std::sort_heap(heap.begin(), heap.end(), less);
    order_.insert(order_.end(), heap.begin(), heap.end());
  }
}

bool DirIndex::At(std::size_t position, Id& id) {
  if (position >= live_) return false;
  OrderThrough(position);
  id = order_[position];
  return true;
}

void DirIndex::PrepareGroups() {
  if (groups_made_) return;
  groups_made_ = true;
  derived_ = true;
  keepers_.clear();
  members_.clear();
  grouped_.clear();
  if (mapped_.empty()) return;
  // Mapped entries are few: their keys are the groups that need a closer look. A
  // plain entry joins one when its folded name is a key (a plain name folds alike
  // on both sides); plain entries among themselves are neighbours in listing order.
  std::unordered_map<std::string, std::vector<Id>> groups;
  for (Id id : mapped_) groups[Key(id)].push_back(id);
  for (auto& entry : groups) {
    const std::string& key = entry.first;
    std::vector<Id>& group = entry.second;
    Probe(key, [&](Id i) {
      if (!IsMapped(i)) group.push_back(i);
      return false;
    });
    std::sort(group.begin(), group.end(), [this](Id a, Id b) { return Less(a, b); });
    // The one the C64's name finds first keeps it, so that the listed name loads the
    // entry it stands beside: the host name the name maps to, then one equal to it
    // without regard to case, then the first in listing order.
    const std::string host = PetsciiToHostName(key);
    Id keeper = group.front();
    const auto exact =
        std::find_if(group.begin(), group.end(), [&](Id i) { return Name(i) == host; });
    const auto folded =
        std::find_if(group.begin(), group.end(), [&](Id i) { return EqualsFolded(Name(i), host); });
    if (exact != group.end()) {
      keeper = *exact;
    } else if (folded != group.end()) {
      keeper = *folded;
    }
    for (Id i : group) {
      members_.insert(i);
      if (i != keeper) grouped_.insert(i);
    }
    keepers_.emplace(key, keeper);
  }
}

void DirIndex::PrepareTildes() {
  if (tildes_made_) return;
  tildes_made_ = true;
  derived_ = true;
  tildes_.clear();
  // Every alternate name holds a "~": only names and keys that hold one can equal it.
  for (Id id : tildes_at_) {
    if (IsLive(id)) tildes_.emplace(Folded(id));
  }
  for (Id id : mapped_) {
    const std::string key = Key(id);
    if (key.find('~') != std::string::npos) tildes_.insert(key);
  }
}

void DirIndex::AlternatesThrough(std::size_t position) {
  position = std::min(position, live_);
  if (alternates_through_ >= position) return;
  derived_ = true;
  OrderThrough(position - 1);
  PrepareGroups();
  PrepareTildes();
  alternate_at_.resize(position, NoAlternate);
  for (std::size_t k = alternates_through_; k < position; ++k) {
    const Id id = order_[k];
    const std::string_view listed = Listed(id);
    // A name that cannot be typed back (a long one, say) needs an alternate. So does
    // every entry of a group that lists the same but the one that keeps the name;
    // among plain names, all but the first of names that differ only in case.
    bool needs = ListsByAlternate(Name(id), Form(id));
    if (members_.count(id) != 0) {
      needs = needs || grouped_.count(id) != 0;
    } else {
      // Names equal in any case are neighbours in listing order; a mapped one among
      // them lists as something else and is no part of the group.
      for (std::size_t j = k; !needs && j-- > 0 && Folded(order_[j]) == Folded(id);) {
        needs = !IsMapped(order_[j]);
      }
    }
    if (!needs) continue;
    unsigned& ordinal = ordinals_[AlternateNamePrefix(listed)];
    std::string alternate;
    // An alternate equal to a name of the directory, listed or real, in any case
    // would list the entry under a name every look-up resolves to the other one:
    // that ordinal is passed over.
    do {
      alternate = FormatAlternateName(listed, ++ordinal);
    } while (tildes_.count(FoldedName(alternate)) != 0);
    alternate_at_[k] = static_cast<std::uint32_t>(alternates_.size());
    alternates_.push_back(static_cast<char>(alternate.size()));
    alternates_.append(alternate);
  }
  alternates_through_ = position;
}

std::string_view DirIndex::AlternateAt(std::size_t position) {
  if (position >= live_) return {};
  AlternatesThrough(position + 1);
  const std::uint32_t at = alternate_at_[position];
  if (at == NoAlternate) return {};
  return std::string_view(alternates_).substr(at + 1, static_cast<unsigned char>(alternates_[at]));
}

std::string_view DirIndex::Alternate(Id id) {
  if (id >= at_.Size() || !IsLive(id)) return {};
  // Those before it decide its alternate: an entry among those put in order so far
  // needs no more of them.
  SettleOrder();
  if (order_.empty() || Less(order_.back(), id)) OrderThrough(live_);
  const auto it =
      std::lower_bound(order_.begin(), order_.end(), id, [this](Id a, Id b) { return Less(a, b); });
  if (it == order_.end() || *it != id) return {};
  return AlternateAt(static_cast<std::size_t>(it - order_.begin()));
}

bool DirIndex::FoldedMatch(std::string_view folded, Id& id, bool plain_only) const {
  bool found = false;
  Probe(folded, [&](Id i) {
    if (plain_only && IsMapped(i)) return false;
    if (!found || Less(i, id)) id = i;
    found = true;
    return false;  // on to the others: the first in listing order answers
  });
  return found;
}

bool DirIndex::FindFolded(std::string_view name, Id& id) const {
  return FoldedMatch(FoldedName(name), id, false);
}

bool DirIndex::AnyFolded(std::string_view name, std::string_view except) const {
  return Probe(FoldedName(name), [&](Id i) { return Name(i) != except; });
}

bool DirIndex::FindAlternate(std::string_view name, Id& id) {
  const std::string folded = FoldedName(name);
  if (folded.find('~') == std::string::npos) return false;
  const auto alternate_of = [this](std::uint32_t k) {
    const std::uint32_t at = alternate_at_[k];
    return std::string_view(alternates_)
        .substr(at + 1, static_cast<unsigned char>(alternates_[at]));
  };
  if (!by_alternate_made_) {
    // After any change of the directory the alternates start afresh. The one asked for
    // is most often an early one among the entries put in order so far: those are
    // worked out first, in steps, which needs no more of the order. Any other makes
    // them all, and their sorted look-up.
    SettleOrder();
    std::size_t k = 0;
    for (std::size_t through = FirstChunk;; through *= 2) {
      AlternatesThrough(std::min(through, order_.size()));
      for (; k < alternates_through_; ++k) {
        if (alternate_at_[k] != NoAlternate &&
            EqualsFolded(alternate_of(static_cast<std::uint32_t>(k)), folded)) {
          id = order_[k];
          return true;
        }
      }
      if (through >= order_.size()) break;
    }
  }
  AlternatesThrough(live_);
  const auto less = [&](std::uint32_t a, std::uint32_t b) {
    return CompareFolded(alternate_of(a), alternate_of(b)) < 0;
  };
  if (!by_alternate_made_) {
    by_alternate_.clear();
    for (std::uint32_t k = 0; k < alternates_through_; ++k) {
      if (alternate_at_[k] != NoAlternate) by_alternate_.push_back(k);
    }
    // Stable: of equal alternates, the first in listing order answers.
    std::stable_sort(by_alternate_.begin(), by_alternate_.end(), less);
    by_alternate_made_ = true;
  }
  const auto it = std::lower_bound(by_alternate_.begin(), by_alternate_.end(), folded,
                                   [&](std::uint32_t k, const std::string& wanted) {
                                     return CompareFolded(alternate_of(k), wanted) < 0;
                                   });
  if (it == by_alternate_.end() || !EqualsFolded(alternate_of(*it), folded)) return false;
  id = order_[*it];
  return true;
}

bool DirIndex::FindListed(std::string_view name, Id& id) {
  const std::string key = FoldPetsciiLetters(name);
  PrepareGroups();
  const auto it = keepers_.find(key);
  if (it != keepers_.end()) {
    id = it->second;
    return true;
  }
  // No mapped entry lists so: the first plain entry spelled so in any case.
  return FoldedMatch(key, id, true);
}

}  // namespace dorvane
