#include "bench/temp_dir.h"

#include <stdlib.h>

#include <cerrno>
#include <system_error>
#include <vector>

namespace dorvane::bench {

TempDir::TempDir(const std::string& prefix) {
  const std::string pattern =
      (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (::mkdtemp(name.data()) == nullptr) {
    throw std::filesystem::filesystem_error("cannot make a temporary directory", pattern,
                                            std::error_code(errno, std::generic_category()));
  }
  path_ = name.data();
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace dorvane::bench
