// Opening a path beneath the served root, with the kernel as the fence: no
// component, symbolic link or ".." may lead out of the root, whatever another
// program does to the tree meanwhile.
#pragma once

#include <sys/types.h>

#include <string_view>

namespace dorvane {

// Opens `path` (host names, relative to the directory `root`, "" for the root
// itself) with the open(2) `flags` (no O_CREAT). Links that stay beneath the root
// are followed; magic links (/proc) never are. Returns a descriptor (close-on-exec)
// or -1 with errno set: EXDEV for a path or link that leads out of the root (an
// absolute path or link among them), ELOOP for more than 40 links, EINVAL for a NUL
// in the path, or what opening the entry gave.
//
// Uses openat2(RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS) where the kernel has it
// (Linux 5.6 on), else walks the path component by component with
// openat(O_NOFOLLOW) and reads each link itself, under the same rules.
int OpenBeneath(int root, std::string_view path, int flags);

// Makes OpenBeneath walk component by component even where openat2 exists, so the
// tests can hold both ways to the same table.
void ForceBeneathWalk(bool forced);

}  // namespace dorvane
