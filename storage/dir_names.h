// The last directories read, kept as indexes (storage/dir_index.h) while they do
// not change, so that a request in a large directory need not read it again.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/unique_fd.h"
#include "storage/dir_index.h"

namespace dorvane {

// Reads the names of the directory `dir` (any descriptor of it, O_PATH included)
// with what each lists as: all but ".", ".." and our own temporary save files.
// False with an errno value.
bool ReadDirIndex(int dir, DirIndex& index, int& error);

// For the tests: as if no directory could be watched (no inotify, or no watches
// left), so that the cache falls back on the directory's times.
void ForceUnwatchedDirectories(bool forced);

class DirNamesCache {
 public:
  // The index of the directory `dir`. One kept from an earlier read is handed out
  // while an inotify watch set before that read keeps it up to date: every entry
  // added, removed or renamed since, by us or by another program, is applied to it
  // in place; times that moved without a word from the watch mean a change it could
  // not see. A file system that others change over the network gets no watch.
  // Without a watch an index is kept only while the directory's identity and
  // change times are the same and its modification time was already well in the
  // past when it was read: a file system's clock ticks coarsely, and a change in the
  // same tick would not show.
  //
  // The index handed out stays as it is while it is held: a change that arrives
  // meanwhile makes the cache read the directory afresh next time.
  std::shared_ptr<DirIndex> Get(int dir, int& error);
  // The index of `dir` only if one is kept and its watch has told of every change
  // up to now, so that a name it lacks is not there; never reads the directory.
  std::shared_ptr<DirIndex> GetWatched(int dir);

  // A change of our own in a directory: an index without a watch to tell of it is
  // dropped, and the changes are applied to the others.
  void Changed();
  // We rewrote what the entry `name` of the directory `dir` lists as (a container's
  // header): no watch tells of that.
  void FormChanged(int dir, const std::string& name);
  // Drops every index.
  void Forget();

 private:
  struct Kept {
    dev_t dev = 0;
    ino_t ino = 0;
    timespec mtime{};
    timespec ctime{};
    UniqueFd dir;  // to read a new entry's form
    std::shared_ptr<DirIndex> index;
    int watch = -1;           // its inotify watch; -1 for none
    std::size_t changes = 0;  // applied at the present look
    bool heard = false;       // whether the watch told of a change since the last Get
    // New entries named as containers whose header did not show yet, with the time
    // they were seen (CLOCK_MONOTONIC seconds).
    std::vector<std::pair<std::string, time_t>> unsure;
  };
  // Applies the changes the watch has seen since the last look.
  void CatchUpWithChanges();
  // The index kept for the directory described by `st` while it is still good
  // (one gone stale is dropped); nullptr when there is none.
  Kept* Current(const struct stat& st);
  void Apply(std::size_t kept, std::uint32_t mask, std::string_view name);
  // Reads the headers of new containers again that did not show when they came.
  void LookAgain(Kept& kept);
  void Drop(std::size_t kept);
  // Starts watching the directory `dir` for changes of its entries, before it is
  // read, so that no change after the read goes unseen; -1 when it cannot be.
  int Watch(int dir);
  void Unwatch(int watch);

  UniqueFd watcher_;  // an inotify descriptor, once the first directory is read
  bool watcher_tried_ = false;
  std::vector<Kept> kept_;  // most recent last; a few directories at most
};

}  // namespace dorvane
