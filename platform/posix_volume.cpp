#include "platform/posix_volume.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <utility>
#include <vector>

#include "link/os_error.h"
#include "platform/alternate_names.h"
#include "platform/ascii_case.h"
#include "platform/posix_files.h"
#include "platform/wildcard.h"

namespace dorvane {
namespace {

class ListedSearch : public DirSearch {
 public:
  explicit ListedSearch(std::vector<DirEntry> entries) : entries_(std::move(entries)) {}
  bool Next(DirEntry& entry) override {
    if (next_ >= entries_.size()) return false;
    entry = std::move(entries_[next_++]);
    return true;
  }

 private:
  std::vector<DirEntry> entries_;
  std::size_t next_ = 0;
};

bool HoldsNul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

// A name that a save, a rename or a new directory may give an entry.
bool IsNewName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.size() <= NAME_MAX &&
         !HasWildcard(name) && !HoldsNul(name) && name.find('/') == std::string_view::npos;
}

// True when `dir` holds an entry named `name` in any letter case, other than the
// entry `except` (a rename may change the case of its own name).
bool ClashesFolded(const std::string& dir, std::string_view name, std::string_view except) {
  struct stat st;
  if (name != except && lstat(HostTree::Join(dir, name).c_str(), &st) == 0) return true;
  std::vector<std::string> names;
  int error = 0;
  if (!HostTree::ReadNames(dir, names, error)) return true;  // cannot tell: refuse
  for (const std::string& candidate : names) {
    if (candidate != except && EqualsFolded(candidate, name)) return true;
  }
  return false;
}

std::string CanonicalRoot(const std::string& root) {
  char buffer[PATH_MAX];
  if (realpath(root.c_str(), buffer) == nullptr) throw OsError(errno);
  struct stat st;
  if (stat(buffer, &st) != 0) throw OsError(errno);
  if (!S_ISDIR(st.st_mode)) throw OsError(ENOTDIR);
  return buffer;
}

}  // namespace

PosixVolume::PosixVolume(const std::string& root) : tree_(CanonicalRoot(root)) {
  if (chdir(tree_.Root().c_str()) != 0) throw OsError(errno);
  current_ = tree_.Root();
}

bool PosixVolume::DescribeEntry(const std::string& dir, const std::string& name,
                                DirEntry& entry) const {
  const std::string path = HostTree::Join(dir, name);
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return false;
  entry.Name = name;
  entry.Locator = path;
  entry.Size = 0;
  entry.Attributes = 0;
  bool usable = true;
  if (S_ISLNK(st.st_mode)) {
    // A link counts as what it leads to, as long as that is inside the tree. A
    // dangling link, or one leading out, is nothing a load may open.
    std::string target;
    int error = 0;
    usable = tree_.Confine(path, target, error) && stat(target.c_str(), &st) == 0;
  }
  if (!usable) {
    entry.Attributes = faSystem;
  } else if (S_ISDIR(st.st_mode)) {
    entry.Attributes = faDirectory;
  } else if (S_ISREG(st.st_mode)) {
    entry.Size = static_cast<std::uint64_t>(st.st_size);
  } else {
    // FIFOs, sockets and devices: a load passes over them and never blocks on one.
    entry.Attributes = faSystem;
  }
  if (usable && (st.st_mode & S_IWUSR) == 0) entry.Attributes |= faReadOnly;
  if (name.front() == '.') entry.Attributes |= faHidden;
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
  std::string dir;
  if (!tree_.ResolveDirectory(dir_part, current_, dir, error)) return nullptr;
  std::vector<std::string> names;
  if (!HostTree::ReadNames(dir, names, error)) return nullptr;
  const std::vector<std::string> alternates = AlternateNamesFor(names);

  std::vector<DirEntry> found;
  // The root plays a drive's root, which has neither "." nor "..".
  if (dir != tree_.Root()) {
    for (const char* dots : {".", ".."}) {
      if (!MatchesWildcard(name_pattern, dots)) continue;
      DirEntry entry;
      entry.Name = dots;
      entry.Attributes = faDirectory;
      entry.Locator = HostTree::Join(dir, dots);
      found.push_back(std::move(entry));
    }
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!MatchesWildcard(name_pattern, names[i]) &&
        (alternates[i].empty() || !MatchesWildcard(name_pattern, alternates[i]))) {
      continue;
    }
    DirEntry entry;
    if (!DescribeEntry(dir, names[i], entry)) continue;
    entry.AlternateName = alternates[i];
    found.push_back(std::move(entry));
  }
  return std::make_unique<ListedSearch>(std::move(found));
}

