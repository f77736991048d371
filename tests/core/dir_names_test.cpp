// The index kept of a large directory: read once, and kept up to date with what
// other programs and the server itself change in it.
#include "storage/dir_names.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/p00_file.h"
#include "platform/sys_calls.h"
#include "storage/posix_volume.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;

class DirNamesCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string scratch = (fs::temp_directory_path() / "dorvane-names-XXXXXX").string();
    ASSERT_NE(mkdtemp(scratch.data()), nullptr);
    root_ = scratch;
    for (int i = 0; i < Entries; ++i) Touch("a rather long name " + std::to_string(i));
  }
  void TearDown() override {
    ForceUnwatchedDirectories(false);
    fs::remove_all(root_);
  }

  void Touch(const std::string& name) {
    const int fd = open((root_ / name).c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    close(fd);
  }

  // Writes a P00 container `name` holding the C64 name `inner` and no data.
  void WriteContainer(const std::string& name, const std::string& inner) {
    P00Header header;
    header.Name = inner;
    const std::array<std::uint8_t, P00HeaderSize> bytes = MakeP00Header(header);
    FILE* file = std::fopen((root_ / name).c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  }

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

  // A whole listing: each entry's name and alternate name.
  static std::vector<std::string> Listed(Volume& volume) {
    int error = 0;
    auto search = volume.FindFirst("*", error);
    std::vector<std::string> listed;
    DirEntry entry;
    while (search && search->Next(entry)) {
      listed.push_back(entry.Name + "|" + entry.AlternateName + "|" + entry.ListedName);
    }
    return listed;
  }

  static constexpr int Entries = 500;
  fs::path root_;
};

TEST_F(DirNamesCacheTest, AWatchedDirectoryIsReadOnceAndFollowsEveryChange) {
  PosixVolume volume(root_.string());
  EXPECT_GT(AlternateLookupCalls(volume, "a_rath~1"), std::uint64_t{Entries});
  EXPECT_LT(AlternateLookupCalls(volume, "a_rath~2"), 20u);

  // Another program adds, removes and renames entries and writes a container: the
  // index follows without reading the directory again.
  Touch("a rather long name new");
  ASSERT_EQ(unlink((root_ / "a rather long name 7").c_str()), 0);
  ASSERT_EQ(rename((root_ / "a rather long name 8").c_str(), (root_ / "zz moved").c_str()), 0);
  WriteContainer("container.p00", "INNER NAME");
  EXPECT_LT(AlternateLookupCalls(volume, "a_rath~499"), 20u);

  // What it lists is what a server that never saw the directory before lists.
  const std::vector<std::string> kept = Listed(volume);
  PosixVolume fresh(root_.string());
  EXPECT_EQ(kept, Listed(fresh));
  EXPECT_NE(std::find(kept.begin(), kept.end(), "container.p00||INNER NAME"), kept.end());
  EXPECT_NE(std::find(kept.begin(), kept.end(), "zz moved||"), kept.end());

  // Its own changes too.
  ASSERT_TRUE(volume.Rename("zz moved", "zz renamed"));
  ASSERT_TRUE(volume.MakeDir("new dir"));
  EXPECT_EQ(Listed(volume), Listed(fresh));
}

TEST_F(DirNamesCacheTest, AContainerSeenBeforeItsHeaderWasWrittenListsByItsInnerName) {
  // A copy creates the file first and writes it after; a request may fall between.
  PosixVolume volume(root_.string());
  EXPECT_GT(AlternateLookupCalls(volume, "a_rath~1"), std::uint64_t{Entries});
  Touch("late.p00");
  EXPECT_LT(AlternateLookupCalls(volume, "a_rath~2"), 20u);
  WriteContainer("late.p00", "LATE NAME");
  const std::vector<std::string> kept = Listed(volume);
  EXPECT_NE(std::find(kept.begin(), kept.end(), "late.p00||LATE NAME"), kept.end());
  PosixVolume fresh(root_.string());
  EXPECT_EQ(kept, Listed(fresh));
}

TEST_F(DirNamesCacheTest, TimesThatMoveWithoutAWordFromTheWatchAreReadAgain) {
  // As on a share another machine changes: the watch hears nothing, the times move.
  PosixVolume volume(root_.string());
  EXPECT_GT(AlternateLookupCalls(volume, "a_rath~1"), std::uint64_t{Entries});
  Settle();
  EXPECT_GT(AlternateLookupCalls(volume, "a_rath~2"), std::uint64_t{Entries});
  EXPECT_LT(AlternateLookupCalls(volume, "a_rath~3"), 20u);
}

TEST_F(DirNamesCacheTest, ManyChangesAtOnceAreReadAfresh) {
  PosixVolume volume(root_.string());
  EXPECT_GT(AlternateLookupCalls(volume, "a_rath~1"), std::uint64_t{Entries});
  // More changes than are worth applying one by one, and more than the kernel may
  // queue: either way the next look reads the directory again, and misses nothing.
  for (int i = 0; i < 1500; ++i) Touch("b new entry " + std::to_string(i));
  for (int i = 0; i < Entries; i += 2) {
    ASSERT_EQ(unlink((root_ / ("a rather long name " + std::to_string(i))).c_str()), 0);
  }
  PosixVolume fresh(root_.string());
  EXPECT_EQ(Listed(volume), Listed(fresh));
  EXPECT_EQ(Listed(volume).size(), std::size_t{1500 + Entries / 2});
}

TEST_F(DirNamesCacheTest, ABurstSmallerThanHalfTheDirectoryIsAppliedInPlace) {
  for (int i = 0; i < 3000; ++i) Touch("c filler " + std::to_string(i));
  PosixVolume volume(root_.string());
  EXPECT_GT(AlternateLookupCalls(volume, "a_rath~1"), std::uint64_t{Entries});
  // More changes than a fixed cap would apply, fewer than half the entries: new
  // names that list first and last, removals and renames among those listed first.
  for (int i = 0; i < 1200; ++i) Touch((i % 2 == 0 ? "0 new " : "zz new ") + std::to_string(i));
  for (int i = 0; i < 200; ++i) {
    const std::string name = "a rather long name " + std::to_string(i);
    if (i % 2 == 0) {
      ASSERT_EQ(unlink((root_ / name).c_str()), 0);
    } else {
      ASSERT_EQ(rename((root_ / name).c_str(), (root_ / ("b moved " + name)).c_str()), 0);
    }
  }
  EXPECT_LT(AlternateLookupCalls(volume, "a_rath~2"), 100u);
  PosixVolume fresh(root_.string());
  EXPECT_EQ(Listed(volume), Listed(fresh));
}

TEST_F(DirNamesCacheTest, ASearchUnderWayKeepsWhatItStartedWith) {
  PosixVolume volume(root_.string());
  int error = 0;
  auto search = volume.FindFirst("*", error);
  ASSERT_NE(search, nullptr);
  DirEntry entry;
  ASSERT_TRUE(search->Next(entry));
  // Entries change while the search is under way, and another request looks names
  // up meanwhile, as a scratch of many files does.
  ASSERT_EQ(unlink((root_ / "a rather long name 300").c_str()), 0);
  Touch("a rather long name zzz");
  EXPECT_GT(AlternateLookupCalls(volume, "a_rath~2"), 0u);
  // It goes on through the names it started with; the one removed meanwhile is
  // passed over when its turn comes, and the new one is not among them.
  int rest = 0;
  while (search->Next(entry)) {
    EXPECT_NE(entry.Name, "a rather long name zzz");
    ++rest;
  }
  EXPECT_EQ(rest, Entries - 2);
  search.reset();
  PosixVolume fresh(root_.string());
  EXPECT_EQ(Listed(volume), Listed(fresh));
}

TEST_F(DirNamesCacheTest, WithoutAWatchASettledDirectoryIsReadOnceUntilItChanges) {
  ForceUnwatchedDirectories(true);
  Settle();
  PosixVolume volume(root_.string());
  EXPECT_GT(AlternateLookupCalls(volume, "a_rath~1"), std::uint64_t{Entries});
  EXPECT_LT(AlternateLookupCalls(volume, "a_rath~2"), 20u);
  // A new entry changes the directory: it is read again, and the new name answers.
  Touch("a rather long name new");
  EXPECT_GT(AlternateLookupCalls(volume, "a_rath~501"), std::uint64_t{Entries});
}

TEST_F(DirNamesCacheTest, WithoutAWatchADirectoryChangedJustNowIsReadEveryTime) {
  // Its clock may not have ticked since: a further change could go unseen.
  ForceUnwatchedDirectories(true);
  PosixVolume volume(root_.string());
  EXPECT_GT(AlternateLookupCalls(volume, "a_rath~1"), std::uint64_t{Entries});
  EXPECT_GT(AlternateLookupCalls(volume, "a_rath~2"), std::uint64_t{Entries});
}

}  // namespace
}  // namespace dorvane
