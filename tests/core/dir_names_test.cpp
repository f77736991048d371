// A directory's names as the C64 sees them, and the copy kept of a large directory
// until it changes.
#include "platform/dir_names.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/posix_volume.h"
#include "platform/sys_calls.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;

TEST(DirNames, FindsTheListedEntryByFoldedAndByAlternateName) {
  const DirNames names =
      MakeDirNames({"Game.prg", "zeta", "game.prg", "A_VERY_LONG_FILENAME.TXT", "GAME.PRG"});
  EXPECT_EQ(names.names, (std::vector<std::string>{"A_VERY_LONG_FILENAME.TXT", "game.prg",
                                                   "Game.prg", "GAME.PRG", "zeta"}));
  const struct {
    const char* name;
    const char* found;  // nullptr: none
  } rows[] = {
      {"game.prg", "game.prg"},
      {"GAME.PRG", "game.prg"},
      {"gAmE.pRg", "game.prg"},
      {"zeta", "zeta"},
      {"ZETA", "zeta"},
      {"game~1.prg", "Game.prg"},
      {"GAME~2.PRG", "GAME.PRG"},
      {"a_very~1.txt", "A_VERY_LONG_FILENAME.TXT"},
      {"game~3.prg", nullptr},
      {"gam", nullptr},
      {"", nullptr},
  };
  for (const auto& row : rows) {
    std::size_t index = 0;
    const bool found = names.FindFolded(row.name, index) || names.FindAlternate(row.name, index);
    if (row.found == nullptr) {
      EXPECT_FALSE(found) << row.name;
    } else {
      ASSERT_TRUE(found) << row.name;
      EXPECT_EQ(names.names[index], row.found) << row.name;
    }
  }
}

class DirNamesCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string scratch = (fs::temp_directory_path() / "dorvane-names-XXXXXX").string();
    ASSERT_NE(mkdtemp(scratch.data()), nullptr);
    root_ = scratch;
    for (int i = 0; i < Entries; ++i) {
      const int fd = open((root_ / ("a rather long name " + std::to_string(i))).c_str(),
                          O_WRONLY | O_CREAT, 0644);
      ASSERT_GE(fd, 0);
      close(fd);
    }
  }
  void TearDown() override { fs::remove_all(root_); }

  // Puts the directory's last change a minute back, as if it had been left alone.
  void Settle() {
    timespec times[2];
    clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= 60;
    times[1] = times[0];
    ASSERT_EQ(utimensat(AT_FDCWD, root_.c_str(), times, 0), 0);
  }

  // The system calls of a load by an alternate name.
  std::uint64_t AlternateLookupCalls(Volume& volume, const std::string& name) {
    const std::uint64_t start = sys::CallCount();
    int error = 0;
    auto search = volume.FindFirst(name, error);
    DirEntry entry;
    EXPECT_TRUE(search && search->Next(entry)) << name;
    return sys::CallCount() - start;
  }

  static constexpr int Entries = 500;
  fs::path root_;
};

TEST_F(DirNamesCacheTest, ASettledDirectoryIsReadOnceUntilItChanges) {
  Settle();
  PosixVolume volume(root_.string());
  EXPECT_GT(AlternateLookupCalls(volume, "a_rath~1"), std::uint64_t{Entries});
  EXPECT_LT(AlternateLookupCalls(volume, "a_rath~2"), 20u);
  // A new entry changes the directory: it is read again, and the new name answers.
  const int fd = open((root_ / "a rather long name new").c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  close(fd);
  EXPECT_GT(AlternateLookupCalls(volume, "a_rath~501"), std::uint64_t{Entries});
}

TEST_F(DirNamesCacheTest, ADirectoryChangedJustNowIsReadEveryTime) {
  // Its clock may not have ticked since: a further change could go unseen.
  PosixVolume volume(root_.string());
  EXPECT_GT(AlternateLookupCalls(volume, "a_rath~1"), std::uint64_t{Entries});
  EXPECT_GT(AlternateLookupCalls(volume, "a_rath~2"), std::uint64_t{Entries});
}

}  // namespace
}  // namespace dorvane