std::unique_ptr<ReadableFile> PosixVolume::OpenRead(const DirEntry& entry) {
  std::string path;
  int error = 0;
  if (entry.Locator.empty() || !tree_.Confine(entry.Locator, path, error)) return nullptr;
  return OpenRegularForRead(path);
}

std::unique_ptr<PendingFile> PosixVolume::CreateForSave(const std::string& name) {
  if (HoldsNul(name)) return nullptr;
  std::string_view dir_part, last;
  SplitLastComponent(name, dir_part, last);
  if (!IsNewName(last)) return nullptr;
  CatchUpWithCurrentDir();
  SaveTarget target;
  int error = 0;
  if (!tree_.ResolveDirectory(dir_part, current_, target.dir, error)) return nullptr;

  std::string existing;
  if (!HostTree::FindFolded(target.dir, last, existing)) {
    target.path = HostTree::Join(target.dir, last);
    if (target.path.size() >= PATH_MAX) return nullptr;
    return CreatePendingFile(target);
  }
  // Keep the existing entry's spelling; through a link, replace what it leads to
  // (inside the tree only), so the link stays a link.
  target.path = HostTree::Join(target.dir, existing);
  std::string resolved;
  if (!tree_.Confine(target.path, resolved, error)) return nullptr;
  struct stat st;
  if (stat(resolved.c_str(), &st) != 0) return nullptr;
  // Neither a directory nor a FIFO or device is replaced by a saved file, and a
  // read-only file is protected even from root.
  if (!S_ISREG(st.st_mode) || (st.st_mode & S_IWUSR) == 0) return nullptr;
  target.path = resolved;
  target.dir = resolved.substr(0, resolved.rfind('/'));
  if (target.dir.empty()) target.dir = "/";
  target.exists = true;
  target.mode = st.st_mode;
  target.uid = st.st_uid;
  target.gid = st.st_gid;
  return CreatePendingFile(target);
}

bool PosixVolume::Delete(const DirEntry& entry) {
  CatchUpWithCurrentDir();
  const std::string& locator = entry.Locator;
  if (HoldsNul(locator)) return false;
  const std::size_t slash = locator.rfind('/');
  if (slash == std::string::npos) return false;
  const std::string name = locator.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") return false;
  std::string parent;
  int error = 0;
  if (!tree_.Confine(slash == 0 ? "/" : locator.substr(0, slash), parent, error)) return false;
  const std::string path = HostTree::Join(parent, name);
  if (path == tree_.Root()) return false;

  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return false;
  bool removed = false;
  if (S_ISDIR(st.st_mode)) {
    // The listing shows it locked ("DIR<"); root could remove it all the same.
    if ((st.st_mode & S_IWUSR) == 0) return false;
    removed = rmdir(path.c_str()) == 0;
  } else {
    // A link goes, its target stays; but a link to a read-only file or directory
    // is shown read-only, and so it is protected like what it leads to.
    struct stat target;
    if (S_ISLNK(st.st_mode)) {
      std::string resolved;
      if (tree_.Confine(path, resolved, error) && stat(resolved.c_str(), &target) == 0 &&
          (S_ISREG(target.st_mode) || S_ISDIR(target.st_mode)) && (target.st_mode & S_IWUSR) == 0) {
        return false;
      }
    } else if ((st.st_mode & S_IWUSR) == 0) {
      return false;  // root could unlink it, but the C64 user sees it locked
    }
    removed = unlink(path.c_str()) == 0;
  }
  if (removed) FollowCurrentDir();
  return removed;
}

