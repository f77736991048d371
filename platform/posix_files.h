// The open files of a load and a save on the host.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

#include "platform/volume.h"

namespace dorvane {

// Opens `path` for reading only (read-only files and media must load). nullptr
// when it cannot be opened or is not a regular file; a FIFO is opened without
// blocking, so a load never hangs on one.
std::unique_ptr<ReadableFile> OpenRegularForRead(const std::string& path);

// Where a save lands.
struct SaveTarget {
  std::string dir;   // the target's directory, canonical
  std::string path;  // dir + "/" + the target's name
  // An existing target hands its permission bits and owner to the file that
  // replaces it; a new file gets 0666 less the umask.
  bool exists = false;
  mode_t mode = 0;
  uid_t uid = 0;
  gid_t gid = 0;
};

// A save to `target`, written to a fresh hidden file in the target's own
// directory, so the final rename replaces the target in one step on one file
// system. nullptr when the temporary file cannot be made.
std::unique_ptr<PendingFile> CreatePendingFile(const SaveTarget& target);

// The names of the temporary files begin with this, so they are hidden.
inline constexpr const char* PendingFilePrefix = ".dorvane-save-";

}  // namespace dorvane
