// A served directory the server may not write in is told at start; whether it may is
// tried for real by a user without the rights.
#include "storage/root_access.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace dorvane {
namespace {

namespace fs = std::filesystem;

// Root writes anywhere, so the look is taken by a child that has become `nobody`.
TEST(WriteRefusal, TellsADirectoryTheUserMayNotWriteIn) {
  const passwd* nobody = ::getpwnam("nobody");
  if (::geteuid() == 0 && nobody == nullptr) GTEST_SKIP() << "no user nobody to drop to";
  const fs::path dir = fs::temp_directory_path() / ("dorvane-root-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "open");
  fs::create_directories(dir / "closed");
  fs::permissions(dir, fs::perms::all);
  fs::permissions(dir / "open", fs::perms::all);
  fs::permissions(dir / "closed", fs::perms::owner_all | fs::perms::group_read |
                                      fs::perms::group_exec | fs::perms::others_read |
                                      fs::perms::others_exec);
  if (::geteuid() != 0)
    fs::permissions(dir / "closed", fs::perms::owner_write, fs::perm_options::remove);

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0)) {
      ::_exit(3);
    }
    const bool right = WriteRefusal((dir / "open").string()) == 0 &&
                       WriteRefusal((dir / "closed").string()) == EACCES;
    ::_exit(right ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  fs::permissions(dir / "closed", fs::perms::owner_all, fs::perm_options::add);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace dorvane
