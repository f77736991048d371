// Faults of the host's file system end the request they hit and nothing more: the
// old file stays, no temporary file is left, the C64 hears a status that says so,
// the log names the cause, and the next request is served. And a flood of garbage
// stays within its log budget.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "formats/cbm_disk.h"
#include "link/os_error.h"
#include "platform/file_size_limit.h"
#include "storage/posix_files.h"
#include "tests/core/served_rig.h"

namespace dorvane::testing {
namespace {

namespace fs = std::filesystem;

Bytes Blocks(int count) { return Pattern(static_cast<std::size_t>(count) * 255); }

// A save of `data` in blocks of 255 bytes, ended with stEndOfFile.
Bytes SaveOf(const std::string& name, const Bytes& data) {
  Bytes out = Request(ptSave, name);
  for (std::size_t at = 0; at < data.size(); at += 255) {
    const std::size_t end = std::min(data.size(), at + 255);
    out = Cat({out, PacketBytes(ptData, Bytes(data.begin() + static_cast<long>(at),
                                              data.begin() + static_cast<long>(end)))});
  }
  return Cat({out, StatusBytes(stEndOfFile)});
}

Bytes Statuses(std::uint8_t code, int count) {
  Bytes out;
  for (int i = 0; i < count; ++i) out = Cat({out, StatusBytes(code)});
  return out;
}

Bytes EmptyDisk() { return CbmDisk::Format(DiskKind::D64, "EMPTY", "00").Bytes(); }

// What the host does to the served tree before the C64's requests, and what it
// puts right while the test ends. The hook runs under the server, at each byte
// the server writes. Returns why the case cannot run here, or nothing.
struct Host {
  std::function<std::string(ServedRig&)> before;
  std::function<void(ServedRig&)> after = [](ServedRig&) {};
  std::function<void(ServedRig&)> under_server = [](ServedRig&) {};
};

struct Fault {
  const char* name;
  Host host;
  Bytes requests;  // what the C64 sends before it goes back to the root and loads
  // What the C64 hears for them; -1 in `ok_then_error` means a run of stOk, then
  // a run of stError of any lengths (where the host decides when it is full).
  Bytes heard;
  std::string log_line;  // relative to the root: "{root}" stands for its path
  std::vector<std::pair<std::string, Bytes>> intact;
  bool ok_then_error = false;
  bool as_user = false;  // served as an unprivileged user (see Unprivileged)
};

// While it lives the process acts as an unprivileged user, for whom permission bits
// count: root passes them by.
class Unprivileged {
 public:
  Unprivileged() : was_root_(geteuid() == 0) {
    if (was_root_) {
      EXPECT_EQ(seteuid(65534), 0);
    }
  }
  ~Unprivileged() {
    if (was_root_) {
      EXPECT_EQ(seteuid(0), 0);
    }
  }

