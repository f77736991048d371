// The served directory tree on the host: a held descriptor of its root, the
// directories the C64 works in as held descriptors below it, and the one way a C64
// name turns into the name of a host entry. Every path is resolved by the kernel
// beneath the root's descriptor (storage/beneath.h), so another program moving or
// swapping directories meanwhile can never lead a request out of the tree.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"
#include "storage/dir_names.h"

namespace dorvane {

// A directory inside the tree, held open (O_PATH): operations act on it and one
// bare name, so renames above it never change where they land.
struct HeldDir {
  UniqueFd fd;
  std::string rel;  // the path from the root ("" for the root), for links and the operator
  dev_t dev = 0;
  ino_t ino = 0;
};

class HostTree {
 public:
  // Opens `root`; throws OsError when it is no directory that can be entered.
  explicit HostTree(const std::string& root);

  // The root's canonical host path, for the operator's eyes.
  const std::string& Root() const { return root_; }

  HeldDir OpenRoot() const;
  bool IsRoot(const HeldDir& dir) const { return dir.dev == root_dev_ && dir.ino == root_ino_; }
  // The directory's host path, for the operator's eyes.
  std::string Display(const HeldDir& dir) const;

  // Walks a C64 directory path from `current` (from the root when it starts with
  // "/"): "." stays, ".." goes up but never above the root, every other component
  // is found by FindName and must be a directory that is not hidden. Links that
  // stay inside are followed. False with an errno value (EACCES for a way out or
  // into a hidden directory).
  bool ResolveDirectory(std::string_view path, const HeldDir& current, HeldDir& out, int& error);

  // The one resolution of a C64 name in a directory: the exact host name it maps
  // to (formats/petscii_names.h), then the one entry listed under that without
  // regard to case, then the entry whose alternate name it is, then the entry that
  // lists as it (a host name read back through the mapping, or the C64 name inside
  // a P00 container). `real` gets the entry's own name. False with ENOENT when
  // nothing answers. Whatever the size of the directory, an exact name costs one
  // system call, and in a directory whose index a watch keeps up to date no name
  // costs a search of the directory on the disk.
  bool FindName(const HeldDir& dir, std::string_view name, std::string& real, int& error);

  // The directory's index: its names in listing order with their alternates (kept,
  // and kept up to date, while it is watched).
  std::shared_ptr<DirIndex> Names(const HeldDir& dir, int& error);

  // Opens the entry `real` of `dir` with `flags`, following a link that stays
  // inside. -1 with errno when it cannot.
  int OpenEntry(const HeldDir& dir, const std::string& real, int flags) const;
  // Opens the path `rel` from the root with `flags`, beneath it. -1 with errno.
  int OpenPath(std::string_view rel, int flags) const;
  // Opens the path `rel` from the root as a held directory.
  bool OpenRel(std::string_view rel, HeldDir& out, int& error) const;

  // True when the C64 name `name` would clash with an entry of `dir` in any letter
  // case or by any name the entry is found by, other than the entry `except` (a
  // rename may change the case of its own name). A directory that cannot be read
  // counts as a clash.
  bool Clashes(const HeldDir& dir, std::string_view name, std::string_view except);

  // Checks that `dir` still lies beneath the root, wherever another program has
  // moved it: true with its path brought up to date, false when it was removed or
  // moved out of the tree.
  bool StillInside(HeldDir& dir);

  // Something in the tree changed by our own hand: the names kept catch up with it.
  void Changed() { names_.Changed(); }
  // We rewrote what the entry `name` of `dir` lists as.
  void FormChanged(const HeldDir& dir, const std::string& name) {
    names_.FormChanged(dir.fd.Get(), name);
  }

 private:
  // Wraps a directory descriptor: its identity, and its path read from the kernel
  // (or `rel` when the kernel cannot tell).
  bool Hold(UniqueFd fd, std::string rel, HeldDir& out, int& error) const;
  // The path from the root that the kernel gives for a descriptor; false when it
  // lies elsewhere or was removed.
  bool KernelRel(int fd, std::string& rel) const;

  std::string root_;
  UniqueFd root_fd_;
  dev_t root_dev_ = 0;
  ino_t root_ino_ = 0;
  DirNamesCache names_;
};

// Splits a C64 path at its last "/" into the directory part ("" for none, "/" for
// the root) and the last component.
void SplitLastComponent(std::string_view path, std::string_view& dir, std::string_view& last);

// Joins a path from the root and a name.
std::string JoinRel(std::string_view rel, std::string_view name);

// A name beginning with "." (other than "." and ".."): the host's own settings.
bool IsHiddenName(std::string_view name);

}  // namespace dorvane
