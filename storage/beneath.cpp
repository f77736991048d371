#include "storage/beneath.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <deque>
#include <string>
#include <vector>

#include "platform/sys_calls.h"
#include "platform/unique_fd.h"

namespace dorvane {
namespace {

constexpr int MaxLinks = 40;  // as the kernel's own limit on one lookup

bool walk_forced = false;
bool openat2_missing = false;

void PushFront(std::deque<std::string>& parts, std::string_view path) {
  std::vector<std::string> split;
  std::size_t pos = 0;
  while (pos <= path.size()) {
    std::size_t end = path.find('/', pos);
    if (end == std::string_view::npos) end = path.size();
    split.emplace_back(path.substr(pos, end - pos));
    pos = end + 1;
  }
  parts.insert(parts.begin(), split.begin(), split.end());
}

// The walk for kernels without openat2. `stack` holds the directories entered
// below the root; ".." pops one, and at the root it would lead out.
int WalkBeneath(int root, std::string_view path, int flags) {
  if (!path.empty() && path.front() == '/') {
    errno = EXDEV;
    return -1;
  }
  std::vector<UniqueFd> stack;
  auto current = [&] { return stack.empty() ? root : stack.back().Get(); };
  std::deque<std::string> parts;
  PushFront(parts, path);
  int links = 0;
  while (!parts.empty()) {
    const std::string part = std::move(parts.front());
    parts.pop_front();
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (stack.empty()) {
        errno = EXDEV;
        return -1;
      }
      stack.pop_back();
      continue;
    }
    UniqueFd entry(sys::OpenAt(current(), part.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!entry.Valid()) return -1;
    struct stat st;
    if (sys::Stat(entry.Get(), &st) != 0) return -1;
    if (S_ISLNK(st.st_mode)) {
      if (++links > MaxLinks) {
        errno = ELOOP;
        return -1;
      }
      char target[PATH_MAX];
      // An O_PATH descriptor of a link reads the link itself with an empty name.
      const ssize_t n = sys::ReadLinkAt(entry.Get(), "", target, sizeof target);
      if (n < 0) return -1;
      const std::string_view text(target, static_cast<std::size_t>(n));
      if (text.empty()) {
        errno = ENOENT;
        return -1;
      }
      if (text.front() == '/') {
        errno = EXDEV;
        return -1;
      }
      PushFront(parts, text);
      continue;
    }
    if (!parts.empty()) {
      if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return -1;
      }
      stack.push_back(std::move(entry));
      continue;
    }
    // The last component, opened as asked. It was no link a moment ago; if another
    // program swapped one in since, the walk goes round again through it.
    const int fd = sys::OpenAt(current(), part.c_str(), flags | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
      if (sys::Stat(fd, &st) == 0 && !S_ISLNK(st.st_mode)) return fd;
      close(fd);
    } else if (errno != ELOOP && errno != ENOTDIR) {
      return -1;
    } else {
      // ENOTDIR or ELOOP from a plain file is the answer; from a link, go round.
      const int code = errno;
      if (sys::StatAt(current(), part.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
          !S_ISLNK(st.st_mode)) {
        errno = code;
        return -1;
      }
    }
    if (++links > MaxLinks) {
      errno = ELOOP;
      return -1;
    }
    parts.push_front(part);
  }
  // The path ended on a directory ("", "." or "..").
  return sys::OpenAt(current(), ".", flags | O_CLOEXEC);
}

}  // namespace

void ForceBeneathWalk(bool forced) { walk_forced = forced; }

int OpenBeneath(int root, std::string_view path, int flags) {
  if (path.find('\0') != std::string_view::npos) {
    errno = EINVAL;
    return -1;
  }
  if (walk_forced || openat2_missing) return WalkBeneath(root, path, flags);
  const std::string text = path.empty() ? std::string(".") : std::string(path);
  open_how how{};
  how.flags = static_cast<std::uint64_t>(flags | O_CLOEXEC);
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  for (int attempt = 0; attempt < 8; ++attempt) {
    ++sys::CallCount();
    const long fd = syscall(SYS_openat2, root, text.c_str(), &how, sizeof how);
    if (fd >= 0) return static_cast<int>(fd);
    // EAGAIN: a rename elsewhere raced the lookup, which the kernel will not vouch
    // for; a fresh try sees the tree as it is now.
    if (errno == EAGAIN) continue;
    if (errno == ENOSYS) {
      openat2_missing = true;
      return WalkBeneath(root, path, flags);
    }
    return -1;
  }
  errno = EAGAIN;
  return -1;
}

}  // namespace dorvane
