#include "storage/posix_volume.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "link/os_error.h"
#include "storage/posix_files.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;

// Every test gets a fresh served root and an outside directory beside it, and
// leaves the process's current directory and umask as it found them.
class PosixVolumeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_cwd_ = fs::current_path();
    saved_umask_ = umask(022);
    std::string scratch = (fs::temp_directory_path() / "dorvane-volume-XXXXXX").string();
    ASSERT_NE(mkdtemp(scratch.data()), nullptr);
    scratch_ = fs::canonical(scratch);
    root_ = scratch_ / "root";
    outside_ = scratch_ / "outside";
    fs::create_directory(root_);
    fs::create_directory(outside_);
  }

  void TearDown() override {
    fs::current_path(saved_cwd_);
    umask(saved_umask_);
    for (const auto& entry : fs::recursive_directory_iterator(scratch_)) {
      if (entry.is_directory() && !entry.is_symlink()) {
        fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add);
      }
    }
    fs::remove_all(scratch_);
  }

  fs::path At(const std::string& relative) const { return root_ / relative; }

  void Write(const std::string& relative, const std::string& content, mode_t mode = 0644) {
    std::ofstream(At(relative), std::ios::binary) << content;
    ASSERT_EQ(chmod(At(relative).c_str(), mode), 0);
  }

  std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  bool Exists(const fs::path& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
  }

  // Names of the root's hidden temporary save files.
  std::vector<std::string> LeftoverTemporaries(const fs::path& dir) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(dir)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind(".dorvane-save-", 0) == 0) found.push_back(name);
    }
    return found;
  }

  std::vector<DirEntry> Search(Volume& volume, const std::string& pattern) {
    int error = -1;
    auto search = volume.FindFirst(pattern, error);
    EXPECT_NE(search, nullptr) << pattern << " error " << error;
    std::vector<DirEntry> entries;
    DirEntry entry;
    while (search && search->Next(entry)) entries.push_back(entry);
    return entries;
  }

  std::vector<std::string> Names(Volume& volume, const std::string& pattern) {
    std::vector<std::string> names;
    for (const DirEntry& e : Search(volume, pattern)) names.push_back(e.Name);
    return names;
  }

  DirEntry Found(Volume& volume, const std::string& pattern) {
    const std::vector<DirEntry> entries = Search(volume, pattern);
    EXPECT_FALSE(entries.empty()) << pattern;
    return entries.empty() ? DirEntry{} : entries.front();
  }

  void Save(Volume& volume, const std::string& name, const std::string& content) {
    auto pending = volume.CreateForSave(name);
    ASSERT_NE(pending, nullptr) << name;
    pending->Write(reinterpret_cast<const std::uint8_t*>(content.data()), content.size());
    pending->Commit();
  }

  fs::path saved_cwd_;
  mode_t saved_umask_ = 0;
  fs::path scratch_, root_, outside_;
};

TEST_F(PosixVolumeTest, RootIsMadeCanonicalAndTheProcessStaysWhereItWas) {
  fs::create_symlink(root_, scratch_ / "via-link");
  fs::current_path(scratch_);
  PosixVolume volume("via-link/.");
  EXPECT_EQ(volume.Root(), root_.string());
  EXPECT_EQ(volume.CurrentDirDisplay(), root_.string());
  EXPECT_EQ(fs::current_path(), scratch_);  // held by descriptor, never entered
}

TEST_F(PosixVolumeTest, RootThatIsNoDirectoryThrows) {
  Write("plain", "x");
  const std::pair<std::string, int> cases[] = {
      {At("plain").string(), ENOTDIR},
      {At("missing").string(), ENOENT},
  };
  for (const auto& [path, code] : cases) {
    try {
      PosixVolume volume(path);
      ADD_FAILURE() << path << " accepted";
    } catch (const OsError& e) {
      EXPECT_EQ(e.Code(), code) << path;
    }
  }
}

TEST_F(PosixVolumeTest, SearchListsInCaseInsensitiveOrderWithDotsOnlyBelowTheRoot) {
  for (const char* name : {"b.prg", "a.prg", "C.PRG", "A.prg", "_x"}) Write(name, "");
  fs::create_directory(At("sub"));
  Write("sub/z.prg", "");
  PosixVolume volume(root_);
  // At the root there is neither "." nor "..". Letters fold to lower case, so
  // "_" (0x5F) sorts before them; of two spellings the lower case goes first.
  EXPECT_EQ(Names(volume, "*.*"),
            (std::vector<std::string>{"_x", "a.prg", "A.prg", "b.prg", "C.PRG", "sub"}));
  ASSERT_TRUE(volume.ChangeDir("sub"));
  EXPECT_EQ(Names(volume, "*.*"), (std::vector<std::string>{".", "..", "z.prg"}));
  EXPECT_EQ(Names(volume, "*.prg"), (std::vector<std::string>{"z.prg"}));
  EXPECT_EQ(Names(volume, ".."), (std::vector<std::string>{".."}));
  const DirEntry dots = Found(volume, "..");
  EXPECT_EQ(dots.Attributes, faDirectory);
  EXPECT_EQ(dots.Size, 0u);
}

