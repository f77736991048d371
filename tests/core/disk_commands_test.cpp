// The disk commands against a real directory tree: what the C64 is told, what the
// operator reads, and what the file system holds afterwards.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "formats/petscii_names.h"
#include "tests/core/server_rig.h"
#include "tests/support/split_test.h"

namespace dorvane::testing {
namespace {

using Lines = std::vector<std::string>;

const auto kOk = StatusBytes(stOk);
const auto kError = StatusBytes(stError);
const auto kDeleteError = StatusBytes(stDeleteError);
const auto kRenameError = StatusBytes(stRenameError);

std::string WithNul(const std::string& before, const std::string& after) {
  return before + std::string(1, '\0') + after;
}

// --- Delete -----------------------------------------------------------------------

// Every test here runs once for each way of cutting the bytes into runs.
class DeleteCommand : public SplitTest {};
class RenameCommand : public SplitTest {};
class ChangeDirCommand : public SplitTest {};
class ChangeDriveCommand : public SplitTest {};
class MakeDirCommand : public SplitTest {};
INSTANTIATE_SPLITS(DeleteCommand);
INSTANTIATE_SPLITS(RenameCommand);
INSTANTIATE_SPLITS(ChangeDirCommand);
INSTANTIATE_SPLITS(ChangeDriveCommand);
INSTANTIATE_SPLITS(MakeDirCommand);

TEST_P(DeleteCommand, ProtectionRefusesEveryRequestAndIsReadEachTime) {
  ServerRig rig;
  rig.root.Write("a.prg");
  for (const char* text : {"s:a.prg", "s:missing", "s:"}) {
    const Outcome outcome = rig.Command(text);
    EXPECT_EQ(outcome.reply, kDeleteError);
    EXPECT_EQ(outcome.log.back(), "Can't delete! Protected deleting!!!");
  }
  EXPECT_TRUE(rig.root.Exists("a.prg"));

  rig.panel.delete_protection = false;  // the operator unticks the box while serving
  EXPECT_EQ(rig.Command("s:a.prg").reply, kOk);
  EXPECT_FALSE(rig.root.Exists("a.prg"));
}

TEST_P(DeleteCommand, Outcomes) {
  const struct {
    std::string text;
    std::vector<std::uint8_t> reply;
    Lines log;  // after the "Deleting file: " line
    Lines gone;
    Lines kept;
  } cases[] = {
      {"s:one.prg", kOk, {"Deleted: One.prg"}, {"One.prg"}, {"two.prg", "games"}},
      // Matched without regard to case, and only the first of several.
      {"s:*.prg", kOk, {"Deleted: One.prg"}, {"One.prg"}, {"two.prg", "three.prg"}},
      {"s:t?o.prg", kOk, {"Deleted: two.prg"}, {"two.prg"}, {"three.prg"}},
      {"s:empty", kOk, {"Deleted: empty"}, {"empty"}, {}},
      {"s:games", kDeleteError, {"Delete error: games"}, {}, {"games", "games/old.prg"}},
      {"s:games/old.prg", kOk, {"Deleted: old.prg"}, {"games/old.prg"}, {"games", "One.prg"}},
      {"s:locked.seq", kDeleteError, {"Delete error: Locked.SEQ"}, {}, {"Locked.SEQ"}},
      {"s:missing", kDeleteError, {"File/dir not found..."}, {}, {}},
      {"s:", kDeleteError, {"File/dir not found..."}, {}, {"One.prg"}},
      {"s:nowhere/x", kDeleteError, {"File/dir not found..."}, {}, {}},
      {"s:..", kDeleteError, {"File/dir not found..."}, {}, {}},
      // Never cut at the 0x00: "one.prg" is not what was asked for.
      {WithNul("s:one.prg", "x"), kDeleteError, {"File/dir not found..."}, {}, {"One.prg"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ServerRig rig;
    rig.panel.delete_protection = false;
    for (const char* name : {"One.prg", "two.prg", "three.prg", "Locked.SEQ"}) rig.root.Write(name);
    chmod((rig.root.path / "Locked.SEQ").c_str(), 0444);
    fs::create_directories(rig.root.path / "empty");
    fs::create_directories(rig.root.path / "games");
    rig.root.Write("games/old.prg");

    const Outcome outcome = rig.Command(c.text);
    EXPECT_EQ(outcome.reply, c.reply);
    ASSERT_FALSE(outcome.log.empty());
    EXPECT_EQ(outcome.log.front(), "Deleting file: " + PetsciiToHostName(c.text.substr(2)));
    EXPECT_EQ(Lines(outcome.log.begin() + 1, outcome.log.end()), c.log);
    for (const std::string& name : c.gone) EXPECT_FALSE(rig.root.Exists(name)) << name;
    for (const std::string& name : c.kept) EXPECT_TRUE(rig.root.Exists(name)) << name;
  }
}

TEST_P(DeleteCommand, InsideSubdirectoryNeverAimsAtItselfOrItsParent) {
  ServerRig rig;
  rig.panel.delete_protection = false;
  fs::create_directories(rig.root.path / "sub");
  rig.root.Write("sub/file");
  ASSERT_EQ(rig.Command("c:sub").reply, kOk);
  // A search below the root yields "." first: that is refused, nothing is removed.
  const Outcome outcome = rig.Command("s:*");
  EXPECT_EQ(outcome.reply, kDeleteError);
  EXPECT_EQ(outcome.log.back(), "Delete error: .");
  EXPECT_TRUE(rig.root.Exists("sub/file"));
  EXPECT_EQ(rig.Command("s:..").log.back(), "File/dir not found...");
  EXPECT_TRUE(rig.root.Exists("sub"));
  EXPECT_EQ(rig.Command("s:f*").reply, kOk);
  EXPECT_FALSE(rig.root.Exists("sub/file"));
}

// The log's name of the directory `below` the root.
std::string Shown(const ServerRig& rig, const std::string& below) {
  return below.empty() ? rig.root.path.string() : (rig.root.path / below).string();
}

// --- Rename -----------------------------------------------------------------------

TEST_P(RenameCommand, Outcomes) {
  const struct {
    std::string text;
    std::vector<std::uint8_t> reply;
    Lines log;
    Lines present;  // "name:content" of what must exist afterwards
    Lines absent;
  } cases[] = {
      {"r:new.prg=old.prg",
       kOk,
       {"Renaming file old.prg to new.prg", "Renamed: old.prg to new.prg"},
       {"new.prg:old", "taken.prg:taken"},
       {"old.prg"}},
      {"r:taken.prg=old.prg",
       kRenameError,
       {"Renaming file old.prg to taken.prg", "Rename Error!"},
       {"old.prg:old", "taken.prg:taken"},
       {}},
      {"r:a=b=c", kOk, {"Renaming file b=c to a", "Renamed: b=c to a"}, {"a:b=c"}, {"b=c"}},
      {"r:=old.prg",
       kRenameError,
       {"Renaming file old.prg to ", "Rename Error!"},
       {"old.prg:old"},
       {}},
      {"r:new.prg=", kRenameError, {"Renaming file  to new.prg", "Rename Error!"}, {}, {"new.prg"}},
      {"r:newname", kRenameError, {}, {"old.prg:old"}, {"newname"}},
      {"r:", kRenameError, {}, {}, {}},
      {"r:x=missing", kRenameError, {"Renaming file missing to x", "Rename Error!"}, {}, {"x"}},
      {"r:games/moved.prg=old.prg",
       kOk,
       {"Renaming file old.prg to games/moved.prg", "Renamed: old.prg to games/moved.prg"},
       {"games/moved.prg:old"},
       {"old.prg"}},
      {"r:arcade=games",
       kOk,
       {"Renaming file games to arcade", "Renamed: games to arcade"},
       {"arcade/in.prg:in"},
       {"games"}},
      // The 0x00 mend: neither "new" nor anything else is created, "old.prg" stays.
      {"r:" + WithNul("new", "x") + "=old.prg",
       kRenameError,
       {"Renaming file old.prg to new{00}x", "Rename Error!"},
       {"old.prg:old"},
       {"new"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ServerRig rig;
    rig.root.Write("old.prg", "old");
    rig.root.Write("taken.prg", "taken");
    rig.root.Write("b=c", "b=c");
    fs::create_directories(rig.root.path / "games");
    rig.root.Write("games/in.prg", "in");

    const Outcome outcome = rig.Command(c.text);
    EXPECT_EQ(outcome.reply, c.reply);
    EXPECT_EQ(outcome.log, c.log);
    for (const std::string& item : c.present) {
      const std::size_t colon = item.find(':');
      EXPECT_EQ(rig.root.Read(item.substr(0, colon)), item.substr(colon + 1)) << item;
    }
    for (const std::string& name : c.absent) EXPECT_FALSE(rig.root.Exists(name)) << name;
  }
}

// --- Change directory and drive ---------------------------------------------------

TEST_P(ChangeDirCommand, Outcomes) {
  const struct {
    std::string text;
    std::string start;  // below the root, where the request finds the server
    std::vector<std::uint8_t> reply;
    std::string error;  // the path in "Error changing dir to: ", when it fails
    std::string end;    // the current directory afterwards, below the root
  } cases[] = {
      {"c:games", "", kOk, "", "Games"},
      {"c:games/new", "", kOk, "", "Games/New"},
      {"c:..", "games/new", kOk, "", "Games"},
      {"c:", "games/new", kOk, "", ""},
      {"c:/", "games", kOk, "", ""},
      {"c:/games", "games/new", kOk, "", "Games"},
      {"c:a_very~1", "", kOk, "", "A very long directory name"},
      // The root is as far up as the C64 can go, by ".." or by a link.
      {"c:..", "", kOk, "", ""},
      {"c:../../..", "games", kOk, "", ""},
      {"c:outside", "", kError, "outside", ""},
      {"c:missing", "games", kError, "missing", "Games"},
      {"c:one.prg", "", kError, "one.prg", ""},
      // "\" is a name character here, never a separator.
      {"c:back\\slash", "", kOk, "", "back\\slash"},
      {"c:back/slash", "", kError, "back/slash", ""},
      {"c:" + WithNul("games", ""), "", kError, "games{00}", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ServerRig rig;
    fs::create_directories(rig.root.path / "Games/New");
    fs::create_directories(rig.root.path / "A very long directory name");
    fs::create_directories(rig.root.path / "back\\slash");
    fs::create_symlink(fs::temp_directory_path(), rig.root.path / "outside");
    rig.root.Write("one.prg");
    if (!c.start.empty()) {
      ASSERT_TRUE(rig.volume.ChangeDir(c.start));
    }

    const Outcome outcome = rig.Command(c.text);
    EXPECT_EQ(outcome.reply, c.reply);
    Lines log = {"Changing dir path to: " + PetsciiToHostName(c.text.substr(2))};
    if (!c.error.empty()) log.push_back("Error changing dir to: " + c.error);
    // A change names where it led.
    if (c.error.empty()) log.push_back("Serving: " + Shown(rig, c.end));
    EXPECT_EQ(outcome.log, log);
    EXPECT_EQ(rig.Cwd(), fs::canonical(rig.root.path / c.end));
  }
}

TEST_P(ChangeDriveCommand, EveryLetterLeadsToTheRoot) {
  const struct {
    std::string text;
    std::vector<std::uint8_t> reply;
    std::string end;
  } cases[] = {
      {"c:d:", kOk, ""},
      {"c:c:games", kOk, "games"},
      {"c:z:/games/new", kOk, "games/new"},
      {"c:d:missing", kError, "games"},
      // Not a letter: refused, where the C64 would otherwise wait for ever.
      {"c:1:", kError, "games"},
      {"c:*:", kError, "games"},
      {"c:" + WithNul("d:games", ""), kError, "games"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ServerRig rig;
    fs::create_directories(rig.root.path / "games/new");
    ASSERT_TRUE(rig.volume.ChangeDir("games"));
    const Outcome outcome = rig.Command(c.text);
    EXPECT_EQ(outcome.reply, c.reply);
    const std::string argument = PetsciiToHostName(c.text.substr(2));
    EXPECT_EQ(outcome.log, (Lines{"Changing disk drive to: " + argument,
                                  c.reply == kOk ? "Serving: " + Shown(rig, c.end)
                                                 : "Error changing drive to: " + argument}));
    EXPECT_EQ(rig.Cwd(), fs::canonical(rig.root.path / c.end));
  }
}

// --- Make directory ---------------------------------------------------------------

TEST_P(MakeDirCommand, Outcomes) {
  const struct {
    std::string text;
    std::vector<std::uint8_t> reply;
    std::string made;  // empty: nothing new in the tree
  } cases[] = {
      {"m:work", kOk, "work"},
      {"m:games/level2", kOk, "Games/level2"},
      {"m:a/b", kError, ""},
      {"m:games", kError, ""},
      {"m:", kError, ""},
      {"m:../up", kOk, "up"},
      {"m:" + WithNul("x", "y"), kError, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ServerRig rig;
    fs::create_directories(rig.root.path / "Games");
    const Outcome outcome = rig.Command(c.text);
    EXPECT_EQ(outcome.reply, c.reply);
    const std::string name = PetsciiToHostName(c.text.substr(2));
    EXPECT_EQ(outcome.log,
              (Lines{"Making directory: " + name,
                     (c.made.empty() ? "Error making directory: " : "Made directory: ") + name}));
    std::size_t entries = 0;
    for (auto it = fs::recursive_directory_iterator(rig.root.path);
         it != fs::recursive_directory_iterator(); ++it)
      ++entries;
    EXPECT_EQ(entries, c.made.empty() ? 1u : 2u);
    if (!c.made.empty()) {
      EXPECT_TRUE(fs::is_directory(rig.root.path / c.made));
    }
    EXPECT_FALSE(fs::exists(fs::temp_directory_path() / "up")) << "left the root";
  }
}

}  // namespace
}  // namespace dorvane::testing
