// The open files of a load and a save on the host.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <memory>
#include <string>

#include "storage/volume.h"

namespace dorvane {

// A load from the open descriptor `fd` (taken over, closed on failure). nullptr when
// it is no regular file. Opened with O_NONBLOCK, so that a FIFO never hangs the
// open; reads then block as usual.
std::unique_ptr<ReadableFile> ReadableFromFd(int fd);

// Where a save lands: one bare name in one directory held open.
struct SaveTarget {
  int dir = -1;      // the directory's descriptor (duplicated by CreatePendingFile)
  std::string name;  // the target's name in it
  // An existing target hands its permission bits and owner to the file that
  // replaces it; a new file gets 0666 less the umask.
  bool exists = false;
  mode_t mode = 0;
  uid_t uid = 0;
  gid_t gid = 0;
};

// A save to `target`, written to a file with no name (O_TMPFILE) in the target's
// own directory, which gets a name only at the commit: a new target is linked in
// place at once, an existing one replaced by a rename from a hidden name linked
// just before. A crash at any moment but between those two calls leaves nothing
// behind. Where the file system has no unnamed files, the data goes to a hidden
// file from the start, as before. Either way the file is flock()ed while it is ours,
// so RemoveLeftovers tells a live save from a dead one. The directory stays held
// from here to the commit: wherever another program moves it, the data lands in
// it or nowhere. nullptr when the temporary file cannot be made.
std::unique_ptr<PendingFile> CreatePendingFile(const SaveTarget& target);

// The names of the temporary files begin with this, so they are hidden.
inline constexpr const char* PendingFilePrefix = ".dorvane-save-";

// Removes the temporary files in `dir` that a save killed before its end left:
// regular files named with PendingFilePrefix that no process holds locked.
// Returns how many it removed.
int RemoveLeftovers(int dir);

// The stamp of a file as fstat() described it.
FileStamp StampFrom(const struct stat& st);

}  // namespace dorvane
