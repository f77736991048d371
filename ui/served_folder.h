// A host folder as the C64 is served it, the disk images in it included, owning
// both layers: what the window opens when the operator picks another folder.
#pragma once

#include <string>

#include "storage/posix_volume.h"
#include "storage/served_volume.h"

namespace dorvane {

namespace detail {
// Comes first among ServedFolder's bases, so the tree is there before the layer
// over it takes its reference.
struct HostFolder {
  explicit HostFolder(const std::string& root) : Host(root) {}
  PosixVolume Host;
};
}  // namespace detail

class ServedFolder : private detail::HostFolder, public ServedVolume {
 public:
  // Throws OsError when `root` cannot be opened as a directory.
  explicit ServedFolder(const std::string& root) : HostFolder(root), ServedVolume(Host) {}
};

}  // namespace dorvane
