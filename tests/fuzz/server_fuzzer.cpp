// Throws arbitrary bytes at the server as everything the C64 could send, through the
// scripted port and the fake clock, with a real directory tree as the served root.
// Besides the sanitizers it traps on three faults of its own:
//   - anything outside the served root changed (the root sits in a parent directory
//     that also holds a sentinel file and a sentinel directory, and the root holds
//     links that lead out to both);
//   - a save left its temporary file behind;
//   - the server keeps sending without the C64 asking, or keeps working after the
//     stop.
// The layout of an input is described in fuzz_input.h. With DORVANE_FUZZ_LOG set in
// the environment, each input prints the server's log and its replies.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/os_error.h"
#include "service/server.h"
#include "storage/posix_files.h"
#include "storage/posix_volume.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/support/fakes.h"

namespace {

namespace fs = std::filesystem;
using namespace dorvane::fuzzing;

// Bounds on one input, so that none can hang the fuzzer: its size, and the fake
// time its silences and stalls may cost in all (each 2 ms attempt is a loop pass).
constexpr std::size_t MaxInput = 64 * 1024;
constexpr std::uint64_t MaxSilenceMs = 30'000;
constexpr std::uint64_t MaxStallAttempts = 10'000;

// Every byte the C64 sends earns at most one packet in reply (a block is 259 bytes).
constexpr std::size_t WrittenPerConsumedByte = 300;
// After the stop, a step finishes its current packet at most; far fewer passes do.
constexpr int MaxPollsAfterStop = 10'000;

// The served root is rebuilt this often, and whenever the inputs have emptied it,
// crowded it, or removed the links that lead out of it.
constexpr unsigned RebuildEvery = 4096;
constexpr std::size_t MinRootEntries = 8;
constexpr std::size_t MaxRootEntries = 64;

[[noreturn]] void Fault(const std::string& what) {
  std::fprintf(stderr, "dorvane_server_fuzzer: %s\n", what.c_str());
  std::fflush(stderr);
  __builtin_trap();
}

std::string Pattern(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + seed + i / 251);
  return bytes;
}

void WriteFile(const fs::path& path, const std::string& content, mode_t mode = 0644) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0 ||
      ::write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size())) {
    Fault("cannot write " + path.string());
  }
  ::close(fd);
  ::chmod(path.c_str(), mode);  // the umask must not decide
}

std::optional<std::string> ReadFile(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return std::nullopt;
  std::string content;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
    content.append(buffer, static_cast<std::size_t>(n));
  ::close(fd);
  return content;
}