bool PosixVolume::Rename(const std::string& old_name, const std::string& new_name) {
  if (HoldsNul(old_name) || HoldsNul(new_name)) return false;
  std::string_view old_dir_part, old_last, new_dir_part, new_last;
  SplitLastComponent(old_name, old_dir_part, old_last);
  SplitLastComponent(new_name, new_dir_part, new_last);
  if (old_last.empty() || old_last == "." || old_last == ".." || !IsNewName(new_last)) {
    return false;
  }
  CatchUpWithCurrentDir();
  std::string old_dir, new_dir, old_real;
  int error = 0;
  if (!tree_.ResolveDirectory(old_dir_part, current_, old_dir, error) ||
      !tree_.LookupEntry(old_dir, old_last, old_real, error) ||
      !tree_.ResolveDirectory(new_dir_part, current_, new_dir, error)) {
    return false;
  }
  const std::string old_path = HostTree::Join(old_dir, old_real);
  const std::string new_path = HostTree::Join(new_dir, new_last);
  if (new_path.size() >= PATH_MAX) return false;
  if (ClashesFolded(new_dir, new_last, new_dir == old_dir ? std::string_view(old_real) : "")) {
    return false;
  }
  // RENAME_NOREPLACE closes the gap between the check and the rename; a file
  // system without it gets the check alone.
  if (renameat2(AT_FDCWD, old_path.c_str(), AT_FDCWD, new_path.c_str(), RENAME_NOREPLACE) != 0) {
    if (errno != EINVAL && errno != ENOSYS) return false;
    struct stat st;
    if (lstat(new_path.c_str(), &st) == 0) return false;
    if (rename(old_path.c_str(), new_path.c_str()) != 0) return false;
  }
  FollowCurrentDir();
  return true;
}

bool PosixVolume::ChangeDir(const std::string& path) {
  CatchUpWithCurrentDir();
  std::string dir;
  int error = 0;
  if (path.empty()) {
    dir = tree_.Root();
  } else if (!tree_.ResolveDirectory(path, current_, dir, error)) {
    return false;
  }
  if (chdir(dir.c_str()) != 0) return false;
  current_ = std::move(dir);
  return true;
}

bool PosixVolume::MakeDir(const std::string& path) {
  if (HoldsNul(path)) return false;
  std::string_view trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.remove_suffix(1);
  std::string_view dir_part, last;
  SplitLastComponent(trimmed, dir_part, last);
  if (!IsNewName(last)) return false;
  CatchUpWithCurrentDir();
  std::string dir;
  int error = 0;
  if (!tree_.ResolveDirectory(dir_part, current_, dir, error)) return false;
  if (ClashesFolded(dir, last, "")) return false;
  const std::string target = HostTree::Join(dir, last);
  return target.size() < PATH_MAX && mkdir(target.c_str(), 0777) == 0;
}

std::string PosixVolume::CurrentDirDisplay() const { return current_; }

void PosixVolume::CatchUpWithCurrentDir() {
  // Compared by identity, not by path alone: a new directory may have been made
  // under the old name, and a removed one still answers stat(".") with no links.
  struct stat stored, real;
  if (stat(current_.c_str(), &stored) == 0 && S_ISDIR(stored.st_mode) && stat(".", &real) == 0 &&
      real.st_nlink > 0 && stored.st_dev == real.st_dev && stored.st_ino == real.st_ino) {
    return;
  }
  FollowCurrentDir();
}

void PosixVolume::FollowCurrentDir() {
  char buffer[PATH_MAX];
  std::string moved;
  int error = 0;
  if (getcwd(buffer, sizeof buffer) != nullptr && tree_.Confine(buffer, moved, error)) {
    current_ = std::move(moved);
    return;
  }
  // The current directory was removed: fall back to the nearest directory above
  // it that still exists.
  std::string at = current_;
  while (at != tree_.Root()) {
    at = at.substr(0, at.rfind('/'));
    if (at.empty()) at = "/";
    struct stat st;
    if (stat(at.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && tree_.Confine(at, moved, error)) break;
  }
  if (at == tree_.Root()) moved = tree_.Root();
  if (chdir(moved.c_str()) == 0) current_ = std::move(moved);
}

}  // namespace dorvane
