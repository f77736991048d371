// A fresh directory under the system's temporary directory, removed with all it
// holds when the object goes.
#pragma once

#include <filesystem>
#include <string>

namespace dorvane::bench {

class TempDir {
 public:
  // Throws std::filesystem::filesystem_error when it cannot be made.
  explicit TempDir(const std::string& prefix);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace dorvane::bench