std::vector<std::string> EntryNames(const fs::path& dir) {
  std::vector<std::string> names;
  if (DIR* handle = ::opendir(dir.c_str())) {
    while (const dirent* entry = ::readdir(handle)) {
      const std::string_view name = entry->d_name;
      if (name != "." && name != "..") names.emplace_back(name);
    }
    ::closedir(handle);
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool IsPendingSave(std::string_view name) {
  return name.substr(0, std::string_view(dorvane::PendingFilePrefix).size()) ==
         dorvane::PendingFilePrefix;
}

// What the fuzzer watches of one entry outside the root: any write, rename over,
// removal, new link or change of mode or owner shows in one of these.
struct Facts {
  bool exists = false;
  ino_t ino = 0;
  mode_t mode = 0;
  nlink_t nlink = 0;
  uid_t uid = 0;
  gid_t gid = 0;
  off_t size = 0;
  std::int64_t mtime_ns = 0;
  std::int64_t ctime_ns = 0;
  bool operator==(const Facts&) const = default;
};

Facts FactsOf(const fs::path& path) {
  struct stat st;
  Facts facts;
  if (::lstat(path.c_str(), &st) != 0) return facts;
  facts.exists = true;
  facts.ino = st.st_ino;
  facts.mode = st.st_mode;
  facts.nlink = st.st_nlink;
  facts.uid = st.st_uid;
  facts.gid = st.st_gid;
  facts.size = st.st_size;
  facts.mtime_ns = st.st_mtim.tv_sec * 1'000'000'000LL + st.st_mtim.tv_nsec;
  facts.ctime_ns = st.st_ctim.tv_sec * 1'000'000'000LL + st.st_ctim.tv_nsec;
  return facts;
}

// Everything outside the served root that a fault in the volume could reach.
struct Outside {
  std::vector<std::string> parent_names;
  Facts parent;
  ino_t root_ino = 0;
  Facts sentinel_file;
  std::optional<std::string> sentinel_content;
  std::vector<std::string> sentinel_dir_names;
  Facts sentinel_dir;
  Facts kept_file;
  std::optional<std::string> kept_content;
  bool operator==(const Outside&) const = default;
};

// The parent directory, the served root inside it and the sentinels beside it. One
// for the fuzzer's whole run; removed at exit unless a fault ended the run.
class Playground {
 public:
  Playground() : home_(fs::current_path()) {
    std::string pattern = (BaseDir() / "dorvane-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) Fault("cannot make a temporary directory");
    parent_ = fs::canonical(pattern);
    root_ = parent_ / "served";
    WriteFile(parent_ / "sentinel.prg", "This file lies outside the served root.\n");
    fs::create_directory(parent_ / "sentinel-dir");
    WriteFile(parent_ / "sentinel-dir" / "keep.prg", Pattern(300, 9));
    Rebuild();
  }

  ~Playground() {
    fs::current_path(home_);
    CheckOutside();
    CheckNoPendingSaves();
    std::error_code ignored;
    fs::remove_all(parent_, ignored);
  }

  const fs::path& Root() const { return root_; }

  void BeforeInput() {
    if (++inputs_ % RebuildEvery == 0 || RootDrifted()) Rebuild();
  }

  void AfterInput() {
    // The volume never changes the process's directory; should that come back, the
    // next input must still start from home.
    fs::current_path(home_);
    CheckOutside();
    for (const std::string& name : EntryNames(root_)) {
      if (IsPendingSave(name)) Fault("a save left its temporary file behind: " + name);
    }
  }

 private:
  static fs::path BaseDir() {
    // A save syncs its file; on a memory file system that costs nothing.
    if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0') return tmp;
    std::error_code ignored;
    if (fs::is_directory("/dev/shm", ignored) && ::access("/dev/shm", W_OK) == 0) return "/dev/shm";
    return fs::temp_directory_path();
  }

  // Plain, empty, locked, hidden, long-named and case-twin files; a subdirectory
  // with a link back up; a FIFO; and links that lead out of the root, loop or dangle.
  void Rebuild() {
    CheckNoPendingSaves();
    std::error_code ignored;
    fs::remove_all(root_, ignored);
    fs::create_directory(root_);
    WriteFile(root_ / "readme.prg", "HELLO FROM THE HOST\n");
    WriteFile(root_ / "game.prg", Pattern(600, 1));
    WriteFile(root_ / "empty.prg", "");
    WriteFile(root_ / "locked.prg", Pattern(40, 2), 0444);
    WriteFile(root_ / ".hidden.prg", Pattern(10, 3));
    WriteFile(root_ / "a-name-longer-than-sixteen.prg", Pattern(300, 4));
    WriteFile(root_ / "dup.prg", Pattern(5, 5));
    WriteFile(root_ / "DUP.PRG", Pattern(6, 6));
    WriteFile(root_ / "back\\slash.prg", Pattern(7, 7));
    fs::create_directory(root_ / "sub");
    WriteFile(root_ / "sub" / "inner.prg", Pattern(255, 8));
    fs::create_directory(root_ / "sub" / "deeper");
    fs::create_directory_symlink("..", root_ / "sub" / "up");
    if (::mkfifo((root_ / "pipe").c_str(), 0644) != 0) Fault("cannot make a FIFO");
    fs::create_symlink("../sentinel.prg", root_ / "out-file");
    fs::create_directory_symlink("../sentinel-dir", root_ / "out-dir");
    fs::create_directory_symlink(".", root_ / "self");
    fs::create_symlink("nowhere.prg", root_ / "dangling");
    // Building the root touched the parent: what it looks like now is what must stay.
    seen_ = Look();
  }

  bool RootDrifted() const {
    const std::vector<std::string> names = EntryNames(root_);
    const auto has = [&](const char* name) {
      return std::binary_search(names.begin(), names.end(), name);
    };
    return names.size() < MinRootEntries || names.size() > MaxRootEntries || !has("out-file") ||
           !has("out-dir");
  }

  Outside Look() const {
    Outside now;
    now.parent_names = EntryNames(parent_);
    now.parent = FactsOf(parent_);
    now.root_ino = FactsOf(root_).ino;
    now.sentinel_file = FactsOf(parent_ / "sentinel.prg");
    now.sentinel_content = ReadFile(parent_ / "sentinel.prg");
    now.sentinel_dir_names = EntryNames(parent_ / "sentinel-dir");
    now.sentinel_dir = FactsOf(parent_ / "sentinel-dir");
    now.kept_file = FactsOf(parent_ / "sentinel-dir" / "keep.prg");
    now.kept_content = ReadFile(parent_ / "sentinel-dir" / "keep.prg");
    return now;
  }

  void CheckOutside() const {
    const Outside now = Look();
    if (now == seen_) return;
    std::string what = "something outside the served root changed:";
    if (now.parent_names != seen_.parent_names) what += " entries of " + parent_.string() + ";";
    if (!(now.parent == seen_.parent)) what += " the parent directory itself;";
    if (now.root_ino != seen_.root_ino) what += " the root was replaced;";
    if (!(now.sentinel_file == seen_.sentinel_file) ||
        now.sentinel_content != seen_.sentinel_content) {
      what += " sentinel.prg;";
    }
    if (now.sentinel_dir_names != seen_.sentinel_dir_names ||
        !(now.sentinel_dir == seen_.sentinel_dir)) {
      what += " sentinel-dir;";
    }
    if (!(now.kept_file == seen_.kept_file) || now.kept_content != seen_.kept_content) {
      what += " sentinel-dir/keep.prg;";
    }
    Fault(what);
  }

  // Saves into subdirectories are caught here, at the next rebuild and at exit.
  void CheckNoPendingSaves() const {
    std::error_code error;
    if (!fs::exists(root_, error)) return;
    for (auto it = fs::recursive_directory_iterator(root_, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
      if (IsPendingSave(it->path().filename().native())) {
        Fault("a save left its temporary file behind: " + it->path().string());
      }
    }
  }

  fs::path home_;
  fs::path parent_;
  fs::path root_;
  Outside seen_;
  unsigned inputs_ = 0;
};

// One input: a fresh link, volume and server, serving until the C64 has sent all.
class Session {
 public:
  Session(const std::uint8_t* data, std::size_t size) {
    const std::uint8_t options = data[0];
    rig_.panel.delete_protection = (options & OptionDeleteProtection) != 0;
    if ((options & OptionClockNearWrap) != 0) rig_.clock.now = NearWrapStartTick;
    Script(data + 1, size - 1);
  }

  void Run(const fs::path& root) {
    rig_.StopWhenDrained();
    rig_.panel.on_pump = [this] { Watch(); };
    rig_.HandPortToProvider();
    dorvane::PosixVolume volume(root.string());
    // The listing image makes the server large: it lives on the heap.
    auto server = std::make_unique<dorvane::Server>(rig_.link, volume, rig_.panel);
    try {
      server->StartServing();
    } catch (const dorvane::OsError&) {
      // An error of the host ends serving: a legal way for a session to end.
    }
    if (server->PendingSave || server->TransferFile) Fault("serving ended with a transfer open");
    if (std::getenv("DORVANE_FUZZ_LOG") != nullptr) PrintSession();
  }

 private:
  struct Stall {
    std::size_t after_fed;  // armed once the C64 has sent this many bytes
    int attempts;
  };

  void Script(const std::uint8_t* data, std::size_t size) {
    std::uint64_t silence_ms = 0;
    std::uint64_t stall_attempts = 0;
    std::size_t at = 0;
    while (at < size) {
      const std::uint8_t head = data[at++];
      if (head < FirstSilenceRecord) {
        const std::size_t count = std::min<std::size_t>(head + 1u, size - at);
        rig_.port->Feed(std::vector<std::uint8_t>(data + at, data + at + count));
        at += count;
        fed_ += count;
      } else if (head < FirstStallRecord) {
        const std::uint32_t ms = SilenceMs[head - FirstSilenceRecord];
        if (silence_ms + ms > MaxSilenceMs) continue;
        silence_ms += ms;
        rig_.port->Silence(ms);
      } else {
        const int attempts = StallAttempts[head - FirstStallRecord];
        if (stall_attempts + static_cast<std::uint64_t>(attempts) > MaxStallAttempts) continue;
        stall_attempts += static_cast<std::uint64_t>(attempts);
        stalls_.push_back({fed_, attempts});
      }
    }
  }

  // For a reproducer run: what the server logged and what it sent back.
  void PrintSession() const {
    for (const std::string& line : rig_.panel.log) std::fprintf(stderr, "log: %s\n", line.c_str());
    std::fprintf(stderr, "sent %zu bytes:", rig_.port->written.size());
    for (std::uint8_t b : rig_.port->written) std::fprintf(stderr, " %02x", b);
    std::fprintf(stderr, "\n");
  }

  // Runs at every poll of the link, before each attempt to read or write a byte.
  void Watch() {
    dorvane::testing::ScriptedPort& port = *rig_.port;
    const std::size_t consumed = fed_ - port.Pending();
    while (next_stall_ < stalls_.size() && consumed >= stalls_[next_stall_].after_fed) {
      port.refuse_writes += stalls_[next_stall_++].attempts;
    }
    if (port.written.size() > WrittenPerConsumedByte * (consumed + 1)) {
      Fault("the server sent " + std::to_string(port.written.size()) + " bytes for " +
            std::to_string(consumed) + " bytes from the C64");
    }
    if (rig_.link.StopRequested && ++polls_after_stop_ > MaxPollsAfterStop) {
      Fault("the server keeps polling the link after the stop");
    }
  }

  dorvane::testing::LinkRig rig_;
  std::size_t fed_ = 0;
  std::vector<Stall> stalls_;
  std::size_t next_stall_ = 0;
  int polls_after_stop_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Playground playground;
  if (size == 0) return 0;
  playground.BeforeInput();
  {
    Session session(data, std::min(size, MaxInput));
    session.Run(playground.Root());
  }
  playground.AfterInput();
  return 0;
}
