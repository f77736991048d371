#include "platform/host_tree.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/alternate_names.h"
#include "platform/ascii_case.h"
#include "platform/posix_files.h"

namespace dorvane {

HostTree::HostTree(std::string root) : root_(std::move(root)) {}

bool HostTree::IsInside(const std::string& path) const {
  if (root_ == "/") return !path.empty() && path.front() == '/';
  if (path.compare(0, root_.size(), root_) != 0) return false;
  return path.size() == root_.size() || path[root_.size()] == '/';
}

bool HostTree::Confine(const std::string& path, std::string& canonical, int& error) const {
  if (path.find('\0') != std::string::npos) {
    error = EINVAL;
    return false;
  }
  char buffer[PATH_MAX];
  if (realpath(path.c_str(), buffer) == nullptr) {
    error = errno;
    return false;
  }
  canonical = buffer;
  if (!IsInside(canonical)) {
    error = EACCES;
    return false;
  }
  return true;
}

bool HostTree::ResolveDirectory(std::string_view path, const std::string& current, std::string& dir,
                                int& error) const {
  if (path.find('\0') != std::string_view::npos) {
    error = EINVAL;
    return false;
  }
  std::string at = (!path.empty() && path.front() == '/') ? root_ : current;
  std::size_t pos = 0;
  while (pos <= path.size()) {
    std::size_t end = path.find('/', pos);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(pos, end - pos);
    pos = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      // `at` is canonical, so its parent is its text up to the last "/".
      if (at != root_) {
        const std::size_t slash = at.rfind('/');
        at = slash == 0 ? std::string("/") : at.substr(0, slash);
      }
      continue;
    }
    std::string real;
    if (!LookupEntry(at, part, real, error)) return false;
    std::string next;
    if (!Confine(Join(at, real), next, error)) return false;
    struct stat st;
    if (stat(next.c_str(), &st) != 0) {
      error = errno;
      return false;
    }
    if (!S_ISDIR(st.st_mode)) {
      error = ENOTDIR;
      return false;
    }
    at = std::move(next);
  }
  dir = std::move(at);
  return true;
}

bool HostTree::LookupEntry(const std::string& dir, std::string_view name, std::string& real,
                           int& error) const {
  if (FindFolded(dir, name, real)) return true;
  std::vector<std::string> names;
  if (!NeedsAlternateName(name) && !name.empty() && name.find('\0') == std::string_view::npos &&
      ReadNames(dir, names, error)) {
    const std::vector<std::string> alternates = AlternateNamesFor(names);
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (!alternates[i].empty() && EqualsFolded(alternates[i], name)) {
        real = names[i];
        return true;
      }
    }
  }
  error = ENOENT;
  return false;
}

bool HostTree::FindFolded(const std::string& dir, std::string_view name, std::string& real) {
  if (name.empty() || name == "." || name == ".." ||
      name.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos) {
    return false;
  }
  struct stat st;
  if (lstat(Join(dir, name).c_str(), &st) == 0) {
    real = name;
    return true;
  }
  std::vector<std::string> names;
  int error = 0;
  if (!ReadNames(dir, names, error)) return false;
  // The names are in listing order, so of "FOO" and "Foo" the same one always wins.
  for (const std::string& candidate : names) {
    if (EqualsFolded(candidate, name)) {
      real = candidate;
      return true;
    }
  }
  return false;
}

bool HostTree::ReadNames(const std::string& dir, std::vector<std::string>& names, int& error) {
  DIR* handle = opendir(dir.c_str());
  if (handle == nullptr) {
    error = errno;
    return false;
  }
  names.clear();
  errno = 0;
  while (const dirent* entry = readdir(handle)) {
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
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return NameOrderLess(a, b); });
  return true;
}

std::string HostTree::Join(const std::string& dir, std::string_view name) {
  std::string out = dir;
  if (out.empty() || out.back() != '/') out.push_back('/');
  out.append(name);
  return out;
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

}  // namespace dorvane
