// The served directory tree on the host: how C64 paths turn into host paths, and
// the fence that keeps every one of them at or below the served root.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dorvane {

class HostTree {
 public:
  // `root` must already be absolute and canonical (realpath).
  explicit HostTree(std::string root);

  const std::string& Root() const { return root_; }

  // True when the canonical host path `path` is the root or lies below it.
  bool IsInside(const std::string& path) const;

  // The canonical form of `path` when it exists and lies inside; otherwise false
  // with errno's value for a missing path, or EACCES for one that leads outside.
  bool Confine(const std::string& path, std::string& canonical, int& error) const;

  // Walks a C64 directory path from `current` (or from the root when it starts
  // with "/"): "." stays, ".." goes up but never above the root, every other
  // component is looked up as LookupEntry does. Symbolic links are followed; the
  // result is canonical and inside, else false with an errno value.
  bool ResolveDirectory(std::string_view path, const std::string& current, std::string& dir,
                        int& error) const;

  // Finds `name` in the directory `dir`: the exact name, then the first entry
  // equal without regard to case, then an entry whose alternate name it is.
  // `real` gets the entry's own name. False with ENOENT when nothing answers.
  bool LookupEntry(const std::string& dir, std::string_view name, std::string& real,
                   int& error) const;

  // As LookupEntry, without the alternate names: for the names a save, a rename
  // or a new directory would take, which must not clash with an existing entry in
  // another letter case.
  static bool FindFolded(const std::string& dir, std::string_view name, std::string& real);

  // The entry names of `dir` without "." and ".." and our temporary save files,
  // in listing order.
  static bool ReadNames(const std::string& dir, std::vector<std::string>& names, int& error);

  static std::string Join(const std::string& dir, std::string_view name);

 private:
  std::string root_;
};

// Splits a C64 path at its last "/" into the directory part ("" for none, "/" for
// the root) and the last component.
void SplitLastComponent(std::string_view path, std::string_view& dir, std::string_view& last);

}  // namespace dorvane