TEST_F(PosixVolumeTest, SearchReportsSizesAndAttributes) {
  Write("plain.prg", "12345");
  Write(".hidden", "ab");
  Write("locked.prg", "xyz", 0444);
  fs::create_directory(At("dir"));
  Write("dir/inside", "0123456789");
  ASSERT_EQ(mkfifo(At("pipe").c_str(), 0644), 0);
  fs::create_symlink("nowhere", At("dangling"));
  std::ofstream(outside_ / "secret") << "outside";
  fs::create_symlink(outside_ / "secret", At("escape"));
  fs::create_symlink("dir/inside", At("inward"));
  {
    // 64-bit sizes: a sparse file past 4 GiB.
    std::ofstream(At("huge.bin")).close();
    fs::resize_file(At("huge.bin"), (5ull << 30) + 7);
  }
  PosixVolume volume(root_);

  struct Expected {
    const char* name;
    std::uint64_t size;
    std::uint32_t attributes;
  };
  const Expected expected[] = {
      {".hidden", 2, faHidden},
      {"dangling", 0, faSystem},
      {"dir", 0, faDirectory},
      {"escape", 0, faSystem},
      {"huge.bin", (5ull << 30) + 7, 0},
      {"inward", 10, 0},
      {"locked.prg", 3, faReadOnly},
      {"pipe", 0, faSystem},
      {"plain.prg", 5, 0},
  };
  const std::vector<DirEntry> entries = Search(volume, "*");
  ASSERT_EQ(entries.size(), std::size(expected));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].Name, expected[i].name);
    EXPECT_EQ(entries[i].Size, expected[i].size) << expected[i].name;
    EXPECT_EQ(entries[i].Attributes, expected[i].attributes) << expected[i].name;
    EXPECT_EQ(entries[i].Locator, At(expected[i].name).string());
    EXPECT_EQ(entries[i].AlternateName, "");
  }
}

TEST_F(PosixVolumeTest, SearchPassesOverTemporarySaveFiles) {
  // Left behind by a server that was killed mid-save (after this volume swept the
  // root), beside a save under way, whose file has no name yet.
  Write(".dorvane_notes_long.txt", "real");
  Write(".hidden", "");
  PosixVolume volume(root_);
  Write(".dorvane-save-0123456789", "partial");
  auto pending = volume.CreateForSave("busy.prg");
  ASSERT_NE(pending, nullptr);
  ASSERT_EQ(LeftoverTemporaries(root_).size(), 1u);

  EXPECT_EQ(Names(volume, "*"), (std::vector<std::string>{".dorvane_notes_long.txt", ".hidden"}));
  EXPECT_TRUE(Names(volume, ".dorvane-save-*").empty());
  // Nor do they take an ordinal from a real long name sharing their prefix.
  EXPECT_EQ(Found(volume, "_dorva~1.txt").Name, ".dorvane_notes_long.txt");
}

TEST_F(PosixVolumeTest, SearchWithDirectoryPart) {
  fs::create_directories(At("Games/Old"));
  Write("Games/one.prg", "1");
  Write("Games/two.seq", "2");
  Write("Games/Old/three.prg", "3");
  Write("file", "");
  PosixVolume volume(root_);
  ASSERT_TRUE(volume.ChangeDir("games"));

  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"/games/*.prg", {"one.prg"}},
      {"/GAMES/OLD/*", {".", "..", "three.prg"}},
      {"old/../*.seq", {"two.seq"}},
      {"../*", {"file", "Games"}},
      {"/games/", {}},
      {"", {}},
      {"/nothing-matches-*", {}},
  };
  for (const auto& [pattern, names] : cases) EXPECT_EQ(Names(volume, pattern), names) << pattern;
  EXPECT_EQ(Found(volume, "old/three.prg").Locator, At("Games/Old/three.prg").string());

  const std::pair<std::string, int> failures[] = {
      {"missing/*", ENOENT},
      {"/file/*", ENOTDIR},
      {"/file/../*", ENOTDIR},
      {std::string("x\0y/*", 5), ENOENT},
      {std::string("a\0b", 3), ENOENT},
  };
  for (const auto& [pattern, code] : failures) {
    int error = 0;
    EXPECT_EQ(volume.FindFirst(pattern, error), nullptr) << pattern;
    EXPECT_EQ(error, code) << pattern;
  }
}

TEST_F(PosixVolumeTest, LongNamesAreFoundByTheirAlternateNames) {
  Write("A_VERY_LONG_FILENAME.TXT", "content");
  Write("a_very_long_filename_too.txt", "other");
  fs::create_directory(At("Games_Collection_Folder"));
  Write("Games_Collection_Folder/in.prg", "");
  PosixVolume volume(root_);

  const DirEntry first = Found(volume, "a_very~1.txt");
  EXPECT_EQ(first.Name, "A_VERY_LONG_FILENAME.TXT");
  EXPECT_EQ(first.AlternateName, "A_VERY~1.TXT");
  EXPECT_EQ(Found(volume, "A_VERY~2.*").Name, "a_very_long_filename_too.txt");
  EXPECT_EQ(Names(volume, "*~1*"),
            (std::vector<std::string>{"A_VERY_LONG_FILENAME.TXT", "Games_Collection_Folder"}));

  auto file = volume.OpenRead(first);
  ASSERT_NE(file, nullptr);
  std::uint8_t buffer[16];
  EXPECT_EQ(file->Read(buffer, sizeof buffer), 7u);

  EXPECT_TRUE(volume.ChangeDir("games_~1"));
  EXPECT_EQ(volume.CurrentDirDisplay(), At("Games_Collection_Folder").string());
  EXPECT_EQ(Names(volume, "/GAMES_~1/*.prg"), (std::vector<std::string>{"in.prg"}));
  EXPECT_TRUE(volume.Rename("/a_very~2.txt", "/short.txt"));
  EXPECT_EQ(Read(At("short.txt")), "other");
}

