#include "storage/dir_names.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>

#include "formats/p00_file.h"
#include "platform/sys_calls.h"
#include "storage/posix_files.h"

namespace dorvane {
namespace {

constexpr std::size_t KeptDirectories = 4;
// A directory changed less than this before it was read is read again next time,
// unless a watch tells of its changes.
constexpr time_t SettledSeconds = 2;

// The most new containers of one directory whose header is looked for again.
constexpr std::size_t MaxUnsure = 64;

// A burst of changes of one directory is applied to its index while it is no more
// than this many changes or this share of the entries: past both, reading the
// directory afresh costs about as much.
constexpr std::size_t ChangesAlwaysApplied = 1000;
constexpr std::size_t ChangesShareDivisor = 2;

// Only changes of the directory's own entries: events on what is inside them (a
// file written) would make the kernel mark every entry of a large directory when
// the watch is set.
constexpr std::uint32_t EntryEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;

bool unwatched_forced = false;

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Our own temporary save files, those a killed server left behind included, are
// never the C64's: listed, they would not load, and they would shift the alternate
// names of real entries whenever a save runs.
bool IsOurs(std::string_view name) { return name.rfind(PendingFilePrefix, 0) == 0; }

// Whether inotify hears of every change of a directory on a file system of this
// type: not where other machines or a user-space server change it.
bool SeesEveryChange(unsigned long type) {
  static constexpr unsigned long Remote[] = {
      0x6969,      // NFS
      0x517B,      // SMB
      0xFE534D42,  // SMB2
      0xFF534D42,  // CIFS
      0x65735546,  // FUSE: sshfs, virtiofs, ntfs-3g and the like
      0x01021997,  // 9p, the shared folders of virtual machines
      0x00C36400,  // Ceph
      0x5346414F,  // AFS
      0x6B414653,  // kAFS
      0x73757245,  // Coda
      0x564C,      // NCP
      0x01161970,  // GFS2
      0x7461636F,  // OCFS2
      0x0BD00BD0,  // Lustre
      0x19920810,  // OrangeFS
  };
  return std::find(std::begin(Remote), std::end(Remote), type) == std::end(Remote);
}

}  // namespace

void ForceUnwatchedDirectories(bool forced) { unwatched_forced = forced; }

bool ReadDirIndex(int dir, DirIndex& index, int& error) {
  const int fd = sys::OpenAt(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return false;
  }
  DIR* handle = fdopendir(fd);
  if (handle == nullptr) {
    error = errno;
    close(fd);
    return false;
  }
  errno = 0;
  while (const dirent* entry = sys::ReadDir(handle)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != ".." && !IsOurs(name)) {
      index.Add(name, ReadListedForm(dir, entry->d_name));
    }
    errno = 0;
  }
  const int read_error = errno;
  closedir(handle);
  if (read_error != 0) {
    error = read_error;
    return false;
  }
  return true;
}

void DirNamesCache::Forget() {
  for (const Kept& kept : kept_) Unwatch(kept.watch);
  kept_.clear();
}

void DirNamesCache::Changed() {
  CatchUpWithChanges();
  for (std::size_t i = kept_.size(); i-- > 0;) {
    if (kept_[i].watch < 0) Drop(i);
  }
}

void DirNamesCache::FormChanged(int dir, const std::string& name) {
  struct stat st;
  if (sys::Stat(dir, &st) != 0) {
    Forget();
    return;
  }
  CatchUpWithChanges();
  for (std::size_t i = 0; i < kept_.size(); ++i) {
    Kept& kept = kept_[i];
    if (kept.dev != st.st_dev || kept.ino != st.st_ino) continue;
    if (kept.index.use_count() > 1) {
      Drop(i);
    } else {
      kept.index->SetForm(name, ReadListedForm(kept.dir.Get(), name));
    }
    return;
  }
}

void DirNamesCache::Drop(std::size_t kept) {
  Unwatch(kept_[kept].watch);
  kept_.erase(kept_.begin() + static_cast<std::ptrdiff_t>(kept));
}

void DirNamesCache::Unwatch(int watch) {
  if (watch >= 0 && watcher_.Valid()) inotify_rm_watch(watcher_.Get(), watch);
}

