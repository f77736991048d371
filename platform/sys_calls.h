// platform/: thin wrappers of the operating system that the other folders share
// (counted system calls, an owned descriptor, the file-size signal). It
// includes nothing of the rest of Dorvane.
//
// The system calls the served tree makes, each counted. The count lets the tests
// see that a request by an exact name costs a few calls whatever the size of the
// directory, without timing anything.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>

#include <cstdint>

namespace dorvane::sys {

// Calls made through this header since the program started (or since the tests
// last read it); one thread serves, so it is a plain counter.
std::uint64_t& CallCount();

inline int OpenAt(int dir, const char* name, int flags, mode_t mode = 0) {
  ++CallCount();
  return ::openat(dir, name, flags, mode);
}
inline int StatAt(int dir, const char* name, struct stat* st, int flags) {
  ++CallCount();
  return ::fstatat(dir, name, st, flags);
}
inline int Stat(int fd, struct stat* st) {
  ++CallCount();
  return ::fstat(fd, st);
}
inline ssize_t ReadLinkAt(int dir, const char* name, char* buffer, std::size_t size) {
  ++CallCount();
  return ::readlinkat(dir, name, buffer, size);
}
inline int UnlinkAt(int dir, const char* name, int flags) {
  ++CallCount();
  return ::unlinkat(dir, name, flags);
}
inline int LinkAt(int old_dir, const char* old_name, int new_dir, const char* new_name, int flags) {
  ++CallCount();
  return ::linkat(old_dir, old_name, new_dir, new_name, flags);
}
inline int MakeDirAt(int dir, const char* name, mode_t mode) {
  ++CallCount();
  return ::mkdirat(dir, name, mode);
}
inline int RenameAt(int old_dir, const char* old_name, int new_dir, const char* new_name,
                    unsigned flags) {
  ++CallCount();
  return ::renameat2(old_dir, old_name, new_dir, new_name, flags);
}
// One entry of a directory being read: counted per entry, so that a scan of a
// large directory shows in the count however the C library batches its reads.
inline dirent* ReadDir(DIR* dir) {
  ++CallCount();
  return ::readdir(dir);
}

}  // namespace dorvane::sys
