// A search whose matches were all found up front: it hands them out in order.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "storage/volume.h"

namespace dorvane {

class ListedSearch : public DirSearch {
 public:
  explicit ListedSearch(std::vector<DirEntry> entries) : entries_(std::move(entries)) {}
  bool Next(DirEntry& entry) override {
    if (next_ >= entries_.size()) return false;
    entry = std::move(entries_[next_++]);
    return true;
  }

 private:
  std::vector<DirEntry> entries_;
  std::size_t next_ = 0;
};

}  // namespace dorvane
