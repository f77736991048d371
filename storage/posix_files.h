// The open files of a load and a save on the host.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <memory>
#include <string>

#include "platform/unique_fd.h"
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

// An unnamed file made ahead for the next save into one directory: in a large
// directory on a busy disk the kernel takes from tens of microseconds to
// milliseconds to make one, and the C64 waits for the answer to its save while it
// does. Having no name, the spare leaves nothing behind whatever becomes of the
// server.
class SpareFile {
 public:
  // Makes one in the directory `dir` unless one is held for it. None where the file
  // system has no unnamed files or the directory may not be written.
  void Prepare(int dir) noexcept;
  // The spare's descriptor, given away, when it was made in `dir` and that is still
  // in place and may still be written; -1 otherwise.
  int Take(int dir) noexcept;

 private:
  UniqueFd file_;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
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
//
// With `spare`, the file is the one it holds for the directory when there is one,
// and after the commit it holds a new one for the next save there.
std::unique_ptr<PendingFile> CreatePendingFile(const SaveTarget& target,
                                               std::shared_ptr<SpareFile> spare = nullptr);

// The names of the temporary files begin with this, so they are hidden.
inline constexpr const char* PendingFilePrefix = ".dorvane-save-";

// Removes the temporary files in `dir` that a save killed before its end left:
// regular files named with PendingFilePrefix that no process holds locked.
// Returns how many it removed.
int RemoveLeftovers(int dir);

// The stamp of a file as fstat() described it.
FileStamp StampFrom(const struct stat& st);

}  // namespace dorvane