TEST_F(PosixVolumeTest, ExactNameWinsOverOtherCasesAndAlternates) {
  Write("Name", "upper");
  Write("name", "lower");
  Write("NAME", "all");
  Write("PROGRA~1", "real short name");
  Write("program_long_name.prg", "long");
  PosixVolume volume(root_);
  EXPECT_TRUE(volume.Rename("name", "exact"));
  EXPECT_EQ(Read(At("exact")), "lower");
  // Without an exact match the first in listing order answers: "Name" < "NAME".
  EXPECT_TRUE(volume.Rename("nAmE", "folded"));
  EXPECT_EQ(Read(At("folded")), "upper");
  EXPECT_TRUE(volume.Rename("progra~1", "which"));
  EXPECT_EQ(Read(At("which")), "real short name");
}

TEST_F(PosixVolumeTest, NothingLeadsOutsideTheRoot) {
  fs::create_directory(At("sub"));
  std::ofstream(outside_ / "secret") << "outside";
  fs::create_directory(outside_ / "dir");
  fs::create_directory_symlink(outside_, At("out"));
  fs::create_symlink(outside_ / "secret", At("sub/secret"));
  fs::create_directory_symlink("sub", At("inward"));
  fs::create_directory_symlink("..", At("sub/up"));
  PosixVolume volume(root_);

  // ".." at the root stays there, however often.
  for (const char* path : {"..", "/../..", "../../sub/../..", "../sub/../../.."}) {
    ASSERT_TRUE(volume.ChangeDir("sub"));
    EXPECT_TRUE(volume.ChangeDir(path)) << path;
    EXPECT_EQ(volume.CurrentDirDisplay(), root_.string()) << path;
  }
  // A link inside the tree is followed; the current directory is where it leads.
  EXPECT_TRUE(volume.ChangeDir("inward/up/inward"));
  EXPECT_EQ(volume.CurrentDirDisplay(), At("sub").string());
  ASSERT_TRUE(volume.ChangeDir(""));

  // A link leading out answers as if there were nothing.
  EXPECT_FALSE(volume.ChangeDir("out"));
  EXPECT_FALSE(volume.ChangeDir("/out/dir"));
  EXPECT_EQ(volume.CurrentDirDisplay(), root_.string());
  int error = 0;
  EXPECT_EQ(volume.FindFirst("out/*", error), nullptr);
  EXPECT_EQ(error, EACCES);
  EXPECT_EQ(volume.OpenRead(Found(volume, "sub/secret")), nullptr);
  EXPECT_EQ(volume.CreateForSave("out/new"), nullptr);
  EXPECT_EQ(volume.CreateForSave("sub/secret"), nullptr);
  EXPECT_FALSE(volume.MakeDir("out/newdir"));
  Write("mine", "stays");
  EXPECT_FALSE(volume.Rename("mine", "out/mine"));
  EXPECT_FALSE(volume.Rename("out/secret", "stolen"));
  EXPECT_TRUE(Exists(At("mine")));
  EXPECT_FALSE(Exists(outside_ / "mine"));
  EXPECT_FALSE(Exists(outside_ / "newdir"));
  EXPECT_EQ(Read(outside_ / "secret"), "outside");
  // A forged locator gets no further than a real one.
  DirEntry forged;
  forged.Locator = (outside_ / "secret").string();
  EXPECT_EQ(volume.OpenRead(forged), nullptr);
  EXPECT_FALSE(volume.Delete(forged));
  EXPECT_TRUE(Exists(outside_ / "secret"));
}