 private:
  bool was_root_;
};

const Fault kFaults[] = {
    {"no_space_on_a_small_tmpfs",
     {[](ServedRig& rig) -> std::string {
        rig.MakeDir("small");
        if (mount("tmpfs", rig.Path("small").c_str(), "tmpfs", 0, "size=64k") != 0) {
          return "cannot mount a tmpfs here";
        }
        rig.Put("small/x.prg", Pattern(100));
        return "";
      },
      [](ServedRig& rig) { umount(rig.Path("small").c_str()); }},
     SaveOf("SMALL/X.PRG", Blocks(400)),
     {},
     "Disk full: saving small/x.prg",
     {{"small/x.prg", Pattern(100)}},
     true},
    {"a_file_size_limit",
     {[](ServedRig&) -> std::string {
        IgnoreFileSizeSignal();
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 1000;
        return setrlimit(RLIMIT_FSIZE, &limit) == 0 ? "" : "cannot set a file-size limit";
      },
      [](ServedRig&) {
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_FSIZE, &limit);
      }},
     SaveOf("KEEP.PRG", Blocks(10)),
     // The fourth block crosses 1000 bytes.
     Cat({Statuses(stOk, 4), Statuses(stError, 7)}),
     "File too large: saving keep.prg",
     {{"keep.prg", Pattern(50)}}},
    {"a_target_turned_into_a_directory",
     {[](ServedRig&) -> std::string { return ""; }, [](ServedRig&) {},
      [](ServedRig& rig) {
        // Once the server has answered the first block, another program puts a
        // directory with a file in it where the save will go.
        if (rig.link.port->written.size() == 7 && !fs::exists(rig.Path("new"))) {
          rig.MakeDir("new");
          rig.Put("new/inside", Pattern(7));
        }
      }},
     SaveOf("NEW", Blocks(2)),
     Statuses(stOk, 3),
     "A directory is in the way: saving new",
     {{"new/inside", Pattern(7)}}},
    {"an_unreadable_directory",
     {[](ServedRig& rig) -> std::string {
       rig.MakeDir("locked");
       rig.Put("locked/secret.prg", Pattern(9));
       // Others may enter it but not read it; the test serves as one of them.
       fs::permissions(rig.root, fs::perms(0755));
       fs::permissions(rig.Path("locked"), fs::perms(0711));
       return "";
     }},
     Cat({Request(ptCommand, "c:locked"), Request(ptLoad, "$")}),
     Cat({StatusBytes(stOk), {0xEF}, StatusBytes(stOpenError)}),
     "Permission denied: listing {root}/locked/",
     {{"locked/secret.prg", Pattern(9)}},
     false,
     true},
    {"a_directory_the_server_may_not_write",
     {[](ServedRig& rig) -> std::string {
       rig.MakeDir("ro");
       rig.Put("ro/x.prg", Pattern(9));
       fs::permissions(rig.root, fs::perms(0755));
       fs::permissions(rig.Path("ro"), fs::perms(0755));
       return "";
     }},
     Request(ptSave, "RO/X.PRG"),
     StatusBytes(stOpenError),
     "Permission denied: saving ro/x.prg",
     {{"ro/x.prg", Pattern(9)}},
     false,
     true},
    {"a_read_only_image",
     {[](ServedRig& rig) -> std::string {
       rig.Put("game.d64", EmptyDisk());
       rig.ReadOnly("game.d64");
       return "";
     }},
     Cat({Request(ptCommand, "c:game.d64"), Request(ptSave, "X")}),
     Cat({StatusBytes(stOk), {0xEF}, StatusBytes(stOpenError)}),
     "Write protected: {root}/game.d64",
     {{"game.d64", EmptyDisk()}}},
    {"a_full_image",
     {[](ServedRig& rig) -> std::string {
       rig.Put("game.d64", EmptyDisk());
       return "";
     }},
     Cat({Request(ptCommand, "c:game.d64"), SaveOf("BIG", Blocks(700))}),
     // 664 free blocks of 254 bytes take 661 blocks of 255.
     Cat({StatusBytes(stOk), {0xEF}, Statuses(stOk, 662), Statuses(stError, 39)}),
     "Disk full: saving big",
     {{"game.d64", EmptyDisk()}}},
};

class HostFault : public ::testing::TestWithParam<Fault> {};

TEST_P(HostFault, EndsTheRequestOnlyAndTheNextLoadIsServed) {
  const Fault& fault = GetParam();
  ServedRig rig;
  rig.Put("keep.prg", Pattern(50));
  const std::string cannot = fault.host.before(rig);
  // Put right before the tree goes, however the test ends.
  const std::unique_ptr<ServedRig, std::function<void(ServedRig*)>> undo(
      &rig, [&](ServedRig* r) { fault.host.after(*r); });
  if (!cannot.empty()) GTEST_SKIP() << cannot;
  rig.link.port->on_written = [&](std::uint8_t) { fault.host.under_server(rig); };
  rig.Send(fault.requests);
  rig.Send(Request(ptCommand, "c:/"));
  rig.Send(Cat({Request(ptLoad, "KEEP.PRG"), StatusBytes(stOk), StatusBytes(stOk)}));
  {
    std::optional<Unprivileged> user;
    if (fault.as_user) user.emplace();
    rig.Serve();
  }

  // What the C64 heard for its requests, then for "c:/" and the load.
  const Bytes after = Cat({{0xEF}, StatusBytes(stOk), {0xEF}, SentFile(Pattern(50))});
  const Bytes replies = rig.Replies();
  ASSERT_GE(replies.size(), after.size());
  EXPECT_EQ(Bytes(replies.end() - static_cast<long>(after.size()), replies.end()), after);
  const Bytes heard(replies.begin(), replies.end() - static_cast<long>(after.size()));
  if (fault.ok_then_error) {
    const Bytes error = StatusBytes(stError);
    const auto first_error = std::search(heard.begin(), heard.end(), error.begin(), error.end());
    const auto oks = (first_error - heard.begin()) / 3;
    const auto errors = static_cast<long>(heard.size() / 3) - oks;
    EXPECT_GE(oks, 2);
    EXPECT_GE(errors, 1);
    EXPECT_EQ(heard, Cat({Statuses(stOk, static_cast<int>(oks)),
                          Statuses(stError, static_cast<int>(errors))}));
  } else {
    EXPECT_EQ(heard, fault.heard);
  }

  const std::string line =
      std::regex_replace(fault.log_line, std::regex("\\{root\\}"), rig.root.string());
  EXPECT_NE(std::find(rig.Log().begin(), rig.Log().end(), line), rig.Log().end())
      << "no \"" << line << "\" in the log";
  EXPECT_EQ(rig.Log().back(), " terminated!");
  for (const auto& [name, content] : fault.intact) EXPECT_EQ(rig.Get(name), content) << name;
  for (const auto& entry : fs::recursive_directory_iterator(rig.root)) {
    EXPECT_NE(entry.path().filename().string().rfind(PendingFilePrefix, 0), 0u) << entry.path();
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, HostFault, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

// A disk that fails under a load: the first block reads, the second gives EIO.
class FailingDiskVolume : public RefusingVolume {
 public:
  class OneEntry : public DirSearch {
   public:
    bool Next(DirEntry& entry) override {
      if (done_) return false;
      entry = DirEntry{};
      entry.Name = "worn.prg";
      entry.Size = 600;
      done_ = true;
      return true;
    }

   private:
    bool done_ = false;
  };
  class WornFile : public ReadableFile {
   public:
    std::size_t Read(std::uint8_t* buffer, std::size_t count) override {
      if (reads_++ > 0) throw OsError(EIO);
      std::fill_n(buffer, count, 0x42);
      return count;
    }

   private:
    int reads_ = 0;
  };
  std::unique_ptr<DirSearch> FindFirst(const std::string&, int&) override {
    return std::make_unique<OneEntry>();
  }
  std::unique_ptr<ReadableFile> OpenRead(const DirEntry&) override {
    return std::make_unique<WornFile>();
  }
};

TEST(HostFaultInALoad, AReadThatFailsIsAnErrorNotACutShortFile) {
  LinkRig rig;
  FailingDiskVolume volume;
  Server server(rig.link, volume, rig.panel);
  rig.port->Feed(Cat({Request(ptLoad, "WORN.PRG"), StatusBytes(stOk), StatusBytes(stOk)}));
  rig.port->Feed(Request(ptLoad, "WORN.PRG"));  // served again right after
  rig.StopWhenDrained();
  rig.HandPortToProvider();
  ScriptedPort& port = *static_cast<ScriptedPort*>(rig.ports.port.get());
  server.StartServing();

  const Bytes first_block = PacketBytes(ptData, Bytes(255, 0x42));
  EXPECT_EQ(port.written, Cat({{0xEF},
                               StatusBytes(stOk),
                               first_block,
                               StatusBytes(stError),
                               {0xEF},
                               StatusBytes(stOk)}));
  EXPECT_NE(std::find(rig.panel.log.begin(), rig.panel.log.end(), "I/O error: sending worn.prg"),
            rig.panel.log.end());
}

// A volume whose new directories meet a failing disk: no step answers that fault
// on its own, and it still ends only the request.
class FailingMakeDirVolume : public RefusingVolume {
 public:
  bool MakeDir(const std::string&) override { throw OsError(EIO); }
};

TEST(HostFaultInACommand, EndsTheCommandAndTheNextRequestIsServed) {
  LinkRig rig;
  FailingMakeDirVolume volume;
  Server server(rig.link, volume, rig.panel);
  rig.port->Feed(Request(ptCommand, "m:new"));
  rig.port->Feed(Request(ptLoad, "GONE.PRG"));
  rig.StopWhenDrained();
  rig.HandPortToProvider();
  ScriptedPort& port = *static_cast<ScriptedPort*>(rig.ports.port.get());
  server.StartServing();

  EXPECT_EQ(port.written, Cat({{0xEF}, {0xEF}, StatusBytes(stOpenError)}));
  EXPECT_NE(std::find(rig.panel.log.begin(), rig.panel.log.end(), "I/O error: serving the request"),
            rig.panel.log.end());
  EXPECT_EQ(rig.panel.log.back(), " terminated!");
}

}  // namespace
}  // namespace dorvane::testing
