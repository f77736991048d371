// The Volume over a directory tree of the host: the served root and everything
// below it, and nothing outside it.
#pragma once

#include <memory>
#include <string>

#include "platform/host_tree.h"
#include "platform/volume.h"

namespace dorvane {

class PosixVolume : public Volume {
 public:
  // Serves `root` (made absolute and canonical) and makes it the process's current
  // directory. Throws OsError when it is not a directory that can be entered.
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

  const std::string& Root() const { return tree_.Root(); }

 private:
  // Name, size and attributes of one entry of `dir`; false when it vanished.
  bool DescribeEntry(const std::string& dir, const std::string& name, DirEntry& entry) const;
  // A rename or delete may have moved or removed the current directory (or one
  // above it); the process's own current directory tells where it went.
  void FollowCurrentDir();
  // Another program may have renamed, moved or removed the current directory since
  // the last request (Linux allows that of a process's current directory): when
  // the stored path no longer names it, follow it before resolving anything.
  void CatchUpWithCurrentDir();

  HostTree tree_;
  std::string current_;  // canonical host path, inside the root
};

}  // namespace dorvane
