#include "storage/posix_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <vector>

#include "link/os_error.h"
#include "platform/sys_calls.h"
#include "platform/unique_fd.h"

namespace dorvane {
namespace {

class PosixReadableFile : public ReadableFile {
 public:
  explicit PosixReadableFile(int fd) : fd_(fd) {}
  ~PosixReadableFile() override { close(fd_); }
  PosixReadableFile(const PosixReadableFile&) = delete;
  PosixReadableFile& operator=(const PosixReadableFile&) = delete;

  std::size_t Read(std::uint8_t* buffer, std::size_t count) override {
    for (;;) {
      const ssize_t n = read(fd_, buffer, count);
      if (n >= 0) return static_cast<std::size_t>(n);
      if (errno != EINTR) throw OsError(errno);
    }
  }

 private:
  int fd_;
};

std::string RandomSuffix();

class PosixPendingFile : public PendingFile {
 public:
  // `temp_name` is empty for a file with no name yet.
  PosixPendingFile(int fd, UniqueFd dir, std::string temp_name, SaveTarget target,
                   std::shared_ptr<SpareFile> spare, bool from_spare)
      : fd_(fd),
        dir_(std::move(dir)),
        temp_name_(std::move(temp_name)),
        unnamed_(temp_name_.empty()),
        target_(std::move(target)),
        spare_(std::move(spare)),
        from_spare_(from_spare) {}
  ~PosixPendingFile() override { Discard(); }
  PosixPendingFile(const PosixPendingFile&) = delete;
  PosixPendingFile& operator=(const PosixPendingFile&) = delete;

  bool ReplaceOnlyIf(FileStamp* stamp) override {
    guard_ = stamp;
    return true;
  }

  void Write(const std::uint8_t* data, std::size_t count) override {
    if (fd_ < 0) throw OsError(EBADF);
    while (count > 0) {
      // With SIGXFSZ ignored, a file-size limit shows here as EFBIG, like a full disk.
      const ssize_t n = write(fd_, data, count);
      if (n < 0) {
        if (errno == EINTR) continue;
        Fail(errno);
      }
      if (n == 0) Fail(EIO);
      data += n;
      count -= static_cast<std::size_t>(n);
    }
  }

