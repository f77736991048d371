#include "storage/dir_index.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "formats/ascii_case.h"
#include "formats/petscii_names.h"
#include "storage/alternate_names.h"

namespace dorvane {
namespace {

// The first chunk of the listing order: a listing shows at most 2,046 entries.
constexpr std::size_t FirstChunk = 2048;
// Removed entries leave their text behind until there are this many and more than
// there are live ones.
constexpr std::size_t CompactAfter = 1024;

// The bytes the C64's shifted letters fold from: a host name holding one lists the
// same as another name without being spelled like it.
bool HoldsShiftedLetters(std::string_view name) {
  return std::any_of(name.begin(), name.end(), [](char c) {
    return static_cast<std::uint8_t>(c) >= 0xC1 && static_cast<std::uint8_t>(c) <= 0xDA;
  });
}

bool IsPlainForm(const ListedForm& form) {
  return form.Name.empty() && form.Type == CbmFileType::Prg && form.HeaderSize == 0 &&
         form.RecordSize == 0;
}

}  // namespace

std::string_view DirIndex::Name(Id id) const {
  return std::string_view(text_).substr(spans_[id].offset, spans_[id].size);
}

std::string_view DirIndex::Folded(Id id) const {
  return std::string_view(folded_).substr(spans_[id].offset, spans_[id].size);
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

template <typename Match>
bool DirIndex::Scan(const std::string& block, std::string_view wanted, Match match) const {
  // Removed entries have a size no name has.
  for (Id i = 0; i < spans_.size(); ++i) {
    if (spans_[i].size == wanted.size() &&
        std::memcmp(block.data() + spans_[i].offset, wanted.data(), wanted.size()) == 0 &&
        match(i)) {
      return true;
    }
  }
  return false;
}

bool DirIndex::Find(std::string_view name, Id& id) const {
  return Scan(text_, name, [&](Id i) {
    id = i;
    return true;
  });
}

bool DirIndex::Contains(std::string_view name) const {
  Id id = 0;
  return Find(name, id);
}

void DirIndex::Add(std::string_view name, const ListedForm& form) {
  const Id id = static_cast<Id>(spans_.size());
  spans_.push_back(
      Span{static_cast<std::uint32_t>(text_.size()), static_cast<std::uint32_t>(name.size())});
  text_.append(name);
  const std::size_t at = folded_.size();
  folded_.append(name);
  for (auto it = folded_.begin() + static_cast<std::ptrdiff_t>(at); it != folded_.end(); ++it) {
    *it = static_cast<char>(FoldAscii(static_cast<unsigned char>(*it)));
  }
  if (!IsPlainForm(form)) forms_.emplace(id, form);
  if (!form.Name.empty() || HoldsShiftedLetters(name)) mapped_.insert(id);
  ++live_;
  if (order_made_) {
    // In place: into the part already in order when it goes there, else among the
    // rest, all of which come after that part.
    const auto first = order_.begin();
    const auto ordered_end = first + static_cast<std::ptrdiff_t>(ordered_);
    const auto less = [this](Id a, Id b) { return Less(a, b); };
    if (ordered_ > 0 && Less(id, *(ordered_end - 1))) {
      order_.insert(std::upper_bound(first, ordered_end, id, less), id);
      ++ordered_;
    } else if (ordered_ == order_.size()) {
      order_.push_back(id);
      ++ordered_;
    } else {
      order_.push_back(id);
    }
  }
  Invalidate();
}

bool DirIndex::Remove(std::string_view name) {
  Id id = 0;
  if (!Find(name, id)) return false;
  spans_[id].size = Removed;
  forms_.erase(id);
  mapped_.erase(id);
  --live_;
  ++removed_;
  if (order_made_) {
    const auto it = std::find(order_.begin(), order_.end(), id);
    if (it != order_.end()) {
      if (static_cast<std::size_t>(it - order_.begin()) < ordered_) --ordered_;
      order_.erase(it);
    }
  }
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
  std::vector<Id> renumbered(spans_.size(), Removed);
  std::string text, folded;
  text.reserve(text_.size());
  folded.reserve(folded_.size());
  std::vector<Span> spans;
  spans.reserve(live_);
  for (Id i = 0; i < spans_.size(); ++i) {
    if (!IsLive(i)) continue;
    renumbered[i] = static_cast<Id>(spans.size());
    spans.push_back(Span{static_cast<std::uint32_t>(text.size()), spans_[i].size});
    text.append(Name(i));
    folded.append(Folded(i));
  }
  std::unordered_map<Id, ListedForm> forms;
  for (auto& [id, form] : forms_) forms.emplace(renumbered[id], std::move(form));
  std::unordered_set<Id> mapped;
  for (Id id : mapped_) mapped.insert(renumbered[id]);
  for (Id& id : order_) id = renumbered[id];
  text_ = std::move(text);
  folded_ = std::move(folded);
  spans_ = std::move(spans);
  forms_ = std::move(forms);
  mapped_ = std::move(mapped);
  removed_ = 0;
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

void DirIndex::OrderThrough(std::size_t position) {
  if (!order_made_) {
    order_.clear();
    order_.reserve(live_);
    for (Id i = 0; i < spans_.size(); ++i) {
      if (IsLive(i)) order_.push_back(i);
    }
    ordered_ = 0;
    order_made_ = true;
  }
  const auto less = [this](Id a, Id b) { return Less(a, b); };
  while (ordered_ <= position && ordered_ < order_.size()) {
    // Each chunk is as large as all before it: a listing that goes on to the end
    // costs about one sort of the whole, one that stops early a fraction of it.
    const std::size_t chunk = std::max(FirstChunk, ordered_);
    const auto first = order_.begin() + static_cast<std::ptrdiff_t>(ordered_);
    auto last = order_.end();
    if (order_.size() - ordered_ > chunk) {
      last = first + static_cast<std::ptrdiff_t>(chunk);
      std::nth_element(first, last, order_.end(), less);
    }
    std::sort(first, last, less);
    ordered_ = static_cast<std::size_t>(last - order_.begin());
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
  std::set<std::size_t> key_sizes;
  for (Id id : mapped_) {
    std::string key = Key(id);
    key_sizes.insert(key.size());
    groups[std::move(key)].push_back(id);
  }
  for (Id i = 0; i < spans_.size(); ++i) {
    if (!IsLive(i) || IsMapped(i) || key_sizes.count(spans_[i].size) == 0) continue;
    const auto it = groups.find(std::string(Folded(i)));
    if (it != groups.end()) it->second.push_back(i);
  }
  for (auto& [key, group] : groups) {
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
  for (Id i = 0; i < spans_.size(); ++i) {
    if (!IsLive(i)) continue;
    const std::string_view folded = Folded(i);
    if (folded.find('~') != std::string_view::npos) tildes_.emplace(folded);
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
  alternate_at_.resize(spans_.size(), NoAlternate);
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
    alternate_at_[id] = static_cast<std::uint32_t>(alternates_.size());
    alternates_.push_back(static_cast<char>(alternate.size()));
    alternates_.append(alternate);
  }
  alternates_through_ = position;
}

std::string_view DirIndex::AlternateAt(std::size_t position) {
  if (position >= live_) return {};
  AlternatesThrough(position + 1);
  const std::uint32_t at = alternate_at_[order_[position]];
  if (at == NoAlternate) return {};
  return std::string_view(alternates_).substr(at + 1, static_cast<unsigned char>(alternates_[at]));
}

std::string_view DirIndex::Alternate(Id id) {
  OrderThrough(live_);
  const auto it = std::find(order_.begin(), order_.end(), id);
  if (it == order_.end()) return {};
  return AlternateAt(static_cast<std::size_t>(it - order_.begin()));
}

bool DirIndex::FoldedMatch(std::string_view folded, Id& id, bool plain_only) const {
  bool found = false;
  Scan(folded_, folded, [&](Id i) {
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
  return Scan(folded_, FoldedName(name), [&](Id i) { return Name(i) != except; });
}

bool DirIndex::FindAlternate(std::string_view name, Id& id) {
  const std::string folded = FoldedName(name);
  if (folded.find('~') == std::string::npos) return false;
  AlternatesThrough(live_);
  const auto alternate_of = [this](Id i) {
    const std::uint32_t at = alternate_at_[i];
    return std::string_view(alternates_)
        .substr(at + 1, static_cast<unsigned char>(alternates_[at]));
  };
  const auto less = [&](Id a, Id b) { return CompareFolded(alternate_of(a), alternate_of(b)) < 0; };
  if (!by_alternate_made_) {
    by_alternate_.clear();
    for (Id i : order_) {
      if (alternate_at_[i] != NoAlternate) by_alternate_.push_back(i);
    }
    // Stable: of equal alternates, the first in listing order answers.
    std::stable_sort(by_alternate_.begin(), by_alternate_.end(), less);
    by_alternate_made_ = true;
  }
  const auto it = std::lower_bound(
      by_alternate_.begin(), by_alternate_.end(), folded,
      [&](Id i, const std::string& wanted) { return CompareFolded(alternate_of(i), wanted) < 0; });
  if (it == by_alternate_.end() || !EqualsFolded(alternate_of(*it), folded)) return false;
  id = *it;
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
