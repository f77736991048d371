#include "storage/host_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "formats/ascii_case.h"
#include "formats/petscii_names.h"
#include "link/os_error.h"
#include "platform/sys_calls.h"
#include "storage/alternate_names.h"
#include "storage/beneath.h"

namespace dorvane {
namespace {

// Deeper than any real tree: the walk up from a directory gives up there.
constexpr int MaxDepth = 4096;

bool IsPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

// Any component of a path from the root that is hidden.
bool LeadsThroughHidden(std::string_view rel) {
  std::size_t pos = 0;
  while (pos < rel.size()) {
    std::size_t end = rel.find('/', pos);
    if (end == std::string_view::npos) end = rel.size();
    if (IsHiddenName(rel.substr(pos, end - pos))) return true;
    pos = end + 1;
  }
  return false;
}

std::string ParentRel(const std::string& rel) {
  const std::size_t slash = rel.rfind('/');
  return slash == std::string::npos ? std::string() : rel.substr(0, slash);
}

}  // namespace

HostTree::HostTree(const std::string& root) {
  char buffer[PATH_MAX];
  if (realpath(root.c_str(), buffer) == nullptr) throw OsError(errno);
  root_ = buffer;
  root_fd_.Reset(open(root_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!root_fd_.Valid()) throw OsError(errno);
  // Looking up "." in it needs the right to search it, as every request will.
  struct stat st;
  if (fstatat(root_fd_.Get(), ".", &st, 0) != 0) throw OsError(errno);
  root_dev_ = st.st_dev;
  root_ino_ = st.st_ino;
}

HeldDir HostTree::OpenRoot() const {
  HeldDir dir;
  dir.fd.Reset(fcntl(root_fd_.Get(), F_DUPFD_CLOEXEC, 0));
  dir.dev = root_dev_;
  dir.ino = root_ino_;
  return dir;
}

std::string HostTree::Display(const HeldDir& dir) const {
  if (dir.rel.empty()) return root_;
  return root_ == "/" ? "/" + dir.rel : root_ + "/" + dir.rel;
}

bool HostTree::KernelRel(int fd, std::string& rel) const {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char buffer[PATH_MAX];
  ++sys::CallCount();
  const ssize_t n = readlink(link, buffer, sizeof buffer);
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer) return false;
  const std::string_view path(buffer, static_cast<std::size_t>(n));
  constexpr std::string_view Deleted = " (deleted)";
  if (path.size() >= Deleted.size() && path.substr(path.size() - Deleted.size()) == Deleted) {
    return false;
  }
  if (path == root_) {
    rel.clear();
    return true;
  }
  const std::string prefix = root_ == "/" ? root_ : root_ + "/";
  if (path.compare(0, prefix.size(), prefix) != 0) return false;
  rel = path.substr(prefix.size());
  return true;
}

bool HostTree::Hold(UniqueFd fd, std::string rel, HeldDir& out, int& error) const {
  struct stat st;
  // A lookup of "." needs the right to search the directory, as entering it does.
  if (sys::StatAt(fd.Get(), ".", &st, 0) != 0) {
    error = errno;
    return false;
  }
  if (!KernelRel(fd.Get(), out.rel)) out.rel = std::move(rel);
  out.fd = std::move(fd);
  out.dev = st.st_dev;
  out.ino = st.st_ino;
  return true;
}

bool HostTree::OpenRel(std::string_view rel, HeldDir& out, int& error) const {
  UniqueFd fd(OpenBeneath(root_fd_.Get(), rel, O_PATH | O_DIRECTORY));
  if (!fd.Valid()) {
    error = errno == EXDEV ? EACCES : errno;
    return false;
  }
  return Hold(std::move(fd), std::string(rel), out, error);
}

int HostTree::OpenEntry(const HeldDir& dir, const std::string& real, int flags) const {
  const int fd = sys::OpenAt(dir.fd.Get(), real.c_str(), flags | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) {
    struct stat st;
    // O_PATH with O_NOFOLLOW opens a link itself rather than refusing it.
    if ((flags & O_PATH) == 0 || (sys::Stat(fd, &st) == 0 && !S_ISLNK(st.st_mode))) return fd;
    close(fd);
  } else if (errno != ELOOP && errno != ENOTDIR) {
    return -1;
  }
  // A link (or what looked like one): the kernel follows it from the root, beneath it.
  const int linked = OpenBeneath(root_fd_.Get(), JoinRel(dir.rel, real), flags);
  if (linked >= 0 || errno != EXDEV) return linked;
  // The kernel takes every absolute link for one leading out; one that names a
  // place inside the root by its full path is followed from the root instead.
  char target[PATH_MAX];
  const ssize_t n = sys::ReadLinkAt(dir.fd.Get(), real.c_str(), target, sizeof target);
  const std::string prefix = root_ == "/" ? root_ : root_ + "/";
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof target) {
    errno = EXDEV;
    return -1;
  }
  const std::string_view text(target, static_cast<std::size_t>(n));
  if (text == root_) return OpenBeneath(root_fd_.Get(), "", flags);
  if (text.compare(0, prefix.size(), prefix) == 0) {
    return OpenBeneath(root_fd_.Get(), text.substr(prefix.size()), flags);
  }
  errno = EXDEV;
  return -1;
}

int HostTree::OpenPath(std::string_view rel, int flags) const {
  return OpenBeneath(root_fd_.Get(), rel, flags);
}

