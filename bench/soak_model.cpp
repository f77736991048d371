#include "bench/soak_model.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>

namespace dorvane::bench {

namespace fs = std::filesystem;

std::optional<Bytes> ReadWholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return Bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const Bytes* FileModel::Find(const std::string& name) const {
  const auto found = files_.find(name);
  return found == files_.end() ? nullptr : &found->second;
}

std::vector<std::string> FileModel::Names() const {
  std::vector<std::string> names;
  for (const auto& [name, data] : files_) names.push_back(name);
  return names;
}

std::string DescribeDifference(const Bytes& expected, const std::optional<Bytes>& actual) {
  if (!actual) return "it is missing";
  if (*actual == expected) return "";
  if (actual->size() != expected.size()) {
    return "it holds " + std::to_string(actual->size()) + " bytes instead of " +
           std::to_string(expected.size());
  }
  const auto [mine, theirs] = std::mismatch(expected.begin(), expected.end(), actual->begin());
  char text[96];
  std::snprintf(text, sizeof text, "byte %zu is 0x%02X instead of 0x%02X",
                static_cast<std::size_t>(mine - expected.begin()), *theirs, *mine);
  return text;
}

std::vector<std::string> FileModel::Compare(const fs::path& root,
                                            const std::set<std::string>& directories) const {
  std::vector<std::string> problems;
  std::set<std::string> seen;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    const fs::path relative = it->path().lexically_relative(root);
    const std::string name = relative.generic_string();
    if (relative.filename().string().rfind(TempSavePrefix, 0) == 0) {
      problems.push_back("a temporary file was left behind: " + name);
    } else if (it->is_directory()) {
      if (directories.count(name) == 0) problems.push_back("a directory appeared: " + name);
    } else if (files_.count(name) == 0) {
      problems.push_back("a file appeared that no completed save wrote: " + name);
    } else {
      seen.insert(name);
      const std::string difference = DescribeDifference(files_.at(name), ReadWholeFile(it->path()));
      if (!difference.empty()) problems.push_back(name + ": " + difference);
    }
  }
  if (error) problems.push_back("cannot search " + root.string() + ": " + error.message());
  for (const auto& [name, data] : files_) {
    if (seen.count(name) == 0) problems.push_back(name + ": it is missing");
  }
  return problems;
}

}  // namespace dorvane::bench
