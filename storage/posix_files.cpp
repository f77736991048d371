#include "storage/posix_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

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

class PosixPendingFile : public PendingFile {
 public:
  PosixPendingFile(int fd, UniqueFd dir, std::string temp_name, SaveTarget target)
      : fd_(fd),
        dir_(std::move(dir)),
        temp_name_(std::move(temp_name)),
        target_(std::move(target)) {}
  ~PosixPendingFile() override { Discard(); }
  PosixPendingFile(const PosixPendingFile&) = delete;
  PosixPendingFile& operator=(const PosixPendingFile&) = delete;

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
    if (fsync(fd_) != 0) Fail(errno);
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) Fail(errno);
    // The host may have made the target read-only while the C64 was saving: it is
    // protected as it would have been at the open. (A directory put in its place
    // makes the rename fail.)
    struct stat st;
    if (sys::StatAt(dir_.Get(), target_.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0) {
      Refuse("the file became read-only");
    }
    if (sys::RenameAt(dir_.Get(), temp_name_.c_str(), dir_.Get(), target_.name.c_str(), 0) != 0) {
      Fail(errno);
    }
    temp_name_.clear();
    SyncDirectory();
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
  std::string temp_name_;  // empty once renamed or removed
  SaveTarget target_;
};

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

std::unique_ptr<PendingFile> CreatePendingFile(const SaveTarget& target) {
  UniqueFd dir(fcntl(target.dir, F_DUPFD_CLOEXEC, 0));
  if (!dir.Valid()) return nullptr;
  // O_EXCL with our own random names rather than mkstemp: the kernel then applies
  // the umask to 0666 itself, as for any newly created file.
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temp_name = PendingFilePrefix + RandomSuffix();
    const int fd = sys::OpenAt(dir.Get(), temp_name.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                               target.exists ? (target.mode & 0777) : 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return nullptr;
    }
    if (target.exists) {
      // Best effort: only root may give a file away, and a plain user's file keeps
      // being theirs anyway.
      // The permission bits carry over, but never set-user-ID or set-group-ID:
      // data from the C64 must not become a privileged program.
      [[maybe_unused]] const int chowned = fchown(fd, target.uid, target.gid);
      [[maybe_unused]] const int chmodded = fchmod(fd, target.mode & 0777);
    }
    return std::make_unique<PosixPendingFile>(fd, std::move(dir), std::move(temp_name), target);
  }
  return nullptr;
}

}  // namespace dorvane
