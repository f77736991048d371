// The Volume over a directory tree of the host: the served root and everything
// below it, and nothing outside it, whatever another program does to the tree
// while the C64 works in it.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <utility>

#include "storage/host_tree.h"
#include "storage/posix_files.h"
#include "storage/volume.h"

namespace dorvane {

class PosixVolume : public Volume {
 public:
  // Serves `root` (made absolute and canonical), holding it open. Throws OsError
  // when it is not a directory that can be entered. The process's own current
  // directory is neither used nor changed.
  explicit PosixVolume(const std::string& root);
  PosixVolume(const PosixVolume&) = delete;
  PosixVolume& operator=(const PosixVolume&) = delete;

  std::unique_ptr<DirSearch> FindFirst(const std::string& pattern, int& error) override;
  std::unique_ptr<ReadableFile> OpenRead(const DirEntry& entry) override;
  std::unique_ptr<PendingFile> CreateForSave(const std::string& name) override;
  bool Delete(const DirEntry& entry) override;
  bool Rename(const std::string& old_name, const std::string& new_name) override;
  bool ChangeDir(const std::string& path) override;
  bool MakeDir(const std::string& path) override;
  std::string CurrentDirDisplay() const override;
  bool StampOf(const std::string& name, FileStamp& stamp) override;

  const std::string& Root() const { return tree_.Root(); }
  HostTree& Tree() { return tree_; }

 private:
  // Another program may have renamed, moved or removed the current directory since
  // the last request: a directory still inside is followed; one removed or moved
  // out of the tree gives way to the nearest directory above it that still exists.
  void CatchUpWithCurrentDir();
  // The path from the root that an entry's locator names; false for a locator that
  // no search of this volume made.
  bool LocatorRel(const DirEntry& entry, std::string& rel) const;
  // The final regular file a link of `dir` leads to, as a directory held and a name
  // in it; false when it leads out, nowhere, or round in circles.
  bool FollowToFile(HeldDir& dir, std::string& name);
  // Renames the P00 container `real` of `old_dir` by the name inside it, moving it
  // to `new_dir` (with its host name) when that is another directory.
  bool RenameContainer(const HeldDir& old_dir, const std::string& real, const HeldDir& new_dir,
                       const std::string& c64_name);

  // Removes what saves killed before their end left in `dir`, the first time this
  // volume enters it.
  void RemoveLeftoversOnce(const HeldDir& dir);

  HostTree tree_;
  HeldDir current_;
  std::set<std::pair<dev_t, ino_t>> swept_;
  // The unnamed file the next save into the directory of the last one writes to.
  std::shared_ptr<SpareFile> spare_ = std::make_shared<SpareFile>();
};

}  // namespace dorvane