TEST_F(PosixVolumeTest, OpenReadTakesRegularFilesOnly) {
  std::string data(1000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  Write("data.bin", data);
  Write("locked.prg", "read me", 0444);
  fs::create_directory(At("dir"));
  ASSERT_EQ(mkfifo(At("pipe").c_str(), 0644), 0);
  PosixVolume volume(root_);

  auto file = volume.OpenRead(Found(volume, "DATA.BIN"));
  ASSERT_NE(file, nullptr);
  std::string back;
  std::uint8_t buffer[255];
  while (std::size_t n = file->Read(buffer, sizeof buffer)) back.append(buffer, buffer + n);
  EXPECT_EQ(back, data);

  // Read-only files load: nothing asks for write access.
  auto locked = volume.OpenRead(Found(volume, "locked.prg"));
  ASSERT_NE(locked, nullptr);
  EXPECT_EQ(locked->Read(buffer, sizeof buffer), 7u);

  // A FIFO without a writer would block an open for reading; it is refused at once.
  EXPECT_EQ(volume.OpenRead(Found(volume, "pipe")), nullptr);
  EXPECT_EQ(volume.OpenRead(Found(volume, "dir")), nullptr);
  EXPECT_EQ(volume.OpenRead(DirEntry{}), nullptr);
}

TEST_F(PosixVolumeTest, CommitReplacesTheTargetAtomically) {
  Write("Game.PRG", "old content", 04640);
  PosixVolume volume(root_);
  auto pending = volume.CreateForSave("game.prg");
  ASSERT_NE(pending, nullptr);
  const std::string fresh = "new content, longer than before";
  pending->Write(reinterpret_cast<const std::uint8_t*>(fresh.data()), 10);
  pending->Write(reinterpret_cast<const std::uint8_t*>(fresh.data()) + 10, 0);
  pending->Write(reinterpret_cast<const std::uint8_t*>(fresh.data()) + 10, fresh.size() - 10);
  // Until the commit the target is as it was, and the new data has no name.
  EXPECT_EQ(Read(At("Game.PRG")), "old content");
  EXPECT_TRUE(LeftoverTemporaries(root_).empty());
  pending->Commit();

  // The existing spelling is kept, and so are the permission bits, but not the
  // set-user-ID bit.
  EXPECT_EQ(Read(At("Game.PRG")), fresh);
  EXPECT_FALSE(Exists(At("game.prg")));
  struct stat st;
  ASSERT_EQ(stat(At("Game.PRG").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_TRUE(LeftoverTemporaries(root_).empty());

  // After the commit the file is done with.
  const std::uint8_t byte = 1;
  EXPECT_THROW(pending->Write(&byte, 1), OsError);
  EXPECT_THROW(pending->Commit(), OsError);
  pending.reset();
  EXPECT_EQ(Read(At("Game.PRG")), fresh);
}

TEST_F(PosixVolumeTest, NewFilesGetTheUmaskAndLandWhereTheNameSays) {
  fs::create_directory(At("Sub"));
  PosixVolume volume(root_);
  Save(volume, "new.prg", "abc");
  Save(volume, "sub/deeper.prg", "def");
  Save(volume, "$", "dollar");
  Save(volume, "back\\slash", "one name");
  EXPECT_EQ(Read(At("new.prg")), "abc");
  // 0x5C is the C64's pound sign: the host name holds "£", still one name.
  EXPECT_EQ(Read(At("back\u00A3slash")), "one name");
  EXPECT_EQ(Read(At("Sub/deeper.prg")), "def");
  EXPECT_EQ(Read(At("$")), "dollar");
  struct stat st;
  ASSERT_EQ(stat(At("new.prg").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  EXPECT_TRUE(LeftoverTemporaries(At("Sub")).empty());
}

// Each save leaves an unnamed file made ahead for the next one into its directory.
// Whatever happens to the directory in between, the next save lands as it would
// have without it: where its name says now, with its own bits and time, or refused
// at its start where a fresh file could not be made.
TEST_F(PosixVolumeTest, ASaveAfterAnotherLandsAsItWouldHaveAlone) {
  struct Case {
    const char* name;
    std::function<void(const fs::path& root)> between;
    bool as_user;        // the second save is made as an unprivileged user
    const char* second;  // saved with no data
    const char* lands;   // its file, relative to the root; nullptr when refused
    mode_t mode;
  };
  const Case cases[] = {
      {"a_new_name_beside_it", [](const fs::path&) {}, false, "box/b.prg", "box/b.prg", 0644},
      {"over_a_file_of_its_own_bits",
       [](const fs::path& root) {
         std::ofstream(root / "box/old.prg") << "old";
         fs::permissions(root / "box/old.prg", fs::perms(0600));
       },
       false, "box/old.prg", "box/old.prg", 0600},
      // Where no link can reach from the first (just another directory where no file
      // system can be mounted).
      {"into_another_file_system",
       [](const fs::path& root) {
         mount("tmpfs", (root / "other").c_str(), "tmpfs", 0, "mode=777");
       },
       false, "other/c.prg", "other/c.prg", 0644},
      {"into_a_directory_put_where_it_was",
       [](const fs::path& root) {
         fs::rename(root / "box", root / "moved");
         fs::create_directory(root / "box");
       },
       false, "box/d.prg", "box/d.prg", 0644},
      {"into_the_directory_made_read_only",
       [](const fs::path& root) { fs::permissions(root / "box", fs::perms(0555)); }, true,
       "box/e.prg", nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.as_user && geteuid() != 0) continue;  // only root can act as another user
    fs::remove_all(root_);
    fs::create_directory(root_);
    for (const char* dir : {"box", "other"}) {
      fs::create_directory(At(dir));
      fs::permissions(At(dir), fs::perms(0777));
    }
    struct Unmount {
      fs::path dir;
      ~Unmount() { umount2(dir.c_str(), MNT_DETACH); }
    } const unmount{At("other")};
    PosixVolume volume(root_);
    Save(volume, "box/a.prg", "first");
    c.between(root_);
    // Long enough for the file system's coarse clock to tick past the spare's time.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    timespec before{};
    clock_gettime(CLOCK_REALTIME_COARSE, &before);
    if (c.as_user) {
      ASSERT_EQ(seteuid(65534), 0);
    }
    std::unique_ptr<PendingFile> pending;
    int refused = 0;
    try {
      pending = volume.CreateForSave(c.second);
      if (pending) pending->Commit();
    } catch (const OsError& error) {
      refused = error.Code();
    }
    if (c.as_user) {
      ASSERT_EQ(seteuid(0), 0);
    }
    if (c.lands == nullptr) {
      EXPECT_EQ(refused, EACCES);
      EXPECT_EQ(std::distance(fs::directory_iterator(At("box")), {}), 1);
      continue;
    }
    ASSERT_NE(pending, nullptr) << "refused: " << refused;
    struct stat st;
    ASSERT_EQ(stat(At(c.lands).c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_EQ(st.st_mode & 07777, c.mode);
    EXPECT_GE(st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec,
              before.tv_sec * 1000000000LL + before.tv_nsec);
    EXPECT_EQ(Read(fs::exists(At("moved")) ? At("moved/a.prg") : At("box/a.prg")), "first");
    for (const char* dir : {"box", "other"}) EXPECT_TRUE(LeftoverTemporaries(At(dir)).empty());
  }
}

TEST_F(PosixVolumeTest, SaveThroughALinkReplacesWhatItLeadsTo) {
  fs::create_directory(At("sub"));
  Write("sub/real.prg", "old");
  fs::create_symlink("sub/real.prg", At("alias.prg"));
  PosixVolume volume(root_);
  Save(volume, "alias.prg", "new");
  EXPECT_TRUE(fs::is_symlink(At("alias.prg")));
  EXPECT_EQ(Read(At("sub/real.prg")), "new");
}

TEST_F(PosixVolumeTest, DiscardAndDestructionLeaveTheTargetByteForByte) {
  const std::string original("\x00\x01\xFFkeep me", 10);
  Write("keep.prg", original);
  PosixVolume volume(root_);
  const std::string junk = "junk";
  {
    auto pending = volume.CreateForSave("KEEP.PRG");
    ASSERT_NE(pending, nullptr);
    pending->Write(reinterpret_cast<const std::uint8_t*>(junk.data()), junk.size());
    pending->Discard();
    pending->Discard();
    EXPECT_THROW(pending->Commit(), OsError);
  }
  {
    auto pending = volume.CreateForSave("keep.prg");
    ASSERT_NE(pending, nullptr);
    pending->Write(reinterpret_cast<const std::uint8_t*>(junk.data()), junk.size());
  }
  {
    auto pending = volume.CreateForSave("never.prg");
    ASSERT_NE(pending, nullptr);
  }
  EXPECT_EQ(Read(At("keep.prg")), original);
  EXPECT_FALSE(Exists(At("never.prg")));
  EXPECT_TRUE(LeftoverTemporaries(root_).empty());
}

TEST_F(PosixVolumeTest, FailedCommitThrowsAndLeavesNoTemporary) {
  PosixVolume volume(root_);
  auto pending = volume.CreateForSave("target");
  ASSERT_NE(pending, nullptr);
  // Something else took the name as a directory while the save ran.
  fs::create_directory(At("target"));
  fs::create_directory(At("target/busy"));
  try {
    pending->Commit();
    ADD_FAILURE() << "commit over a directory succeeded";
  } catch (const OsError& e) {
    EXPECT_NE(e.Code(), 0);
  }
  EXPECT_TRUE(fs::is_directory(At("target/busy")));
  EXPECT_TRUE(LeftoverTemporaries(root_).empty());
}

// What a save killed between its link and its rename, or one on a file system
// without unnamed files, leaves goes the first time the server enters its
// directory; a save under way (its file locked) and what is no file stay.
TEST_F(PosixVolumeTest, LeftoversOfKilledSavesGoWhenTheirDirectoryIsEntered) {
  fs::create_directory(At("sub"));
  Write(".dorvane-save-dead000001", "partial");
  Write("sub/.dorvane-save-dead000002", "partial");
  Write("sub/.dorvane-save-live000003", "in use");
  fs::create_directory(At("sub/.dorvane-save-dir0000004"));
  Write("sub/kept.prg", "kept");
  const int live = open(At("sub/.dorvane-save-live000003").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(live, 0);
  ASSERT_EQ(flock(live, LOCK_EX), 0);

  PosixVolume volume(root_);
  EXPECT_TRUE(LeftoverTemporaries(root_).empty());
  EXPECT_EQ(LeftoverTemporaries(At("sub")).size(), 3u);  // not entered yet
  ASSERT_TRUE(volume.ChangeDir("sub"));
  std::vector<std::string> left = LeftoverTemporaries(At("sub"));
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left,
            (std::vector<std::string>{".dorvane-save-dir0000004", ".dorvane-save-live000003"}));
  EXPECT_EQ(Read(At("sub/kept.prg")), "kept");
  close(live);
}

// A save guarded by the stamp of the file it replaces: another program's change
// between the stamp and the commit is never overwritten, a removed file never
// made again, and a commit that goes through hands back the new file's stamp.
TEST_F(PosixVolumeTest, AGuardedCommitReplacesOnlyTheFileItWasGiven) {
  struct Case {
    const char* what;
    std::function<void()> host_change;
    const char* left;  // the target's content after the commit; nullptr: no file
  };
  const Case cases[] = {
      {"untouched", [] {}, "saved"},
      {"rewritten", [&] { Write("disk.d64", "the host's longer version"); },
       "the host's longer version"},
      {"replaced",
       [&] {
         Write("other", "another file");
         fs::rename(At("other"), At("disk.d64"));
       },
       "another file"},
      {"removed", [&] { fs::remove(At("disk.d64")); }, nullptr},
  };
  for (const Case& c : cases) {
    Write("disk.d64", "original");
    PosixVolume volume(root_);
    FileStamp stamp;
    ASSERT_TRUE(volume.StampOf("DISK.D64", stamp)) << c.what;
    auto pending = volume.CreateForSave("disk.d64");
    ASSERT_NE(pending, nullptr);
    ASSERT_TRUE(pending->ReplaceOnlyIf(&stamp));
    pending->Write(reinterpret_cast<const std::uint8_t*>("saved"), 5);
    c.host_change();
    const FileStamp given = stamp;
    if (c.left != nullptr && std::string(c.left) == "saved") {
      pending->Commit();
      FileStamp now;
      ASSERT_TRUE(volume.StampOf("disk.d64", now));
      EXPECT_EQ(stamp, now) << c.what;
      EXPECT_NE(stamp, given) << c.what;
    } else {
      EXPECT_THROW(pending->Commit(), SaveRefused) << c.what;
    }
    EXPECT_EQ(Exists(At("disk.d64")), c.left != nullptr) << c.what;
    if (c.left != nullptr) {
      EXPECT_EQ(Read(At("disk.d64")), c.left) << c.what;
    }
    EXPECT_TRUE(LeftoverTemporaries(root_).empty()) << c.what;
  }
}

TEST_F(PosixVolumeTest, CommitSucceedsWhenTheDirectoryCannotBeSynced) {
  Write("game.prg", "old");
  PosixVolume volume(root_);
  // The save's file takes the lowest free descriptor; with the limit set there,
  // the directory cannot be opened for its sync once that file is closed. The
  // rename has happened by then, so the save stands.
  const int lowest_free = dup(0);
  ASSERT_GE(lowest_free, 0);
  close(lowest_free);
  auto pending = volume.CreateForSave("game.prg");
  ASSERT_NE(pending, nullptr);
  const std::string fresh = "new";
  pending->Write(reinterpret_cast<const std::uint8_t*>(fresh.data()), fresh.size());
  rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  rlimit tight = saved;
  tight.rlim_cur = static_cast<rlim_t>(lowest_free);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
  EXPECT_NO_THROW(pending->Commit());
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
  EXPECT_EQ(Read(At("game.prg")), fresh);
  EXPECT_TRUE(LeftoverTemporaries(root_).empty());
}

TEST_F(PosixVolumeTest, SavesThatCannotBeMadeAreRefused) {
  Write("locked.prg", "locked", 0444);
  fs::create_directory(At("Dir"));
  ASSERT_EQ(mkfifo(At("pipe").c_str(), 0644), 0);
  Write("file", "");
  PosixVolume volume(root_);
  const std::string refused[] = {
      "locked.prg",
      "LOCKED.PRG",
      "dir",
      "pipe",
      "",
      ".",
      "..",
      "a*",
      "a?",
      "dir/",
      "missing/x",
      "file/x",
      "/../",
      "dir/../..",
      std::string("a\0b", 3),
      std::string(NAME_MAX + 1, 'n'),
  };
  for (const std::string& name : refused) EXPECT_EQ(volume.CreateForSave(name), nullptr) << name;
  EXPECT_EQ(Read(At("locked.prg")), "locked");
  EXPECT_TRUE(LeftoverTemporaries(root_).empty());
  EXPECT_TRUE(LeftoverTemporaries(At("Dir")).empty());
}

TEST_F(PosixVolumeTest, DeleteRemovesFilesAndEmptyDirectoriesOnly) {
  Write("file.prg", "x");
  Write("locked.prg", "x", 0444);
  fs::create_directories(At("empty"));
  fs::create_directories(At("full"));
  Write("full/inner", "x");
  fs::create_directory(At("sub"));
  Write("sub/deep.prg", "x");
  Write("target", "x");
  fs::create_symlink("target", At("link"));
  fs::create_symlink("locked.prg", At("locked-link"));
  // Listed read-only ("DIR<"), so kept even from root, and so is a link to it.
  fs::create_directory(At("locked-dir"));
  ASSERT_EQ(chmod(At("locked-dir").c_str(), 0555), 0);
  fs::create_directory_symlink("locked-dir", At("locked-dir-link"));
  PosixVolume volume(root_);

  const std::pair<const char*, bool> cases[] = {
      {"FILE.PRG", true},     {"locked.prg", false},  {"empty", true},
      {"full", false},        {"sub/deep.prg", true}, {"link", true},
      {"locked-link", false}, {"locked-dir", false},  {"locked-dir-link", false},
  };
  for (const auto& [pattern, removed] : cases) {
    const DirEntry entry = Found(volume, pattern);
    EXPECT_EQ(volume.Delete(entry), removed) << pattern;
    EXPECT_EQ(Exists(entry.Locator), !removed) << pattern;
  }
  // Only the link went, not what it led to.
  EXPECT_TRUE(Exists(At("target")));
  EXPECT_TRUE(Exists(At("full/inner")));

  ASSERT_TRUE(volume.ChangeDir("sub"));
  for (const char* dots : {".", ".."}) EXPECT_FALSE(volume.Delete(Found(volume, dots))) << dots;
  EXPECT_TRUE(Exists(At("sub")));
  DirEntry root_entry;
  root_entry.Locator = root_.string();
  EXPECT_FALSE(volume.Delete(root_entry));
  EXPECT_FALSE(volume.Delete(DirEntry{}));
}

TEST_F(PosixVolumeTest, RemovingTheCurrentDirectoryFallsBackToItsParent) {
  fs::create_directories(At("a/b"));
  PosixVolume volume(root_);
  ASSERT_TRUE(volume.ChangeDir("a/b"));
  EXPECT_TRUE(volume.Delete(Found(volume, "/a/b")));
  EXPECT_EQ(volume.CurrentDirDisplay(), At("a").string());
  EXPECT_EQ(Names(volume, "*"), (std::vector<std::string>{".", ".."}));
}

// A file manager on the desktop may rename, move or remove the directory the C64
// is in; the next request carries on where that directory went, or from the
// nearest directory above it that is still there.
TEST_F(PosixVolumeTest, CurrentDirectoryChangedByAnotherProgramIsFollowed) {
  const std::pair<const char*, std::function<fs::path()>> cases[] = {
      {"renamed",
       [&] {
         fs::rename(At("a/games"), At("a/games2"));
         return At("a/games2");
       }},
      {"renamed, a new one in its place",
       [&] {
         fs::rename(At("a/games"), At("a/games2"));
         fs::create_directory(At("a/games"));
         return At("a/games2");
       }},
      {"moved elsewhere in the tree",
       [&] {
         fs::rename(At("a/games"), At("moved"));
         return At("moved");
       }},
      {"moved out of the tree",
       [&] {
         fs::rename(At("a/games"), outside_ / "games");
         return At("a");
       }},
      {"moved out of the tree, a link to it put in its place",
       [&] {
         fs::rename(At("a/games"), outside_ / "games");
         fs::create_directory_symlink(outside_ / "games", At("a/games"));
         return At("a");
       }},
      {"moved out of the tree, a relative link to it put in its place",
       [&] {
         fs::rename(At("a/games"), outside_ / "games");
         fs::create_directory_symlink("../../outside/games", At("a/games"));
         return At("a");
       }},
      {"removed",
       [&] {
         fs::remove_all(At("a/games"));
         return At("a");
       }},
      {"removed with its parent",
       [&] {
         fs::remove_all(At("a"));
         return root_;
       }},
  };
  for (const auto& [what, disturb] : cases) {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
    fs::remove_all(outside_ / "games", ignored);
    fs::create_directories(At("a/games"));
    Write("a/games/f", "f");
    PosixVolume volume(root_);
    ASSERT_TRUE(volume.ChangeDir("a/games"));
    const fs::path where = disturb();
    int error = -1;
    EXPECT_NE(volume.FindFirst("*", error), nullptr) << what << " error " << error;
    EXPECT_EQ(volume.CurrentDirDisplay(), where.string()) << what;
    // Whatever happened, the next save and new directory land where the C64 now is.
    Save(volume, "after.prg", "a");
    EXPECT_TRUE(volume.MakeDir("made")) << what;
    EXPECT_EQ(Read(where / "after.prg"), "a") << what;
    EXPECT_TRUE(fs::is_directory(where / "made")) << what;
    EXPECT_FALSE(Exists(outside_ / "games/after.prg")) << what;
    EXPECT_FALSE(Exists(outside_ / "games/made")) << what;
  }
}

TEST_F(PosixVolumeTest, EveryRequestWorksInARenamedCurrentDirectory) {
  const std::pair<const char*, std::function<bool(PosixVolume&)>> cases[] = {
      {"load", [&](PosixVolume& v) { return v.OpenRead(Found(v, "f")) != nullptr; }},
      {"save",
       [&](PosixVolume& v) {
         Save(v, "new.prg", "n");
         return Read(At("a/games2/new.prg")) == "n";
       }},
      {"new directory",
       [&](PosixVolume& v) { return v.MakeDir("made") && Exists(At("a/games2/made")); }},
      {"rename", [&](PosixVolume& v) { return v.Rename("f", "g") && Exists(At("a/games2/g")); }},
      {"cd into",
       [&](PosixVolume& v) {
         return v.ChangeDir("inner") && v.CurrentDirDisplay() == At("a/games2/inner").string();
       }},
      {"cd up",
       [&](PosixVolume& v) {
         return v.ChangeDir("..") && v.CurrentDirDisplay() == At("a").string();
       }},
  };
  for (const auto& [what, request] : cases) {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
    fs::create_directories(At("a/games/inner"));
    Write("a/games/f", "f");
    PosixVolume volume(root_);
    ASSERT_TRUE(volume.ChangeDir("a/games"));
    fs::rename(At("a/games"), At("a/games2"));
    EXPECT_TRUE(request(volume)) << what;
  }
}

TEST_F(PosixVolumeTest, RenameCases) {
  struct Case {
    const char* old_name;
    const char* new_name;
    bool renamed;
  };
  const Case cases[] = {
      {"old.prg", "new.prg", true},
      {"OLD.PRG", "new.prg", true},
      {"old.prg", "OLD.PRG", true},  // only the case changes
      {"old.prg", "other.prg", false},
      {"old.prg", "OTHER.PRG", false},
      {"missing", "new.prg", false},
      {"", "new.prg", false},
      {"old.prg", "", false},
      {"old.prg", "sub/", false},
      {"old.prg", ".", false},
      {"old.prg", "..", false},
      {".", "new", false},
      {"old.prg", "new*", false},
      {"old.prg", "sub/moved.prg", true},
      {"old.prg", "/sub/../moved.prg", true},
      {"old.prg", "missing/moved.prg", false},
      {"sub", "sub/inside", false},
      {"sub", "renamed-dir", true},
  };
  for (const Case& c : cases) {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
    fs::create_directories(At("sub"));
    Write("old.prg", "old");
    Write("other.prg", "other");
    Write("sub/keep", "k");
    PosixVolume volume(root_);
    const bool result = volume.Rename(c.old_name, c.new_name);
    EXPECT_EQ(result, c.renamed) << c.old_name << " -> " << c.new_name;
    EXPECT_EQ(Read(At("other.prg")), "other") << c.old_name << " -> " << c.new_name;
    if (!result) {
      EXPECT_EQ(Read(At("old.prg")), "old") << c.old_name << " -> " << c.new_name;
      EXPECT_EQ(Read(At("sub/keep")), "k") << c.old_name << " -> " << c.new_name;
    }
  }
}

TEST_F(PosixVolumeTest, RenamingAnEnclosingDirectoryCarriesTheCurrentDirectory) {
  fs::create_directories(At("a/b"));
  Write("a/b/f", "f");
  PosixVolume volume(root_);
  ASSERT_TRUE(volume.ChangeDir("a/b"));
  EXPECT_TRUE(volume.Rename("/A", "/z"));
  EXPECT_EQ(volume.CurrentDirDisplay(), At("z/b").string());
  EXPECT_EQ(Names(volume, "f"), (std::vector<std::string>{"f"}));
}

TEST_F(PosixVolumeTest, MakeDirCreatesOnlyTheLastComponent) {
  Write("file", "");
  fs::create_directory(At("Existing"));
  PosixVolume volume(root_);
  EXPECT_TRUE(volume.MakeDir("fresh"));
  EXPECT_TRUE(volume.MakeDir("fresh/inner/"));
  EXPECT_TRUE(volume.MakeDir("/FRESH/inner/../second"));
  EXPECT_TRUE(fs::is_directory(At("fresh/inner")));
  EXPECT_TRUE(fs::is_directory(At("fresh/second")));
  struct stat st;
  ASSERT_EQ(stat(At("fresh").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);

  for (const char* path :
       {"existing", "EXISTING", "file", "", "/", "a/b", "file/x", ".", "..", "new*dir"}) {
    EXPECT_FALSE(volume.MakeDir(path)) << path;
  }
  EXPECT_FALSE(Exists(At("a")));
  EXPECT_FALSE(Exists(At("new*dir")));
}

TEST_F(PosixVolumeTest, ChangeDirFollowsThePathOrChangesNothing) {
  fs::create_directories(At("Games/New"));
  Write("file", "");
  PosixVolume volume(root_);
  const std::pair<const char*, fs::path> moves[] = {
      {"games/new", At("Games/New")},    {"..", At("Games")}, {"", root_},
      {"GAMES/./NEW/", At("Games/New")}, {"/", root_},        {"//games//", At("Games")},
  };
  for (const auto& [path, where] : moves) {
    EXPECT_TRUE(volume.ChangeDir(path)) << path;
    EXPECT_EQ(volume.CurrentDirDisplay(), where.string()) << path;
  }
  for (const std::string path : {"file", "missing", "new/missing", "../file"}) {
    EXPECT_FALSE(volume.ChangeDir(path)) << path;
    EXPECT_EQ(volume.CurrentDirDisplay(), At("Games").string()) << path;
  }
  EXPECT_FALSE(volume.ChangeDir(std::string("New\0", 4)));
  EXPECT_EQ(volume.CurrentDirDisplay(), At("Games").string());
}

}  // namespace
}  // namespace dorvane

namespace dorvane {
namespace {

// A link that names a place inside the root by its full path stays inside: the
// kernel's fence takes every absolute link for one leading out, the volume does not.
TEST_F(PosixVolumeTest, LinksByFullPathIntoTheRootWork) {
  fs::create_directory(At("games"));
  Write("games/intro.prg", "intro");
  fs::create_directory_symlink(At("games"), At("g"));
  fs::create_symlink(At("games/intro.prg"), At("i.prg"));
  PosixVolume volume(root_);

  const DirEntry entry = Found(volume, "i.prg");
  EXPECT_EQ(entry.Attributes, 0u);
  auto file = volume.OpenRead(entry);
  ASSERT_NE(file, nullptr);
  std::uint8_t buffer[16];
  EXPECT_EQ(file->Read(buffer, sizeof buffer), 5u);
  Save(volume, "i.prg", "saved");
  EXPECT_EQ(Read(At("games/intro.prg")), "saved");
  EXPECT_TRUE(fs::is_symlink(At("i.prg")));
  EXPECT_TRUE(volume.ChangeDir("g"));
  EXPECT_EQ(volume.CurrentDirDisplay(), At("games").string());
}

}  // namespace
}  // namespace dorvane
