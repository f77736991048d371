#include "storage/posix_volume.h"
#include "storage/listed_search.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <string_view>
#include <utility>
#include <vector>

#include "formats/p00_file.h"
#include "formats/petscii_names.h"
#include "link/os_error.h"
#include "platform/sys_calls.h"
#include "storage/alternate_names.h"
#include "storage/listed_form.h"
#include "storage/posix_files.h"
#include "storage/wildcard.h"

namespace dorvane {
namespace {

constexpr int MaxLinks = 40;

bool HoldsNul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

// A name that a save, a rename or a new directory may give an entry: never a
// hidden one, which would be the host's.
bool IsNewName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.size() <= NAME_MAX &&
         !HasWildcard(name) && !HoldsNul(name) && name.find('/') == std::string_view::npos &&
         !IsHiddenName(name);
}

// Name, size and attributes of the entry `name` of `dir`, listed as `form`; false
// when it vanished.
bool Describe(const HostTree& tree, const HeldDir& dir, const std::string& name,
              const ListedForm& form, DirEntry& entry) {
  struct stat st;
  if (sys::StatAt(dir.fd.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  entry.Name = name;
  entry.AlternateName.clear();
  entry.ListedName = form.Name;
  entry.Type = form.Type;
  entry.HeaderSize = form.HeaderSize;
  entry.Locator = JoinRel(tree.Display(dir), name);
  entry.Size = 0;
  entry.Attributes = 0;
  bool usable = true;
  if (S_ISLNK(st.st_mode)) {
    // A link counts as what it leads to, as long as that is inside the tree. A
    // dangling link, or one leading out, is nothing a load may open.
    const int fd = tree.OpenEntry(dir, name, O_PATH);
    usable = fd >= 0 && sys::Stat(fd, &st) == 0;
    if (fd >= 0) close(fd);
  }
  if (!usable) {
    entry.Attributes = faSystem;
  } else if (S_ISDIR(st.st_mode)) {
    entry.Attributes = faDirectory;
  } else if (S_ISREG(st.st_mode)) {
    const auto size = static_cast<std::uint64_t>(st.st_size);
    entry.Size = size > entry.HeaderSize ? size - entry.HeaderSize : 0;
  } else {
    // FIFOs, sockets and devices: a load passes over them and never blocks on one.
    entry.Attributes = faSystem;
  }
  if (usable && (st.st_mode & S_IWUSR) == 0) entry.Attributes |= faReadOnly;
  if (name.front() == '.') entry.Attributes |= faHidden;
  return true;
}

DirEntry DotsEntry(const HostTree& tree, const HeldDir& dir, const char* dots) {
  DirEntry entry;
  entry.Name = dots;
  entry.Attributes = faDirectory;
  entry.Locator = JoinRel(tree.Display(dir), dots);
  return entry;
}

// A search of a pattern over a directory's index in listing order. Each entry is
// put in order and looked at only when the search reaches it, so a listing that
// stops at the most it can show costs no more.
class PatternSearch : public DirSearch {
 public:
  PatternSearch(const HostTree& tree, HeldDir dir, std::shared_ptr<DirIndex> names,
                std::string pattern, std::vector<DirEntry> dots)
      : tree_(tree),
        dir_(std::move(dir)),
        names_(std::move(names)),
        pattern_(std::move(pattern)),
        dots_(std::move(dots)) {}

  bool Next(DirEntry& entry) override {
    if (dots_.Next(entry)) return true;
    DirIndex::Id id = 0;
    while (names_->At(next_, id)) {
      const std::size_t position = next_++;
      const std::string name(names_->Name(id));
      const std::string alternate(names_->AlternateAt(position));
      const ListedForm& form = names_->Form(id);
      if (!MatchesWildcard(pattern_, name) &&
          (alternate.empty() || !MatchesWildcard(pattern_, alternate)) &&
          !MatchesWildcard(pattern_, FoldPetsciiLetters(ListedNameOf(name, form)))) {
        continue;
      }
      if (!Describe(tree_, dir_, name, form, entry)) continue;
      entry.AlternateName = alternate;
      return true;
    }
    return false;
  }

 private:
  const HostTree& tree_;
  HeldDir dir_;
  std::shared_ptr<DirIndex> names_;
  std::string pattern_;
  ListedSearch dots_;
  std::size_t next_ = 0;
};

}  // namespace

PosixVolume::PosixVolume(const std::string& root) : tree_(root), current_(tree_.OpenRoot()) {
  if (!current_.fd.Valid()) throw OsError(errno);
  RemoveLeftoversOnce(current_);
}

void PosixVolume::RemoveLeftoversOnce(const HeldDir& dir) {
  if (!swept_.emplace(dir.dev, dir.ino).second) return;
  if (RemoveLeftovers(dir.fd.Get()) > 0) tree_.Changed();
}

bool PosixVolume::StampOf(const std::string& name, FileStamp& stamp) {
  if (HoldsNul(name)) return false;
  std::string_view dir_part, last;
  SplitLastComponent(name, dir_part, last);
  CatchUpWithCurrentDir();
  HeldDir dir;
  int error = 0;
  std::string real;
  if (!tree_.ResolveDirectory(dir_part, current_, dir, error) ||
      !tree_.FindName(dir, last, real, error) || !FollowToFile(dir, real)) {
    return false;
  }
  struct stat st;
  if (sys::StatAt(dir.fd.Get(), real.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  stamp = StampFrom(st);
  return true;
}

std::unique_ptr<DirSearch> PosixVolume::FindFirst(const std::string& pattern, int& error) {
  error = 0;
  if (HoldsNul(pattern)) {
    error = ENOENT;
    return nullptr;
  }
  std::string_view dir_part, name_pattern;
  SplitLastComponent(pattern, dir_part, name_pattern);
  CatchUpWithCurrentDir();
  HeldDir dir;
  if (!tree_.ResolveDirectory(dir_part, current_, dir, error)) return nullptr;

  std::vector<DirEntry> dots;
  // The root plays a drive's root, which has neither "." nor "..".
  if (!tree_.IsRoot(dir)) {
    for (const char* name : {".", ".."}) {
      if (MatchesWildcard(name_pattern, name)) dots.push_back(DotsEntry(tree_, dir, name));
    }
  }
  if (!HasWildcard(name_pattern)) {
    // One name: the one entry it resolves to, as for every other request.
    std::string real;
    int missing = 0;
    if (tree_.FindName(dir, name_pattern, real, missing)) {
      const ListedForm form = ReadListedForm(dir.fd.Get(), real);
      DirEntry entry;
      if (Describe(tree_, dir, real, form, entry)) {
        if (ListsByAlternate(real, form)) {
          int unread = 0;
          if (auto names = tree_.Names(dir, unread)) {
            DirIndex::Id id = 0;
            if (names->Find(real, id)) entry.AlternateName = names->Alternate(id);
          }
        }
        dots.push_back(std::move(entry));
      }
    }
    return std::make_unique<ListedSearch>(std::move(dots));
  }
  std::shared_ptr<DirIndex> names = tree_.Names(dir, error);
  if (!names) return nullptr;
  return std::make_unique<PatternSearch>(tree_, std::move(dir), std::move(names),
                                         std::string(name_pattern), std::move(dots));
}

bool PosixVolume::LocatorRel(const DirEntry& entry, std::string& rel) const {
  // The host path the search saw; what follows the root is resolved beneath it
  // again, so a forged locator gets no further than a real one.
  const std::string& locator = entry.Locator;
  const std::string prefix = Root() == "/" ? Root() : Root() + "/";
  if (HoldsNul(locator) || locator.compare(0, prefix.size(), prefix) != 0) return false;
  rel = locator.substr(prefix.size());
  return !rel.empty();
}

std::unique_ptr<ReadableFile> PosixVolume::OpenRead(const DirEntry& entry) {
  std::string rel;
  if (!LocatorRel(entry, rel)) return nullptr;
  std::string_view parent_rel, name;
  SplitLastComponent(rel, parent_rel, name);
  HeldDir parent;
  int error = 0;
  if (name.empty() || !tree_.OpenRel(parent_rel, parent, error)) return nullptr;
  // As the search looked at it: a link is followed within the tree, one given by its
  // full path included.
  const int fd = tree_.OpenEntry(parent, std::string(name), O_RDONLY | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return nullptr;
  // A container's header is no part of the C64 file: the load starts after it. It
  // is checked again, in case another program changed the file since the search.
  if (entry.HeaderSize > 0) {
    std::array<std::uint8_t, P00HeaderSize> header{};
    ++sys::CallCount();
    if (entry.HeaderSize != P00HeaderSize ||
        pread(fd, header.data(), header.size(), 0) != static_cast<ssize_t>(header.size()) ||
        !ParseP00Header(header) || lseek(fd, entry.HeaderSize, SEEK_SET) < 0) {
      close(fd);
      return nullptr;
    }
  }
  return ReadableFromFd(fd);
}

bool PosixVolume::FollowToFile(HeldDir& dir, std::string& name) {
  for (int links = 0; links < MaxLinks; ++links) {
    struct stat st;
    if (sys::StatAt(dir.fd.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    if (!S_ISLNK(st.st_mode)) return true;
    char target[PATH_MAX];
    const ssize_t n = sys::ReadLinkAt(dir.fd.Get(), name.c_str(), target, sizeof target);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof target) return false;
    std::string text(target, static_cast<std::size_t>(n));
    std::string rel;
    if (text.front() == '/') {
      // Only a full path into the root stays inside.
      const std::string prefix = Root() == "/" ? Root() : Root() + "/";
      if (text.compare(0, prefix.size(), prefix) != 0) return false;
      rel = text.substr(prefix.size());
    } else {
      rel = JoinRel(dir.rel, text);
    }
    std::string_view parent, last;
    SplitLastComponent(rel, parent, last);
    if (last.empty() || last == "." || last == "..") return false;
    const std::string next_name(last);
    HeldDir next;
    int error = 0;
    if (!tree_.OpenRel(parent == "/" ? std::string_view() : parent, next, error)) return false;
    dir = std::move(next);
    name = next_name;
  }
  return false;
}

namespace {

// The file a save writes into; a host that refuses it (a directory the server may
// not write, a full disk) raises the error, so that the log can say why.
std::unique_ptr<PendingFile> CreatedOrThrow(const SaveTarget& target,
                                            std::shared_ptr<SpareFile> spare) {
  errno = 0;
  std::unique_ptr<PendingFile> file = CreatePendingFile(target, std::move(spare));
  if (!file) throw OsError(errno != 0 ? errno : EIO);
  return file;
}

}  // namespace

std::unique_ptr<PendingFile> PosixVolume::CreateForSave(const std::string& name) {
  if (HoldsNul(name)) return nullptr;
  std::string_view dir_part, last;
  SplitLastComponent(name, dir_part, last);
  const std::string host = PetsciiToHostName(last);
  if (!IsNewName(last) || !IsNewName(host)) return nullptr;
  CatchUpWithCurrentDir();
  HeldDir dir;
  int error = 0;
  if (!tree_.ResolveDirectory(dir_part, current_, dir, error)) return nullptr;

  SaveTarget target;
  std::string real;
  if (!tree_.FindName(dir, last, real, error)) {
    target.dir = dir.fd.Get();
    target.name = host;
    return CreatedOrThrow(target, spare_);
  }
  // A save replaces what a load of the name sends: in a P00 container, the data
  // after its header. The container keeps its host name and its header as it was.
  // (A link is no container, as for a load: the file it leads to is replaced whole.)
  std::array<std::uint8_t, P00HeaderSize> header{};
  const bool container = ReadContainerHeader(dir.fd.Get(), real, header);
  // The entry the name stands for, whichever way it was found; through a link,
  // what it leads to (inside the tree only), so the link stays a link.
  if (IsHiddenName(real) || !FollowToFile(dir, real) || IsHiddenName(real)) return nullptr;
  struct stat st;
  if (sys::StatAt(dir.fd.Get(), real.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return nullptr;
  // Neither a directory nor a FIFO or device is replaced by a saved file, and a
  // read-only file is protected even from root.
  if (!S_ISREG(st.st_mode) || (st.st_mode & S_IWUSR) == 0) return nullptr;
  target.dir = dir.fd.Get();
  target.name = real;
  target.exists = true;
  target.mode = st.st_mode;
  target.uid = st.st_uid;
  target.gid = st.st_gid;
  std::unique_ptr<PendingFile> file = CreatedOrThrow(target, spare_);
  if (container) file->Write(header.data(), header.size());
  return file;
}

bool PosixVolume::Delete(const DirEntry& entry) {
  CatchUpWithCurrentDir();
  std::string locator;
  if (!LocatorRel(entry, locator)) return false;
  const std::size_t slash = locator.rfind('/');
  const std::string parent_rel =
      slash == std::string::npos ? std::string() : locator.substr(0, slash);
  const std::string name = slash == std::string::npos ? locator : locator.substr(slash + 1);
  if (name.empty() || name == "." || name == ".." || IsHiddenName(name)) return false;
  HeldDir parent;
  int error = 0;
  if (!tree_.OpenRel(parent_rel, parent, error)) return false;

  struct stat st;
  if (sys::StatAt(parent.fd.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  bool removed = false;
  if (S_ISDIR(st.st_mode)) {
    // The listing shows it locked ("DIR<"); root could remove it all the same.
    if ((st.st_mode & S_IWUSR) == 0) return false;
    removed = sys::UnlinkAt(parent.fd.Get(), name.c_str(), AT_REMOVEDIR) == 0;
  } else {
    // A link goes, its target stays; but a link to a read-only file or directory
    // is shown read-only, and so it is protected like what it leads to.
    if (S_ISLNK(st.st_mode)) {
      const int fd = tree_.OpenEntry(parent, name, O_PATH);
      struct stat target;
      const bool locked = fd >= 0 && sys::Stat(fd, &target) == 0 &&
                          (S_ISREG(target.st_mode) || S_ISDIR(target.st_mode)) &&
                          (target.st_mode & S_IWUSR) == 0;
      if (fd >= 0) close(fd);
      if (locked) return false;
    } else if ((st.st_mode & S_IWUSR) == 0) {
      return false;  // root could unlink it, but the C64 user sees it locked
    }
    removed = sys::UnlinkAt(parent.fd.Get(), name.c_str(), 0) == 0;
  }
  tree_.Changed();
  if (removed) CatchUpWithCurrentDir();
  return removed;
}

bool PosixVolume::Rename(const std::string& old_name, const std::string& new_name) {
  if (HoldsNul(old_name) || HoldsNul(new_name)) return false;
  std::string_view old_dir_part, old_last, new_dir_part, new_last;
  SplitLastComponent(old_name, old_dir_part, old_last);
  SplitLastComponent(new_name, new_dir_part, new_last);
  const std::string new_real = PetsciiToHostName(new_last);
  if (old_last.empty() || old_last == "." || old_last == ".." || IsHiddenName(old_last) ||
      !IsNewName(new_last) || !IsNewName(new_real)) {
    return false;
  }
  CatchUpWithCurrentDir();
  HeldDir old_dir, new_dir;
  std::string old_real;
  int error = 0;
  if (!tree_.ResolveDirectory(old_dir_part, current_, old_dir, error) ||
      !tree_.FindName(old_dir, old_last, old_real, error) || IsHiddenName(old_real) ||
      !tree_.ResolveDirectory(new_dir_part, current_, new_dir, error)) {
    return false;
  }
  const bool same_dir = old_dir.dev == new_dir.dev && old_dir.ino == new_dir.ino;
  if (tree_.Clashes(new_dir, new_last, same_dir ? std::string_view(old_real) : "")) return false;
  if (ReadListedForm(old_dir.fd.Get(), old_real).HeaderSize > 0) {
    return RenameContainer(old_dir, old_real, new_dir, std::string(new_last));
  }
  tree_.Changed();
  // RENAME_NOREPLACE makes "fails when the new name exists" hold atomically; a file
  // system without it gets the check alone.
  if (sys::RenameAt(old_dir.fd.Get(), old_real.c_str(), new_dir.fd.Get(), new_real.c_str(),
                    RENAME_NOREPLACE) != 0) {
    if (errno != EINVAL && errno != ENOSYS) return false;
    struct stat st;
    if (sys::StatAt(new_dir.fd.Get(), new_real.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
      return false;
    if (sys::RenameAt(old_dir.fd.Get(), old_real.c_str(), new_dir.fd.Get(), new_real.c_str(), 0) !=
        0) {
      return false;
    }
  }
  CatchUpWithCurrentDir();
  return true;
}

bool PosixVolume::RenameContainer(const HeldDir& old_dir, const std::string& real,
                                  const HeldDir& new_dir, const std::string& c64_name) {
  const bool same_dir = old_dir.dev == new_dir.dev && old_dir.ino == new_dir.ino;
  tree_.Changed();
  if (same_dir) {
    const bool renamed = RenameInsideContainer(old_dir.fd.Get(), real, c64_name);
    tree_.FormChanged(old_dir, real);
    return renamed;
  }
  // Into another directory the container goes with its host name, which must be
  // free there; the name inside changes after the move, and a failure to change it
  // moves the container back.
  if (sys::RenameAt(old_dir.fd.Get(), real.c_str(), new_dir.fd.Get(), real.c_str(),
                    RENAME_NOREPLACE) != 0) {
    return false;
  }
  if (!RenameInsideContainer(new_dir.fd.Get(), real, c64_name)) {
    sys::RenameAt(new_dir.fd.Get(), real.c_str(), old_dir.fd.Get(), real.c_str(), RENAME_NOREPLACE);
    return false;
  }
  tree_.FormChanged(new_dir, real);
  CatchUpWithCurrentDir();
  return true;
}

bool PosixVolume::ChangeDir(const std::string& path) {
  CatchUpWithCurrentDir();
  if (path.empty()) {
    current_ = tree_.OpenRoot();
    return current_.fd.Valid();
  }
  HeldDir dir;
  int error = 0;
  if (!tree_.ResolveDirectory(path, current_, dir, error)) return false;
  current_ = std::move(dir);
  RemoveLeftoversOnce(current_);
  return true;
}

bool PosixVolume::MakeDir(const std::string& path) {
  if (HoldsNul(path)) return false;
  std::string_view trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.remove_suffix(1);
  std::string_view dir_part, last;
  SplitLastComponent(trimmed, dir_part, last);
  const std::string host = PetsciiToHostName(last);
  if (!IsNewName(last) || !IsNewName(host)) return false;
  CatchUpWithCurrentDir();
  HeldDir dir;
  int error = 0;
  if (!tree_.ResolveDirectory(dir_part, current_, dir, error)) return false;
  if (tree_.Clashes(dir, last, "")) return false;
  tree_.Changed();
  return sys::MakeDirAt(dir.fd.Get(), host.c_str(), 0777) == 0;
}

std::string PosixVolume::CurrentDirDisplay() const { return tree_.Display(current_); }

void PosixVolume::CatchUpWithCurrentDir() {
  if (current_.fd.Valid() && tree_.StillInside(current_)) return;
  // Removed, or moved out of the tree: the nearest directory above it that still
  // exists, found from the root by the path it had.
  std::string rel = current_.rel;
  while (!rel.empty()) {
    const std::size_t slash = rel.rfind('/');
    rel = slash == std::string::npos ? std::string() : rel.substr(0, slash);
    HeldDir above;
    int error = 0;
    if (tree_.OpenRel(rel, above, error)) {
      current_ = std::move(above);
      return;
    }
  }
  current_ = tree_.OpenRoot();
}

}  // namespace dorvane