bool HostTree::ResolveDirectory(std::string_view path, const HeldDir& current, HeldDir& out,
                                int& error) {
  if (path.find('\0') != std::string_view::npos) {
    error = EINVAL;
    return false;
  }
  HeldDir at;
  if ((!path.empty() && path.front() == '/') || !current.fd.Valid()) {
    at = OpenRoot();
  } else {
    at.fd.Reset(fcntl(current.fd.Get(), F_DUPFD_CLOEXEC, 0));
    at.rel = current.rel;
    at.dev = current.dev;
    at.ino = current.ino;
  }
  if (!at.fd.Valid()) {
    error = errno;
    return false;
  }
  std::size_t pos = 0;
  while (pos <= path.size()) {
    std::size_t end = path.find('/', pos);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(pos, end - pos);
    pos = end + 1;
    if (part.empty() || part == ".") continue;
    HeldDir next;
    if (part == "..") {
      if (IsRoot(at)) continue;
      // Up by the path from the root, resolved beneath it: the parent of a directory
      // that was moved out of the tree is not ours to enter.
      if (!OpenRel(ParentRel(at.rel), next, error)) return false;
      at = std::move(next);
      continue;
    }
    std::string real;
    if (!FindName(at, part, real, error)) return false;
    if (IsHiddenName(real)) {
      error = EACCES;
      return false;
    }
    UniqueFd fd(OpenEntry(at, real, O_PATH | O_DIRECTORY));
    if (!fd.Valid()) {
      error = errno == EXDEV ? EACCES : errno;
      return false;
    }
    if (!Hold(std::move(fd), JoinRel(at.rel, real), next, error)) return false;
    // Through a link into a hidden directory is still into a hidden directory.
    if (LeadsThroughHidden(next.rel)) {
      error = EACCES;
      return false;
    }
    at = std::move(next);
  }
  out = std::move(at);
  return true;
}

bool HostTree::FindName(const HeldDir& dir, std::string_view name, std::string& real, int& error) {
  error = ENOENT;
  if (!IsPlainName(name)) return false;
  const std::string exact = PetsciiToHostName(name);
  // Where the watch keeps the index up to date, it answers alone: asking the kernel
  // for a name that is not there means searching a large directory on the disk.
  std::shared_ptr<DirIndex> names = names_.GetWatched(dir.fd.Get());
  if (names && names->Contains(exact)) {
    real = exact;
    return true;
  }
  if (!names) {
    struct stat st;
    if (sys::StatAt(dir.fd.Get(), exact.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      real = exact;
      return true;
    }
    names = Names(dir, error);
    if (!names) return false;
  }
  DirIndex::Id id = 0;
  const bool found =
      names->FindFolded(exact, id) || names->FindAlternate(name, id) || names->FindListed(name, id);
  if (!found) {
    error = ENOENT;
    return false;
  }
  real = names->Name(id);
  return true;
}

std::shared_ptr<DirIndex> HostTree::Names(const HeldDir& dir, int& error) {
  return names_.Get(dir.fd.Get(), error);
}

bool HostTree::Clashes(const HeldDir& dir, std::string_view name, std::string_view except) {
  const std::string exact = PetsciiToHostName(name);
  struct stat st;
  if (exact != except && sys::StatAt(dir.fd.Get(), exact.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    return true;
  }
  int error = 0;
  const std::shared_ptr<DirIndex> names = Names(dir, error);
  if (!names) return true;  // cannot tell: refuse
  if (names->AnyFolded(exact, except)) return true;
  // A new entry under another's alternate or listed name would take that name from it.
  DirIndex::Id id = 0;
  if (names->FindAlternate(name, id) && names->Name(id) != except) return true;
  return names->FindListed(name, id) && names->Name(id) != except;
}

bool HostTree::StillInside(HeldDir& dir) {
  if (IsRoot(dir)) return true;
  std::string rel;
  if (KernelRel(dir.fd.Get(), rel)) {
    HeldDir check;
    int error = 0;
    if (OpenRel(rel, check, error) && check.dev == dir.dev && check.ino == dir.ino) {
      dir.rel = std::move(check.rel);
      return true;
    }
  }
  // The kernel's path does not lead back to it: walk up by "..", and only reaching
  // the root's own device and inode counts as inside.
  UniqueFd at(fcntl(dir.fd.Get(), F_DUPFD_CLOEXEC, 0));
  struct stat here;
  if (!at.Valid() || sys::Stat(at.Get(), &here) != 0 || here.st_nlink == 0) return false;
  for (int depth = 0; depth < MaxDepth; ++depth) {
    UniqueFd up(sys::OpenAt(at.Get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat st;
    if (!up.Valid() || sys::Stat(up.Get(), &st) != 0) return false;
    if (st.st_dev == root_dev_ && st.st_ino == root_ino_) return true;
    if (st.st_dev == here.st_dev && st.st_ino == here.st_ino) return false;  // the host's "/"
    here = st;
    at = std::move(up);
  }
  return false;
}

void SplitLastComponent(std::string_view path, std::string_view& dir, std::string_view& last) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) {
    dir = {};
    last = path;
  } else {
    dir = slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
    last = path.substr(slash + 1);
  }
}

std::string JoinRel(std::string_view rel, std::string_view name) {
  std::string out(rel);
  if (!out.empty()) out.push_back('/');
  out.append(name);
  return out;
}

bool IsHiddenName(std::string_view name) {
  return !name.empty() && name.front() == '.' && name != "." && name != "..";
}

}  // namespace dorvane
