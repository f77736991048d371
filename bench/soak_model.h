// What the served directory must hold after the soak's transfers: every file that
// a completed save wrote, with exactly those bytes, and nothing else, least of all
// a save's temporary file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace dorvane::bench {

// Where an unfinished save lives until it is committed; none may outlast the save.
inline constexpr char TempSavePrefix[] = ".dorvane-save-";

using Bytes = std::vector<std::uint8_t>;

// The whole file, or empty when it cannot be read (it does not exist).
std::optional<Bytes> ReadWholeFile(const std::filesystem::path& path);

class FileModel {
 public:
  void Put(const std::string& name, Bytes data) { files_[name] = std::move(data); }
  // The bytes the file must hold; nullptr when it must not exist.
  const Bytes* Find(const std::string& name) const;
  std::vector<std::string> Names() const;
  std::size_t Count() const { return files_.size(); }

  // Everything in which `root` (searched through all its subdirectories) differs
  // from the model, one sentence each; empty when it matches. `directories` may be
  // there (relative names); any other directory is a difference.
  std::vector<std::string> Compare(const std::filesystem::path& root,
                                   const std::set<std::string>& directories = {}) const;

 private:
  std::map<std::string, Bytes> files_;
};

// How `actual` differs from `expected`, for a report: sizes, or the first byte that
// differs; empty when they are equal.
std::string DescribeDifference(const Bytes& expected, const std::optional<Bytes>& actual);

}  // namespace dorvane::bench
