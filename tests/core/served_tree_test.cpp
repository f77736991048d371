// The served tree as the C64 meets it through the server: one name means one file
// for every request, hidden entries stay the host's, a drive letter means the
// root, and a save that cannot end well leaves the old file and no temporary one.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "link/os_error.h"
#include "platform/file_size_limit.h"
#include "platform/sys_calls.h"
#include "service/received_name.h"
#include "storage/beneath.h"
#include "tests/core/served_rig.h"
#include "tests/core/server_rig.h"

namespace dorvane::testing {
namespace {

using Lines = std::vector<std::string>;

const auto kOk = StatusBytes(stOk);
const auto kError = StatusBytes(stError);
const auto kDeleteError = StatusBytes(stDeleteError);
const auto kRenameError = StatusBytes(stRenameError);
const auto kOpenError = StatusBytes(stOpenError);

// Loads `name` (a file of one block at most) and answers every block: what the C64
// received after the echo of its attention byte.
Bytes LoadThrough(ServedRig& rig, const std::string& name) {
  const std::size_t before = rig.link.port->written.size();
  rig.Send(Request(ptLoad, name));
  rig.Send(StatusBytes(stOk));
  rig.Send(StatusBytes(stOk));
  rig.Serve();
  const Bytes& written = rig.link.port->written;
  return Bytes(written.begin() + static_cast<long>(before) + 1, written.end());
}

// Saves `content` (under 255 bytes) as `name`.
void SaveThrough(ServedRig& rig, const std::string& name, const Bytes& content) {
  rig.Send(Request(ptSave, name));
  rig.Send(PacketBytes(ptData, content));
  rig.Send(StatusBytes(stEndOfFile));
  rig.Serve();
}

std::vector<std::pair<std::string, std::string>> Listed(Volume& volume) {
  int error = 0;
  auto search = volume.FindFirst("*", error);
  std::vector<std::pair<std::string, std::string>> out;
  DirEntry entry;
  while (search && search->Next(entry)) out.emplace_back(entry.Name, entry.AlternateName);
  return out;
}

std::vector<std::string> Temporaries(const fs::path& root) {
  std::vector<std::string> found;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string name = e.path().filename().string();
    if (name.rfind(".dorvane-save-", 0) == 0) found.push_back(e.path().string());
  }
  return found;
}

// --- One name, one file ------------------------------------------------------------

TEST(CaseCollisions, EachEntryListsUnderItsOwnNameAndLoadSaveAndDeleteAgree) {
  ServedRig rig;
  rig.Put("Game.prg", AsBytes("capital"));
  rig.Put("game.prg", AsBytes("small"));
  rig.Put("GAME.PRG", AsBytes("shouting"));
  const std::vector<std::pair<std::string, std::string>> listed = {
      {"game.prg", ""}, {"Game.prg", "GAME~1.PRG"}, {"GAME.PRG", "GAME~2.PRG"}};
  EXPECT_EQ(Listed(rig.volume), listed);

  // The C64 types every letter in lower case: GAME.PRG is the file listed so.
  EXPECT_EQ(LoadThrough(rig, "GAME.PRG"), SentFile(AsBytes("small")));
  ServedRig second;
  second.Put("Game.prg", AsBytes("capital"));
  second.Put("game.prg", AsBytes("small"));
  EXPECT_EQ(LoadThrough(second, "GAME~1.PRG"), SentFile(AsBytes("capital")));
  SaveThrough(second, "GAME.PRG", AsBytes("saved"));
  EXPECT_EQ(second.Get("game.prg"), AsBytes("saved"));
  EXPECT_EQ(second.Get("Game.prg"), AsBytes("capital"));
  SaveThrough(second, "GAME~1.PRG", AsBytes("again"));
  EXPECT_EQ(second.Get("Game.prg"), AsBytes("again"));
  EXPECT_EQ(second.Get("game.prg"), AsBytes("saved"));
  EXPECT_EQ(second.Entries(), (std::vector<std::string>{"Game.prg", "game.prg"}));
}

TEST(CaseCollisions, DeleteAndRenameTakeTheEntryTheNameIsListedAs) {
  ServerRig rig;
  rig.panel.delete_protection = false;
  rig.root.Write("Game.prg", "capital");
  rig.root.Write("game.prg", "small");
  EXPECT_EQ(rig.Command("s:game~1.prg").reply, kOk);
  EXPECT_FALSE(rig.root.Exists("Game.prg"));
  EXPECT_EQ(rig.root.Read("game.prg"), "small");

  rig.root.Write("Notes", "capital");
  rig.root.Write("notes", "small");
  EXPECT_EQ(rig.Command("r:kept=notes").reply, kOk);
  EXPECT_EQ(rig.root.Read("kept"), "small");
  EXPECT_EQ(rig.root.Read("Notes"), "capital");
}

TEST(AlternateNames, ASaveUnderAnAlternateNameReplacesTheEntryItStandsFor) {
  ServedRig rig;
  rig.Put("A_VERY_LONG_FILENAME.TXT", AsBytes("one"));
  rig.Put("a_very_long_filename_too.txt", AsBytes("two"));
  SaveThrough(rig, "A_VERY~2.TXT", AsBytes("new"));
  EXPECT_EQ(rig.Get("a_very_long_filename_too.txt"), AsBytes("new"));
  EXPECT_EQ(rig.Get("A_VERY_LONG_FILENAME.TXT"), AsBytes("one"));
  EXPECT_EQ(rig.Entries(),
            (std::vector<std::string>{"A_VERY_LONG_FILENAME.TXT", "a_very_long_filename_too.txt"}));
  // The alternate names did not shift: the same name loads the same file.
  EXPECT_EQ(LoadThrough(rig, "A_VERY~1.TXT"), SentFile(AsBytes("one")));
}

TEST(AlternateNames, NoNewEntryTakesAnotherEntrysAlternateName) {
  ServerRig rig;
  rig.root.Write("A_VERY_LONG_FILENAME.TXT", "one");
  rig.root.Write("short", "s");
  EXPECT_EQ(rig.Command("m:a_very~1.txt").reply, kError);
  EXPECT_EQ(rig.Command("r:a_very~1.txt=short").reply, kRenameError);
  EXPECT_FALSE(rig.root.Exists("a_very~1.txt"));
  EXPECT_TRUE(rig.root.Exists("short"));
}

// --- Hidden entries ----------------------------------------------------------------

TEST(HiddenEntries, CommandsThatWouldChangeOrEnterOneAreRefusedWithALogLine) {
  const struct {
    std::string text;
    Bytes reply;
    Lines log;  // after the command's own line
  } cases[] = {
      {"s:.profile", kDeleteError, {"Hidden entries are the host's, refused: .profile"}},
      {"s:d:.profile", kDeleteError, {"Hidden entries are the host's, refused: /.profile"}},
      {"m:.autostart", kError, {"Hidden entries are the host's, refused: .autostart"}},
      {"m:.config/new", kError, {"Hidden entries are the host's, refused: .config/new"}},
      {"r:.bashrc=notes",
       kRenameError,
       {"Renaming file notes to .bashrc", "Hidden entries are the host's, refused: .bashrc"}},
      {"r:notes=.profile",
       kRenameError,
       {"Renaming file .profile to notes", "Hidden entries are the host's, refused: .profile"}},
      {"c:.config", kError, {"Hidden entries are the host's, refused: .config"}},
      {"c:d:.config", kError, {"Hidden entries are the host's, refused: /.config"}},
      {"c:.config/autostart",
       kError,
       {"Hidden entries are the host's, refused: .config/autostart"}},
      // Reached another way, a hidden entry is still refused by the volume.
      {"c:cfg", kError, {"Error changing dir to: cfg"}},
      {"s:_very_~1", kDeleteError, {"File/dir not found..."}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ServerRig rig;
    rig.panel.delete_protection = false;
    rig.root.Write(".profile", "settings");
    rig.root.Write(".very_long_hidden_name", "h");
    rig.root.Write("notes", "n");
    fs::create_directories(rig.root.path / ".config/autostart");
    fs::create_directory_symlink(".config", rig.root.path / "cfg");
    const Outcome outcome = rig.Command(c.text);
    EXPECT_EQ(outcome.reply, c.reply);
    ASSERT_FALSE(outcome.log.empty());
    EXPECT_EQ(Lines(outcome.log.begin() + (c.text[0] == 'r' ? 0 : 1), outcome.log.end()), c.log);
    EXPECT_EQ(rig.root.Read(".profile"), "settings");
    EXPECT_TRUE(rig.root.Exists(".very_long_hidden_name"));
    EXPECT_EQ(rig.root.Read("notes"), "n");
    EXPECT_FALSE(rig.root.Exists(".autostart"));
    EXPECT_FALSE(rig.root.Exists(".bashrc"));
    EXPECT_EQ(rig.Cwd(), rig.root.path);
  }
}

TEST(HiddenEntries, AreListedAndPassedOverByAPatternButDotsStillWork) {
  ServerRig rig;
  rig.panel.delete_protection = false;
  rig.root.Write(".profile", "settings");
  rig.root.Write("a.prg");
  fs::create_directory(rig.root.path / "sub");
  EXPECT_EQ(Listed(rig.volume).front().first, ".profile");
  EXPECT_EQ(rig.Command("s:*").reply, kOk);
  EXPECT_TRUE(rig.root.Exists(".profile"));
  EXPECT_FALSE(rig.root.Exists("a.prg"));
  EXPECT_EQ(rig.Command("c:sub/.").reply, kOk);
  EXPECT_EQ(rig.Command("c:..").reply, kOk);
  EXPECT_EQ(rig.Cwd(), rig.root.path);
}

TEST(HiddenEntries, ASaveOfAHiddenNameIsRefused) {
  const std::pair<std::string, std::string> cases[] = {
      {".PROFILE", ".profile"}, {"D:.PROFILE", "d:.profile"},
      {".NEW", ".new"},         {".CONFIG/AUTOSTART/RUN", ".config/autostart/run"},
      {"_VERY_~1", ""},  // the alternate name of a hidden file: refused all the same
  };
  for (const auto& [name, logged] : cases) {
    SCOPED_TRACE(name);
    ServedRig rig;
    rig.Put(".profile", AsBytes("settings"));
    rig.Put(".very_long_hidden_name", AsBytes("h"));
    rig.MakeDir(".config");
    rig.MakeDir(".config/autostart");
    rig.Send(Request(ptSave, name));
    rig.Serve();
    EXPECT_EQ(rig.Replies(), kOpenError);
    const Lines log = rig.Log();
    if (!logged.empty()) {
      EXPECT_TRUE(std::find(log.begin(), log.end(),
                            "Hidden entries are the host's, refused: " + logged) != log.end());
    }
    EXPECT_EQ(rig.Get(".profile"), AsBytes("settings"));
    EXPECT_EQ(rig.Get(".very_long_hidden_name"), AsBytes("h"));
    EXPECT_EQ(rig.Entries(),
              (std::vector<std::string>{".config", ".profile", ".very_long_hidden_name"}));
    EXPECT_TRUE(fs::is_empty(rig.Path(".config/autostart")));
  }
}

// --- Drive letters -----------------------------------------------------------------

TEST(DriveLetters, ANameWithADriveLetterActsOnTheRootsEntries) {
  ServedRig rig;
  rig.MakeDir("sub");
  rig.Put("intro", AsBytes("root's"));
  rig.Put("sub/intro", AsBytes("sub's"));
  ASSERT_TRUE(rig.volume.ChangeDir("sub"));
  EXPECT_EQ(LoadThrough(rig, "D:INTRO"), SentFile(AsBytes("root's")));
  SaveThrough(rig, "D:NEW.PRG", AsBytes("saved"));
  EXPECT_EQ(rig.Get("new.prg"), AsBytes("saved"));
  EXPECT_FALSE(fs::exists(rig.Path("sub/new.prg")));
  EXPECT_FALSE(fs::exists(rig.Path("sub/d:new.prg")));
}

TEST(DriveLetters, DiskCommandsTakeTheRootsEntries) {
  ServerRig rig;
  rig.panel.delete_protection = false;
  fs::create_directory(rig.root.path / "sub");
  rig.root.Write("old");
  rig.root.Write("gone");
  ASSERT_EQ(rig.Command("c:sub").reply, kOk);
  EXPECT_EQ(rig.Command("m:d:work").reply, kOk);
  EXPECT_TRUE(fs::is_directory(rig.root.path / "work"));
  EXPECT_EQ(rig.Command("r:d:new=d:old").reply, kOk);
  EXPECT_TRUE(rig.root.Exists("new"));
  EXPECT_EQ(rig.Command("s:d:gone").reply, kOk);
  EXPECT_FALSE(rig.root.Exists("gone"));
  EXPECT_TRUE(fs::is_empty(rig.root.path / "sub"));
}

// --- Saves that cannot end well ------------------------------------------------------

TEST(SaveEndings, AFileSizeLimitFailsTheSaveAndKeepsTheOldFile) {
  ServedRig rig;
  rig.Put("keep.prg", Pattern(100));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    IgnoreFileSizeSignal();
    const rlimit limit{300, 300};
    setrlimit(RLIMIT_FSIZE, &limit);
    rig.Send(Request(ptSave, "KEEP.PRG"));
    for (int i = 0; i < 3; ++i) rig.Send(PacketBytes(ptData, Pattern(255)));
    rig.Send(StatusBytes(stEndOfFile));
    int code = 1;
    try {
      rig.Serve();
      // The second block crosses the limit: it and every later one hear stError.
      const Bytes heard =
          Cat({StatusBytes(stOk), StatusBytes(stOk), StatusBytes(stError), StatusBytes(stError)});
      const bool logged = std::find(rig.Log().begin(), rig.Log().end(),
                                    "File too large: saving keep.prg") != rig.Log().end();
      code = rig.Replies() == heard && logged ? 0 : 2;
    } catch (...) {
      code = 3;
    }
    _exit(code);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(rig.Get("keep.prg"), Pattern(100));
  EXPECT_EQ(rig.Entries(), (std::vector<std::string>{"keep.prg"}));
}

TEST(SaveEndings, ATargetMadeReadOnlyDuringTheSaveIsKeptWithItsMode) {
  ServedRig rig;
  rig.Put("target", AsBytes("old"));
  rig.Send(Request(ptSave, "TARGET"));
  rig.Send(PacketBytes(ptData, AsBytes("new data")));
  rig.Send(StatusBytes(stEndOfFile));
  rig.link.port->on_written = [&](std::uint8_t) {
    if (rig.link.port->written.size() == 4) rig.ReadOnly("target");
  };
  rig.Serve();
  EXPECT_EQ(rig.Get("target"), AsBytes("old"));
  struct stat st;
  ASSERT_EQ(stat(rig.Path("target").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);
  EXPECT_EQ(rig.Entries(), (std::vector<std::string>{"target"}));
  const Lines& log = rig.Log();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[log.size() - 3], "Save discarded, the file became read-only: target");
  EXPECT_EQ(log.back(), " terminated!");  // serving went on
}

TEST(SaveEndings, TheDataLandsInTheDirectoryTheSaveWasOpenedInOrNowhere) {
  ServedRig rig;
  const fs::path outside = ServedRig::MakeRoot();
  rig.MakeDir("sub");
  rig.Send(Request(ptSave, "SUB/F"));
  rig.Send(PacketBytes(ptData, AsBytes("data")));
  rig.Send(StatusBytes(stEndOfFile));
  // Between the open and the end, the host swaps the directory for an outward link.
  rig.link.port->on_written = [&](std::uint8_t) {
    if (rig.link.port->written.size() == 4) {
      fs::rename(rig.Path("sub"), rig.Path("moved"));
      fs::create_directory_symlink(outside, rig.Path("sub"));
    }
  };
  rig.Serve();
  EXPECT_EQ(rig.Get("moved/f"), AsBytes("data"));
  EXPECT_TRUE(fs::is_empty(outside));
  fs::remove_all(outside);
}

// --- The race ----------------------------------------------------------------------

// Names and contents of everything below `dir`.
std::vector<std::string> Snapshot(const fs::path& dir) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    std::string line = e.path().string();
    if (e.is_regular_file()) {
      std::ifstream in(e.path(), std::ios::binary);
      line += '=';
      line.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    out.push_back(line);
  }
  std::sort(out.begin(), out.end());
  return out;
}

// Another program flips a directory between itself and a link that leads out while
// the C64 loads, saves, changes directory and lists. Whatever the interleaving,
// nothing outside the root changes, no temporary file stays, and the server serves.
TEST(Race, ADirectoryFlippedToAnOutwardLinkNeverLetsARequestOut) {
  for (const bool walk : {false, true}) {
    SCOPED_TRACE(walk ? "component walk" : "openat2");
    ForceBeneathWalk(walk);
    ServedRig rig;
    const fs::path outside = ServedRig::MakeRoot();
    fs::create_directory(outside / "d");
    std::ofstream(outside / "f") << "outside";
    std::ofstream(outside / "x.prg") << "outside x";
    rig.MakeDir("sub");
    rig.Put("sub/f", AsBytes("inside"));
    const std::vector<std::string> before = Snapshot(outside);

    std::atomic<bool> done{false};
    std::thread host([&] {
      const std::string sub = rig.Path("sub"), away = rig.Path("away");
      while (!done) {
        ::rename(sub.c_str(), away.c_str());
        // Failing is part of the race (sub may still be there); the next round tries again.
        [[maybe_unused]] const int linked = ::symlink(outside.c_str(), sub.c_str());
        ::unlink(sub.c_str());
        ::rename(away.c_str(), sub.c_str());
      }
    });
    Volume& volume = rig.volume;
    const auto save = [&](const std::string& name) {
      if (auto pending = volume.CreateForSave(name)) {
        const Bytes data = AsBytes("c64");
        try {
          pending->Write(data.data(), data.size());
          pending->Commit();
        } catch (const std::exception&) {
        }
      }
    };
    for (int round = 0; round < 40; ++round) {
      volume.ChangeDir("/sub");
      save("x.prg");
      save("/sub/y.prg");
      int error = 0;
      if (auto search = volume.FindFirst("*", error)) {
        DirEntry entry;
        while (search->Next(entry)) {
          if (auto file = volume.OpenRead(entry)) {
            std::uint8_t buffer[16];
            file->Read(buffer, sizeof buffer);
          }
        }
      }
      volume.MakeDir("/sub/d");
      volume.Rename("/sub/d", "/sub/e");
      volume.ChangeDir("/");
    }
    done = true;
    host.join();

    EXPECT_EQ(Snapshot(outside), before);
    EXPECT_EQ(Temporaries(rig.root), std::vector<std::string>{});
    EXPECT_EQ(LoadThrough(rig, "/SUB/F"), SentFile(AsBytes("inside")));
    fs::remove_all(outside);
  }
  ForceBeneathWalk(false);
}

// --- The cost of an exact name ---------------------------------------------------------

// The system calls that `request` makes.
template <typename Request>
std::uint64_t CallsOf(const Request& request) {
  const std::uint64_t start = sys::CallCount();
  request();
  return sys::CallCount() - start;
}

// The system calls of each request by an exact name, in a directory of `extra`
// further files.
std::vector<std::uint64_t> ExactNameCalls(int extra) {
  ServedRig rig;
  rig.MakeDir("sub");
  rig.Put("f.prg", AsBytes("content"));
  rig.Put("gone.prg", AsBytes("x"));
  for (int i = 0; i < extra; ++i) rig.Put("filler_with_a_long_name_" + std::to_string(i), {});
  Volume& volume = rig.volume;
  std::vector<std::uint64_t> calls;
  const auto count = [&](const auto& request) { calls.push_back(CallsOf(request)); };
  count([&] {  // a load
    int error = 0;
    auto search = volume.FindFirst("f.prg", error);
    DirEntry entry;
    EXPECT_TRUE(search && search->Next(entry));
    auto file = volume.OpenRead(entry);
    std::uint8_t buffer[16];
    EXPECT_TRUE(file && file->Read(buffer, sizeof buffer) == 7u);
  });
  count([&] {  // a save over an existing file
    auto pending = volume.CreateForSave("f.prg");
    ASSERT_NE(pending, nullptr);
    pending->Write(reinterpret_cast<const std::uint8_t*>("new"), 3);
    pending->Commit();
  });
  count([&] {  // a delete
    int error = 0;
    auto search = volume.FindFirst("gone.prg", error);
    DirEntry entry;
    ASSERT_TRUE(search && search->Next(entry));
    EXPECT_TRUE(volume.Delete(entry));
  });
  count([&] { EXPECT_TRUE(volume.ChangeDir("sub")); });
  count([&] { EXPECT_TRUE(volume.ChangeDir("..")); });
  return calls;
}

// Each request costs the same calls beside 1,000 further files as beside none, and
// at most `most`.
void ExpectSameCallsAtAnySize(std::vector<std::uint64_t> (*calls_with)(int extra),
                              std::uint64_t most) {
  const std::vector<std::uint64_t> small = calls_with(0);
  const std::vector<std::uint64_t> large = calls_with(1000);
  EXPECT_EQ(large, small);
  for (std::uint64_t calls : large) EXPECT_LE(calls, most);
}

TEST(ExactNames, CostTheSameSystemCallsInADirectoryOfAnySize) {
  ExpectSameCallsAtAnySize(ExactNameCalls, 16);
}

// The system calls of each request that gives an entry a new name (a save, a
// rename, a new directory), in a directory of `extra` further files that was
// listed once before: the names kept of it follow every change, so none of them
// reads the directory again.
std::vector<std::uint64_t> NewNameCalls(int extra) {
  ServedRig rig;
  rig.Put("f.prg", AsBytes("content"));
  for (int i = 0; i < extra; ++i) rig.Put("filler_with_a_long_name_" + std::to_string(i), {});
  Volume& volume = rig.volume;
  {
    int error = 0;
    auto search = volume.FindFirst("*", error);
    DirEntry entry;
    EXPECT_TRUE(search && search->Next(entry));
  }
  std::vector<std::uint64_t> calls;
  const auto count = [&](const auto& request) { calls.push_back(CallsOf(request)); };
  for (int round = 0; round < 3; ++round) {
    const std::string n = std::to_string(round);
    count([&] {
      auto pending = volume.CreateForSave("new" + n + ".prg");
      ASSERT_NE(pending, nullptr);
      pending->Write(reinterpret_cast<const std::uint8_t*>("new"), 3);
      pending->Commit();
    });
    count([&] { EXPECT_TRUE(volume.Rename("new" + n + ".prg", "renamed" + n + ".prg")); });
    count([&] { EXPECT_TRUE(volume.MakeDir("dir" + n)); });
    // A name taken in another letter case is still refused.
    count([&] { EXPECT_FALSE(volume.MakeDir("RENAMED" + n + ".PRG")); });
  }
  return calls;
}

TEST(ExactNames, NewNamesCostTheSameSystemCallsInADirectoryOfAnySize) {
  ExpectSameCallsAtAnySize(NewNameCalls, 20);
}

}  // namespace
}  // namespace dorvane::testing
