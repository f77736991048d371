// The fence of the served tree: what opening a path beneath the root gives, the
// same with openat2 and with the component walk kept for kernels without it.
#include "storage/beneath.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/unique_fd.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;

class BeneathTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    ForceBeneathWalk(GetParam());
    std::string scratch = (fs::temp_directory_path() / "dorvane-beneath-XXXXXX").string();
    ASSERT_NE(mkdtemp(scratch.data()), nullptr);
    scratch_ = fs::canonical(scratch);
    root_ = scratch_ / "root";
    const fs::path outside = scratch_ / "outside";
    fs::create_directories(root_ / "dir/deeper");
    fs::create_directory(outside);
    std::ofstream(root_ / "file") << "top";
    std::ofstream(root_ / "dir/file") << "in";
    std::ofstream(outside / "secret") << "outside";
    fs::create_directory_symlink("dir", root_ / "in_link");
    fs::create_symlink("dir/../file", root_ / "in_up");
    fs::create_symlink("../file", root_ / "dir/up_in");
    fs::create_symlink("../../file", root_ / "dir/deeper/two_up");
    fs::create_symlink("in_up", root_ / "chain");
    fs::create_symlink(root_ / "file", root_ / "abs_in");
    fs::create_directory_symlink("../outside", root_ / "out_rel");
    fs::create_directory_symlink(outside, root_ / "out_abs");
    fs::create_directory_symlink("../../outside", root_ / "dir/up_out");
    fs::create_symlink("loop_b", root_ / "loop_a");
    fs::create_symlink("loop_a", root_ / "loop_b");
    fs::create_symlink("self", root_ / "self");
    fs::create_symlink("missing", root_ / "dangling");
    fs::create_symlink("/proc/self/root", root_ / "magic");
    root_fd_.Reset(open(root_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(root_fd_.Valid());
  }
  void TearDown() override {
    ForceBeneathWalk(false);
    fs::remove_all(scratch_);
  }

  // The content of the file `path` leads to, or "errno N".
  std::string Open(const std::string& path) {
    UniqueFd fd(OpenBeneath(root_fd_.Get(), path, O_RDONLY));
    if (!fd.Valid()) return "errno " + std::to_string(errno);
    char buffer[64];
    const ssize_t n = read(fd.Get(), buffer, sizeof buffer);
    return n < 0 ? "unreadable" : std::string(buffer, static_cast<std::size_t>(n));
  }

  fs::path scratch_, root_;
  UniqueFd root_fd_;
};

std::string Errno(int code) { return "errno " + std::to_string(code); }

TEST_P(BeneathTest, Rules) {
  const struct {
    std::string path;
    std::string result;
  } rows[] = {
      // Plain paths and links that stay inside.
      {"file", "top"},
      {"dir/file", "in"},
      {"./dir/./file", "in"},
      {"dir/../file", "top"},
      {"in_link/file", "in"},
      {"in_up", "top"},
      {"dir/up_in", "top"},
      {"dir/deeper/two_up", "top"},
      {"chain", "top"},
      {"in_link/up_in", "top"},
      // ".." at the root, and every way out.
      {"..", Errno(EXDEV)},
      {"../root/file", Errno(EXDEV)},
      {"dir/../../root/file", Errno(EXDEV)},
      {"/etc/hostname", Errno(EXDEV)},
      {"out_rel/secret", Errno(EXDEV)},
      {"out_abs/secret", Errno(EXDEV)},
      {"dir/up_out/secret", Errno(EXDEV)},
      {"abs_in", Errno(EXDEV)},  // absolute, even into the root: the caller decides
      {"magic/etc/hostname", Errno(EXDEV)},
      // Loops, dangling links, missing entries, names with NUL.
      {"loop_a", Errno(ELOOP)},
      {"self", Errno(ELOOP)},
      {"dangling", Errno(ENOENT)},
      {"missing", Errno(ENOENT)},
      {"file/x", Errno(ENOTDIR)},
      {std::string("fi\0le", 5), Errno(EINVAL)},
      {std::string("dir\0/../..", 10), Errno(EINVAL)},
  };
  for (const auto& row : rows) EXPECT_EQ(Open(row.path), row.result) << row.path;
}

TEST_P(BeneathTest, TheRootItselfAndDirectoriesOpenAsDirectories) {
  for (const char* path : {"", ".", "dir", "in_link", "dir/deeper/..", "dir/.."}) {
    UniqueFd fd(OpenBeneath(root_fd_.Get(), path, O_PATH | O_DIRECTORY));
    EXPECT_TRUE(fd.Valid()) << path << " errno " << errno;
  }
  UniqueFd fd(OpenBeneath(root_fd_.Get(), "file", O_PATH | O_DIRECTORY));
  EXPECT_FALSE(fd.Valid());
  EXPECT_EQ(errno, ENOTDIR);
}

INSTANTIATE_TEST_SUITE_P(BothWays, BeneathTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? std::string("ComponentWalk") : "Openat2";
                         });

}  // namespace
}  // namespace dorvane