int DirNamesCache::Watch(int dir) {
  // The kernel tells of changes made through this machine only: on a file system
  // that others change over the network, or that a user-space server provides, a
  // watch would keep an index that misses theirs.
  struct statfs fs;
  if (fstatfs(dir, &fs) != 0 || !SeesEveryChange(static_cast<unsigned long>(fs.f_type))) {
    return -1;
  }
  if (!watcher_tried_) {
    watcher_tried_ = true;
    watcher_.Reset(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  }
  if (!watcher_.Valid() || unwatched_forced) return -1;
  // The held descriptor names the directory wherever it is now.
  const std::string path = "/proc/self/fd/" + std::to_string(dir);
  ++sys::CallCount();
  return inotify_add_watch(watcher_.Get(), path.c_str(), EntryEvents | IN_DELETE_SELF | IN_ONLYDIR);
}

void DirNamesCache::Apply(std::size_t kept, std::uint32_t mask, std::string_view name) {
  Kept& k = kept_[kept];
  if ((mask & (IN_DELETE_SELF | IN_IGNORED)) != 0 || k.index.use_count() > 1) {
    // Gone, or held by a search that must not see it change: read afresh next time.
    Drop(kept);
    return;
  }
  if (name.empty() || IsOurs(name)) return;
  const std::string entry(name);
  if ((mask & (IN_DELETE | IN_MOVED_FROM)) != 0) {
    k.index->Remove(name);
  } else if ((mask & (IN_CREATE | IN_MOVED_TO)) != 0) {
    // A name moved over another one is the same entry in the index, with what it
    // lists as read again.
    const ListedForm form = ReadListedForm(k.dir.Get(), entry);
    if (!k.index->SetForm(name, form)) k.index->Add(name, form);
    // A container is created before its header is written: until that shows, or
    // the entry settles as a plain file, it is looked at again.
    if (form.HeaderSize == 0 && P00TypeOfName(name) && k.unsure.size() < MaxUnsure) {
      timespec now{};
      clock_gettime(CLOCK_MONOTONIC, &now);
      k.unsure.emplace_back(entry, now.tv_sec);
    }
  }
}

void DirNamesCache::LookAgain(Kept& kept) {
  if (kept.unsure.empty() || kept.index.use_count() > 1) return;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  std::erase_if(kept.unsure, [&](const std::pair<std::string, time_t>& unsure) {
    const ListedForm form = ReadListedForm(kept.dir.Get(), unsure.first);
    if (form.HeaderSize > 0) {
      kept.index->SetForm(unsure.first, form);
      return true;
    }
    return !kept.index->Contains(unsure.first) || unsure.second + SettledSeconds < now.tv_sec;
  });
}

void DirNamesCache::CatchUpWithChanges() {
  if (!watcher_.Valid() || kept_.empty()) return;
  for (Kept& kept : kept_) kept.changes = 0;
  alignas(inotify_event) char buffer[8192];
  for (;;) {
    ++sys::CallCount();
    const ssize_t n = read(watcher_.Get(), buffer, sizeof buffer);
    if (n <= 0) return;  // EAGAIN: nothing more
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if ((event->mask & IN_Q_OVERFLOW) != 0) {
        // Changes were lost: no index can be trusted.
        Forget();
        continue;
      }
      const auto it = std::find_if(kept_.begin(), kept_.end(),
                                   [&](const Kept& k) { return k.watch == event->wd; });
      if (it == kept_.end()) continue;
      // Each change costs a probe of the index's hash and, for one that goes among
      // the entries already listed, a place in the merge the next listing makes.
      it->heard = true;
      if (++it->changes > std::max(ChangesAlwaysApplied, it->index->Size() / ChangesShareDivisor)) {
        Drop(static_cast<std::size_t>(it - kept_.begin()));
        continue;
      }
      const std::string_view name = event->len > 0 ? std::string_view(event->name) : "";
      Apply(static_cast<std::size_t>(it - kept_.begin()), event->mask, name);
    }
  }
}

DirNamesCache::Kept* DirNamesCache::Current(const struct stat& st) {
  for (std::size_t i = 0; i < kept_.size(); ++i) {
    Kept& kept = kept_[i];
    if (kept.dev != st.st_dev || kept.ino != st.st_ino) continue;
    const bool same_times = SameTime(kept.mtime, st.st_mtim) && SameTime(kept.ctime, st.st_ctim);
    // A watched directory whose times moved while its watch heard nothing had a
    // change the watch could not see: it is read again.
    if (kept.watch >= 0 && (same_times || kept.heard)) {
      kept.heard = false;
      LookAgain(kept);
      kept.mtime = st.st_mtim;
      kept.ctime = st.st_ctim;
      return &kept;
    }
    if (kept.watch < 0 && same_times) return &kept;
    Drop(i);
    return nullptr;
  }
  return nullptr;
}

std::shared_ptr<DirIndex> DirNamesCache::GetWatched(int dir) {
  struct stat st;
  if (sys::Stat(dir, &st) != 0) return nullptr;
  CatchUpWithChanges();
  const Kept* kept = Current(st);
  return kept != nullptr && kept->watch >= 0 ? kept->index : nullptr;
}

std::shared_ptr<DirIndex> DirNamesCache::Get(int dir, int& error) {
  struct stat st;
  if (sys::Stat(dir, &st) != 0) {
    error = errno;
    return nullptr;
  }
  CatchUpWithChanges();
  if (const Kept* kept = Current(st)) return kept->index;
  Kept kept;
  kept.watch = Watch(dir);
  auto index = std::make_shared<DirIndex>();
  if (!ReadDirIndex(dir, *index, error)) {
    Unwatch(kept.watch);
    return nullptr;
  }
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  // Only the modification time need be settled: any later change of the entries
  // sets it to the present, which then differs from the time kept.
  const bool settled = st.st_mtim.tv_sec + SettledSeconds < now.tv_sec;
  if (kept.watch < 0 && !settled) return index;
  kept.dir.Reset(fcntl(dir, F_DUPFD_CLOEXEC, 0));
  if (!kept.dir.Valid()) {
    Unwatch(kept.watch);
    return index;
  }
  if (kept_.size() >= KeptDirectories) Drop(0);
  kept.dev = st.st_dev;
  kept.ino = st.st_ino;
  kept.mtime = st.st_mtim;
  kept.ctime = st.st_ctim;
  kept.index = index;
  kept_.push_back(std::move(kept));
  return index;
}

}  // namespace dorvane