  void Commit() override {
    if (fd_ < 0) throw OsError(EBADF);
    // A spare was made before the save began; an empty save never wrote to it.
    if (from_spare_) futimens(fd_, nullptr);
    if (fsync(fd_) != 0) Fail(errno);
    // The host may have made the target read-only while the C64 was saving: it is
    // protected as it would have been at the open. (A directory put in its place
    // makes the rename fail.)
    struct stat st;
    const bool there = sys::StatAt(dir_.Get(), target_.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (there && S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0) {
      Refuse("the file became read-only");
    }
    // From this stat to the rename below another program may still change the
    // target; what it writes there in those few microseconds is replaced.
    if (guard_ != nullptr && (!there || StampFrom(st) != *guard_)) {
      Refuse(there ? "the file changed on the host" : "the file is gone from the host");
    }
    if (unnamed_) {
      Name(there);
    } else if (sys::RenameAt(dir_.Get(), temp_name_.c_str(), dir_.Get(), target_.name.c_str(), 0) !=
               0) {
      Fail(errno);
    }
    temp_name_.clear();
    if (guard_ != nullptr && sys::Stat(fd_, &st) == 0) *guard_ = StampFrom(st);
    const int fd = fd_;
    fd_ = -1;
    // Data and name are in place: a failing close can no longer lose them.
    close(fd);
    SyncDirectory();
    if (spare_) spare_->Prepare(dir_.Get());
  }

  void Discard() noexcept override {
    if (fd_ >= 0) {
      close(fd_);
      fd_ = -1;
    }
    if (!temp_name_.empty()) {
      sys::UnlinkAt(dir_.Get(), temp_name_.c_str(), 0);
      temp_name_.clear();
    }
  }

 private:
  [[noreturn]] void Fail(int code) {
    Discard();
    throw OsError(code);
  }
  [[noreturn]] void Refuse(const char* why) {
    Discard();
    throw SaveRefused(why);
  }

  // Gives the unnamed file the target's name. A new name is linked in place
  // directly (EEXIST when something took it meanwhile, which is then replaced as
  // the rename of a named file would); an existing target is replaced atomically
  // by a rename from a hidden name, the one moment a crash could leave a file.
  void Name(bool target_there) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    if (!target_there) {
      if (sys::LinkAt(AT_FDCWD, self.c_str(), dir_.Get(), target_.name.c_str(),
                      AT_SYMLINK_FOLLOW) == 0) {
        return;
      }
      if (errno != EEXIST) Fail(errno);
    }
    for (int attempt = 0;; ++attempt) {
      std::string name = PendingFilePrefix + RandomSuffix();
      if (sys::LinkAt(AT_FDCWD, self.c_str(), dir_.Get(), name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        temp_name_ = std::move(name);
        break;
      }
      if (errno != EEXIST || attempt == 100) Fail(errno);
    }
    if (sys::RenameAt(dir_.Get(), temp_name_.c_str(), dir_.Get(), target_.name.c_str(), 0) != 0) {
      Fail(errno);
    }
  }

  // The rename is only durable once the directory that holds it is on disk, so we
  // ask for that; but the data is synced and the file in place already. A
  // directory we may write but not read (a drop box), or a file system that cannot
  // sync one, must not turn a save that succeeded into an error that ends serving.
  void SyncDirectory() noexcept {
    const int dir = sys::OpenAt(dir_.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return;
    [[maybe_unused]] const int synced = fsync(dir);
    close(dir);
  }

  int fd_;
  UniqueFd dir_;
  std::string temp_name_;  // empty once renamed or removed, or while unnamed
  bool unnamed_;
  SaveTarget target_;
  FileStamp* guard_ = nullptr;
  std::shared_ptr<SpareFile> spare_;
  bool from_spare_;
};

// Unnamed files need the kernel's O_TMPFILE and /proc to name them by their
// descriptor (linkat with AT_EMPTY_PATH would need a capability we lack).
bool CanNameUnnamedFiles() {
  static const bool can = access("/proc/self/fd", X_OK) == 0;
  return can;
}

std::string RandomSuffix() {
  static thread_local std::mt19937_64 generator{std::random_device{}()};
  static constexpr char Digits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::uniform_int_distribution<int> pick(0, sizeof Digits - 2);
  std::string out(10, 'x');
  for (char& c : out) c = Digits[pick(generator)];
  return out;
}

}  // namespace

std::unique_ptr<ReadableFile> ReadableFromFd(int fd) {
  if (fd < 0) return nullptr;
  struct stat st;
  if (sys::Stat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return nullptr;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return std::make_unique<PosixReadableFile>(fd);
}

void SpareFile::Prepare(int dir) noexcept {
  struct stat st;
  if (!CanNameUnnamedFiles() || sys::Stat(dir, &st) != 0) return;
  if (file_.Valid() && st.st_dev == dev_ && st.st_ino == ino_) return;
  file_.Reset(sys::OpenAt(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
  if (!file_.Valid()) return;
  // Locked as every pending file is, so that RemoveLeftovers passes over it once
  // it has a hidden name.
  [[maybe_unused]] const int locked = flock(file_.Get(), LOCK_EX | LOCK_NB);
  dev_ = st.st_dev;
  ino_ = st.st_ino;
}

int SpareFile::Take(int dir) noexcept {
  if (!file_.Valid()) return -1;
  struct stat st;
  // The directory may have been removed, or made read-only, since the spare was
  // made there: then a save must be refused at its start, as without one.
  if (sys::Stat(dir, &st) != 0 || st.st_dev != dev_ || st.st_ino != ino_ || st.st_nlink == 0 ||
      faccessat(dir, ".", W_OK, AT_EACCESS) != 0) {
    return -1;
  }
  return file_.Release();
}

std::unique_ptr<PendingFile> CreatePendingFile(const SaveTarget& target,
                                               std::shared_ptr<SpareFile> spare) {
  UniqueFd dir(fcntl(target.dir, F_DUPFD_CLOEXEC, 0));
  if (!dir.Valid()) return nullptr;
  const mode_t mode = target.exists ? (target.mode & 0777) : 0666;
  // Both ways let the kernel apply the umask to 0666 itself, as for any newly
  // created file; the named way uses O_EXCL with our own random names.
  int fd = spare ? spare->Take(dir.Get()) : -1;
  const bool from_spare = fd >= 0;
  std::string temp_name;
  if (fd < 0 && CanNameUnnamedFiles()) {
    fd = sys::OpenAt(dir.Get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    // A file system without unnamed files says so in one of these ways.
    if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return nullptr;
  }
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    temp_name = PendingFilePrefix + RandomSuffix();
    fd = sys::OpenAt(dir.Get(), temp_name.c_str(),
                     O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0 && errno != EEXIST) return nullptr;
  }
  if (fd < 0) return nullptr;
  // Held until the file is gone or renamed: RemoveLeftovers passes over it.
  if (!from_spare) {
    [[maybe_unused]] const int locked = flock(fd, LOCK_EX | LOCK_NB);
  }
  if (target.exists) {
    // Best effort: only root may give a file away, and a plain user's file keeps
    // being theirs anyway.
    // The permission bits carry over, but never set-user-ID or set-group-ID:
    // data from the C64 must not become a privileged program.
    [[maybe_unused]] const int chowned = fchown(fd, target.uid, target.gid);
    [[maybe_unused]] const int chmodded = fchmod(fd, target.mode & 0777);
  }
  return std::make_unique<PosixPendingFile>(fd, std::move(dir), std::move(temp_name), target,
                                            std::move(spare), from_spare);
}

int RemoveLeftovers(int dir) {
  const int listed = sys::OpenAt(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listed < 0) return 0;
  DIR* stream = fdopendir(listed);
  if (stream == nullptr) {
    close(listed);
    return 0;
  }
  std::vector<std::string> ours;
  while (const dirent* entry = sys::ReadDir(stream)) {
    if (std::string_view(entry->d_name).rfind(PendingFilePrefix, 0) == 0) {
      ours.emplace_back(entry->d_name);
    }
  }
  closedir(stream);
  int removed = 0;
  for (const std::string& name : ours) {
    UniqueFd file(sys::OpenAt(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (!file.Valid() || sys::Stat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    // A save under way, here or in another server, holds its lock.
    if (flock(file.Get(), LOCK_EX | LOCK_NB) != 0) continue;
    if (sys::UnlinkAt(dir, name.c_str(), 0) == 0) ++removed;
  }
  return removed;
}

FileStamp StampFrom(const struct stat& st) {
  FileStamp stamp;
  stamp.Device = st.st_dev;
  stamp.Inode = st.st_ino;
  stamp.Size = static_cast<std::uint64_t>(st.st_size);
  stamp.ModifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  stamp.ChangedNs = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  return stamp;
}

}  // namespace dorvane
