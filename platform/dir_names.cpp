#include "platform/dir_names.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <set>

#include "formats/petscii_names.h"
#include "platform/alternate_names.h"
#include "platform/ascii_case.h"
#include "platform/posix_files.h"
#include "platform/sys_calls.h"

namespace dorvane {
namespace {

constexpr std::size_t KeptDirectories = 4;
// A directory changed less than this before it was read is read again next time.
constexpr time_t SettledSeconds = 2;

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

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
    if (NeedsAlternateName(ListedNameOf(out.names[i], out.forms[i]))) needs[i] = true;
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

bool ReadDirNames(int dir, std::vector<std::string>& names, int& error) {
  const int fd = sys::OpenAt(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return false;
  }
  DIR* handle = fdopendir(fd);
  if (handle == nullptr) {
    error = errno;
    close(fd);
    return false;
  }
  names.clear();
  errno = 0;
  while (const dirent* entry = sys::ReadDir(handle)) {
    const std::string_view name = entry->d_name;
    // Our own temporary save files, those a killed server left behind included,
    // are never the C64's: listed, they would not load, and they would shift the
    // alternate names of real entries whenever a save runs.
    const bool ours = name.rfind(PendingFilePrefix, 0) == 0;
    if (name != "." && name != ".." && !ours) names.emplace_back(name);
    errno = 0;
  }
  const int read_error = errno;
  closedir(handle);
  if (read_error != 0) {
    error = read_error;
    return false;
  }
  return true;
}

std::shared_ptr<const DirNames> DirNamesCache::Get(int dir, int& error) {
  struct stat st;
  if (sys::Stat(dir, &st) != 0) {
    error = errno;
    return nullptr;
  }
  for (const Kept& kept : kept_) {
    if (kept.dev == st.st_dev && kept.ino == st.st_ino && SameTime(kept.mtime, st.st_mtim) &&
        SameTime(kept.ctime, st.st_ctim)) {
      return kept.names;
    }
  }
  std::vector<std::string> names;
  if (!ReadDirNames(dir, names, error)) return nullptr;
  std::vector<ListedForm> forms;
  forms.reserve(names.size());
  for (const std::string& name : names) forms.push_back(ReadListedForm(dir, name));
  auto made = std::make_shared<const DirNames>(MakeDirNames(std::move(names), std::move(forms)));
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  // Only the modification time need be settled: any later change of the entries
  // sets it to the present, which then differs from the time kept.
  const bool settled = st.st_mtim.tv_sec + SettledSeconds < now.tv_sec;
  kept_.erase(
      std::remove_if(kept_.begin(), kept_.end(),
                     [&](const Kept& k) { return k.dev == st.st_dev && k.ino == st.st_ino; }),
      kept_.end());
  if (settled) {
    if (kept_.size() >= KeptDirectories) kept_.erase(kept_.begin());
    kept_.push_back(Kept{st.st_dev, st.st_ino, st.st_mtim, st.st_ctim, made});
  }
  return made;
}

}  // namespace dorvane
